// Requests a second start of the program hands to this one.

#include "bankloader.h"
#include "mainwindow.h"
#include "picturefolder.h"
#include "switching/switchprotocol.h"
#include "util/textutil.h"
#include "util/treefile.h"

namespace qx {

bool MainWindow::sendRequests(const CommandLineRequests &req)
{
    bool left = true;
    if (req.CommandRequested)
        left = m_exchange.SendCommand(ToBytes(req.CommandRequest) + '\r') && left;
    if (req.PresetRequest != 0)
        left = recallPreset(req.PresetRequest) && left;
    return left;
}

ForwardReply MainWindow::runForwarded(const CommandLineRequests &req)
{
    if (!HasForwardedRequests(req)) {
        setWindowState(windowState() & ~Qt::WindowMinimized);
        show();
        raise();
        activateWindow();
        return {};
    }
    const MessageTable &msg = m_state.msg;
    const DeviceSession::Lease lease = m_session.lease();
    // What the sender ends with has left, as with --exit.
    if ((req.CommandRequested || req.PresetRequest != 0) && !(sendRequests(req) && link().flush()))
        return {3, msg(18)};
    if (req.LoadFileRequest.isEmpty())
        return {};

    // The load, as if the operator had picked the picture and the bank and clicked.
    const QString file = req.LoadFileRequest;
    ShowTab(TabFiles);
    m_banks->selectBank(int(Clamp(req.LoadBankRequest, 0, 3)));
    if (!IsRegularFile(file))
        return {2, msg(19) + QLatin1Char(' ') + file};
    if (!m_pictures->PreviewPicture(file))
        return {2, msg(21) + QLatin1Char(' ') + file + QLatin1Char('\n') + m_pictures->refusal()};
    if (!m_session.isConnected())
        return {3, msg(18)};
    switch (m_banks->runFromCommandLine(!req.ExitRequest)) {
    case BankLoader::LoadOutcome::Loaded:
        return {};
    case BankLoader::LoadOutcome::Refused:
    case BankLoader::LoadOutcome::Cancelled:
        return {2, {}};
    default:
        return {3, {}};
    }
}

} // namespace qx
