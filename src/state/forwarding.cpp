#include "forwarding.h"

#include "util/seams.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QTimer>

namespace qx {

namespace {
const QByteArray kRequestTag = "QX7";
// How long a start waits for the running program to take its connection.
constexpr int kConnectMs = 3000;
// How often a queued request looks whether the link has become free.
constexpr int kRetryMs = 100;
} // namespace

QString InstanceName(const QString &folder)
{
    const QString canonical = QFileInfo(folder).canonicalFilePath();
    QString user = qEnvironmentVariable("USER");
    if (user.isEmpty())
        user = qEnvironmentVariable("USERNAME");
    const QByteArray key = (canonical.isEmpty() ? folder : canonical).toUtf8() + '\n' + user.toUtf8();
    return QStringLiteral("qx-7alt-") +
           QString::fromLatin1(QCryptographicHash::hash(key, QCryptographicHash::Sha256).toHex().left(24));
}

bool HasForwardedRequests(const CommandLineRequests &req)
{
    return req.CommandRequested || !req.LoadFileRequest.isEmpty() || req.PresetRequest != 0;
}

QByteArray EncodeRequests(const CommandLineRequests &req)
{
    QByteArray line = kRequestTag;
    const auto field = [&line](const char *name, const QString &value) {
        line += ' ' + QByteArray(name) + '=' + value.toUtf8().toPercentEncoding();
    };
    if (req.CommandRequested)
        field("command", req.CommandRequest);
    if (!req.LoadFileRequest.isEmpty()) {
        // The running program has another working folder.
        field("file", QFileInfo(req.LoadFileRequest).absoluteFilePath());
        field("bank", QString::number(req.LoadBankRequest));
    }
    if (req.PresetRequest != 0)
        field("preset", QString::number(req.PresetRequest));
    if (req.ExitRequest)
        field("exit", QStringLiteral("1"));
    return line + '\n';
}

std::optional<CommandLineRequests> DecodeRequests(const QByteArray &line)
{
    const QList<QByteArray> fields = line.trimmed().split(' ');
    if (fields.value(0) != kRequestTag)
        return std::nullopt;
    CommandLineRequests req;
    for (qsizetype i = 1; i < fields.size(); ++i) {
        const qsizetype eq = fields[i].indexOf('=');
        if (eq < 1)
            return std::nullopt;
        const QByteArray name = fields[i].left(eq);
        const QString value = QString::fromUtf8(QByteArray::fromPercentEncoding(fields[i].mid(eq + 1)));
        bool ok = true;
        if (name == "command") {
            req.CommandRequested = true;
            req.CommandRequest = value;
        } else if (name == "file") {
            req.LoadFileRequest = value;
        } else if (name == "bank") {
            req.LoadBankRequest = value.toInt(&ok);
            ok = ok && req.LoadBankRequest >= 0 && req.LoadBankRequest <= 3;
        } else if (name == "preset") {
            req.PresetRequest = value.toInt(&ok);
            ok = ok && req.PresetRequest >= 1 && req.PresetRequest <= kPresets;
        } else if (name == "exit") {
            req.ExitRequest = true;
        } // a field of a later version is left alone
        if (!ok)
            return std::nullopt;
    }
    // Asked to end when done, the sender waits without anybody to answer a question.
    req.Unattended = req.ExitRequest;
    return req;
}

QByteArray EncodeReply(const ForwardReply &reply)
{
    return QByteArray::number(reply.status) + ' ' + reply.message.toUtf8().toPercentEncoding() + '\n';
}

std::optional<ForwardReply> DecodeReply(const QByteArray &line)
{
    const QList<QByteArray> fields = line.trimmed().split(' ');
    bool ok = false;
    ForwardReply reply;
    reply.status = fields.value(0).toInt(&ok);
    if (!ok || fields.size() > 2)
        return std::nullopt;
    reply.message = QString::fromUtf8(QByteArray::fromPercentEncoding(fields.value(1)));
    return reply;
}

namespace {
// The request out, the answer in; the running program holds the connection
// for as long as it works on the request (a load may take minutes).
ForwardReply exchange(QLocalSocket &socket, const CommandLineRequests &req)
{
    socket.write(EncodeRequests(req));
    socket.flush();
    QByteArray answer;
    while (!answer.contains('\n') && answer.size() < kMaxRequestLine) {
        if (TerminationRequested())
            return {1, {}}; // the request stays with the running program
        if (socket.bytesAvailable() == 0 && !socket.waitForReadyRead(1000) &&
            socket.state() != QLocalSocket::ConnectedState)
            break;
        answer += socket.read(kMaxRequestLine);
    }
    const std::optional<ForwardReply> reply = DecodeReply(answer.left(answer.indexOf('\n')));
    if (!answer.contains('\n') || !reply)
        return {3, QStringLiteral("The running program ended without an answer.")};
    return *reply;
}
} // namespace

RequestServer::RequestServer(std::function<bool()> ready, Handler handle, QObject *parent)
    : QObject(parent), m_server(new QLocalServer(this)), m_ready(std::move(ready)), m_handle(std::move(handle))
{
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    connect(m_server, &QLocalServer::newConnection, this, &RequestServer::accept);
}

RequestServer::~RequestServer() = default;

bool RequestServer::listen(const QString &name)
{
    if (m_server->listen(name))
        return true;
    // Nobody answered under this name (the caller asked first): what is
    // there is left from a run that ended without closing it. (Qt replaces
    // a stale socket file itself on most systems; this covers the others.)
    QLocalServer::removeServer(name);
    return m_server->listen(name);
}

void RequestServer::accept()
{
    while (QLocalSocket *socket = m_server->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] { readFrom(socket); });
        readFrom(socket);
    }
}

void RequestServer::readFrom(QLocalSocket *socket)
{
    if (!socket->canReadLine()) {
        if (socket->bytesAvailable() > kMaxRequestLine)
            socket->abort();
        return;
    }
    const QByteArray line = socket->readLine(kMaxRequestLine + 1);
    disconnect(socket, &QLocalSocket::readyRead, this, nullptr); // one request per connection
    const std::optional<CommandLineRequests> req = DecodeRequests(line);
    if (!req) {
        socket->write(EncodeReply({2, QStringLiteral("Request not understood.")}));
        socket->disconnectFromServer();
        return;
    }
    m_queue.append({socket, *req});
    // Carried out from the event loop, never inside the socket's own signal.
    QTimer::singleShot(0, this, &RequestServer::runNext);
}

void RequestServer::runNext()
{
    if (m_running || m_queue.isEmpty())
        return;
    if (!m_ready()) {
        QTimer::singleShot(kRetryMs, this, &RequestServer::runNext);
        return;
    }
    m_running = true;
    const Pending next = m_queue.takeFirst();
    const ForwardReply reply = m_handle(next.req);
    if (next.socket) {
        next.socket->write(EncodeReply(reply));
        next.socket->flush();
        next.socket->disconnectFromServer();
    }
    m_running = false;
    if (!m_queue.isEmpty())
        QTimer::singleShot(0, this, &RequestServer::runNext);
}

std::optional<ForwardReply> ForwardOrListen(const QString &name, const CommandLineRequests &req, RequestServer *server)
{
    // Two programs started together: the first listens, the second hands over.
    QLockFile lock(QDir(QDir::tempPath()).filePath(name + QStringLiteral(".lock")));
    lock.setStaleLockTime(10000);
    const bool locked = lock.tryLock(kConnectMs + 2000);
    QLocalSocket socket;
    socket.connectToServer(name);
    const bool running = socket.waitForConnected(kConnectMs);
    if (!running && server)
        server->listen(name);
    if (locked)
        lock.unlock();
    if (!running)
        return std::nullopt;
    return exchange(socket, req);
}

} // namespace qx
