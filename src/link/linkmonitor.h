#pragma once
// What is known of the link, without asking the device: whether the TCP
// connection is up, was lost or could not be made, whether the serial port
// opened, whether the last wait went unanswered, and when the device last
// sent a line. A lost or failed link is opened again in the background while
// the session is idle: after a pause that starts at one second and doubles up
// to five, so a device that comes back is found within seconds. A connection
// counts as up, and the pauses start again from the first, only once it has
// stayed open for a while or the device has answered: a device that accepts
// and closes at once is not retried every second. Retries are silent; each
// one and its outcome go to the communication log without moving its counter.

#include <QDateTime>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <functional>

namespace qx {

class CommandExchange;
enum class LinkOpenResult;

class LinkMonitor : public QObject {
    Q_OBJECT
public:
    enum class State {
        Connecting,      // TCP: the connection is being made
        Connected,       // TCP: up; serial: the port is open
        NotAnswering,    // the last wait ended without a reply
        Lost,            // the connection closed or the serial device went away
        NoConnection,    // TCP: the connection could not be made
        SerialMissing,   // the serial port would not open
        AddressUnusable, // the TCP settings name no usable address (no retry)
    };
    static constexpr int kRetryBaseMs = 1000;
    static constexpr int kRetryLongest = 5; // the longest pause, in multiples of the first
    static constexpr int kSteady = 3;       // a connection open this many first pauses counts as up

    // `idle` says when the link may be reopened; `reopen` opens it again as
    // last applied, telling nobody.
    LinkMonitor(CommandExchange &exchange, std::function<bool()> idle, std::function<LinkOpenResult()> reopen,
                QObject *parent = nullptr);

    // The first pause; tests shorten it.
    void setRetryBase(int ms) { m_baseMs = m_pauseMs = ms; }

    // The link was opened by the start-up or the Reconnect button: the state
    // follows from the result, and the pauses start again from the first.
    void opened(LinkOpenResult result);
    // The operator asks for a retry now (a click on the indicator): a link
    // that is down is opened again as soon as the session is idle.
    void retryNow();

    State state() const { return m_state; }
    bool retryPending() const { return m_retry.isActive(); }
    int secondsToRetry() const; // at least 1 while a retry is pending
    int nextPauseMs() const { return m_pauseMs; }
    QDateTime lastReply() const { return m_lastReply; }

Q_SIGNALS:
    void changed();

private:
    void apply(LinkOpenResult result);
    void setState(State state);
    // `spentMs` of the pause have passed already (in an attempt that got no answer).
    void scheduleRetry(qint64 spentMs = 0);
    void retry();
    void onConnected();
    void onConnectFailed(const QString &reason);
    void onLost();
    void nowUp(); // the pauses start again from the first
    void logOutcome(const QString &text);

    CommandExchange &m_exchange;
    std::function<bool()> m_idle;
    std::function<LinkOpenResult()> m_reopen;
    State m_state = State::Connecting;
    int m_baseMs = kRetryBaseMs;
    int m_pauseMs = kRetryBaseMs; // the pause before the next retry
    bool m_attempt = false;       // a retry's outcome is still to be logged
    bool m_wasLost = false;       // failed retries after a loss still count as lost
    QTimer m_retry;
    QTimer m_countdown; // once a second while a retry is pending, for the indicator
    QTimer m_steady;    // a connection that stays open this long counts as up
    QDeadlineTimer m_due;
    QElapsedTimer m_attemptStarted; // the last open or retry
    QDateTime m_lastReply;
};

} // namespace qx
