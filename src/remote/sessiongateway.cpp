#include "sessiongateway.h"

#include "banks/imageroutines.h"
#include "banks/picture.h"
#include "banks/upload.h"
#include "link/devicesession.h"
#include "remoteapi.h"
#include "state/appstate.h"
#include "switching/switchprotocol.h"
#include "util/seams.h"
#include "util/version.h"

#include <QTemporaryFile>

namespace qx {

namespace {
constexpr int kReadyPollMs = 20;
}

SessionGateway::SessionGateway(AppState &state, DeviceSession &session, std::function<bool()> ready,
                               std::function<bool()> loadRunning, QObject *parent)
    : RemoteGateway(parent), m_state(state), m_session(session), m_exchange(session.exchange()),
      m_ready(std::move(ready)), m_loadRunning(std::move(loadRunning))
{
    m_poll.setInterval(kReadyPollMs);
    connect(&m_poll, &QTimer::timeout, this, &SessionGateway::runNext);
    connect(&session.monitor(), &LinkMonitor::changed, this, &RemoteGateway::changed);
}

void SessionGateway::submit(const RemoteRequest &request, QObject *sender, Done done)
{
    const auto refuse = [&](const QString &reason) {
        done(RemoteOutcome{RemoteOutcome::Result::Busy, reason});
    };
    if (TerminationRequested())
        return done(RemoteOutcome{RemoteOutcome::Result::Terminated, QStringLiteral("the program is ending")});
    if (m_loading || (m_loadRunning && m_loadRunning()))
        return refuse(QStringLiteral("a load runs"));
    if (request.kind == RemoteRequest::Kind::Load && (m_running || !m_queue.empty()))
        return refuse(QStringLiteral("requests are running; try the load again when they are done"));
    if (int(m_queue.size()) >= kQueueLimit)
        return refuse(QStringLiteral("too many requests are waiting"));
    m_queue.push_back(Pending{request, sender, std::move(done)});
    m_poll.start();
    QMetaObject::invokeMethod(this, &SessionGateway::runNext, Qt::QueuedConnection);
}

void SessionGateway::runNext()
{
    // A sender gone before its request started takes it with it.
    while (!m_queue.empty() && !m_queue.front().sender)
        m_queue.pop_front();
    if (m_queue.empty()) {
        m_poll.stop();
        return;
    }
    if (m_running || !m_session.idle() || (m_ready && !m_ready()))
        return;
    Pending next = std::move(m_queue.front());
    m_queue.pop_front();
    m_running = true;
    Q_EMIT runningChanged(true);
    const RemoteOutcome outcome = run(next.request);
    m_running = false;
    Q_EMIT runningChanged(false);
    if (next.sender)
        next.done(outcome);
    if (m_queue.empty())
        m_poll.stop();
}

RemoteOutcome SessionGateway::run(const RemoteRequest &r)
{
    if (TerminationRequested())
        return {RemoteOutcome::Result::Terminated, QStringLiteral("the program is ending")};
    if (!m_session.isConnected())
        return {RemoteOutcome::Result::LinkDown, m_state.msg(18)};
    const DeviceSession::Lease lease = m_session.lease();
    switch (r.kind) {
    case RemoteRequest::Kind::Preset: return recall(r.preset);
    case RemoteRequest::Kind::Load: return load(r);
    default: return change(r);
    }
}

RemoteOutcome SessionGateway::recall(int preset)
{
    if (!m_exchange.SendCommand(PresetRecall(preset)))
        return {RemoteOutcome::Result::LinkDown, m_state.msg(18)};
    if (!m_session.link().flush())
        return {RemoteOutcome::Result::LinkFailure, QStringLiteral("the command did not leave")};
    presetRecalled(preset);
    return {};
}

void SessionGateway::presetRecalled(int preset)
{
    m_presetLast = preset;
    Q_EMIT changed();
}

void SessionGateway::send(const QByteArray &command, const QString &replyPrefix)
{
    if (m_exchange.stopped())
        return;
    m_exchange.SendCommand(command);
    m_exchange.WaitReply(replyPrefix);
}

int SessionGateway::query(const QByteArray &command, const QString &replyPrefix)
{
    send(command, replyPrefix);
    return ValueAfterPrefix(m_exchange.ReplyText, replyPrefix);
}

RemoteOutcome SessionGateway::change(const RemoteRequest &r)
{
    m_exchange.ClearReceive();
    m_exchange.StopRequested = false;
    const int w = r.window == 0 ? kBackgroundWindow : r.window - 1;
    const QString bankPrefix = WriteReplyPrefix(kParamBankSelect);
    switch (r.kind) {
    case RemoteRequest::Kind::Source:
        if (w == kBackgroundWindow) {
            const int bank = r.source == RemoteRequest::Source::Bank ? r.number : 0;
            send(WriteCommand(kParamBankSelect, bank, kBackgroundWindow), bankPrefix);
            // The device wants this after every background change.
            send(WriteCommand(kParamBackgroundSet, 1), WriteReplyPrefix(kParamBackgroundSet));
        } else if (r.source == RemoteRequest::Source::Input) {
            send(WriteCommand(kParamInput, r.number - 1, w), WriteReplyPrefix(kParamInput));
            send(WriteCommand(kParamBankSelect, 0, w), bankPrefix); // no bank: the window shows the input
        } else {
            send(WriteCommand(kParamBankSelect, r.number, w), bankPrefix);
        }
        break;
    case RemoteRequest::Kind::Enabled:
        send(WriteCommand(kParamEnabled, r.on ? 1 : 0, w), WriteReplyPrefix(kParamEnabled));
        break;
    case RemoteRequest::Kind::FullScreen:
        if (r.on) {
            send(WriteCommand(kParamEnabled, 1, w), WriteReplyPrefix(kParamEnabled));
            m_exchange.SendCommand(WriteCommand(kParamFullScreen, 1));
        } else {
            m_exchange.SendCommand(WriteCommand(kParamFullScreen, 0));
        }
        m_exchange.WaitReply(WriteReplyPrefix(kParamFullScreen));
        break;
    default:
        break;
    }
    readBack();
    if (TerminationRequested())
        return {RemoteOutcome::Result::Terminated, QStringLiteral("the program is ending")};
    if (!m_session.isConnected())
        return {RemoteOutcome::Result::LinkFailure, m_state.msg(18)};
    return {};
}

void SessionGateway::readBack()
{
    m_exchange.ClearReceive();
    send(SyncCommand(), SyncReplyPrefix());
    const QString enabledPrefix = ReadReplyPrefix(kParamEnabled);
    const QString fullPrefix = ReadReplyPrefix(kParamFullScreen);
    for (int w = 0; w < kWindows; ++w) {
        RemoteState::Window &win = m_windows[size_t(w)];
        const int e = query(ReadCommand(kParamEnabled, w), enabledPrefix);
        win.enabled = e > 0;
        // Only a plain "1" asks for full screen; the device has one value for all windows.
        win.fullscreen = e == 1 && query(ReadCommand(kParamFullScreen), fullPrefix) == 1;
    }
    const QString inputPrefix = ReadReplyPrefix(kParamInput);
    const QString bankPrefix = ReadReplyPrefix(kParamBankShown);
    for (int w = 0; w < kWindows; ++w) {
        const int s = query(ReadCommand(kParamInput, w), inputPrefix);
        const int b = query(ReadCommand(kParamBankShown, w), bankPrefix);
        const SourceButton source = SourceOfButton(WindowSelection(w, s, b));
        RemoteState::Window &win = m_windows[size_t(w)];
        win.known = true;
        win.bank = source.kind == SourceButton::Bank ? source.number : 0;
        win.input = source.kind == SourceButton::Input ? source.number + 1 : 0;
    }
    const SourceButton back =
        SourceOfButton(BackgroundSelection(query(ReadCommand(kParamBankShown, kBackgroundWindow), bankPrefix)));
    m_background.known = true;
    m_background.bank = back.kind == SourceButton::Bank ? back.number : 0;
    m_background.input = back.kind == SourceButton::Bank ? 0 : 1;
    Q_EMIT changed();
}

RemoteOutcome SessionGateway::load(const RemoteRequest &r)
{
    // The decoders read files: the picture goes into a file of this user's own
    // (created new, readable by the owner only) for as long as the load runs.
    QTemporaryFile file;
    if (!file.open() || file.write(r.picture) != r.picture.size() || !file.flush())
        return {RemoteOutcome::Result::Refused, QStringLiteral("the picture could not be kept for the load")};
    const PreviewResult preview = PreviewPicture(file.fileName());
    if (!preview.accepted())
        return {RemoteOutcome::Result::Refused, preview.reason()};

    m_loading = true;
    Q_EMIT changed();
    m_exchange.StopRequested = false;
    const qint32 width = preview.ImageWidth, height = preview.ImageHeight;
    const QByteArray image = ConvertPixels(CapturePixels(preview.Picture1, width, height), width, height);
    const UploadOutcome outcome = UploadImage(m_exchange, m_state.msg, image, width, height, r.number - 1);
    m_loading = false;

    QString &record = m_state.settings.BankFileLoaded[size_t(r.number)];
    RemoteOutcome result;
    switch (outcome) {
    case UploadOutcome::Done:
        record = r.name;
        break;
    case UploadOutcome::OldFirmware:
        record.clear();
        result = {RemoteOutcome::Result::Refused, m_state.msg(16)};
        break;
    case UploadOutcome::Stopped:
        record.clear();
        result = {RemoteOutcome::Result::Terminated, QStringLiteral("the load was stopped")};
        break;
    case UploadOutcome::NoVersionReply:
    case UploadOutcome::LinkFailed:
        record.clear();
        result = {RemoteOutcome::Result::LinkFailure, QStringLiteral("the link failed during the load")};
        break;
    }
    Q_EMIT changed();
    return result;
}

RemoteState SessionGateway::state() const
{
    RemoteState s;
    const Settings &set = m_state.settings;
    s.linkState = LinkStateKey(m_session.monitor().state());
    s.linkText = LinkStateText(m_session.monitor(), m_session.applied(), m_state.msg);
    s.presetLast = m_presetLast;
    for (int n = 1; n <= kPresets; ++n)
        s.presetNames[size_t(n - 1)] = set.PresetName[size_t(n)];
    for (int n = 1; n <= kWindows; ++n)
        s.windowNames[size_t(n - 1)] = set.LabelWin[size_t(n)];
    for (int n = 1; n <= kBanks; ++n) {
        s.bankNames[size_t(n - 1)] = set.BankName[size_t(n)];
        s.bankFiles[size_t(n - 1)] = set.BankFileLoaded[size_t(n)];
    }
    s.windows = m_windows;
    s.background = m_background;
    s.busy = m_loading || (m_loadRunning && m_loadRunning());
    s.version = QStringLiteral(QX_VERSION_TEXT);
    return s;
}

} // namespace qx
