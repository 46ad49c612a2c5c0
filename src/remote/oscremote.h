#pragma once
// The OSC side of the remote control. The UDP socket is Qt's, so the
// listener is bound where the settings say (127.0.0.1 unless other computers
// are allowed) and runs in the event loop; liblo reads and writes the
// messages. Each message from an allowed sender becomes a request of the
// gateway; the sender, and every feedback target, is sent what changed of the
// state after each change and the whole of it on /qx7/state, and
// "/qx7/error s" when a message is refused (at most once a second to each
// sender). Nothing is ever sent to this program's own address and port, and
// what this program sends is never answered, so two panels that name each
// other (or one that names itself) do not talk for ever.

#include "remoteapi.h"

#include <QElapsedTimer>
#include <QHash>
#include <QHostAddress>
#include <QList>
#include <QPair>
#include <QTimer>
#include <optional>

class QUdpSocket;

namespace qx {

class RemoteGateway;

// Whether an OSC sender is heard: this machine always; another computer only
// when other computers are allowed and it is one of `allowed`.
bool OscSenderAllowed(const QHostAddress &sender, bool allowOthers, const QList<QHostAddress> &allowed);

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
    bool m_allowOthers;
    QList<QHostAddress> m_allowed;
    QList<Target> m_feedback;
    QList<Target> m_senders; // most recent last
    QUdpSocket *m_socket = nullptr;
    QList<QHostAddress> m_ownAddresses; // where a datagram to the bound port reaches this socket
    QTimer m_changed;                   // gathers changes that come together into one feedback
    QHash<QString, OscMessage> m_told;  // each address's message as the feedback last told it
    QHash<Target, qint64> m_lastError;  // when each sender was last refused
    QElapsedTimer m_clock;
};

} // namespace qx
