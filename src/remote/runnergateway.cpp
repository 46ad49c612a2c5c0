#include "runnergateway.h"

#include "remoteapi.h"
#include "state/appcore.h"
#include "state/readbackscheduler.h"
#include "switching/switchprotocol.h"
#include "util/seams.h"
#include "util/version.h"

#include <QFile>
#include <QTemporaryDir>

namespace qx {

RunnerGateway::RunnerGateway(AppCore &core, QObject *parent)
    : RemoteGateway(parent), m_core(core), m_runner(core.runner), m_readBack(&core.readBack)
{
    RequestRunner &runner = m_runner;
    connect(&runner, &RequestRunner::finished, this, &RunnerGateway::finished);
    connect(&runner, &RequestRunner::stateChanged, this, &RemoteGateway::changed);
    connect(&runner, &RequestRunner::presetRecalled, this, [this](int preset) {
        m_presetLast = preset;
        Q_EMIT changed();
    });
    // A link that goes down forgets what was recalled, as the runner forgets what was read.
    LinkMonitor &monitor = core.session.monitor();
    connect(&monitor, &LinkMonitor::changed, this, [this, &monitor] {
        const LinkMonitor::State state = monitor.state();
        if (state != LinkMonitor::State::Connected && state != LinkMonitor::State::NotAnswering)
            m_presetLast = 0;
        Q_EMIT changed();
    });
    connect(&dialogs(), &DialogWatch::changed, this, &RemoteGateway::changed);
    // A client that polls the state is a watcher for as long as it goes on polling.
    m_pollEnd.setSingleShot(true);
    connect(&m_pollEnd, &QTimer::timeout, this, [this] { unwatch(&m_poller); });
}

RunnerGateway::~RunnerGateway()
{
    for (auto it = m_pending.begin(); it != m_pending.end(); ++it)
        disconnect(it->senderGone);
}

Request RunnerGateway::toRequest(const RemoteRequest &r)
{
    const auto attended = false;
    switch (r.kind) {
    case RemoteRequest::Kind::Preset:
        return Request::recall(r.preset, RequestOrigin::Remote, attended);
    case RemoteRequest::Kind::Load:
        return Request::load(QString(), r.number, RequestOrigin::Remote, attended);
    case RemoteRequest::Kind::ReadBack:
        return Request::readBack(RequestOrigin::Remote);
    default:
        break;
    }
    SwitchChange c;
    c.window = r.window == 0 ? SwitchChange::kBackground : r.window;
    c.on = r.on;
    if (r.kind == RemoteRequest::Kind::Source) {
        c.what = SwitchChange::What::Source;
        const bool bank = r.source == RemoteRequest::Source::Bank;
        c.sourceKind = bank ? SwitchChange::SourceKind::Bank : SwitchChange::SourceKind::Input;
        // The background's one input is its live DVI input: "bank 0" to the device.
        c.source = r.window == 0 && !bank ? 0 : r.number;
        if (r.window == 0)
            c.sourceKind = SwitchChange::SourceKind::Bank;
    } else {
        c.what = r.kind == RemoteRequest::Kind::Enabled ? SwitchChange::What::Enable : SwitchChange::What::FullScreen;
    }
    return Request::switching(c, RequestOrigin::Remote, attended);
}

void RunnerGateway::submit(const RemoteRequest &request, QObject *sender, Done done)
{
    const MessageTable &msg = m_core.state.msg;
    if (TerminationRequested())
        return done(RequestOutcome::of(RequestOutcome::Reason::Terminated).told(msg));
    // A load runs, or too many wait.
    if (m_runner.loadRunning() || m_pending.size() >= kQueueLimit)
        return done(RequestOutcome::of(RequestOutcome::Reason::Busy).told(msg));
    Request r = toRequest(request);
    Pending pending{sender, std::move(done), {}, {}};
    if (request.kind == RemoteRequest::Kind::Load) {
        // The runner loads files: the picture goes into a folder of this user's
        // own (made new, for the owner only), under the name the bank records.
        pending.folder = std::make_shared<QTemporaryDir>();
        QFile file(pending.folder->filePath(request.name));
        if (!pending.folder->isValid() || !file.open(QIODevice::WriteOnly | QIODevice::NewOnly) ||
            file.write(request.picture) != request.picture.size() || !file.flush())
            return pending.done(RequestOutcome::of(RequestOutcome::Reason::Refused).told(msg));
        r.file = file.fileName();
    }
    const quint64 id = m_runner.submit(r, m_questionWaitMs);
    if (sender)
        pending.senderGone = connect(sender, &QObject::destroyed, this, [this, id] { m_runner.withdraw(id); });
    m_pending.insert(id, std::move(pending));
}

void RunnerGateway::finished(quint64 id, const RequestOutcome &outcome)
{
    const auto it = m_pending.find(id);
    if (it == m_pending.end())
        return; // another sender's
    Pending pending = std::move(*it);
    m_pending.erase(it);
    disconnect(pending.senderGone);
    if (!pending.sender)
        return;
    RequestOutcome out = outcome; // told by the runner already
    // The reason names the picture as the client sent it, never where it was kept.
    if (pending.folder)
        out.message.replace(pending.folder->path() + QLatin1Char('/'), QString());
    pending.done(out);
}

void RunnerGateway::watch(QObject *watcher)
{
    if (m_readBack)
        m_readBack->watch(watcher);
}

void RunnerGateway::unwatch(QObject *watcher)
{
    if (m_readBack)
        m_readBack->unwatch(watcher);
}

void RunnerGateway::setReadBackSeconds(int seconds)
{
    if (m_readBack)
        m_readBack->setPeriod(seconds);
}

void RunnerGateway::setQuestionWaitSeconds(int seconds)
{
    m_questionWaitMs = seconds * 1000;
}

void RunnerGateway::polled()
{
    watch(&m_poller);
    m_pollEnd.start(kPollWatchMs);
}

RemoteState RunnerGateway::state() const
{
    RemoteState s;
    const AppState &app = m_core.state;
    const Settings &set = app.settings;
    DeviceSession &session = m_core.session;
    s.linkState = LinkStateKey(session.monitor().state());
    s.linkText = LinkStateText(session.monitor(), session.applied(), app.msg);
    s.presetLast = m_presetLast;
    for (int n = 1; n <= kPresets; ++n)
        s.presetNames[size_t(n - 1)] = set.PresetName[size_t(n)];
    for (int n = 1; n <= kInputs; ++n)
        s.inputNames[size_t(n - 1)] = set.LabelIn[size_t(n)];
    s.bankQuestionText = app.msg(14);
    s.bankQuestionTitle = app.msg(15);
    for (const auto &[key, n] : PageTextMessages())
        s.pageTexts.append({QString::fromLatin1(key), app.msg(n)});
    for (int n = 1; n <= kWindows; ++n)
        s.windowNames[size_t(n - 1)] = set.LabelWin[size_t(n)];
    for (int n = 1; n <= kBanks; ++n) {
        s.bankNames[size_t(n - 1)] = set.BankName[size_t(n)];
        s.bankFiles[size_t(n - 1)] = set.BankFileLoaded[size_t(n)];
    }
    const SwitchState &read = m_runner.switchState();
    // Only what was answered in a read-back that still holds.
    const auto window = [&read](int w) {
        RemoteState::Window out;
        if (!read.known)
            return out;
        const SourceButton source = SourceOfButton(read.sourceButton[size_t(w)]);
        out.known = read.sourceRead[size_t(w)] && source.kind != SourceButton::Invalid;
        out.bank = source.kind == SourceButton::Bank ? source.number : 0;
        out.input =
            source.kind == SourceButton::Input ? source.number + 1 : (source.kind == SourceButton::Live ? 1 : 0);
        if (w < kWindows) {
            out.enabledKnown = read.enabledRead[size_t(w)];
            out.fullscreenKnown = read.fullScreenRead[size_t(w)];
            out.enabled = read.enabled[size_t(w)] == 1;
            out.fullscreen = read.fullScreen[size_t(w)] == 1;
        }
        return out;
    };
    for (int w = 0; w < kWindows; ++w)
        s.windows[size_t(w)] = window(w);
    s.background = window(kBackgroundWindow);
    s.busy = m_runner.loadRunning();
    s.question = dialogs().open() > 0;
    s.version = QStringLiteral(QX_VERSION_TEXT);
    return s;
}

} // namespace qx
