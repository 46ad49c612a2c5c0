#pragma once
// The HTTP side of the remote control, on Qt's HTTP server: the JSON API,
// the web remote's page and the WebSocket state feed. Requests go to the
// gateway and are answered when their outcome is known. Bodies are capped
// while they arrive: a connection that sends more than a picture upload may
// be is answered 413 and closed before the rest is read.

#include "remoteapi.h"

#include <QAbstractHttpServer>
#include <QHash>
#include <QHostAddress>
#include <QList>
#include <QTimer>

class QTcpSocket;
class QWebSocket;

namespace qx {

class RemoteGateway;

class HttpRemote : public QAbstractHttpServer {
    Q_OBJECT
public:
    static constexpr int kMaxConnections = 256;    // HTTP and WebSocket together
    static constexpr int kMaxWebSockets = 200;

    struct Access {
        bool loopbackOnly = true; // bound to 127.0.0.1: the Host header must name this machine
        bool tokenRequired = false;
        QByteArray token;
    };

    HttpRemote(RemoteGateway &gateway, const Access &access, QObject *parent = nullptr);
    ~HttpRemote() override;

    // Listens on `address`:`port`; false with the system's reason in `error`.
    bool start(const QHostAddress &address, quint16 port, QString *error);
    QHostAddress boundAddress() const;
    quint16 boundPort() const;
    int webSocketClients() const { return int(m_sockets.size()); }

protected:
    bool handleRequest(const QHttpServerRequest &request, QTcpSocket *socket) override;
    void missingHandler(const QHttpServerRequest &request, QTcpSocket *socket) override;

private:
    void acceptWebSockets();
    void scheduleBroadcast();
    void broadcast();
    QByteArray stateText() const;

    RemoteGateway &m_gateway;
    Access m_access;
    QTcpServer *m_server = nullptr;
    QList<QWebSocket *> m_sockets;
    QHash<QWebSocket *, QByteArray> m_sent; // the state each client was sent last
    QTimer m_broadcast; // gathers changes that come together into one message
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
