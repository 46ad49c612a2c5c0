#pragma once
// The device session: the one owner of the link to the device, its command
// exchange and its monitor. It keeps the link settings as last applied (by
// the start-up or the Reconnect button); a background retry opens exactly
// those again, so settings being edited wait for Reconnect. Sequences that
// talk to the device between waits (the start-up's requests, the load job, a
// switching sequence) hold a lease for as long as they run; no retry touches
// the link while one is held.

#include "commandexchange.h"
#include "devicelink.h"
#include "linkmonitor.h"

#include <QObject>

namespace qx {

class CommLog;
struct LinkSettings;

class DeviceSession : public QObject {
    Q_OBJECT
public:
    // `settings` are the operator's settings, read when the link is opened.
    DeviceSession(const LinkSettings &settings, CommLog &log, QObject *parent = nullptr);

    // The start-up and Reconnect: applies the settings as they are now, opens
    // the link, and the retry pauses start again from the first.
    LinkOpenResult open();
    // Processes events while a TCP connection is being made, for at most
    // `ms`; true when the link is up. A termination request ends it.
    bool waitConnected(int ms);
    bool isConnected() const { return m_link.isConnected(); }
    bool isConnecting() const { return m_link.isConnecting(); }
    const LinkSettings &applied() const { return m_link.applied(); }

    // Held by a sequence for its whole run; leases nest.
    class [[nodiscard]] Lease {
    public:
        explicit Lease(DeviceSession &session) : m_session(session) { m_session.addLease(1); }
        ~Lease() { m_session.addLease(-1); }
        Lease(const Lease &) = delete;
        Lease &operator=(const Lease &) = delete;
        Lease(Lease &&) = delete;
        Lease &operator=(Lease &&) = delete;
        // The exchange, lent for as long as the lease is held: only a lease
        // that has a name hands it out (never a temporary that ends with the
        // statement), and it is neither copied nor moved.
        CommandExchange &exchange() const & { return m_session.m_exchange; }
        CommandExchange &exchange() const && = delete;

    private:
        DeviceSession &m_session;
    };
    Lease lease() { return Lease(*this); }
    // The exchange to watch (its signals, the line waiting, what is still to
    // go); nothing can be sent through it.
    const CommandExchange &exchange() const { return m_exchange; }
    // Stops the running sequence at its next wait (the load's stop button,
    // Cancel in the wait window, the end of the program); it sends nothing more.
    void stop() { m_exchange.stop(); }
    // Neither a lease is held nor a wait runs: the link may be reopened.
    bool idle() const { return m_leases == 0 && !m_exchange.busy(); }

    // What the last opening tried (a serial port's name), to tell the
    // operator; sending goes through a lease only.
    QString attempted() const;
    LinkMonitor &monitor() { return m_monitor; }
    // The session's timers and connections as a window's language records
    // name them, in their places of its order: Timer1 and Timer_time, then
    // MSComm1 and Winsock1.
    void registerTimers(QObject *window);
    void registerConnections(QObject *window);

Q_SIGNALS:
    // idle() may have changed (a lease taken or given back, a wait begun or ended).
    void idleChanged(bool idle);

private:
    void addLease(int delta);

    DeviceLink m_link;
    CommandExchange m_exchange;
    LinkMonitor m_monitor;
    int m_leases = 0;
};

} // namespace qx
