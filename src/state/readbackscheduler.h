#pragma once
// When the program reads the device's switching state back on its own. A
// preset recall, another sender's switching change, or a link that goes down
// or comes up again leaves the state unknown (the runner forgets it); while
// somebody watches the state (the Switching page shown, a WebSocket client, a
// client that polls, an OSC feedback target or sender), it is read back half a
// second after the last of a burst, as the Switching page waits after a click,
// so a burst of recalls costs one read-back. A watcher that comes while the
// state is unknown gets one too, and a period (0: none) reads it back
// regularly while somebody watches, for a device changed at its front panel.
// With nobody watching nothing extra goes to the device.
//
// The read-back is a request of the runner like any other: it waits while
// the operator is busy and holds the link like the page's own.

#include <QObject>
#include <QSet>
#include <QTimer>

namespace qx {

class LinkMonitor;
class RequestRunner;

class ReadBackScheduler : public QObject {
    Q_OBJECT
public:
    static constexpr int kSettleMs = 500; // after the last preset, as Timer_switch after a click

    ReadBackScheduler(RequestRunner &runner, LinkMonitor &monitor, QObject *parent = nullptr);

    // `watcher` shows the state from now on, until unwatch() or its end. A
    // watcher that comes, or looks again, while the state is unknown gets a
    // read-back.
    void watch(QObject *watcher);
    void unwatch(QObject *watcher);
    bool watched() const { return !m_watchers.isEmpty(); }
    // A read-back every `seconds` while somebody watches; 0 none.
    void setPeriod(int seconds);

private:
    void due();
    void readBack();
    void finished(quint64 id);

    RequestRunner &m_runner;
    LinkMonitor &m_monitor;
    QSet<QObject *> m_watchers;
    QTimer m_settle; // one shot: the burst of presets is over
    QTimer m_period;
    quint64 m_pending = 0; // the read-back of ours that waits or runs
};

} // namespace qx
