#pragma once
// The OSC side of the remote control. The UDP socket is Qt's, so the
// listener is bound where the settings say (127.0.0.1 unless other computers
// are allowed) and runs in the event loop; liblo reads and writes the
// messages. Who is heard is the access rule's (access.h): the sender on this
// computer is looked up in the system's UDP tables, and a sender the rule
// does not hear is dropped (another user of this computer is told
// "/qx7/error s", at most once a second; another computer is not answered).
// Each message from a sender that is heard becomes a request of the gateway;
// the sender, and every feedback target, is sent what changed of the state
// after each change and the whole of it on /qx7/state, and "/qx7/error s"
// when a message is refused (at most once a second to each sender).
// No loops: nothing is ever sent to this program's own address and port,
// what this program sends is never answered, and a target is never told back
// the enables it asked for: its feedback is measured against what it was
// told or asked for last, and says nothing of a window while its own enable
// request for it waits (the state would still show the value before). So a
// change goes from one panel to another and never back: two panels that name
// each other (or one that names itself) go quiet.

#include "access.h"
#include "remoteapi.h"

#include <QElapsedTimer>
#include <QHash>
#include <QHostAddress>
#include <QList>
#include <QPair>
#include <QTimer>
#include <array>
#include <optional>

class QUdpSocket;

namespace qx {

class RemoteGateway;

class OscRemote : public QObject {
    Q_OBJECT
public:
    static constexpr int kMaxDatagram = 4096;     // an OSC message of this program is far smaller
    static constexpr int kMaxSenders = 16;        // recent senders that get the feedback
    static constexpr int kErrorIntervalMs = 1000; // one /qx7/error per sender in this time
    static constexpr int kMaxErrorSenders = 256;  // senders whose last error is remembered

    using Target = QPair<QHostAddress, quint16>;
    OscRemote(RemoteGateway &gateway, bool allowOthers, const QList<QHostAddress> &allowed,
              const QList<Target> &feedback, QObject *parent = nullptr);

    bool start(const QHostAddress &address, quint16 port, QString *error);
    QHostAddress boundAddress() const;
    quint16 boundPort() const;

    // The bytes of an OSC message (liblo's serialisation); and back: false
    // when the bytes are no OSC message.
    static QByteArray encode(const OscMessage &message);
    static bool decode(const QByteArray &bytes, OscMessage &message);

private:
    void readDatagrams();
    void handle(const QByteArray &bytes, const Target &from);
    void sendTo(const QList<OscMessage> &messages, const Target &to);
    void refuse(const QString &reason, const Target &to);
    void sendFeedback();
    // Whether `t` is this program's own socket.
    bool isOwn(const Target &t) const;

    RemoteGateway &m_gateway;
    AccessRule m_rule;
    QList<Target> m_feedback;
    QList<Target> m_senders; // most recent last
    QUdpSocket *m_socket = nullptr;
    QList<QHostAddress> m_ownAddresses;         // where a datagram to the bound port reaches this socket
    QTimer m_changed;                           // gathers changes that come together into one feedback
    std::optional<RemoteState> m_sent;          // the state the last feedback told
    QHash<Target, RemoteState> m_told;          // what each target was told last, with the enables it asked for since
    QHash<Target, std::array<int, 4>> m_asking; // its enable requests of each window not yet run
    QHash<Target, qint64> m_lastError;          // when each sender was last refused
    QElapsedTimer m_clock;
};

} // namespace qx
