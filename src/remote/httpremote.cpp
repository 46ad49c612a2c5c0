#include "httpremote.h"

#include "remotesettings.h"

#include <QFile>
#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QJsonDocument>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QUrlQuery>
#include <QWebSocket>
#include <memory>

// The web remote's page lives in this static library's resources.
static void initRemoteResources()
{
    Q_INIT_RESOURCE(remote);
}

namespace qx {

namespace {

// What one request may bring before it is answered 413: the largest picture
// and room for its headers.
constexpr qint64 kConnectionBudget = kMaxPictureBytes + 1024 * 1024;
const char kBytesProperty[] = "qx7RemoteBytes";
const char kCookieName[] = "qx7token";

QByteArray jsonBytes(const QJsonObject &object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

void writeJson(QHttpServerResponder &responder, int status, const QJsonObject &object)
{
    responder.write(jsonBytes(object), {{"Content-Type", "application/json"}, {"Cache-Control", "no-store"}},
                    QHttpServerResponder::StatusCode(status));
}

// The socket server of the listener: it counts what each connection sends
// and ends one that sends more than a request may bring, and it takes no
// more connections than the listener serves.
class GuardedTcpServer : public QTcpServer {
public:
    GuardedTcpServer(QObject *httpServer, QObject *parent) : QTcpServer(parent), m_http(httpServer) {}

protected:
    void incomingConnection(qintptr descriptor) override
    {
        auto *socket = new QTcpSocket(this);
        if (!socket->setSocketDescriptor(descriptor)) {
            delete socket;
            return;
        }
        if (m_open >= HttpRemote::kMaxConnections) {
            socket->abort();
            socket->deleteLater();
            return;
        }
        ++m_open;
        connect(socket, &QObject::destroyed, this, [this] { --m_open; });
        socket->setProperty(kBytesProperty, qint64(0));
        // Connected before the HTTP server's own handler, so this runs first.
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] {
            const qint64 seen = socket->property(kBytesProperty).toLongLong() + socket->bytesAvailable();
            socket->setProperty(kBytesProperty, seen);
            if (seen <= kConnectionBudget)
                return;
            // The HTTP server reads no more of it: answer and close.
            disconnect(socket, &QTcpSocket::readyRead, m_http, nullptr);
            disconnect(socket, &QTcpSocket::readyRead, this, nullptr);
            const QByteArray body = jsonBytes(ErrorJson(QStringLiteral("a picture of at most 64 MiB")));
            socket->write("HTTP/1.1 413 Request Entity Too Large\r\nContent-Type: application/json\r\n"
                          "Connection: close\r\nContent-Length: "
                          + QByteArray::number(body.size()) + "\r\n\r\n" + body);
            socket->disconnectFromHost();
        });
        addPendingConnection(socket);
    }

private:
    QObject *m_http;
    int m_open = 0;
};

QByteArray cookieValue(const QByteArray &cookieHeader, const QByteArray &name)
{
    for (const QByteArray &part : cookieHeader.split(';')) {
        const QByteArray item = part.trimmed();
        if (item.startsWith(name + '='))
            return item.mid(name.size() + 1);
    }
    return {};
}

// The host part of a Host header: "127.0.0.1:5007" -> "127.0.0.1", "[::1]:5007" -> "::1".
QByteArray hostName(const QByteArray &host)
{
    if (host.startsWith('[')) {
        const qsizetype end = host.indexOf(']');
        return end < 0 ? QByteArray() : host.mid(1, end - 1);
    }
    const qsizetype colon = host.indexOf(':');
    return (colon < 0 ? host : host.left(colon)).toLower();
}

} // namespace

int RemoteAccessCheck(const HttpRemote::Access &access, const QByteArray &authorization, const QByteArray &cookie,
                      const QString &queryToken, const QByteArray &host, const QByteArray &origin, QString *reason)
{
    const auto refuse = [reason](int status, const char *why) {
        if (reason)
            *reason = QString::fromLatin1(why);
        return status;
    };
    if (access.loopbackOnly) {
        const QByteArray name = hostName(host);
        if (name != "127.0.0.1" && name != "localhost" && name != "::1")
            return refuse(403, "only this computer may use the remote control");
    }
    if (!origin.isEmpty() && origin != "http://" + host)
        return refuse(403, "requests from other web pages are refused");
    if (!access.tokenRequired)
        return 0;
    QByteArray shown;
    if (authorization.startsWith("Bearer "))
        shown = authorization.mid(7).trimmed();
    else if (!queryToken.isEmpty())
        shown = queryToken.toUtf8();
    else
        shown = cookieValue(cookie, kCookieName);
    if (shown.isEmpty() || access.token.isEmpty() || !SameSecret(shown, access.token))
        return refuse(401, "token missing or wrong");
    return 0;
}

HttpRemote::HttpRemote(RemoteGateway &gateway, const Access &access, QObject *parent)
    : QAbstractHttpServer(parent), m_gateway(gateway), m_access(access)
{
    initRemoteResources();
    m_broadcast.setSingleShot(true);
    m_broadcast.setInterval(0);
    connect(&m_broadcast, &QTimer::timeout, this, &HttpRemote::broadcast);
    connect(&m_gateway, &RemoteGateway::changed, this, &HttpRemote::scheduleBroadcast);
    connect(this, &QAbstractHttpServer::newWebSocketConnection, this, &HttpRemote::acceptWebSockets);
}

HttpRemote::~HttpRemote()
{
    for (QWebSocket *ws : std::as_const(m_sockets))
        ws->abort();
}

bool HttpRemote::start(const QHostAddress &address, quint16 port, QString *error)
{
    auto *server = new GuardedTcpServer(this, this);
    if (!server->listen(address, port)) {
        if (error)
            *error = server->errorString();
        delete server;
        return false;
    }
    m_server = server;
    bind(server);
    return true;
}

QHostAddress HttpRemote::boundAddress() const
{
    return m_server ? m_server->serverAddress() : QHostAddress();
}

quint16 HttpRemote::boundPort() const
{
    return m_server ? m_server->serverPort() : 0;
}

bool HttpRemote::handleRequest(const QHttpServerRequest &request, QTcpSocket *socket)
{
    socket->setProperty(kBytesProperty, qint64(0));
    // A request that asks for a WebSocket is upgraded by the server once this
    // returns, whatever is answered here: nothing is, and the path and the
    // access are checked as the socket is taken over.
    if (request.value("upgrade").compare("websocket", Qt::CaseInsensitive) == 0)
        return true;
    QHttpServerResponder responder = makeResponder(request, socket);
    const QUrlQuery query = request.query();
    const QString queryToken = query.queryItemValue(QStringLiteral("token"));
    QString reason;
    const int refused = RemoteAccessCheck(m_access, request.value("authorization"), request.value("cookie"),
                                          queryToken, request.value("host"), request.value("origin"), &reason);
    if (refused) {
        writeJson(responder, refused, ErrorJson(reason));
        return true;
    }
    const QByteArray method = [&] {
        switch (request.method()) {
        case QHttpServerRequest::Method::Get: return QByteArray("GET");
        case QHttpServerRequest::Method::Post: return QByteArray("POST");
        case QHttpServerRequest::Method::Put: return QByteArray("PUT");
        default: return QByteArray("OTHER");
        }
    }();
    ApiCall call = ParseApiCall(method, request.url().path(), request.body());
    switch (call.kind) {
    case ApiCall::Kind::Refusal:
        writeJson(responder, call.status, ErrorJson(call.reason));
        return true;
    case ApiCall::Kind::WebSocket:
        writeJson(responder, 400, ErrorJson(QStringLiteral("a WebSocket upgrade is expected here")));
        return true;
    case ApiCall::Kind::State:
        writeJson(responder, 200, StateJson(m_gateway.state()));
        return true;
    case ApiCall::Kind::Page: {
        QFile page(QStringLiteral(":/remote/index.html"));
        page.open(QIODevice::ReadOnly);
        // The web remote opened with ?token=… keeps it as a cookie for its own requests.
        if (m_access.tokenRequired && !queryToken.isEmpty()) {
            const QByteArray cookie =
                QByteArray(kCookieName) + '=' + queryToken.toUtf8() + "; Path=/; HttpOnly; SameSite=Strict";
            responder.write(page.readAll(), {{"Content-Type", "text/html; charset=utf-8"},
                                             {"Cache-Control", "no-store"},
                                             {"X-Frame-Options", "DENY"},
                                             {"Set-Cookie", cookie}});
        } else {
            responder.write(page.readAll(), {{"Content-Type", "text/html; charset=utf-8"},
                                             {"Cache-Control", "no-store"},
                                             {"X-Frame-Options", "DENY"}});
        }
        return true;
    }
    case ApiCall::Kind::Request:
        break;
    }
    if (call.request.kind == RemoteRequest::Kind::Load) {
        const QString name = CleanFileName(query.queryItemValue(QStringLiteral("name"), QUrl::FullyDecoded));
        call.request.name = name.isEmpty() ? QStringLiteral("remote upload") : name;
    }
    // Answered when the outcome is known, if the client is still there.
    auto held = std::make_shared<QHttpServerResponder>(std::move(responder));
    QPointer<QTcpSocket> client(socket);
    m_gateway.submit(call.request, socket, [held, client](const RemoteOutcome &outcome) {
        if (client)
            writeJson(*held, HttpStatus(outcome), OutcomeJson(outcome));
    });
    return true;
}

void HttpRemote::missingHandler(const QHttpServerRequest &request, QTcpSocket *socket)
{
    QHttpServerResponder responder = makeResponder(request, socket);
    writeJson(responder, 404, ErrorJson(QStringLiteral("no such resource")));
}

void HttpRemote::acceptWebSockets()
{
    while (hasPendingWebSocketConnections()) {
        QWebSocket *ws = nextPendingWebSocketConnection().release();
        ws->setParent(this);
        const QNetworkRequest handshake = ws->request();
        const QUrlQuery query(ws->requestUrl());
        QString reason;
        const int refused = RemoteAccessCheck(
            m_access, handshake.rawHeader("Authorization"), handshake.rawHeader("Cookie"),
            query.queryItemValue(QStringLiteral("token")), handshake.rawHeader("Host"), handshake.rawHeader("Origin"),
            &reason);
        // The upgrade has been answered by now; a refused one is closed at once with the reason.
        if (ws->requestUrl().path() != QLatin1String("/api/v1/ws") || refused
            || m_sockets.size() >= kMaxWebSockets) {
            ws->close(QWebSocketProtocol::CloseCodePolicyViolated,
                      refused ? reason : QStringLiteral("no WebSocket here or too many clients"));
            ws->deleteLater();
            continue;
        }
        // Clients only listen; anything they send is small and ignored.
        ws->setMaxAllowedIncomingMessageSize(4096);
        ws->setMaxAllowedIncomingFrameSize(4096);
        m_sockets.append(ws);
        connect(ws, &QWebSocket::disconnected, this, [this, ws] {
            m_sockets.removeOne(ws);
            m_sent.remove(ws);
            ws->deleteLater();
        });
        // A client shows the state: what a preset or an outage left unknown is read back for it.
        m_gateway.watch(ws);
        // What each client was sent is its own: one that comes while a change
        // is still to go out gets it now, and the others still get it then.
        const QByteArray text = stateText();
        m_sent.insert(ws, text);
        ws->sendTextMessage(QString::fromUtf8(text));
    }
}

QByteArray HttpRemote::stateText() const
{
    return jsonBytes(StateJson(m_gateway.state()));
}

void HttpRemote::scheduleBroadcast()
{
    if (!m_sockets.isEmpty())
        m_broadcast.start();
}

void HttpRemote::broadcast()
{
    const QByteArray text = stateText();
    const QString message = QString::fromUtf8(text);
    for (QWebSocket *ws : std::as_const(m_sockets)) {
        QByteArray &sent = m_sent[ws];
        if (sent == text)
            continue;
        sent = text;
        ws->sendTextMessage(message);
    }
}

} // namespace qx
