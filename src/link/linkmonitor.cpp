#include "linkmonitor.h"

#include "commandexchange.h"
#include "commlog.h"
#include "devicelink.h"
#include "settings/settings.h"

#include <algorithm>
#include <utility>

namespace qx {

namespace {
// While a retry is due but an exchange runs, it is looked at again this often.
constexpr int kBusyRecheckMs = 100;
} // namespace

LinkMonitor::LinkMonitor(CommandExchange &exchange, const LinkSettings &settings, QObject *parent)
    : QObject(parent), m_exchange(exchange), m_settings(settings)
{
    m_retry.setSingleShot(true);
    connect(&m_retry, &QTimer::timeout, this, &LinkMonitor::retry);
    m_countdown.setInterval(1000);
    connect(&m_countdown, &QTimer::timeout, this, &LinkMonitor::changed);
    DeviceLink &link = exchange.link();
    connect(&link, &DeviceLink::connected, this, &LinkMonitor::onConnected);
    connect(&link, &DeviceLink::connectFailed, this, &LinkMonitor::onConnectFailed);
    connect(&link, &DeviceLink::lost, this, &LinkMonitor::onLost);
    connect(&exchange, &CommandExchange::lineCut, this, [this] {
        m_lastReply = QDateTime::currentDateTime();
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
    apply(result);
}

void LinkMonitor::apply(LinkOpenResult result)
{
    switch (result) {
    case LinkOpenResult::Opened:
        if (!m_exchange.link().isTcp()) {
            logOutcome(QStringLiteral("open"));
            m_pauseMs = m_baseMs;
            m_wasLost = false;
            setState(State::Connected);
        } else if (m_exchange.link().tcpSocket().state() == QAbstractSocket::ConnectedState) {
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

void LinkMonitor::scheduleRetry()
{
    // The state was set by the caller; the indicator learns of both at once.
    m_due = QDeadlineTimer(m_pauseMs);
    m_retry.start(m_pauseMs);
    m_countdown.start();
    m_pauseMs = std::min(m_pauseMs * 2, m_baseMs * kRetryLongest);
    Q_EMIT changed();
}

bool LinkMonitor::idle() const
{
    return !m_exchange.busy() && !(m_busy && m_busy());
}

void LinkMonitor::retry()
{
    // Never inside a wait, an upload or a switching sequence, and never a
    // second connection beside a live one.
    if (!idle()) {
        m_retry.start(std::min(m_baseMs, kBusyRecheckMs));
        return;
    }
    DeviceLink &link = m_exchange.link();
    if (link.isTcp() ? link.tcpSocket().state() != QAbstractSocket::UnconnectedState
                     : m_state == State::Connected) {
        m_countdown.stop();
        return;
    }
    m_countdown.stop();
    m_attempt = true;
    m_exchange.log().LogLine(QStringLiteral("(reconnect) ")
                                 + (link.isTcp() ? m_settings.TcpSettings
                                                 : QStringLiteral("com%1").arg(m_settings.ComPort)),
                             CommLog::Sent);
    if (m_reopen)
        apply(m_reopen());
}

void LinkMonitor::onConnected()
{
    logOutcome(QStringLiteral("connected"));
    m_pauseMs = m_baseMs;
    m_wasLost = false;
    m_retry.stop();
    m_countdown.stop();
    setState(State::Connected);
}

void LinkMonitor::onConnectFailed(const QString &reason)
{
    logOutcome(reason);
    m_state = m_wasLost ? State::Lost : State::NoConnection;
    scheduleRetry();
}

void LinkMonitor::onLost()
{
    m_wasLost = true;
    m_state = State::Lost;
    scheduleRetry();
}

void LinkMonitor::logOutcome(const QString &text)
{
    if (!std::exchange(m_attempt, false))
        return;
    m_exchange.log().LogLine(QStringLiteral("(reconnect) ") + text, CommLog::Received);
}

} // namespace qx
