#include "httpremote.h"

#include "access.h"
#include "httphead.h"
#include "remotepairing.h"
#include "remotesettings.h"

#include <QFile>
#include <QJsonDocument>
#include <QSocketNotifier>
#include <QTcpServer>
#include <QTcpSocket>
#include <QUrlQuery>
#include <QWebSocket>
#include <QWebSocketServer>
#include <algorithm>
#include <memory>
#ifdef Q_OS_UNIX
#include <cerrno>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/ioctl.h>
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

// An answer; `length` is the body's as a GET would have it, for an answer to HEAD without it.
QByteArray response(int status, const QByteArray &body, const Headers &headers, bool keepAlive, qsizetype length = -1)
{
    QByteArray out = "HTTP/1.1 " + QByteArray::number(status) + ' ' + reasonPhrase(status) + "\r\n";
    for (const auto &[name, value] : headers)
        out += name + ": " + value + "\r\n";
    out += "Content-Length: " + QByteArray::number(length < 0 ? body.size() : length) + "\r\n";
    if (!keepAlive)
        out += "Connection: close\r\n";
    return out + "\r\n" + body;
}

const Headers kJsonHeaders{{"Content-Type", "application/json"}, {"Cache-Control", "no-store"}};

} // namespace

// One HTTP connection: reads one request at a time (its head, then the body
// its route allows), runs it and answers it before the next is read. Its
// timer is the time-out of the phase it is in. Answers are written on a
// descriptor of its own: a client that has closed its sending side after its
// requests (the socket sees the end of what it reads) still gets them.
class HttpConnection : public QObject {
public:
    enum class Phase { Idle, Head, Body, Waiting, Closing };

    // A connection past the limit (`counted` false) is answered 503 at once.
    HttpConnection(HttpRemote &remote, QTcpSocket *socket, bool counted)
        : QObject(&remote), m_remote(remote), m_socket(socket)
    {
        socket->setParent(this);
        socket->setReadBufferSize(kReadAhead);
        m_peer = socket->peerAddress();
        m_localPort = socket->localPort();
        m_peerPort = socket->peerPort();
#ifdef Q_OS_UNIX
        // One told 503 at once needs no descriptor of its own: it is not read.
        m_ownFd = counted;
        m_fd = counted ? ::dup(int(socket->socketDescriptor())) : int(socket->socketDescriptor());
        m_writable = new QSocketNotifier(m_fd, QSocketNotifier::Write, this);
        m_writable->setEnabled(false);
        connect(m_writable, &QSocketNotifier::activated, this, &HttpConnection::flush);
#else
        connect(socket, &QTcpSocket::bytesWritten, this, &HttpConnection::flush);
#endif
        m_timer.setSingleShot(true);
        connect(&m_timer, &QTimer::timeout, this, &HttpConnection::timedOut);
        connect(socket, &QTcpSocket::readyRead, this, &HttpConnection::readMore);
        connect(socket, &QTcpSocket::disconnected, this, &HttpConnection::peerClosed);
        (counted ? m_remote.m_connections : m_remote.m_refusing).append(this);
        if (!counted) {
            refuse(503, QStringLiteral("too many connections"));
            return;
        }
        m_timer.start(m_remote.m_timeouts.idleMs);
        readMore();
    }
    ~HttpConnection() override
    {
        release();
        m_remote.m_connections.removeOne(this);
        m_remote.m_refusing.removeOne(this);
#ifdef Q_OS_UNIX
        if (m_ownFd && m_fd >= 0)
            ::close(m_fd);
#endif
    }

    // Holds nothing a client is owed: may make room for a newcomer. Kept
    // alive after its answers with nothing more read, or with a request only
    // begun. A new connection keeps its slot until its first request (or its
    // idle time-out): in a crowd, the newcomer is the one told 503.
    bool evictable() const
    {
        const bool idle = m_phase == Phase::Idle && m_serial > 0 && m_socket && m_socket->bytesAvailable() == 0;
        return m_out.isEmpty() && (idle || m_phase == Phase::Head || m_phase == Phase::Closing);
    }
    // Gives its slot to a newcomer: told 503 when it may still be sending a
    // request. One already answered goes once what it sent is read, so that
    // no reset takes its answer from its client.
    void makeRoom()
    {
        if (m_phase == Phase::Closing || m_remote.m_refusing.size() >= HttpRemote::kMaxRefusing) {
            m_socket->skip(m_socket->bytesAvailable());
#ifdef Q_OS_UNIX
            char scrap[4096];
            for (int i = 0; m_ownFd && i < kReadAhead / 4096 && ::recv(m_fd, scrap, sizeof scrap, MSG_DONTWAIT) > 0;
                 ++i)
                ;
#endif
            return drop();
        }
        m_remote.m_connections.removeOne(this);
        m_remote.m_refusing.append(this);
        refuse(503, QStringLiteral("too many connections"));
    }
    bool waiting() const
    {
        return m_phase == Phase::Waiting;
    }
    qint64 unsent() const
    {
        return m_out.size();
    }
    quint64 serial() const
    {
        return m_serial;
    }

    // Ends the connection now, its slot given back at once.
    void drop()
    {
        if (m_dropped)
            return;
        m_dropped = true;
        m_remote.m_connections.removeOne(this);
        m_remote.m_refusing.removeOne(this);
        m_phase = Phase::Closing;
        m_timer.stop();
        m_out.clear();
        if (m_writable)
            m_writable->setEnabled(false);
        if (m_socket) {
            m_socket->disconnect(this);
            m_socket->abort();
        }
        deleteLater();
    }

    // The answer to request `serial`, when it is still the one waiting.
    void answer(quint64 serial, int status, const QByteArray &body, const Headers &headers)
    {
        if (serial != m_serial || m_phase != Phase::Waiting || m_dropped)
            return;
        write(response(status, m_headOnly ? QByteArray() : body, headers, m_keepAlive, body.size()));
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
        write(response(status, jsonBytes(ErrorJson(reason)), kJsonHeaders, false));
        closeAfterWrite();
    }

    // The program ends: the request waiting and those read behind it are each answered 503.
    void answerAll(const QByteArray &ending)
    {
        if (m_dropped || (m_phase != Phase::Waiting && m_phase != Phase::Idle))
            return;
        QList<bool> owed; // whether each answer is to a HEAD
        if (m_phase == Phase::Waiting)
            owed << m_headOnly;
        for (;;) {
            const HttpHead head = ParseHttpHead(m_socket->peek(kReadAhead), HttpRemote::kMaxHeadBytes);
            if (head.verdict != HttpHead::Verdict::Complete ||
                m_socket->bytesAvailable() < head.size + head.contentLength)
                break;
            m_socket->skip(head.size + head.contentLength);
            owed << (head.method == "HEAD");
        }
        for (qsizetype i = 0; i < owed.size(); ++i)
            m_out +=
                response(503, owed.at(i) ? QByteArray() : ending, kJsonHeaders, i + 1 < owed.size(), ending.size());
        m_phase = Phase::Closing;
        flush();
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
        while (m_socket && !m_dropped) {
            switch (m_phase) {
            case Phase::Closing:
                // Read and dropped, so that the answer is not lost to a reset.
                m_socket->skip(m_socket->bytesAvailable());
                return;
            case Phase::Waiting:
                return;
            case Phase::Idle:
                if (m_socket->bytesAvailable() == 0) {
                    if (m_peerDone)
                        closeAfterWrite();
                    return;
                }
                // A client that does not take its answers is not read further.
                if (m_out.size() > HttpRemote::kAnswerBacklog)
                    return;
                m_phase = Phase::Head;
                m_timer.start(m_remote.m_timeouts.headMs);
                break;
            case Phase::Head:
                if (!readHead())
                    return;
                break;
            case Phase::Body: {
                const qint64 part = std::min(m_socket->bytesAvailable(), m_head.contentLength - m_body.size());
                if (part > 0)
                    m_body += m_socket->read(part);
                if (m_body.size() < m_head.contentLength)
                    return endedEarly();
                dispatch();
                break;
            }
            }
        }
    }

    // A request cut short by the end of what the client sends is never answered.
    void endedEarly()
    {
        if (m_peerDone)
            drop();
    }

    // The head, once it is all there; false while it is not, or when the
    // connection has been answered or given away.
    bool readHead()
    {
        // An upgrade waits for the answers before it: the WebSocket takes the socket as it is.
        m_head = ParseHttpHead(m_socket->peek(HttpRemote::kMaxHeadBytes + 1), HttpRemote::kMaxHeadBytes);
        switch (m_head.verdict) {
        case HttpHead::Verdict::Incomplete:
            endedEarly();
            return false;
        case HttpHead::Verdict::Refused:
            refuse(m_head.status, m_head.reason);
            return false;
        case HttpHead::Verdict::Complete:
            break;
        }
        m_keepAlive = m_head.keepAlive;
        m_headOnly = m_head.method == "HEAD";
        if (m_head.upgrade) {
            if (!m_out.isEmpty())
                return false;
            // The WebSocket server reads the handshake itself.
            m_remote.upgrade(this);
            return false;
        }
        m_socket->skip(m_head.size);

        QString reason;
        if (const int refused = m_remote.refusal(m_head, m_peer, m_localPort, m_peerPort, m_tokenRequired, &reason)) {
            refuse(refused, reason);
            return false;
        }
        m_match = MatchApiRoute(m_head.method, m_head.path);
        const qint64 limit = m_match.route ? m_match.route->bodyLimit : kMaxJsonBytes;
        if (m_head.contentLength > limit) {
            refuse(413,
                   QString::fromLatin1(m_match.route ? m_match.route->bodyReason : "a body of at most 4 KiB here"));
            return false;
        }
        if (!m_match.route && m_head.contentLength > 0) {
            // Refused on its head: the body is not read.
            refuse(m_match.refusal.status, m_match.refusal.reason);
            return false;
        }
        if (m_remote.m_bodyBytes + m_head.contentLength > HttpRemote::kBodyMemory) {
            refuse(503, QStringLiteral("too many uploads at once; try again"));
            return false;
        }
        m_reserved = m_head.contentLength;
        m_remote.m_bodyBytes += m_reserved;
        if (m_head.contentLength > 0 && m_head.value("expect").compare("100-continue", Qt::CaseInsensitive) == 0)
            write("HTTP/1.1 100 Continue\r\n\r\n");
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
        const QByteArray body = std::move(m_body);
        m_body = QByteArray();
        QPointer<HttpConnection> self(this);
        m_remote.run(ParseApiCall(m_match, body), m_head, this);
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
            // A request the system holds, unread because the program was busy, is read rather than dropped.
            if (m_out.isEmpty() && systemHolds() > 0)
                return m_timer.start(t.idleMs);
            return drop();
        case Phase::Closing:
        case Phase::Waiting:
            return drop();
        case Phase::Head:
            return refuse(408, QStringLiteral("the request's headers came too slowly"));
        case Phase::Body: {
            const qint64 came = m_body.size() - m_windowStart;
            if (came < t.minBodyRate * t.bodyWindowMs / 1000)
                return refuse(408, QStringLiteral("the body came too slowly"));
            m_windowStart = m_body.size();
            m_timer.start(t.bodyWindowMs);
            return;
        }
        }
    }

    // What the client sends from now on is dropped; the connection ends once the answers are out.
    void closeAfterWrite()
    {
        if (m_dropped)
            return;
        m_phase = Phase::Closing;
        release();
        m_body = QByteArray();
        m_timer.start(m_remote.m_timeouts.lingerMs);
        if (m_out.isEmpty())
            shutWrite();
    }

    // The client has stopped sending: gone, or waiting for its answers with
    // its sending side closed. Only the system's socket table tells which.
    void peerClosed()
    {
        m_peerDone = true;
        if (!m_ownFd) // the socket's own descriptor is closed now
            return drop();
        if (m_phase == Phase::Closing)
            return m_out.isEmpty() ? drop() : void();
#ifdef Q_OS_LINUX
        tcp_info info{};
        socklen_t length = sizeof info;
        if (::getsockopt(m_fd, IPPROTO_TCP, TCP_INFO, &info, &length) != 0 || info.tcpi_state != TCP_CLOSE_WAIT)
            return drop();
#endif
        readMore();
    }

    // What the client has sent that is not read yet, here or in the system.
    qint64 systemHolds() const
    {
        int waiting = 0;
#ifdef Q_OS_UNIX
        if (m_ownFd && ::ioctl(m_fd, FIONREAD, &waiting) != 0)
            waiting = 0;
#endif
        return waiting + (m_socket ? m_socket->bytesAvailable() : 0);
    }

    void write(const QByteArray &bytes)
    {
        if (m_dropped)
            return;
        m_out += bytes;
        flush();
    }

    // Hands the system what it takes of the answers; more when it can take more.
    void flush()
    {
        if (m_dropped)
            return;
#ifdef Q_OS_UNIX
        while (!m_out.isEmpty()) {
            const ssize_t sent = ::send(m_fd, m_out.constData(), size_t(m_out.size()), MSG_NOSIGNAL);
            if (sent < 0 && errno == EINTR)
                continue;
            if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
                break;
            if (sent <= 0) // the client is gone
                return drop();
            m_out.remove(0, sent);
        }
        m_writable->setEnabled(!m_out.isEmpty());
#else
        if (m_socket) {
            m_socket->write(m_out);
            m_out.clear();
        }
#endif
        if (m_phase == Phase::Closing && m_out.isEmpty())
            return shutWrite();
        // A client that takes its answers is not idle, and may be read again.
        if (m_phase == Phase::Idle)
            m_timer.start(m_remote.m_timeouts.idleMs);
        if ((m_phase == Phase::Idle || m_phase == Phase::Head) && m_out.size() <= HttpRemote::kAnswerBacklog &&
            m_socket && m_socket->bytesAvailable() > 0)
            QTimer::singleShot(0, this, &HttpConnection::readMore);
    }

    // The answer is out: the client sees the end, and what it still sends is dropped.
    void shutWrite()
    {
        if (m_shut)
            return;
        m_shut = true;
        if (m_peerDone)
            return drop();
#ifdef Q_OS_UNIX
        ::shutdown(m_fd, SHUT_WR);
#else
        m_socket->disconnectFromHost();
#endif
    }

    HttpRemote &m_remote;
    QTcpSocket *m_socket;
    int m_fd = -1;
    bool m_ownFd = false;
    QSocketNotifier *m_writable = nullptr;
    QByteArray m_out; // answers the system has not taken yet
    QHostAddress m_peer;
    quint16 m_localPort = 0;
    quint16 m_peerPort = 0;
    std::optional<bool> m_tokenRequired; // found once: the client's user does not change
    Phase m_phase = Phase::Idle;
    QTimer m_timer;
    HttpHead m_head;
    ApiMatch m_match;
    QByteArray m_body;
    qint64 m_reserved = 0;    // of the listener's body budget
    qint64 m_windowStart = 0; // body bytes at the start of the current window
    bool m_keepAlive = true;
    bool m_headOnly = false; // HEAD: the answer without its body
    bool m_peerDone = false; // the client sends no more
    bool m_shut = false;
    bool m_dropped = false;
    quint64 m_serial = 0;
};

namespace {

// Writes answers for `connection`, to the request it has waiting now.
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
    // Every connection goes now, while the lists and counts it leaves are still
    // there: those being told 503 and those dropped but not yet deleted too,
    // which the children's deletion after this body would reach too late.
    // Found by their type (they have no meta-object of their own), one at a time.
    for (;;) {
        HttpConnection *connection = nullptr;
        for (QObject *child : children()) {
            if ((connection = dynamic_cast<HttpConnection *>(child)))
                break;
        }
        if (!connection)
            break;
        delete connection;
    }
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
            // A connection that holds nothing a client is owed makes room, the
            // oldest first: slow clients cannot keep the others out.
            const auto room = std::find_if(m_connections.begin(), m_connections.end(),
                                           [](const HttpConnection *c) { return c->evictable(); });
            if (room != m_connections.end()) {
                (*room)->makeRoom();
            } else if (m_refusing.size() >= kMaxRefusing) {
                // So many are being told already: refused before anything is read.
                socket->abort();
                socket->deleteLater();
                continue;
            } else {
                new HttpConnection(*this, socket, false);
                continue;
            }
        }
        new HttpConnection(*this, socket, true);
    }
}

int HttpRemote::refusal(const HttpHead &head, const QHostAddress &peer, quint16 localPort, quint16 peerPort,
                        std::optional<bool> &tokenRequired, QString *reason) const
{
    // The client's user does not change while its connection lasts: looked up once.
    if (!tokenRequired)
        tokenRequired = accessFor(peer, localPort, peerPort).tokenRequired;
    Access access = m_access;
    access.tokenRequired = *tokenRequired;
    const QUrlQuery query(QString::fromUtf8(head.query));
    // A pairing link stands in for the token, on the page only; the address rules still hold.
    const QString pair = query.queryItemValue(QStringLiteral("pair"));
    if (!pair.isEmpty() && ParseApiCall(head.method, head.path, {}).kind == ApiCall::Kind::Page) {
        if (!m_pairing || !m_pairing->valid(pair)) {
            if (reason)
                *reason = QString::fromLatin1(kPairingRefused);
            return 403;
        }
        access.tokenRequired = false;
    }
    return RemoteAccessCheck(access, head.value("authorization"), head.value("cookie"),
                             query.queryItemValue(QStringLiteral("token")), head.host, head.value("origin"), reason);
}

void HttpRemote::run(const ApiCall &call, const HttpHead &head, HttpConnection *connection)
{
    // The access rule has been applied to the head, before the body was read.
    const Responder responder(connection);
    const QUrlQuery query(QString::fromUtf8(head.query));
    switch (call.kind) {
    case ApiCall::Kind::Refusal:
        return writeJson(responder, call.status, ErrorJson(call.reason));
    case ApiCall::Kind::WebSocket:
        return writeJson(responder, 400, ErrorJson(QStringLiteral("a WebSocket upgrade is expected here")));
    case ApiCall::Kind::State:
        m_gateway.polled(); // a client that polls watches too
        return writeJson(responder, 200, StateJson(m_gateway.state()));
    case ApiCall::Kind::Pairing: {
        if (!m_pairing)
            return writeJson(responder, 404, ErrorJson(QStringLiteral("no such resource")));
        // A fresh code for this caller: the one the panel showed pairs no more.
        m_pairing->renew();
        const QString path = QStringLiteral("/?pair=") + m_pairing->code();
        return writeJson(responder, 200, {{QStringLiteral("ok"), true}, {QStringLiteral("path"), path}});
    }
    case ApiCall::Kind::Page: {
        QFile page(QStringLiteral(":/remote/index.html"));
        page.open(QIODevice::ReadOnly);
        Headers headers{
            {"Content-Type", "text/html; charset=utf-8"}, {"Cache-Control", "no-store"}, {"X-Frame-Options", "DENY"}};
        // The web remote opened with ?token=… keeps it as a cookie for its own
        // requests; a pairing link gives it the token once.
        QByteArray token = query.queryItemValue(QStringLiteral("token")).toUtf8();
        const QString pair = query.queryItemValue(QStringLiteral("pair"));
        if (!pair.isEmpty()) {
            if (!m_pairing || !m_pairing->redeem(pair))
                return writeJson(responder, 403, ErrorJson(QString::fromLatin1(kPairingRefused)));
            token = m_access.token;
        }
        if (!token.isEmpty())
            headers.append(
                {"Set-Cookie", QByteArray(kCookieName) + '=' + token + "; Path=/; HttpOnly; SameSite=Strict"});
        return responder.write(page.readAll(), headers);
    }
    case ApiCall::Kind::Request:
        break;
    }
    RemoteRequest request = call.request;
    if (request.kind == RemoteRequest::Kind::Load) {
        const QString name = CleanFileName(query.queryItemValue(QStringLiteral("name"), QUrl::FullyDecoded));
        request.name = name.isEmpty() ? QStringLiteral("remote upload") : name;
    }
    // Answered when the outcome is known, if the client is still there.
    m_gateway.submit(request, connection, [responder](const RequestOutcome &outcome) {
        writeJson(responder, HttpStatus(outcome), OutcomeJson(outcome));
    });
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

qint64 HttpRemote::answerBytesHeld() const
{
    qint64 held = 0;
    for (const HttpConnection *c : m_connections)
        held += c->unsent();
    return held;
}

void HttpRemote::answerWaiting()
{
    if (m_server)
        m_server->close();
    const QByteArray ending = jsonBytes(ErrorJson(QStringLiteral("the program is ending")));
    const QList<HttpConnection *> open = m_connections;
    for (HttpConnection *c : open)
        c->answerAll(ending);
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
