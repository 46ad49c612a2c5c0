#pragma once
// The command exchange: SendCommand writes one command, ReceivePoll cuts the
// device's text into lines, WaitReply waits for the line that begins with an
// expected prefix. It is synchronous for the caller: while it waits it keeps
// the interface alive by processing events, and that event processing is
// also what feeds it (the receive timer and the link's data-arrival events).

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTimer>
#include <utility>

namespace qx {

class CommLog;
class DeviceLink;
enum class LinkOpenResult;

class CommandExchange : public QObject {
    Q_OBJECT
public:
    static constexpr int kLineBudget = 20;  // lines examined per wait
    static constexpr int kPollBudget = 400; // polls per line
    static constexpr int kPollMs = 2;       // one poll lasts at least this long when no line comes
    // The receive state never holds more than this: text without any line end
    // is dropped past this size, and so are the oldest unread lines when the
    // device sends faster than they are taken.
    static constexpr int kRxLimit = 1 << 20;
    static constexpr int kLogShown = 512; // bytes of the receive buffer shown when a line is cut

    CommandExchange(DeviceLink &link, CommLog &log, QObject *parent = nullptr);

    // Writes one command; false when the link was not open and connected, in
    // which case nothing is queued and the log says "(not sent N)".
    bool SendCommand(const QByteArray &text);
    // Waits for the line that begins with `prefix` (any line for "") and
    // returns it trimmed; "" when none came.
    QString WaitReply(const QString &prefix);
    void ClearReceive();
    void ReceivePoll();
    // Opens the link from the settings as they are now (start-up and
    // Reconnect), or again as last opened (`reopen`: a background retry),
    // with an empty receive state.
    LinkOpenResult OpenLink(bool reopen = false);

    // Starts the 10 ms receive polling (done once the link has been opened).
    void startReceiveTimer() { Timer1.start(); }

    // Length of one poll in milliseconds. Tests shorten it so that a silent
    // device does not cost 16 s per wait; the product keeps 2 ms.
    void setPollMs(int ms) { m_pollMs = ms; }
    int pollMs() const { return m_pollMs; }
    // Polls per line of a wait; the product keeps kPollBudget. Tests whose
    // device leaves out some replies but answers others shorten the budget
    // rather than the poll, so an answer still has real time to come.
    void setPollBudget(int polls) { m_pollBudget = polls; }
    // Polls the last WaitReply made: a wait that found nothing made its whole
    // budget, kLineBudget x the poll budget, polls of at least pollMs() each.
    int lastWaitPolls() const { return m_lastWaitPolls; }

    // Received text not yet split into lines (RxBuffer): a copy, and its size.
    QByteArray rxBuffer() const { return m_rx.mid(m_rxHead); }
    qsizetype rxBufferSize() const { return m_rx.size() - m_rxHead; }
    // The one line waiting for WaitReply ("" = none); taken, it is gone.
    const QByteArray &rxLine() const { return RxLine; }
    QByteArray takeRxLine() { return std::exchange(RxLine, QByteArray()); }
    // Socket data not yet moved into RxBuffer; fed, it is read at the next poll.
    const QByteArray &tcpPending() const { return TcpRxBuffer; }
    void feedTcp(const QByteArray &bytes) { TcpRxBuffer += bytes; }
    // The reply accepted by the last WaitReply, trimmed.
    const QString &replyText() const { return ReplyText; }
    // The 100 ms ticks, counted from the last reset.
    qint32 timeTicks() const { return TimeTicks; }
    void resetTimeTicks() { TimeTicks = 0; }
    // The 10 ms receive poll and the 100 ms tick, as a window's records name them.
    QTimer &receiveTimer() { return Timer1; }
    QTimer &tickTimer() { return Timer_time; }

    // The operator's stop (a refusal of the device stops too): the running
    // sequence ends at its next wait; a new sequence starts afresh.
    void stop() { m_stopRequested = true; }
    void startAfresh() { m_stopRequested = false; }
    bool stopRequested() const { return m_stopRequested; }
    // A running sequence ends at its next wait: the operator's stop, or the
    // program asked to end.
    bool stopped() const;
    // A WaitReply is running (possibly with another one nested in its events):
    // nothing else may touch the link now.
    bool busy() const { return m_waiting > 0; }

    DeviceLink &link() { return m_link; }
    const DeviceLink &link() const { return m_link; }
    CommLog &log() { return m_log; }
    // What a sequence asks of the link through the exchange it was lent:
    // whether what was written has reached the device's side, whether the
    // link was lost since it was opened, and how many bytes still wait to go.
    bool flush();
    bool linkLost() const;
    qint64 pendingBytes() const;

Q_SIGNALS:
    void lineCut();
    // A wait ended without a reply although the link was up and nobody stopped it.
    void replyMissed();
    // busy() changed.
    void waitingChanged(bool busy);

private:
    void pollOnce();
    void appendReceived(const QByteArray &chunk);
    void limitReceived();
    void logReceived();
    void normalise();
    void cutLine();

    DeviceLink &m_link;
    CommLog &m_log;
    QByteArray RxLine;
    QByteArray TcpRxBuffer;
    QString ReplyText;
    qint32 TimeTicks = 0;
    QTimer Timer1;     // 10 ms: ReceivePoll
    QTimer Timer_time; // 100 ms: TimeTicks
    int m_pollMs = kPollMs;
    int m_pollBudget = kPollBudget;
    bool m_stopRequested = false;
    int m_waiting = 0; // WaitReply calls running
    int m_lastWaitPolls = 0;

    // RxBuffer is m_rx from m_rxHead on: cut lines leave the front in place
    // until it is worth moving the rest, so a line costs its own length and
    // not the length of everything queued behind it.
    QByteArray m_rx;
    qsizetype m_rxHead = 0;
    qsizetype m_lastEnd = -1; // index of the last CR or "|" in m_rx; below m_rxHead when there is none
    // m_rx from m_rxHead up to here is already normalised and would not change
    // if normalised again (no CR, LF or NUL, and no "||"); normalise() starts here.
    qsizetype m_normFrom = 0;
};

} // namespace qx
