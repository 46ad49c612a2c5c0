#pragma once
// The HTTP side of the remote control: the JSON API, the web remote's page
// and the WebSocket state feed, on a small HTTP/1.1 reader of our own in
// front of Qt's WebSocket server. It is a service that any machine allowed
// to reach it can lean on, so everything it holds is bounded:
// - connections are counted by what is open: an HTTP connection gives its
//   slot back when it closes or becomes a WebSocket, a WebSocket its own
//   when it is gone; when every HTTP slot is taken, one that has not yet
//   brought a whole request makes room for the newcomer;
// - a request's headers must come within a few seconds, its body at a
//   minimum rate, and a kept-alive connection without a request is closed;
// - the access rule is applied to the headers: a refused request is
//   answered and closed before its body is read, the body's length is the
//   route's to allow, and the bodies held at once stay within a few pictures;
// - one request of a connection at a time: pipelined requests are answered
//   in their order;
// - a WebSocket client that does not answer a ping in time, or lets its
//   unsent bytes pile up past a limit, is closed; one that is only slow gets
//   the newest state once it has taken what was sent.

#include "remoteapi.h"

#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <QUrl>
#include <QUrlQuery>
#include <optional>

class QTcpServer;
class QTcpSocket;
class QWebSocket;
class QWebSocketServer;

namespace qx {

class RemoteGateway;
class RemotePairing;
class HttpConnection;

// One request as it came: method, target, headers (names in lower case) and body.
class HttpRequest {
public:
    QByteArray method;
    QUrl target;
    QList<QPair<QByteArray, QByteArray>> headers;
    QByteArray content;

    QByteArray value(const QByteArray &lowerName) const;
    QUrl url() const { return target; }
    QUrlQuery query() const { return QUrlQuery(target); }
    QByteArray body() const { return content; }
};

class HttpRemote : public QObject {
    Q_OBJECT
public:
    static constexpr int kMaxConnections = 256; // HTTP connections open at once
    static constexpr int kMaxWebSockets = 200;  // WebSocket clients, beside them
    static constexpr qint64 kMaxHeadBytes = 16 * 1024;
    // The bodies held at once, as their lengths announce them.
    static constexpr qint64 kBodyMemory = 3 * (kMaxPictureBytes + 1024 * 1024);
    // Unsent bytes of a WebSocket client: past the first the state waits
    // until it has taken them, past the second it is closed.
    static constexpr qint64 kWebSocketBacklog = 16 * 1024;
    static constexpr qint64 kWebSocketBacklogLimit = 64 * 1024;

    struct Access {
        bool loopbackOnly = true; // bound to 127.0.0.1: the Host header must name this machine
        bool tokenRequired = false;
        QByteArray token;
    };
    struct Timeouts {
        int idleMs = 15000;      // a connection without a request
        int headMs = 5000;       // from a request's first byte to the end of its headers
        int bodyWindowMs = 5000; // a body brings at least minBodyRate bytes a second over each such window
        qint64 minBodyRate = 16 * 1024;
        int lingerMs = 2000; // after a refusal, what the client still sends is read and dropped this long
        int pingMs = 15000;  // a WebSocket client is pinged so often and closed without a pong by the next
    };

    HttpRemote(RemoteGateway &gateway, const Access &access, QObject *parent = nullptr);
    ~HttpRemote() override;

    // Listens on `address`:`port`; false with the system's reason in `error`.
    bool start(const QHostAddress &address, quint16 port, QString *error);
    QHostAddress boundAddress() const;
    quint16 boundPort() const;
    int webSocketClients() const { return int(m_sockets.size()); }
    int httpConnections() const { return int(m_connections.size()); }
    // The body bytes held now, of requests still arriving.
    qint64 bodyBytesHeld() const { return m_bodyBytes; }
    // Shorter time-outs, for tests; set before the first connection.
    void setTimeouts(const Timeouts &timeouts);
    // The pairing codes the page takes in place of the token ("/?pair=<code>", once each).
    void setPairing(RemotePairing *pairing) { m_pairing = pairing; }

    // Every request that waits for its outcome is answered 503 now, and its
    // answer handed to the system before this returns: the program is ending.
    void answerWaiting();

protected:
    bool handleRequest(const HttpRequest &request, QTcpSocket *socket);

private:
    friend class HttpConnection;
    void acceptConnections();
    void acceptWebSockets();
    // What the access rule asks of a client at `peer`, of `localPort` from `peerPort`.
    Access accessFor(const QHostAddress &peer, quint16 localPort, quint16 peerPort) const;
    int refusal(const HttpRequest &request, QTcpSocket *socket, QString *reason) const;
    void upgrade(HttpConnection *connection);
    int upgradedSockets();
    void pingWebSockets();
    void send(QWebSocket *ws, const QByteArray &text); // records what the client was sent
    void scheduleBroadcast();
    void broadcast();
    QByteArray stateText() const;

    RemoteGateway &m_gateway;
    Access m_access;
    QPointer<RemotePairing> m_pairing;
    Timeouts m_timeouts;
    QTcpServer *m_server = nullptr;
    QWebSocketServer *m_webSockets = nullptr;
    QList<HttpConnection *> m_connections;
    QList<QPointer<QTcpSocket>> m_upgraded; // handed to the WebSocket server, until gone
    qint64 m_bodyBytes = 0;
    QList<QWebSocket *> m_sockets;
    QHash<QWebSocket *, QByteArray> m_sent; // the state each client was sent last
    QTimer m_broadcast;                     // gathers changes that come together into one message
    QTimer m_ping;
};

// Whether a request may pass, from its headers and query: the token (as
// "Authorization: Bearer …", a "token" query parameter or the web remote's
// cookie) when one is required; the Host header naming this machine when
// bound to 127.0.0.1 (a web page elsewhere cannot reach the API through a
// name of its own); an Origin header, when there is one, naming the same
// place as the Host. 0 when it may, else 401 or 403 with the reason.
int RemoteAccessCheck(const HttpRemote::Access &access, const QByteArray &authorization, const QByteArray &cookie,
                      const QString &queryToken, const QByteArray &host, const QByteArray &origin, QString *reason);

} // namespace qx
