#pragma once
// What is known of the link, without asking the device: whether the TCP
// connection is up, was lost or could not be made, whether the serial port
// opened, whether the last wait went unanswered, and when the device last
// sent a line. A lost or failed link is opened again in the background while
// no exchange runs: after a pause that starts at one second and doubles up to
// thirty. Retries are silent; each one and its outcome go to the
// communication log.

#include <QDateTime>
#include <QDeadlineTimer>
#include <QObject>
#include <QTimer>
#include <functional>

namespace qx {

class CommandExchange;
struct LinkSettings;
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
    static constexpr int kRetryLongest = 30; // the longest pause, in multiples of the first

    LinkMonitor(CommandExchange &exchange, const LinkSettings &settings, QObject *parent = nullptr);

    // The owner's sequences that talk to the device between waits (the load
    // job, a switching sequence): no retry while this says so.
    void setBusyCheck(std::function<bool()> busy) { m_busy = std::move(busy); }
    // What a retry runs: opens the link again, telling nobody.
    void setReopen(std::function<LinkOpenResult()> reopen) { m_reopen = std::move(reopen); }
    // The first pause; tests shorten it.
    void setRetryBase(int ms) { m_baseMs = m_pauseMs = ms; }

    // The link was opened by the start-up or the Reconnect button: the state
    // follows from the result, and the pauses start again from the first.
    void opened(LinkOpenResult result);

    State state() const { return m_state; }
    bool retryPending() const { return m_retry.isActive(); }
    int secondsToRetry() const; // at least 1 while a retry is pending
    QDateTime lastReply() const { return m_lastReply; }

Q_SIGNALS:
    void changed();

private:
    void apply(LinkOpenResult result);
    void setState(State state);
    void scheduleRetry();
    void retry();
    void onConnected();
    void onConnectFailed(const QString &reason);
    void onLost();
    bool idle() const;
    void logOutcome(const QString &text);

    CommandExchange &m_exchange;
    const LinkSettings &m_settings;
    std::function<bool()> m_busy;
    std::function<LinkOpenResult()> m_reopen;
    State m_state = State::Connecting;
    int m_baseMs = kRetryBaseMs;
    int m_pauseMs = kRetryBaseMs; // the pause before the next retry
    bool m_attempt = false;       // a retry's outcome is still to be logged
    bool m_wasLost = false;       // failed retries after a loss still count as lost
    QTimer m_retry;
    QTimer m_countdown; // once a second while a retry is pending, for the indicator
    QDeadlineTimer m_due;
    QDateTime m_lastReply;
};

} // namespace qx
