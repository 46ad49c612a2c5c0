#include "linkmonitor.h"

#include "commandexchange.h"
#include "commlog.h"
#include "devicelink.h"
#include "language/messagetable.h"
#include "settings/settings.h"

#include <algorithm>
#include <utility>

namespace qx {

namespace {
// While a retry is due but an exchange runs, it is looked at again this often.
constexpr int kBusyRecheckMs = 100;
} // namespace

LinkMonitor::LinkMonitor(CommandExchange &exchange, std::function<bool()> idle, std::function<LinkOpenResult()> reopen,
                         QObject *parent)
    : QObject(parent), m_exchange(exchange), m_idle(std::move(idle)), m_reopen(std::move(reopen))
{
    m_retry.setSingleShot(true);
    connect(&m_retry, &QTimer::timeout, this, &LinkMonitor::retry);
    m_steady.setSingleShot(true);
    connect(&m_steady, &QTimer::timeout, this, &LinkMonitor::nowUp);
    m_countdown.setInterval(1000);
    connect(&m_countdown, &QTimer::timeout, this, &LinkMonitor::changed);
    DeviceLink &link = exchange.link();
    connect(&link, &DeviceLink::connected, this, &LinkMonitor::onConnected);
    connect(&link, &DeviceLink::connectFailed, this, &LinkMonitor::onConnectFailed);
    connect(&link, &DeviceLink::lost, this, &LinkMonitor::onLost);
    connect(&exchange, &CommandExchange::lineCut, this, [this] {
        m_lastReply = QDateTime::currentDateTime();
        nowUp();
        if (m_state == State::NotAnswering)
            setState(State::Connected);
        else
            Q_EMIT changed(); // the time of the last reply
    });
    connect(&exchange, &CommandExchange::replyMissed, this, [this] {
        if (m_state == State::Connected)
            setState(State::NotAnswering);
    });
}

int LinkMonitor::secondsToRetry() const
{
    return std::max<int>(1, int((m_due.remainingTime() + 999) / 1000));
}

void LinkMonitor::opened(LinkOpenResult result)
{
    m_pauseMs = m_baseMs;
    m_attempt = false;
    m_wasLost = false;
    m_retry.stop();
    m_countdown.stop();
    m_steady.stop();
    m_attemptStarted.start();
    apply(result);
}

void LinkMonitor::apply(LinkOpenResult result)
{
    switch (result) {
    case LinkOpenResult::Opened:
        if (m_exchange.link().isConnected()) {
            logOutcome(m_exchange.link().isTcp() ? QStringLiteral("connected") : QStringLiteral("open"));
            onConnected();
        } else {
            setState(State::Connecting);
        }
        return;
    case LinkOpenResult::SerialFailed:
        logOutcome(QStringLiteral("port not available"));
        m_state = State::SerialMissing;
        scheduleRetry();
        return;
    case LinkOpenResult::TcpFailed:
        // Only edited settings and the Reconnect button can mend this.
        logOutcome(QStringLiteral("address not usable"));
        setState(State::AddressUnusable);
        return;
    }
}

void LinkMonitor::setState(State state)
{
    m_state = state;
    Q_EMIT changed();
}

void LinkMonitor::scheduleRetry(qint64 spentMs)
{
    // The state was set by the caller; the indicator learns of both at once.
    const int pause = int(std::clamp<qint64>(m_pauseMs - spentMs, 0, m_pauseMs));
    m_due = QDeadlineTimer(pause);
    m_retry.start(pause);
    m_countdown.start();
    m_pauseMs = std::min(m_pauseMs * 2, m_baseMs * kRetryLongest);
    Q_EMIT changed();
}

void LinkMonitor::retry()
{
    // Never while a sequence holds the link or a wait runs, and never a
    // second connection beside a live one.
    if (!m_idle()) {
        m_retry.start(std::min(m_baseMs, kBusyRecheckMs));
        return;
    }
    m_countdown.stop();
    DeviceLink &link = m_exchange.link();
    if (link.isConnected() || link.isConnecting())
        return;
    m_attempt = true;
    const LinkSettings &s = link.applied();
    m_attemptStarted.start();
    m_exchange.log().LogNote(QStringLiteral("(reconnect) ") +
                                 (link.isTcp() ? s.TcpSettings : QStringLiteral("com%1").arg(s.ComPort)),
                             CommLog::Sent);
    apply(m_reopen());
}

void LinkMonitor::retryNow()
{
    if (m_exchange.link().isConnected() || m_exchange.link().isConnecting())
        return;
    m_retry.stop();
    retry();
}

void LinkMonitor::onConnected()
{
    logOutcome(QStringLiteral("connected"));
    m_retry.stop();
    m_countdown.stop();
    m_steady.start(m_baseMs * kSteady);
    setState(State::Connected);
}

void LinkMonitor::nowUp()
{
    m_steady.stop();
    if (!m_exchange.link().isConnected())
        return;
    m_pauseMs = m_baseMs;
    m_wasLost = false;
}

void LinkMonitor::onConnectFailed(const QString &reason)
{
    logOutcome(reason);
    m_state = m_wasLost ? State::Lost : State::NoConnection;
    // The pause is counted from the attempt's start: an attempt abandoned
    // unanswered after seconds is followed by the next within the longest
    // pause, so a device that comes back is still found within it.
    scheduleRetry(m_attemptStarted.elapsed());
}

void LinkMonitor::onLost()
{
    m_steady.stop();
    m_wasLost = true;
    m_state = State::Lost;
    scheduleRetry();
}

void LinkMonitor::logOutcome(const QString &text)
{
    if (!std::exchange(m_attempt, false))
        return;
    m_attemptStarted.start();
    m_exchange.log().LogNote(QStringLiteral("(reconnect) ") + text, CommLog::Received);
}

QString LinkStateText(const LinkMonitor &monitor, const LinkSettings &s, const MessageTable &msg)
{
    const QString port = QString::number(s.ComPort);
    const QString where = s.ComPort == 0 ? s.TcpSettings : QStringLiteral("com") + port;
    const QString dot = QStringLiteral(" \u00B7 ");
    QString text;
    switch (monitor.state()) {
    case LinkMonitor::State::Connected:
        text = msg(31) + dot + where;
        break;
    case LinkMonitor::State::Connecting:
        text = msg(32);
        break;
    case LinkMonitor::State::NotAnswering:
        text = msg(33);
        break;
    case LinkMonitor::State::Lost:
        text = msg(34);
        break;
    case LinkMonitor::State::NoConnection:
        text = msg(35);
        break;
    case LinkMonitor::State::SerialMissing:
        text = FillIn(msg(37), port);
        break;
    case LinkMonitor::State::AddressUnusable:
        text = msg(38) + dot + where;
        break;
    }
    if (monitor.retryPending())
        text += dot + FillIn(msg(36), QString::number(monitor.secondsToRetry()));
    return text;
}

QString LinkStateKey(LinkMonitor::State state)
{
    switch (state) {
    case LinkMonitor::State::Connected:
        return QStringLiteral("connected");
    case LinkMonitor::State::Connecting:
        return QStringLiteral("connecting");
    case LinkMonitor::State::NotAnswering:
        return QStringLiteral("not-answering");
    case LinkMonitor::State::Lost:
        return QStringLiteral("lost");
    case LinkMonitor::State::NoConnection:
        return QStringLiteral("no-connection");
    case LinkMonitor::State::SerialMissing:
        return QStringLiteral("serial-missing");
    case LinkMonitor::State::AddressUnusable:
        return QStringLiteral("address-unusable");
    }
    return QString();
}

} // namespace qx
