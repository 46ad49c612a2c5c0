#include "readbackscheduler.h"

#include "link/linkmonitor.h"
#include "state/requestrunner.h"

namespace qx {

ReadBackScheduler::ReadBackScheduler(RequestRunner &runner, LinkMonitor &monitor, QObject *parent)
    : QObject(parent), m_runner(runner), m_monitor(monitor)
{
    m_settle.setSingleShot(true);
    connect(&m_settle, &QTimer::timeout, this, &ReadBackScheduler::due);
    connect(&m_period, &QTimer::timeout, this, [this] {
        if (!m_pending)
            readBack();
    });
    // Each preset of a burst starts the wait again: the read-back follows the last.
    connect(&m_runner, &RequestRunner::switchStateForgotten, this, [this] { m_settle.start(kSettleMs); });
    connect(&m_runner, &RequestRunner::finished, this, &ReadBackScheduler::finished);
}

void ReadBackScheduler::watch(QObject *watcher)
{
    if (!m_watchers.contains(watcher)) {
        m_watchers.insert(watcher);
        connect(watcher, &QObject::destroyed, this, [this, watcher] { m_watchers.remove(watcher); });
    }
    // Not at once: a burst that is still going on is waited for.
    if (!m_runner.switchState().known && !m_settle.isActive())
        m_settle.start(0);
}

void ReadBackScheduler::unwatch(QObject *watcher)
{
    if (m_watchers.remove(watcher))
        disconnect(watcher, &QObject::destroyed, this, nullptr);
}

void ReadBackScheduler::setPeriod(int seconds)
{
    if (seconds > 0)
        m_period.start(seconds * 1000);
    else
        m_period.stop();
}

void ReadBackScheduler::due()
{
    // While a request runs (the page's own read-back, say) it is waited for:
    // what it leaves known needs no second read-back, and one that a preset
    // interrupted ends unknown and is followed then.
    if (m_runner.busy()) {
        m_settle.start(kSettleMs);
        return;
    }
    // One of ours still waiting reads the newest state.
    if (!m_pending && !m_runner.switchState().known)
        readBack();
}

void ReadBackScheduler::readBack()
{
    if (!watched() || m_monitor.state() != LinkMonitor::State::Connected)
        return;
    m_pending = m_runner.submit(Request::readBack(RequestOrigin::Remote));
}

void ReadBackScheduler::finished(quint64 id)
{
    if (id == m_pending)
        m_pending = 0;
}

} // namespace qx
