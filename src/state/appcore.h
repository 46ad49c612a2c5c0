#pragma once
// What the program is made of below its window: the application state, the
// communication log, the device session, the request runner and what reads
// the switching state back for those who watch it. main() makes one and
// hands it to the window; a test makes its own.

#include "link/commlog.h"
#include "link/devicesession.h"
#include "state/appstate.h"
#include "state/readbackscheduler.h"
#include "state/requestrunner.h"

namespace qx {

struct AppCore {
    AppState state;
    CommLog log;
    DeviceSession session{state.settings, log};
    RequestRunner runner{state, log, session};
    ReadBackScheduler readBack{runner, session.monitor()};
};

} // namespace qx
