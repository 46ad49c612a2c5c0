#include "httpremote.h"

#include "access.h"
#include "remotepairing.h"
#include "remotesettings.h"

#include <QFile>
#include <QJsonDocument>
#include <QTcpServer>
#include <QTcpSocket>
#include <QWebSocket>
#include <QWebSocketServer>
#include <algorithm>
#include <memory>
#ifdef Q_OS_UNIX
#include <sys/socket.h>
#include <unistd.h>
#endif

// The web remote's page lives in this static library's resources.
static void initRemoteResources()
{
    Q_INIT_RESOURCE(remote);
}

namespace qx {

namespace {

const char kCookieName[] = "qx7token";
const char kPairingRefused[] = "this pairing link has been used or has expired: scan the code on the panel again";
// What a connection's socket reads ahead of the request it is on: a client
// that sends more waits in its own buffers.
constexpr qint64 kReadAhead = 64 * 1024;

using Headers = QList<QPair<QByteArray, QByteArray>>;

QByteArray jsonBytes(const QJsonObject &object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

const char *reasonPhrase(int status)
{
    switch (status) {
    case 200:
        return "OK";
    case 400:
        return "Bad Request";
    case 401:
        return "Unauthorized";
    case 403:
        return "Forbidden";
    case 404:
        return "Not Found";
    case 405:
        return "Method Not Allowed";
    case 408:
        return "Request Timeout";
    case 409:
        return "Conflict";
    case 411:
        return "Length Required";
    case 413:
        return "Content Too Large";
    case 415:
        return "Unsupported Media Type";
    case 422:
        return "Unprocessable Content";
    case 431:
        return "Request Header Fields Too Large";
    case 503:
        return "Service Unavailable";
    default:
        return "Status";
    }
}

QByteArray response(int status, const QByteArray &body, const Headers &headers, bool keepAlive)
{
    QByteArray out = "HTTP/1.1 " + QByteArray::number(status) + ' ' + reasonPhrase(status) + "\r\n";
    for (const auto &[name, value] : headers)
        out += name + ": " + value + "\r\n";
    out += "Content-Length: " + QByteArray::number(body.size()) + "\r\n";
    if (!keepAlive)
        out += "Connection: close\r\n";
    return out + "\r\n" + body;
}

const Headers kJsonHeaders{{"Content-Type", "application/json"}, {"Cache-Control", "no-store"}};

} // namespace

QByteArray HttpRequest::value(const QByteArray &lowerName) const
{
    for (const auto &[name, value] : headers)
        if (name == lowerName)
            return value;
    return {};
}

// One HTTP connection: reads one request at a time (headers, then the body
// the route allows), hands it to the listener and answers it before the next
// is read. Its timer is the time-out of the phase it is in.
class HttpConnection : public QObject {
public:
    enum class Phase { Idle, Head, Body, Waiting, Closing };

    HttpConnection(HttpRemote &remote, QTcpSocket *socket) : QObject(&remote), m_remote(remote), m_socket(socket)
    {
        socket->setParent(this);
        socket->setReadBufferSize(kReadAhead);
        m_timer.setSingleShot(true);
        connect(&m_timer, &QTimer::timeout, this, &HttpConnection::timedOut);
        connect(socket, &QTcpSocket::readyRead, this, &HttpConnection::readMore);
        connect(socket, &QTcpSocket::bytesWritten, this, [this] {
            if (m_phase == Phase::Closing && m_socket->bytesToWrite() == 0)
                shutWrite();
        });
        connect(socket, &QTcpSocket::disconnected, this, &HttpConnection::drop);
        m_remote.m_connections.append(this);
        m_timer.start(m_remote.m_timeouts.idleMs);
        readMore();
    }
    ~HttpConnection() override
    {
        release();
        m_remote.m_connections.removeOne(this);
    }

    // Not yet holding a whole request: may make room for a newcomer.
    bool evictable() const { return m_phase == Phase::Idle || m_phase == Phase::Head || m_phase == Phase::Closing; }
    bool waiting() const { return m_phase == Phase::Waiting; }
    QTcpSocket *socket() const { return m_socket; }
    quint64 serial() const { return m_serial; }

    // Ends the connection now, its slot given back at once.
    void drop()
    {
        m_remote.m_connections.removeOne(this);
        m_phase = Phase::Closing;
        m_timer.stop();
        if (m_socket) {
            m_socket->disconnect(this);
            m_socket->abort();
        }
        deleteLater();
    }

    // The answer to request `serial`, when it is still the one waiting.
    void answer(quint64 serial, int status, const QByteArray &body, const Headers &headers)
    {
        if (serial != m_serial || m_phase != Phase::Waiting || !m_socket)
            return;
        m_socket->write(response(status, body, headers, m_keepAlive));
        if (!m_keepAlive)
            return closeAfterWrite();
        m_phase = Phase::Idle;
        m_timer.start(m_remote.m_timeouts.idleMs);
        // A pipelined request may be read already.
        QTimer::singleShot(0, this, &HttpConnection::readMore);
    }

    // Answers `status` with `reason` and closes, whatever of the request has not been read.
    void refuse(int status, const QString &reason)
    {
        m_keepAlive = false;
        m_socket->write(response(status, jsonBytes(ErrorJson(reason)), kJsonHeaders, false));
        closeAfterWrite();
    }

    // Gives the socket away (to the WebSocket server) and ends.
    QTcpSocket *takeSocket()
    {
        QTcpSocket *socket = m_socket;
        socket->disconnect(this);
        socket->setParent(&m_remote);
        m_socket = nullptr;
        m_phase = Phase::Closing;
        m_timer.stop();
        m_remote.m_connections.removeOne(this);
        deleteLater();
        return socket;
    }

private:
    void readMore()
    {
        while (m_socket && m_socket->isOpen()) {
            switch (m_phase) {
            case Phase::Closing:
                // Read and dropped, so that the answer is not lost to a reset.
                m_socket->skip(m_socket->bytesAvailable());
                return;
            case Phase::Waiting:
                return;
            case Phase::Idle:
                if (m_socket->bytesAvailable() == 0)
                    return;
                m_phase = Phase::Head;
                m_timer.start(m_remote.m_timeouts.headMs);
                break;
            case Phase::Head:
                if (!readHead())
                    return;
                break;
            case Phase::Body: {
                const qint64 part = std::min(m_socket->bytesAvailable(), m_length - m_request.content.size());
                if (part > 0)
                    m_request.content += m_socket->read(part);
                if (m_request.content.size() < m_length)
                    return;
                dispatch();
                break;
            }
            }
        }
    }

    // The headers, once they are all there; false while they are not, or
    // when the connection has been answered or given away.
    bool readHead()
    {
        while (m_socket->peek(2) == "\r\n")
            m_socket->skip(2);
        const QByteArray seen = m_socket->peek(HttpRemote::kMaxHeadBytes);
        const qsizetype end = seen.indexOf("\r\n\r\n");
        if (end < 0) {
            if (seen.size() >= HttpRemote::kMaxHeadBytes)
                refuse(431, QStringLiteral("the request's headers are too long"));
            return false;
        }
        QList<QByteArray> lines = seen.left(end).split('\n');
        const QList<QByteArray> start = lines.takeFirst().trimmed().split(' ');
        m_request = HttpRequest();
        bool good = start.size() == 3 && start.at(2).startsWith("HTTP/1.") && start.at(1).startsWith('/');
        for (const QByteArray &line : std::as_const(lines)) {
            const qsizetype colon = line.indexOf(':');
            good = good && colon > 0 && line.at(0) != ' ' && line.at(0) != '\t';
            if (good)
                m_request.headers.append({line.left(colon).trimmed().toLower(), line.mid(colon + 1).trimmed()});
        }
        if (!good) {
            refuse(400, QStringLiteral("not an HTTP/1.1 request"));
            return false;
        }
        m_request.method = start.at(0);
        m_request.target = QUrl::fromEncoded(start.at(1));
        const QByteArray connection = m_request.value("connection").toLower();
        m_keepAlive = start.at(2) == "HTTP/1.1" ? !connection.contains("close") : connection.contains("keep-alive");
        if (m_request.value("upgrade").compare("websocket", Qt::CaseInsensitive) == 0) {
            // The WebSocket server reads the handshake itself.
            m_remote.upgrade(this);
            return false;
        }
        m_socket->skip(end + 4);

        QString reason;
        if (const int refused = m_remote.refusal(m_request, m_socket, &reason)) {
            refuse(refused, reason);
            return false;
        }
        if (!m_request.value("transfer-encoding").isEmpty()) {
            refuse(411, QStringLiteral("a body needs its Content-Length"));
            return false;
        }
        const QByteArray length = m_request.value("content-length");
        bool number = length.size() <= 15 &&
                      std::all_of(length.begin(), length.end(), [](char c) { return c >= '0' && c <= '9'; });
        m_length = length.isEmpty() ? 0 : (number ? length.toLongLong() : -1);
        if (m_length < 0) {
            refuse(400, QStringLiteral("a Content-Length that is no number"));
            return false;
        }
        const ApiBody allowed = ApiBodyLimit(m_request.method, m_request.target.path());
        if (m_length > allowed.bytes) {
            refuse(413, allowed.reason);
            return false;
        }
        if (m_remote.m_bodyBytes + m_length > HttpRemote::kBodyMemory) {
            refuse(503, QStringLiteral("too many uploads at once; try again"));
            return false;
        }
        m_reserved = m_length;
        m_remote.m_bodyBytes += m_reserved;
        if (m_length > 0 && m_request.value("expect").compare("100-continue", Qt::CaseInsensitive) == 0)
            m_socket->write("HTTP/1.1 100 Continue\r\n\r\n");
        m_phase = Phase::Body;
        m_windowStart = 0;
        m_timer.start(m_remote.m_timeouts.bodyWindowMs);
        return true;
    }

    void dispatch()
    {
        m_phase = Phase::Waiting;
        m_timer.stop();
        ++m_serial;
        const HttpRequest request = std::move(m_request);
        m_request = HttpRequest();
        QPointer<HttpConnection> self(this);
        m_remote.handleRequest(request, m_socket);
        if (self)
            release();
    }

    void release()
    {
        m_remote.m_bodyBytes -= m_reserved;
        m_reserved = 0;
    }

    void timedOut()
    {
        const HttpRemote::Timeouts &t = m_remote.m_timeouts;
        switch (m_phase) {
        case Phase::Idle:
        case Phase::Closing:
        case Phase::Waiting:
            return drop();
        case Phase::Head:
            return refuse(408, QStringLiteral("the request's headers came too slowly"));
        case Phase::Body: {
            const qint64 came = m_request.content.size() - m_windowStart;
            if (came < t.minBodyRate * t.bodyWindowMs / 1000)
                return refuse(408, QStringLiteral("the body came too slowly"));
            m_windowStart = m_request.content.size();
            m_timer.start(t.bodyWindowMs);
            return;
        }
        }
    }

    void closeAfterWrite()
    {
        m_phase = Phase::Closing;
        release();
        m_request = HttpRequest();
        m_timer.start(m_remote.m_timeouts.lingerMs);
        if (m_socket->bytesToWrite() == 0)
            shutWrite();
    }

    // The answer is out: the client sees the end, and what it still sends is dropped.
    void shutWrite()
    {
        if (m_shut)
            return;
        m_shut = true;
#ifdef Q_OS_UNIX
        ::shutdown(int(m_socket->socketDescriptor()), SHUT_WR);
#else
        m_socket->disconnectFromHost();
#endif
    }

    HttpRemote &m_remote;
    QTcpSocket *m_socket;
    Phase m_phase = Phase::Idle;
    QTimer m_timer;
    HttpRequest m_request;
    qint64 m_length = 0;
    qint64 m_reserved = 0;    // of the listener's body budget
    qint64 m_windowStart = 0; // body bytes at the start of the current window
    bool m_keepAlive = true;
    bool m_shut = false;
    quint64 m_serial = 0;
};

namespace {

// Writes answers for the connection that owns `socket`, to the request it has waiting now.
class Responder {
public:
    Responder(HttpConnection *connection) : m_connection(connection), m_serial(connection ? connection->serial() : 0) {}
    void write(const QByteArray &body, const Headers &headers, int status = 200) const
    {
        if (m_connection)
            m_connection->answer(m_serial, status, body, headers);
    }

private:
    QPointer<HttpConnection> m_connection;
    quint64 m_serial;
};

Responder makeResponder(const HttpRequest &, QTcpSocket *socket)
{
    return Responder(dynamic_cast<HttpConnection *>(socket->parent()));
}

void writeJson(const Responder &responder, int status, const QJsonObject &object)
{
    responder.write(jsonBytes(object), kJsonHeaders, status);
}

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
    // The scheme's name is compared without case (RFC 7235).
    if (authorization.size() > 7 && authorization.left(7).compare("Bearer ", Qt::CaseInsensitive) == 0)
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
    : QObject(parent), m_gateway(gateway), m_access(access)
{
    initRemoteResources();
    m_broadcast.setSingleShot(true);
    m_broadcast.setInterval(0);
    connect(&m_broadcast, &QTimer::timeout, this, &HttpRemote::broadcast);
    connect(&m_gateway, &RemoteGateway::changed, this, &HttpRemote::scheduleBroadcast);
    m_webSockets = new QWebSocketServer(QStringLiteral("QX-7alt"), QWebSocketServer::NonSecureMode, this);
    m_webSockets->setHandshakeTimeout(m_timeouts.headMs);
    connect(m_webSockets, &QWebSocketServer::newConnection, this, &HttpRemote::acceptWebSockets);
    connect(&m_ping, &QTimer::timeout, this, &HttpRemote::pingWebSockets);
    m_ping.start(m_timeouts.pingMs);
}

HttpRemote::~HttpRemote()
{
    for (QWebSocket *ws : std::as_const(m_sockets))
        ws->abort();
    // The connections are children; they leave the list as they go.
    const QList<HttpConnection *> open = m_connections;
    for (HttpConnection *c : open)
        delete c;
}

void HttpRemote::setTimeouts(const Timeouts &timeouts)
{
    m_timeouts = timeouts;
    m_webSockets->setHandshakeTimeout(m_timeouts.headMs);
    m_ping.start(m_timeouts.pingMs);
}

bool HttpRemote::start(const QHostAddress &address, quint16 port, QString *error)
{
    auto *server = new QTcpServer(this);
    if (!server->listen(address, port)) {
        if (error)
            *error = server->errorString();
        delete server;
        return false;
    }
    m_server = server;
    connect(server, &QTcpServer::newConnection, this, &HttpRemote::acceptConnections);
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

void HttpRemote::acceptConnections()
{
    while (QTcpSocket *socket = m_server->nextPendingConnection()) {
        if (m_connections.size() >= kMaxConnections) {
            // A connection that has not brought a whole request yet makes room,
            // the oldest first: slow clients cannot keep the others out.
            const auto room = std::find_if(m_connections.begin(), m_connections.end(),
                                           [](const HttpConnection *c) { return c->evictable(); });
            if (room == m_connections.end()) {
                socket->write(
                    response(503, jsonBytes(ErrorJson(QStringLiteral("too many connections"))), kJsonHeaders, false));
                socket->disconnectFromHost();
                connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
                continue;
            }
            (*room)->drop();
        }
        new HttpConnection(*this, socket);
    }
}

int HttpRemote::refusal(const HttpRequest &request, QTcpSocket *socket, QString *reason) const
{
    // The client's user does not change while its connection lasts: looked up once.
    QVariant tokenRequired = socket->property("qx7TokenRequired");
    if (!tokenRequired.isValid()) {
        tokenRequired = accessFor(socket->peerAddress(), socket->localPort(), socket->peerPort()).tokenRequired;
        socket->setProperty("qx7TokenRequired", tokenRequired);
    }
    Access access = m_access;
    access.tokenRequired = tokenRequired.toBool();
    // A pairing link stands in for the token, on the page only; the address rules still hold.
    const QString pair = request.query().queryItemValue(QStringLiteral("pair"));
    if (!pair.isEmpty() && ParseApiCall(request.method, request.url().path(), {}).kind == ApiCall::Kind::Page) {
        if (!m_pairing || !m_pairing->valid(pair)) {
            if (reason)
                *reason = QString::fromLatin1(kPairingRefused);
            return 403;
        }
        access.tokenRequired = false;
    }
    return RemoteAccessCheck(access, request.value("authorization"), request.value("cookie"),
                             request.query().queryItemValue(QStringLiteral("token")), request.value("host"),
                             request.value("origin"), reason);
}

bool HttpRemote::handleRequest(const HttpRequest &request, QTcpSocket *socket)
{
    // The access rule has been applied to the headers, before the body was read.
    Responder responder = makeResponder(request, socket);
    const QUrlQuery query = request.query();
    const QString queryToken = query.queryItemValue(QStringLiteral("token"));
    ApiCall call = ParseApiCall(request.method, request.url().path(), request.body());
    switch (call.kind) {
    case ApiCall::Kind::Refusal:
        writeJson(responder, call.status, ErrorJson(call.reason));
        return true;
    case ApiCall::Kind::WebSocket:
        writeJson(responder, 400, ErrorJson(QStringLiteral("a WebSocket upgrade is expected here")));
        return true;
    case ApiCall::Kind::State:
        m_gateway.polled(); // a client that polls watches too
        writeJson(responder, 200, StateJson(m_gateway.state()));
        return true;
    case ApiCall::Kind::Pairing: {
        const QString path = m_pairing ? QStringLiteral("/?pair=") + m_pairing->code() : QString();
        if (path.isEmpty())
            writeJson(responder, 404, ErrorJson(QStringLiteral("no such resource")));
        else
            writeJson(responder, 200, {{QStringLiteral("ok"), true}, {QStringLiteral("path"), path}});
        return true;
    }
    case ApiCall::Kind::Page: {
        QFile page(QStringLiteral(":/remote/index.html"));
        page.open(QIODevice::ReadOnly);
        // The web remote opened with ?token=… keeps it as a cookie for its own
        // requests; a pairing link gives it the token once.
        QByteArray token = queryToken.toUtf8();
        const QString pair = query.queryItemValue(QStringLiteral("pair"));
        if (!pair.isEmpty()) {
            if (!m_pairing || !m_pairing->redeem(pair)) {
                writeJson(responder, 403, ErrorJson(QString::fromLatin1(kPairingRefused)));
                return true;
            }
            token = m_access.token;
        }
        if (!token.isEmpty()) {
            const QByteArray cookie = QByteArray(kCookieName) + '=' + token + "; Path=/; HttpOnly; SameSite=Strict";
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
    auto held = std::make_shared<Responder>(responder);
    QPointer<QTcpSocket> client(socket);
    m_gateway.submit(call.request, socket, [held, client](const RequestOutcome &outcome) {
        if (client)
            writeJson(*held, HttpStatus(outcome), OutcomeJson(outcome));
    });
    return true;
}

HttpRemote::Access HttpRemote::accessFor(const QHostAddress &peer, quint16 localPort, quint16 peerPort) const
{
    // Asked of the one access rule; a caller it does not hear shows no token that would do.
    const AccessRule rule{!m_access.loopbackOnly, {}};
    const auto user =
        PlainAddress(peer).isLoopback() ? LoopbackPeerUser(SocketKind::Tcp, localPort, peerPort) : std::nullopt;
    const Entry entry = AccessOf(rule, peer, user, OwnUser(), true);
    Access out = m_access;
    out.tokenRequired = entry != Entry::Open;
    if (entry == Entry::Closed)
        out.token.clear();
    return out;
}

void HttpRemote::upgrade(HttpConnection *connection)
{
    if (upgradedSockets() >= kMaxWebSockets)
        return connection->refuse(503, QStringLiteral("too many WebSocket clients"));
    QTcpSocket *socket = connection->takeSocket();
    m_upgraded.append(socket);
    // What the system holds for a client that does not read stays small too.
    socket->setSocketOption(QAbstractSocket::SendBufferSizeSocketOption, int(kWebSocketBacklog));
    // Answers to its pings count: a client that sends them and never reads is closed.
    connect(socket, &QTcpSocket::readyRead, this, [socket] {
        if (socket->bytesToWrite() > kWebSocketBacklogLimit)
            socket->abort();
    });
    m_webSockets->handleConnection(socket);
    Q_EMIT socket->readyRead();
}

int HttpRemote::upgradedSockets()
{
    m_upgraded.removeIf(
        [](const QPointer<QTcpSocket> &s) { return !s || s->state() != QAbstractSocket::ConnectedState; });
    return int(m_upgraded.size());
}

void HttpRemote::answerWaiting()
{
    if (m_server)
        m_server->close();
    const QByteArray ending = jsonBytes(ErrorJson(QStringLiteral("the program is ending")));
    for (HttpConnection *c : std::as_const(m_connections)) {
        if (!c->waiting())
            continue;
        Responder(c).write(ending, kJsonHeaders, 503);
        c->socket()->flush();
    }
}

// Closed once the loop over the clients is done: closing takes it out of the list.
static void closeLater(QWebSocket *ws)
{
    QTimer::singleShot(0, ws, [ws] { ws->abort(); });
}

void HttpRemote::pingWebSockets()
{
    for (QWebSocket *ws : std::as_const(m_sockets)) {
        // No answer to the last ping: the client is gone or does not read.
        if (ws->property("qx7AwaitsPong").toBool()) {
            closeLater(ws);
            continue;
        }
        ws->setProperty("qx7AwaitsPong", true);
        ws->ping();
    }
}

void HttpRemote::send(QWebSocket *ws, const QByteArray &text)
{
    if (ws->bytesToWrite() > kWebSocketBacklogLimit)
        return closeLater(ws);
    // A client that has not taken what it was sent gets the newest state once it has.
    const bool behind = ws->bytesToWrite() > kWebSocketBacklog;
    ws->setProperty("qx7Behind", behind);
    m_sent.insert(ws, text);
    if (!behind)
        ws->sendTextMessage(QString::fromUtf8(text));
}

void HttpRemote::acceptWebSockets()
{
    while (m_webSockets->hasPendingConnections()) {
        QWebSocket *ws = m_webSockets->nextPendingConnection();
        ws->setParent(this);
        const QNetworkRequest handshake = ws->request();
        const QUrlQuery query(ws->requestUrl());
        QString reason;
        const int refused = RemoteAccessCheck(accessFor(ws->peerAddress(), ws->localPort(), ws->peerPort()),
                                              handshake.rawHeader("Authorization"), handshake.rawHeader("Cookie"),
                                              query.queryItemValue(QStringLiteral("token")),
                                              handshake.rawHeader("Host"), handshake.rawHeader("Origin"), &reason);
        // The upgrade has been answered by now; a refused one is closed at once with the reason.
        if (ws->requestUrl().path() != QLatin1String("/api/v1/ws") || refused || m_sockets.size() >= kMaxWebSockets) {
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
        connect(ws, &QWebSocket::pong, ws, [ws] { ws->setProperty("qx7AwaitsPong", false); });
        connect(ws, &QWebSocket::bytesWritten, this, [this, ws] {
            if (ws->property("qx7Behind").toBool() && ws->bytesToWrite() == 0)
                send(ws, stateText());
        });
        // What each client was sent is its own: one that comes while a change
        // is still to go out gets it now, and the others still get it then.
        send(ws, stateText());
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
    for (QWebSocket *ws : std::as_const(m_sockets))
        if (m_sent.value(ws) != text) // only a client whose state changed
            send(ws, text);
}

} // namespace qx
