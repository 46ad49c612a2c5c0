#pragma once
// The remote gateway over the device session as the program has it today:
// requests queue here and run one at a time, each with a lease of its own,
// once the session is idle and the operator has no question open. A preset
// recall is sent and flushed; a switching change sends the bytes the
// Switching page sends for the same click (a bank shown without the
// question: nobody is there to answer it) and then reads the device back; a
// load checks, converts and uploads the picture as the load button does and
// records the file for the bank.

#include "remotegateway.h"

#include <QPointer>
#include <QTimer>
#include <deque>

namespace qx {

struct AppState;
class CommandExchange;
class DeviceSession;

class SessionGateway : public RemoteGateway {
    Q_OBJECT
public:
    // At most this many requests wait; more are refused as busy.
    static constexpr int kQueueLimit = 32;

    // `ready`: nothing of the operator's holds the link or waits for an answer
    // (no dialog open, no load or switching sequence); `loadRunning`: the
    // operator's load job runs (requests are then refused at once).
    SessionGateway(AppState &state, DeviceSession &session, std::function<bool()> ready,
                   std::function<bool()> loadRunning, QObject *parent = nullptr);

    void submit(const RemoteRequest &request, QObject *sender, Done done) override;
    RemoteState state() const override;

    // The operator recalled a preset (a button or a key).
    void presetRecalled(int preset);
    // Something the state shows changed outside the gateway (names, a bank record).
    void touch() { Q_EMIT changed(); }

Q_SIGNALS:
    // A request holds the link (true) or has let it go.
    void runningChanged(bool running);

private:
    struct Pending {
        RemoteRequest request;
        QPointer<QObject> sender;
        Done done;
    };
    void runNext();
    RemoteOutcome run(const RemoteRequest &r);
    RemoteOutcome recall(int preset);
    RemoteOutcome change(const RemoteRequest &r);
    RemoteOutcome load(const RemoteRequest &r);
    void send(const QByteArray &command, const QString &replyPrefix);
    int query(const QByteArray &command, const QString &replyPrefix);
    void readBack();

    AppState &m_state;
    DeviceSession &m_session;
    CommandExchange &m_exchange;
    std::function<bool()> m_ready;
    std::function<bool()> m_loadRunning;
    std::deque<Pending> m_queue;
    QTimer m_poll;      // while requests wait for the session
    bool m_running = false;
    bool m_loading = false;
    int m_presetLast = 0;
    std::array<RemoteState::Window, 4> m_windows{};
    RemoteState::Window m_background;
};

} // namespace qx
