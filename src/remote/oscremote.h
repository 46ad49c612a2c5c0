#pragma once
// The OSC side of the remote control. The UDP socket is Qt's, so the
// listener is bound where the settings say (127.0.0.1 unless other computers
// are allowed) and runs in the event loop; liblo reads and writes the
// messages. Each message from an allowed sender becomes a request of the
// gateway; the sender, and every feedback target, is sent the state after
// each change and on /qx7/state, and "/qx7/error s" when a message is refused.

#include "remoteapi.h"

#include <QHostAddress>
#include <QList>
#include <QPair>
#include <QTimer>

class QUdpSocket;

namespace qx {

class RemoteGateway;

// Whether an OSC sender is heard: this machine always; another computer only
// when other computers are allowed and it is one of `allowed`.
bool OscSenderAllowed(const QHostAddress &sender, bool allowOthers, const QList<QHostAddress> &allowed);

class OscRemote : public QObject {
    Q_OBJECT
public:
    static constexpr int kMaxDatagram = 4096; // an OSC message of this program is far smaller
    static constexpr int kMaxSenders = 16;    // recent senders that get the feedback

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
    void sendFeedback();

    RemoteGateway &m_gateway;
    bool m_allowOthers;
    QList<QHostAddress> m_allowed;
    QList<Target> m_feedback;
    QList<Target> m_senders; // most recent last
    QUdpSocket *m_socket = nullptr;
    QTimer m_changed; // gathers changes that come together into one feedback
};

} // namespace qx
