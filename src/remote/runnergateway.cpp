#include "runnergateway.h"

#include "link/devicesession.h"
#include "state/appstate.h"
#include "state/requestrunner.h"
#include "switching/switchprotocol.h"
#include "util/seams.h"
#include "util/version.h"

#include <QFile>
#include <QTemporaryDir>

namespace qx {

RunnerGateway::RunnerGateway(RequestRunner &runner, QObject *parent) : RemoteGateway(parent), m_runner(runner)
{
    connect(&runner, &RequestRunner::finished, this, &RunnerGateway::finished);
    connect(&runner, &RequestRunner::stateChanged, this, &RemoteGateway::changed);
    connect(&runner, &RequestRunner::presetRecalled, this, [this](int preset) {
        m_presetLast = preset;
        Q_EMIT changed();
    });
    connect(&runner.session().monitor(), &LinkMonitor::changed, this, &RemoteGateway::changed);
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

RemoteOutcome RunnerGateway::toOutcome(const RequestOutcome &o)
{
    using Reason = RequestOutcome::Reason;
    using Result = RemoteOutcome::Result;
    const auto with = [&o](Result result, const QString &otherwise) {
        return RemoteOutcome{result, o.message.isEmpty() ? otherwise : o.message};
    };
    switch (o.reason) {
    case Reason::Done: return {};
    case Reason::LinkDown: return with(Result::LinkDown, QStringLiteral("the link is not up"));
    case Reason::Busy: return with(Result::Busy, QStringLiteral("a load runs"));
    case Reason::Refused: return with(Result::Refused, QStringLiteral("refused"));
    case Reason::LinkFailure: return with(Result::LinkFailure, QStringLiteral("the link failed on the way"));
    case Reason::Terminated:
    case Reason::Dropped: return with(Result::Terminated, QStringLiteral("the program is ending"));
    }
    return with(Result::LinkFailure, QString());
}

void RunnerGateway::submit(const RemoteRequest &request, QObject *sender, Done done)
{
    using Result = RemoteOutcome::Result;
    if (TerminationRequested())
        return done({Result::Terminated, QStringLiteral("the program is ending")});
    if (m_runner.loadRunning())
        return done({Result::Busy, QStringLiteral("a load runs")});
    if (m_pending.size() >= kQueueLimit)
        return done({Result::Busy, QStringLiteral("too many requests are waiting")});
    Request r = toRequest(request);
    Pending pending{sender, std::move(done), {}, {}};
    if (request.kind == RemoteRequest::Kind::Load) {
        // The runner loads files: the picture goes into a folder of this user's
        // own (made new, for the owner only), under the name the bank records.
        pending.folder = std::make_shared<QTemporaryDir>();
        QFile file(pending.folder->filePath(request.name));
        if (!pending.folder->isValid() || !file.open(QIODevice::WriteOnly | QIODevice::NewOnly)
            || file.write(request.picture) != request.picture.size() || !file.flush())
            return pending.done({Result::Refused, QStringLiteral("the picture could not be kept for the load")});
        r.file = file.fileName();
    }
    const quint64 id = m_runner.submit(r);
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
    RemoteOutcome out = toOutcome(outcome);
    // The reason names the picture as the client sent it, never where it was kept.
    if (pending.folder)
        out.message.replace(pending.folder->path() + QLatin1Char('/'), QString());
    pending.done(out);
}

RemoteState RunnerGateway::state() const
{
    RemoteState s;
    const AppState &app = m_runner.state();
    const Settings &set = app.settings;
    DeviceSession &session = m_runner.session();
    s.linkState = LinkStateKey(session.monitor().state());
    s.linkText = LinkStateText(session.monitor(), session.applied(), app.msg);
    s.presetLast = m_presetLast;
    for (int n = 1; n <= kPresets; ++n)
        s.presetNames[size_t(n - 1)] = set.PresetName[size_t(n)];
    for (int n = 1; n <= kWindows; ++n)
        s.windowNames[size_t(n - 1)] = set.LabelWin[size_t(n)];
    for (int n = 1; n <= kBanks; ++n) {
        s.bankNames[size_t(n - 1)] = set.BankName[size_t(n)];
        s.bankFiles[size_t(n - 1)] = set.BankFileLoaded[size_t(n)];
    }
    const SwitchState &read = m_runner.switchState();
    const auto window = [&read](int w) {
        RemoteState::Window out;
        out.known = read.known;
        if (!read.known)
            return out;
        const SourceButton source = SourceOfButton(read.sourceButton[size_t(w)]);
        out.bank = source.kind == SourceButton::Bank ? source.number : 0;
        out.input = source.kind == SourceButton::Input ? source.number + 1 : (source.kind == SourceButton::Live ? 1 : 0);
        if (w < kWindows) {
            out.enabled = read.enabled[size_t(w)] == 1;
            out.fullscreen = out.enabled && read.fullScreen == 1;
        }
        return out;
    };
    for (int w = 0; w < kWindows; ++w)
        s.windows[size_t(w)] = window(w);
    s.background = window(kBackgroundWindow);
    s.busy = m_runner.loadRunning();
    s.version = QStringLiteral(QX_VERSION_TEXT);
    return s;
}

} // namespace qx
