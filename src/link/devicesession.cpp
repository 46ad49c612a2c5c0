#include "devicesession.h"

#include "util/controls.h"
#include "util/seams.h"

#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTimer>
#include <algorithm>

namespace qx {

DeviceSession::DeviceSession(const LinkSettings &settings, CommLog &log, QObject *parent)
    : QObject(parent), m_link(settings), m_exchange(m_link, log),
      m_monitor(
          m_exchange, [this] { return idle(); }, [this] { return m_exchange.OpenLink(true); })
{
    connect(&m_exchange, &CommandExchange::waitingChanged, this, [this] { Q_EMIT idleChanged(idle()); });
}

QString DeviceSession::attempted() const
{
    return m_link.attempted();
}

void DeviceSession::addLease(int delta)
{
    m_leases += delta;
    if (m_leases == 0 || (m_leases == 1 && delta > 0))
        Q_EMIT idleChanged(idle());
}

LinkOpenResult DeviceSession::open()
{
    const LinkOpenResult result = m_exchange.OpenLink();
    m_monitor.opened(result);
    m_exchange.startReceiveTimer(); // the receive polling runs from the first opening on
    return result;
}

void DeviceSession::registerTimers(QObject *window)
{
    RegisterControl(window, &m_exchange.receiveTimer(), QStringLiteral("Timer1"), ControlKind::Timer);
    RegisterControl(window, &m_exchange.tickTimer(), QStringLiteral("Timer_time"), ControlKind::Timer);
}

void DeviceSession::registerConnections(QObject *window)
{
    RegisterControl(window, &m_link.serialPort(), QStringLiteral("MSComm1"), ControlKind::Component);
    RegisterControl(window, &m_link.tcpSocket(), QStringLiteral("Winsock1"), ControlKind::Component);
}

bool DeviceSession::waitConnected(int ms)
{
    const QDeadlineTimer deadline(ms);
    while (m_link.isConnecting() && !deadline.hasExpired() && !TerminationRequested()) {
        // Woken by the outcome; the short tick also covers a wake-up lost to
        // an event loop nested in this one.
        QEventLoop loop;
        QTimer tick;
        tick.setSingleShot(true);
        connect(&tick, &QTimer::timeout, &loop, &QEventLoop::quit);
        connect(&m_link, &DeviceLink::connected, &loop, &QEventLoop::quit);
        connect(&m_link, &DeviceLink::connectFailed, &loop, &QEventLoop::quit);
        tick.start(int(std::clamp<qint64>(deadline.remainingTime(), 0, 50)));
        loop.exec();
    }
    return m_link.isConnected();
}

} // namespace qx
