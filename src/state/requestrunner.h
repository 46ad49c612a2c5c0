#pragma once
// The request runner: the one way from a request to the device. Every entry
// point (the window's clicks and keys, the command line, a second start, a
// remote) hands it Requests; it carries them out one at a time through the
// device session and is the only place that turns how a request ended into
// an exit status and a message.
//
// Requests of other senders wait while the operator is busy: a question, a
// warning or a wait window is open (DialogOpen), or the operator's own load
// or switching sequence runs. They never touch the operator's selection,
// preview, bank or page. The operator's own requests (clicks and keys) run at
// once through execute(): a preset recall goes out between the exchanges of
// a read-back or a switching command, as a click does; anything else while
// another request runs is refused (Busy) with a note for the operator.
//
// The requests of a command line are a batch, whether the start-up runs them
// or a second start hands them over: runBatch() is the one rule for both.

#include "link/devicesession.h"
#include "state/request.h"

#include <QDeadlineTimer>
#include <QList>
#include <QObject>
#include <QTimer>
#include <array>
#include <functional>
#include <optional>

namespace qx {

struct AppState;
class CommLog;
class DeviceSession;

// How long the requests of a batch wait for a TCP connection being made.
constexpr int kConnectWaitMs = 5000;

// The device's switching state as last read back.
struct SwitchState {
    // A read-back has completed since the last preset recall and since the
    // link last went down (a stopped one leaves windows unread): until then the
    // device's windows may show something else, and those who show the state
    // say it is unknown. Each value is known to others only when it is read too.
    bool known = false;
    std::array<int, 5> sourceButton{}; // window 1..4, background: the selected source button
                                       // (SourceOfButton), -1 for a window a stopped read-back did not reach
    std::array<int, 4> enabled{};      // window 1..4: 0 off, 1 on, 2 unknown
    // Window 1..4: its full-screen box, 1 ticked, 0 clear. The device has one
    // full-screen value; it ticks the box of each window read as enabled with
    // exactly 1 (a window read as 2 or more is shown enabled with its box clear).
    std::array<int, 4> fullScreen{};
    // Which values came in a reply of this read-back. A read that timed out
    // leaves its value as the page has always shown it (0) and unknown to
    // anybody else; a source needs both of its replies, a full-screen box the
    // window's enable too.
    std::array<bool, 5> sourceRead{};
    std::array<bool, 4> enabledRead{};
    std::array<bool, 4> fullScreenRead{};

    // What the page shows: which of its values were answered is not part of it.
    bool operator==(const SwitchState &o) const
    {
        return known == o.known && sourceButton == o.sourceButton && enabled == o.enabled && fullScreen == o.fullScreen;
    }
    bool operator!=(const SwitchState &o) const { return !(*this == o); }
};

class RequestRunner : public QObject {
    Q_OBJECT
public:
    RequestRunner(AppState &state, CommLog &log, DeviceSession &session, QObject *parent = nullptr);
    ~RequestRunner() override;

    // Queues a request of another sender, or a batch; it runs when the
    // runner is ready, after those queued before it, and ends with one
    // finished(id, outcome), its message told (never empty unless done).
    // With `questionWaitMs` (>= 0) it is never late: once it has waited that
    // long, a question the operator has open withdraws it, told as Busy
    // ("the desk is asking a question"), and nothing of it is sent.
    quint64 submit(const QList<Request> &batch, int questionWaitMs = -1);
    quint64 submit(const Request &request, int questionWaitMs = -1)
    {
        return submit(QList<Request>{request}, questionWaitMs);
    }
    // Runs a batch now: the requests of one command line, in their order
    // (the command, the preset recall, the load), once the link is up or
    // could not come up within kConnectWaitMs. Unattended (a run that ends by
    // itself, and every hand-over of one) the first request that does not
    // succeed ends the batch and nothing after it is sent; attended, every
    // request runs and `failed` is told of each that did not succeed. Ends
    // with the first failure, else Done.
    using FailureShown = std::function<void(const Request &, const RequestOutcome &)>;
    RequestOutcome runBatch(const QList<Request> &batch, const FailureShown &failed = {});
    // Drops a queued request whose sender is gone (finished with Dropped); a
    // request already running finishes and is recorded as a click would be.
    void withdraw(quint64 id);
    // Runs one of the operator's own requests now (a click, a key) and returns
    // its outcome; finished is not signalled for it. A second request while
    // one runs is refused (Busy) unless it is a preset recall outside a load.
    // The operator's switching change is not read back here: the Switching
    // page asks for its read-back half a second later.
    RequestOutcome execute(const Request &request);
    // A request or a load runs: a read-back would have to wait.
    bool busy() const { return m_running || m_loading; }

    // Queued requests may start: the runner is open, runs nothing, the
    // operator holds nothing and no sequence holds the link.
    bool isReady() const;
    // A load runs (the operator's own or another sender's).
    bool loadRunning() const;
    // Requests waiting, in order.
    int queued() const;

    // Queued requests start only once the start-up is over; close() ends the
    // queue for good (queued requests finish with Terminated), a load cut
    // short leaves its bank holding nothing known, and the link stays as it
    // is from then on: what was sent leaves before close() returns (false
    // when it could not).
    void open();
    bool close();
    // The end of a run that ends by itself after `batch`: closes, and a batch
    // that succeeded but whose bytes could not leave ends as a link failure.
    RequestOutcome endRun(const RequestOutcome &batch);

    // Stops the running request at its next wait (the load's stop button,
    // Cancel in the wait window, the end of the program); nothing more of it
    // is sent. The next request starts afresh.
    void stop();

    // What the last read-back found, whoever asked for it.
    const SwitchState &switchState() const { return m_switch; }
    // The switching state is no longer known (a preset was recalled, another
    // sender switched, the link went down or came up again): stateChanged and
    // switchStateForgotten follow.
    void forgetSwitchState();

Q_SIGNALS:
    void finished(quint64 id, qx::RequestOutcome outcome);
    // A preset recall has left, whatever its origin.
    void presetRecalled(int preset);
    // Read-back results, a bank's record or the load's busy state changed.
    void stateChanged();
    // What was read back may no longer hold: whoever watches wants it read again.
    void switchStateForgotten();
    void readyChanged(bool ready);
    // The load's display: which bank (1..4) it loads, its job text, its
    // progress, its technical lines; loadEnded after the bank's record is set.
    void loadStarted(int bank);
    void loadText(const QString &text);
    void loadProgress(int percent);
    void loadTechnical(const QString &line);  // labTECHINFO
    void loadDiagnostic(const QString &line); // the diagnostic column
    void loadEnded(int bank, bool loaded);

private:
    struct Queued {
        quint64 id = 0;
        QList<Request> batch;
        QDeadlineTimer questionWait{QDeadlineTimer::Forever};
    };
    void updateReady();
    void withdrawLate();
    void runNext();
    RequestOutcome run(const Request &request);
    RequestOutcome recall(const Request &request);
    RequestOutcome command(const Request &request);
    RequestOutcome switching(const Request &request);
    RequestOutcome readSwitching(const Request &request);
    RequestOutcome load(const Request &request);
    void readBack();
    // Shows `text` titled `title` to an attended request's operator, or puts
    // it into the outcome's message of an unattended one.
    RequestOutcome tell(const Request &request, RequestOutcome::Reason reason, const QString &text,
                        const QString &title);

    AppState &m_state;
    CommLog &m_log;
    DeviceSession &m_session;
    QList<Queued> m_queue;
    QTimer m_late; // the next queued request whose wait behind a question runs out
    quint64 m_nextId = 1;
    std::optional<DeviceSession::Lease> m_closingLease;
    bool m_open = false;
    bool m_closed = false;
    bool m_running = false;
    bool m_loading = false;
    bool m_loadStopped = false; // stop() while the load ran, in whatever wait
    bool m_ready = false;
    bool m_runScheduled = false;
    int m_loadBank = 0; // 1..4 while a load runs
    SwitchState m_switch;
    quint64 m_forgotten = 0; // counts forgetSwitchState(): a read-back it interrupted is not known
    bool m_linkDown = true;  // the link as last seen, for its going down and coming up
};

} // namespace qx
