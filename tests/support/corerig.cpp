#include "corerig.h"

namespace qxtest {

CoreRig::CoreRig(const qx7emu::Options &device, bool link, bool open) : emu(device)
{
    seams.pauses = {{500, 1}, {5000, 1}}; // the upload's pauses
    core.state.settings.ComPort = 0;
    core.state.settings.TcpSettings = QStringLiteral("127.0.0.1:%1").arg(link ? emu.listenTcp() : 1);
    core.session.open();
    core.session.waitConnected(5000);
    {
        auto lease = core.session.lease();
        // A device that never answers must not cost 16 s a wait; one that answers is waited for as long as the
        // program waits, however busy the machine (polls of no length end a wait before a loaded machine answers).
        const bool leavesOut = device.silent || device.dropAck > 0 || device.noLdimReply || device.streamNoEol;
        lease.exchange().setPollMs(leavesOut ? 0 : qx::CommandExchange::kPollMs);
    }
    if (open)
        core.runner.open();
}

} // namespace qxtest
