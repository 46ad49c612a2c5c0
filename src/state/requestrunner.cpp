#include "requestrunner.h"

#include "banks/imageroutines.h"
#include "banks/picture.h"
#include "banks/upload.h"
#include "link/commlog.h"
#include "link/devicesession.h"
#include "state/appstate.h"
#include "switching/switchprotocol.h"
#include "util/seams.h"
#include "util/textutil.h"
#include "util/treefile.h"

#include <QTimer>
#include <utility>

namespace qx {

using Reason = RequestOutcome::Reason;

RequestRunner::RequestRunner(AppState &state, CommLog &log, DeviceSession &session, QObject *parent)
    : QObject(parent), m_state(state), m_log(log), m_session(session)
{
    qRegisterMetaType<RequestOutcome>();
    connect(&m_session, &DeviceSession::idleChanged, this, &RequestRunner::updateReady);
    connect(&dialogs(), &DialogWatch::changed, this, &RequestRunner::updateReady);
    connect(&dialogs(), &DialogWatch::changed, this, &RequestRunner::withdrawLate);
    m_late.setSingleShot(true);
    connect(&m_late, &QTimer::timeout, this, &RequestRunner::withdrawLate);
    // A link that goes down leaves nothing known: the device may be switched
    // or restarted meanwhile; the one that comes up again may be another, in
    // another state. A wait that went unanswered is no new link.
    LinkMonitor &monitor = m_session.monitor();
    connect(&monitor, &LinkMonitor::changed, this, [this, &monitor] {
        if (monitor.state() == LinkMonitor::State::NotAnswering)
            return;
        const bool down = monitor.state() != LinkMonitor::State::Connected;
        if (std::exchange(m_linkDown, down) != down)
            forgetSwitchState();
    });
}

void RequestRunner::forgetSwitchState()
{
    ++m_forgotten;
    m_switch.known = false;
    Q_EMIT stateChanged();
    Q_EMIT switchStateForgotten();
}

RequestRunner::~RequestRunner() = default;

bool RequestRunner::isReady() const
{
    return m_open && !m_closed && !m_running && dialogs().open() == 0 && m_session.idle() && !TerminationRequested();
}

bool RequestRunner::loadRunning() const
{
    return m_loading;
}

int RequestRunner::queued() const
{
    return int(m_queue.size());
}

void RequestRunner::updateReady()
{
    const bool ready = isReady();
    if (ready != m_ready) {
        m_ready = ready;
        Q_EMIT readyChanged(ready);
    }
    // Started from the event loop, never inside the signal that freed the link.
    if (ready && !m_queue.isEmpty() && !m_runScheduled) {
        m_runScheduled = true;
        QTimer::singleShot(0, this, &RequestRunner::runNext);
    }
}

quint64 RequestRunner::submit(const QList<Request> &batch, int questionWaitMs)
{
    const quint64 id = m_nextId++;
    m_queue.append({id, batch, QDeadlineTimer(questionWaitMs < 0 ? -1 : qint64(questionWaitMs))});
    if (m_closed)
        QTimer::singleShot(0, this, &RequestRunner::close);
    updateReady();
    m_late.start(0); // never inside submit: the sender learns its id first
    return id;
}

void RequestRunner::withdrawLate()
{
    // Only a question makes a request late: behind the operator's own
    // sequence it waits for its end, as it always did.
    QList<quint64> late;
    if (dialogs().open() > 0) {
        for (qsizetype i = 0; i < m_queue.size();) {
            if (m_queue[i].questionWait.hasExpired())
                late << m_queue.takeAt(i).id;
            else
                ++i;
        }
    }
    qint64 next = -1;
    for (const Queued &q : std::as_const(m_queue)) {
        const qint64 left = q.questionWait.remainingTime();
        if (left > 0 && (next < 0 || left < next))
            next = left;
    }
    if (next >= 0)
        m_late.start(int(next));
    else
        m_late.stop();
    for (const quint64 id : late)
        Q_EMIT finished(id, RequestOutcome::of(Reason::Busy, m_state.msg(57)));
}

void RequestRunner::withdraw(quint64 id)
{
    for (qsizetype i = 0; i < m_queue.size(); ++i) {
        if (m_queue[i].id == id) {
            m_queue.removeAt(i);
            Q_EMIT finished(id, RequestOutcome::of(Reason::Dropped));
            return;
        }
    }
}

void RequestRunner::open()
{
    m_open = true;
    updateReady();
}

bool RequestRunner::close()
{
    if (!m_closingLease)
        m_closingLease.emplace(m_session);
    m_closed = true;
    if (m_loading)
        m_state.settings.BankFileLoaded[size_t(m_loadBank)].clear();
    while (!m_queue.isEmpty())
        Q_EMIT finished(m_queue.takeFirst().id, RequestOutcome::of(Reason::Terminated).told(m_state.msg));
    updateReady();
    return m_closingLease->exchange().flush();
}

RequestOutcome RequestRunner::endRun(const RequestOutcome &batch)
{
    if (!close() && batch.done())
        return RequestOutcome::of(Reason::LinkFailure, m_state.msg(18));
    return batch;
}

void RequestRunner::stop()
{
    if (!busy())
        return;
    m_loadStopped = m_loading;
    m_session.stop();
}

void RequestRunner::runNext()
{
    m_runScheduled = false;
    if (!isReady() || m_queue.isEmpty())
        return;
    const Queued next = m_queue.takeFirst();
    const RequestOutcome outcome = runBatch(next.batch);
    Q_EMIT finished(next.id, outcome.told(m_state.msg));
}

RequestOutcome RequestRunner::runBatch(const QList<Request> &batch, const FailureShown &failed)
{
    const bool wasRunning = std::exchange(m_running, true);
    updateReady();
    // A command written before the connection is up would be lost; no retry
    // reopens the link meanwhile.
    {
        const DeviceSession::Lease lease = m_session.lease();
        m_session.waitConnected(kConnectWaitMs);
    }
    RequestOutcome outcome = RequestOutcome::of(Reason::Done);
    for (const Request &request : batch) {
        const RequestOutcome one = run(request);
        if (one.done())
            continue;
        if (outcome.done())
            outcome = one;
        if (!request.attended)
            break; // nobody is there to decide on the rest
        if (failed)
            failed(request, one);
    }
    m_running = wasRunning;
    updateReady();
    return outcome;
}

RequestOutcome RequestRunner::execute(const Request &request)
{
    // A preset goes out between the exchanges of whatever runs, as a click
    // always did; only a load keeps the link to itself.
    if (request.kind == RequestKind::Preset && !m_loading)
        return recall(request);
    if (m_running || m_loading) {
        QString text = m_state.msg(47);
        if (request.kind == RequestKind::Preset)
            text = FillIn(m_state.msg(44), QString::number(request.preset));
        else if (request.kind == RequestKind::Switch)
            text = m_state.msg(45);
        return RequestOutcome::of(Reason::Busy, text);
    }
    m_running = true;
    updateReady();
    const RequestOutcome outcome = run(request);
    m_running = false;
    updateReady();
    return outcome;
}

RequestOutcome RequestRunner::run(const Request &request)
{
    if (TerminationRequested())
        return RequestOutcome::of(Reason::Terminated);
    switch (request.kind) {
    case RequestKind::Preset:
        return recall(request);
    case RequestKind::Command:
        return command(request);
    case RequestKind::Switch:
        return switching(request);
    case RequestKind::ReadBack:
        return readSwitching(request);
    case RequestKind::Load:
        return load(request);
    }
    return RequestOutcome::of(Reason::Refused);
}

RequestOutcome RequestRunner::tell(const Request &request, Reason reason, const QString &text, const QString &title)
{
    RequestOutcome outcome = RequestOutcome::of(reason, text);
    // A handed-over request is told to its sender only, whatever the reason.
    outcome.shown = request.attended && request.origin != RequestOrigin::HandOver && !title.isEmpty();
    if (outcome.shown)
        MessageBox(text, title);
    return outcome;
}

namespace {
// A command that left: written over a link that is up, and taken by the
// device's side of the link.
// The operator's own clicks do not wait for that, as before.
bool Sent(DeviceSession &session, const QByteArray &bytes, RequestOrigin origin)
{
    if (!session.isConnected())
        return false; // nothing is written over a link that is down
    const DeviceSession::Lease lease = session.lease();
    if (!lease.exchange().SendCommand(bytes))
        return false;
    return origin == RequestOrigin::Operator || origin == RequestOrigin::Key || lease.exchange().flush();
}
} // namespace

RequestOutcome RequestRunner::recall(const Request &request)
{
    if (request.preset < 1 || request.preset > kPresets)
        return RequestOutcome::of(Reason::Refused, FillIn(m_state.msg(48), QString::number(request.preset)));
    if (!Sent(m_session, PresetRecall(request.preset), request.origin))
        return RequestOutcome::of(m_session.isConnected() ? Reason::LinkFailure : Reason::LinkDown, m_state.msg(18));
    // The preset changes every window: what was read back no longer holds.
    forgetSwitchState();
    Q_EMIT presetRecalled(request.preset);
    return RequestOutcome::of(Reason::Done);
}

RequestOutcome RequestRunner::command(const Request &request)
{
    if (request.command.size() > kMaxCommandLength)
        return RequestOutcome::of(Reason::Refused, FillIn(m_state.msg(46), QString::number(kMaxCommandLength)));
    if (!Sent(m_session, ToBytes(request.command) + '\r', request.origin))
        return RequestOutcome::of(m_session.isConnected() ? Reason::LinkFailure : Reason::LinkDown, m_state.msg(18));
    return RequestOutcome::of(Reason::Done);
}

RequestOutcome RequestRunner::switching(const Request &request)
{
    const SwitchChange &c = request.change;
    if (!c.valid())
        return RequestOutcome::of(Reason::Refused);
    if (!m_session.isConnected())
        return RequestOutcome::of(Reason::LinkDown, m_state.msg(18));
    // Showing a bank picture takes the device a long time: the operator is asked
    // first, outside the exchange; a request without anybody to ask stands for itself.
    const bool bank = c.what == SwitchChange::What::Source && c.sourceKind == SwitchChange::SourceKind::Bank &&
                      !(c.window == SwitchChange::kBackground && c.source == 0);
    const bool confirmed = !bank || !request.attended || MessageBox(m_state.msg(14), m_state.msg(15), true);

    bool answered = true;
    bool stopped = false;
    {
        const DeviceSession::Lease lease = m_session.lease();
        CommandExchange &ex = lease.exchange();
        ex.ClearReceive();
        ex.startAfresh();
        const auto send = [&](const QByteArray &command, const QString &prefix) {
            if (ex.stopRequested())
                return;
            ex.SendCommand(command);
            ex.WaitReply(prefix);
            answered = answered && !ex.replyText().isEmpty();
        };
        const QString bankPrefix = WriteReplyPrefix(kParamBankSelect);
        const int w = c.window - 1;
        switch (c.what) {
        case SwitchChange::What::Source:
            if (c.window == SwitchChange::kBackground) {
                if (confirmed)
                    send(WriteCommand(kParamBankSelect, c.source, kBackgroundWindow), bankPrefix);
                // The device wants this after every background change, even a cancelled one.
                send(WriteCommand(kParamBackgroundSet, 1), WriteReplyPrefix(kParamBackgroundSet));
            } else if (c.sourceKind == SwitchChange::SourceKind::Input) {
                send(WriteCommand(kParamInput, c.source - 1, w), WriteReplyPrefix(kParamInput));
                send(WriteCommand(kParamBankSelect, 0, w), bankPrefix); // no bank: the input itself
            } else if (confirmed) {
                send(WriteCommand(kParamBankSelect, c.source, w), bankPrefix);
            }
            break;
        case SwitchChange::What::Enable:
            send(WriteCommand(kParamEnabled, c.on ? 1 : 0, w), WriteReplyPrefix(kParamEnabled));
            break;
        case SwitchChange::What::FullScreen:
            if (c.on) {
                send(WriteCommand(kParamEnabled, 1, w), WriteReplyPrefix(kParamEnabled));
                send(WriteCommand(kParamFullScreen, 1), WriteReplyPrefix(kParamFullScreen));
            } else {
                send(WriteCommand(kParamFullScreen, 0), WriteReplyPrefix(kParamFullScreen));
            }
            break;
        }
        stopped = ex.stopRequested();
    }
    // What another sender changed is unknown until it is read back half a
    // second later, as the operator's page reads back after a click.
    if (request.origin != RequestOrigin::Operator)
        forgetSwitchState();
    if (TerminationRequested() || stopped)
        return RequestOutcome::of(Reason::Terminated);
    if (!answered)
        return RequestOutcome::of(Reason::LinkFailure, m_state.msg(22));
    if (!confirmed)
        return RequestOutcome::of(Reason::Refused);
    return RequestOutcome::of(Reason::Done);
}

RequestOutcome RequestRunner::readSwitching(const Request &request)
{
    // Over a link that is down every wait ends at once, as a time-out: the
    // page then shows the state of a silent device, as it always did, and is
    // told nothing left. Another sender is told at once, and what others
    // are shown stays unknown rather than all zeros.
    if (request.origin != RequestOrigin::Operator && !m_session.isConnected())
        return RequestOutcome::of(Reason::LinkDown, m_state.msg(18));
    bool stopped = false;
    {
        const DeviceSession::Lease lease = m_session.lease();
        lease.exchange().ClearReceive();
        lease.exchange().startAfresh();
        readBack();
        stopped = lease.exchange().stopRequested();
    }
    if (TerminationRequested() || stopped)
        return RequestOutcome::of(Reason::Terminated);
    if (!m_session.isConnected())
        return RequestOutcome::of(Reason::LinkDown, m_state.msg(18));
    return RequestOutcome::of(Reason::Done);
}

void RequestRunner::readBack()
{
    const DeviceSession::Lease lease = m_session.lease(); // within the caller's
    CommandExchange &ex = lease.exchange();
    // A value, and whether its reply came (a time-out gives 0, as the page always showed it).
    const auto query = [&ex](const QByteArray &command, const QString &prefix) {
        ex.SendCommand(command);
        const QString reply = ex.WaitReply(prefix);
        return std::pair{ValueAfterPrefix(reply, prefix), !reply.isEmpty()};
    };
    const quint64 forgotten = m_forgotten;
    SwitchState s;
    query(SyncCommand(), SyncReplyPrefix());
    for (int w = 0; w < kWindows; ++w) {
        const auto [e, eRead] = query(ReadCommand(kParamEnabled, w), ReadReplyPrefix(kParamEnabled));
        s.enabled[size_t(w)] = e > 0 ? 1 : 0;
        s.enabledRead[size_t(w)] = eRead;
        s.fullScreenRead[size_t(w)] = eRead; // a box left clear by the enable
        // Asked again for each window read as exactly 1; its answer ticks that window's box only.
        if (e == 1) {
            const auto [full, fullRead] = query(ReadCommand(kParamFullScreen), ReadReplyPrefix(kParamFullScreen));
            s.fullScreen[size_t(w)] = full == 1 ? 1 : 0;
            s.fullScreenRead[size_t(w)] = fullRead;
        }
    }
    s.sourceButton.fill(-1);
    for (int w = 0; w < kWindows; ++w) {
        const auto [input, inputRead] = query(ReadCommand(kParamInput, w), ReadReplyPrefix(kParamInput));
        if (ex.stopRequested())
            break; // the windows not reached keep what they showed
        const auto [bank, bankRead] = query(ReadCommand(kParamBankShown, w), ReadReplyPrefix(kParamBankShown));
        s.sourceButton[size_t(w)] = WindowSelection(w, input, bank);
        s.sourceRead[size_t(w)] = inputRead && bankRead;
    }
    const auto [background, backgroundRead] =
        query(ReadCommand(kParamBankShown, kBackgroundWindow), ReadReplyPrefix(kParamBankShown));
    s.sourceButton[kBackgroundWindow] = BackgroundSelection(background);
    s.sourceRead[kBackgroundWindow] = backgroundRead;
    // A preset recalled between its exchanges may have changed windows already read.
    s.known = !ex.stopRequested() && forgotten == m_forgotten;
    m_switch = s;
    Q_EMIT stateChanged();
}

RequestOutcome RequestRunner::load(const Request &request)
{
    const MessageTable &msg = m_state.msg;
    if (request.bank < 1 || request.bank > kBanks)
        return RequestOutcome::of(Reason::Refused, FillIn(m_state.msg(49), QString::number(request.bank)));
    // Another sender is told first that nothing can go out; the operator's
    // own click runs into the upload's version check, which says so.
    if (request.origin != RequestOrigin::Operator && !m_session.isConnected())
        return RequestOutcome::of(Reason::LinkDown, msg(18));
    // Missing, or a FIFO or a device named like a picture.
    if (!IsRegularFile(request.file))
        return RequestOutcome::of(Reason::Refused, msg(19) + QLatin1Char('\n') + request.file);
    const PreviewResult picture = PreviewPicture(request.file);
    if (!picture.accepted())
        return RequestOutcome::of(Reason::Refused,
                                  msg(21) + QLatin1Char('\n') + request.file + QLatin1Char('\n') + picture.reason());

    // The link is the job's until the upload is over; the outcome's box no longer holds it.
    std::optional<DeviceSession::Lease> lease(std::in_place, m_session);
    if (m_state.settings.ShowLog)
        m_log.clearList();
    m_log.resetCount();
    lease->exchange().startAfresh();
    m_loading = true;
    m_loadStopped = false;
    m_loadBank = request.bank;
    Q_EMIT loadStarted(request.bank);
    Q_EMIT stateChanged();

    const qint32 width = picture.ImageWidth, height = picture.ImageHeight;
    const QByteArray image = ConvertPixels(CapturePixels(picture.Picture1, width, height), width, height);
    UploadDisplay display;
    display.txtJOB = [this](const QString &text) { Q_EMIT loadText(text); };
    display.ShowProgress = [this](int percent) { Q_EMIT loadProgress(percent); };
    display.labTECHINFO = [this](const QString &text) { Q_EMIT loadTechnical(text); };
    display.lab = [this](const QString &text) { Q_EMIT loadDiagnostic(text); };
    const UploadOutcome upload = UploadImage(lease->exchange(), msg, image, width, height, request.bank - 1, display);
    const bool stopped = lease->exchange().stopRequested();
    lease.reset();

    QString name = request.file;
    SplitPath(name);
    const bool loaded = upload == UploadOutcome::Done && !stopped;
    if (!loaded)
        name.clear();
    m_state.settings.BankFileLoaded[size_t(request.bank)] = name;
    m_loading = false;
    Q_EMIT loadEnded(request.bank, loaded);
    Q_EMIT stateChanged();

    if (loaded)
        return RequestOutcome::of(Reason::Done);
    // The stop button at any moment of the load (the version check too), or
    // the end of the program (told as such).
    if (m_loadStopped || upload == UploadOutcome::Done || upload == UploadOutcome::Stopped)
        return RequestOutcome::of(Reason::Terminated, TerminationRequested() ? QString() : msg(56));
    if (upload == UploadOutcome::OldFirmware)
        return tell(request, Reason::Refused, msg(16), msg(17));
    // Cut short by the end of the program, it is told as such (nothing failed).
    if (TerminationRequested())
        return RequestOutcome::of(Reason::Terminated);
    return tell(request, Reason::LinkFailure, msg(22), msg(4));
}

} // namespace qx
