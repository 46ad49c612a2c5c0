#pragma once
// The core as main() makes it, without a window: scripted dialogs, a temporary program folder, an emulator, and
// the AppCore with its link up to the emulator over TCP and its runner open.

#include "emulator.h"
#include "linkrig.h"
#include "state/appcore.h"

namespace qxtest {

struct CoreRig {
    // `link` false: the link goes to a port nobody listens on. `open` false: the start-up is not over yet.
    explicit CoreRig(const qx7emu::Options &device = {}, bool link = true, bool open = true);

    ScriptedSeams seams;
    TempProgramFolder folder;
    qx7emu::Emulator emu;
    qx::AppCore core;
    qx::RequestRunner &runner = core.runner;
};

} // namespace qxtest
