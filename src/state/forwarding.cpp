#include "forwarding.h"

#include "state/commandline.h"
#include "state/requestrunner.h"
#include "util/seams.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QTimer>

#ifdef Q_OS_UNIX
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace qx {

namespace {
const QByteArray kRequestTag = "QX7";
// How long a start waits for the running program to take its connection.
constexpr int kConnectMs = 3000;
// How often the server looks whether it still listens (the toolkit closes it
// when taking a connection fails, say for want of descriptors).
constexpr int kWatchMs = 1000;
} // namespace

quint64 CurrentUser()
{
#ifdef Q_OS_UNIX
    return quint64(::getuid());
#else
    return 0;
#endif
}

std::optional<quint64> PeerUser(qintptr descriptor)
{
#if defined(Q_OS_LINUX)
    struct ucred cred {};
    socklen_t length = sizeof cred;
    if (::getsockopt(int(descriptor), SOL_SOCKET, SO_PEERCRED, &cred, &length) != 0 || length != sizeof cred)
        return std::nullopt;
    return quint64(cred.uid);
#elif defined(Q_OS_UNIX)
    uid_t uid = 0;
    gid_t gid = 0;
    if (::getpeereid(int(descriptor), &uid, &gid) != 0)
        return std::nullopt;
    return quint64(uid);
#else
    // A named pipe made with the user's access option admits nobody else.
    Q_UNUSED(descriptor);
    return CurrentUser();
#endif
}

bool SameUser(qintptr descriptor, quint64 user)
{
    const std::optional<quint64> peer = PeerUser(descriptor);
    return peer && *peer == user;
}

bool IsPrivateFolder(const QString &path)
{
#ifdef Q_OS_UNIX
    struct stat st {};
    return !path.isEmpty() && ::lstat(QFile::encodeName(path).constData(), &st) == 0 && S_ISDIR(st.st_mode) &&
           quint64(st.st_uid) == CurrentUser() && (st.st_mode & 077) == 0;
#else
    return QFileInfo(path).isDir();
#endif
}

QString RuntimeFolderName(int n)
{
    const QString name = QStringLiteral("qx-7alt-%1").arg(CurrentUser());
    return QDir(QDir::tempPath()).filePath(n > 0 ? name + QStringLiteral("-%1").arg(n) : name);
}

QString PrivateRuntimeFolder(const QString &entry)
{
#ifdef Q_OS_UNIX
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (IsPrivateFolder(runtime))
        return runtime;
    // Another user may have made "qx-7alt-<uid>" first: then the next name
    // that is the user's own, or that the user makes now, serves. A program
    // that runs already is found where its socket is, even when a name
    // before its folder has gone again since.
    QStringList names;
    for (int n = 0; n < kRuntimeFolderNames; ++n)
        names << RuntimeFolderName(n);
    const auto holds = [&entry](const QString &name) {
        const QString path = QDir(name).filePath(entry);
        return QFileInfo::exists(path) || QFileInfo::exists(path + QStringLiteral(".lock"));
    };
    if (!entry.isEmpty())
        for (const QString &name : std::as_const(names))
            if (IsPrivateFolder(name) && holds(name))
                return name;
    for (const QString &name : std::as_const(names)) {
        ::mkdir(QFile::encodeName(name).constData(), 0700); // there already: checked below like any other
        if (IsPrivateFolder(name))
            return name;
    }
    return QString();
#else
    Q_UNUSED(entry);
    return QDir::tempPath();
#endif
}

QString InstanceName(const QString &folder)
{
    const QString canonical = QFileInfo(folder).canonicalFilePath();
    const QByteArray key = (canonical.isEmpty() ? folder : canonical).toUtf8();
    const QString entry =
        QStringLiteral("qx-7alt-") +
        QString::fromLatin1(QCryptographicHash::hash(key, QCryptographicHash::Sha256).toHex().left(24));
    const QString runtime = PrivateRuntimeFolder(entry);
    return runtime.isEmpty() ? QString() : QDir(runtime).filePath(entry);
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
        // The running program has another working folder. A path of the
        // switch form ("\\" for "/") that is absolute already stays as it is.
        const QString file = req.LoadFileRequest;
        field("file", QFileInfo(QString(file).replace(QLatin1Char('\\'), QLatin1Char('/'))).isAbsolute()
                          ? file
                          : QFileInfo(file).absoluteFilePath());
        field("bank", QString::number(req.LoadBankRequest));
    }
    if (req.PresetRequest != 0)
        field("preset", QString::number(req.PresetRequest));
    if (req.HelpRequest)
        field("help", QStringLiteral("1"));
    if (req.QuestionWait >= 0)
        field("wait", QString::number(req.QuestionWait));
    // Only a run of the long options that ends by itself is unattended: the
    // batch runs by the same rule as it would in a start-up of its own.
    if (req.Unattended)
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
        } else if (name == "help") {
            req.HelpRequest = true;
        } else if (name == "wait") {
            req.QuestionWait = value.toInt(&ok);
            ok = ok && req.QuestionWait >= 0 && req.QuestionWait <= kMaxQuestionWait;
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

QList<Request> HandOverRequests(const CommandLineRequests &req, RequestOrigin origin)
{
    const bool attended = !req.Unattended;
    QList<Request> list;
    if (req.CommandRequested)
        list << Request::raw(req.CommandRequest, origin, attended);
    if (req.PresetRequest != 0)
        list << Request::recall(req.PresetRequest, origin, attended);
    if (!req.LoadFileRequest.isEmpty())
        list << Request::load(req.LoadFileRequest, req.LoadBankRequest + 1, origin, attended);
    return list;
}

namespace {
// The request out, the answer in; the running program holds the connection
// for as long as it works on the request (a load may take minutes). Asked to
// end meanwhile (also before the line has left: a write only queues it), the
// sender goes, and what has not started is dropped.
ForwardReply exchange(QLocalSocket &socket, const CommandLineRequests &req)
{
    socket.write(EncodeRequests(req));
    QByteArray answer;
    while (!answer.contains('\n') && answer.size() < kMaxRequestLine) {
        if (TerminationRequested()) {
            socket.abort();
            return {1, {}};
        }
        if (socket.bytesToWrite() > 0)
            socket.waitForBytesWritten(100);
        else if (socket.bytesAvailable() == 0 && !socket.waitForReadyRead(100) &&
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

struct RequestServer::Client {
    QByteArray line;    // what came so far
    bool taken = false; // the whole line came
    QList<quint64> ids; // its batch, until it ends
    bool help = false;  // the About window once the batch has ended
    QTimer idle;
};

RequestServer::RequestServer(RequestRunner &runner, std::function<void(bool help)> toFront, QObject *parent)
    : QObject(parent), m_server(new QLocalServer(this)), m_runner(runner), m_toFront(std::move(toFront))
{
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    connect(m_server, &QLocalServer::newConnection, this, &RequestServer::accept);
    connect(&m_runner, &RequestRunner::finished, this, &RequestServer::finished);
    auto *watch = new QTimer(this);
    connect(watch, &QTimer::timeout, this, &RequestServer::relisten);
    watch->start(kWatchMs);
}

RequestServer::~RequestServer()
{
    for (QLocalSocket *socket : m_clients.keys())
        drop(socket);
}

bool RequestServer::listen(const QString &path)
{
    m_path = path;
    if (path.isEmpty())
        return false;
    if (m_server->listen(path))
        return true;
    // Nobody answered under this name (the caller asked first): what is
    // there is left from a run that ended without closing it.
    QLocalServer::removeServer(path);
    return m_server->listen(path);
}

bool RequestServer::isListening() const
{
    return m_server->isListening();
}

void RequestServer::relisten()
{
    if (!m_path.isEmpty() && !m_server->isListening())
        listen(m_path);
}

void RequestServer::accept()
{
    while (QLocalSocket *socket = m_server->nextPendingConnection()) {
        // Only a program of the same user may ask, and only so many at once.
        if (!SameUser(socket->socketDescriptor(), m_user) || m_clients.size() >= kMaxConnections) {
            socket->abort();
            socket->deleteLater();
            continue;
        }
        auto client = std::make_shared<Client>();
        client->idle.setSingleShot(true);
        // Queued: the timer belongs to what drop() ends.
        connect(
            &client->idle, &QTimer::timeout, this,
            [this, socket = QPointer<QLocalSocket>(socket)] {
                if (socket)
                    drop(socket);
            },
            Qt::QueuedConnection);
        client->idle.start(m_idleMs);
        m_clients.insert(socket, client);
        connect(socket, &QLocalSocket::disconnected, this, [this, socket] { drop(socket); });
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] { readFrom(socket); });
        readFrom(socket);
    }
    relisten();
}

void RequestServer::readFrom(QLocalSocket *socket)
{
    const std::shared_ptr<Client> client = m_clients.value(socket);
    if (!client)
        return;
    // One line per connection: what follows it is thrown away as it comes,
    // never kept (a client that streams on while its request waits would
    // fill the memory), and the socket is still read, so a sender that
    // goes is noticed.
    if (client->taken) {
        socket->skip(socket->bytesAvailable());
        return;
    }
    client->line += socket->read(kMaxRequestLine + 1 - client->line.size());
    const qsizetype end = client->line.indexOf('\n');
    if (end < 0 && client->line.size() <= kMaxRequestLine)
        return;
    client->taken = true; // one request per connection
    client->idle.stop();
    // Too long is refused whole: nothing of it runs.
    if (end < 0) {
        answer(socket, {2, QStringLiteral("Request longer than %1 bytes.").arg(kMaxRequestLine)});
        return;
    }
    const std::optional<CommandLineRequests> req = DecodeRequests(client->line.left(end));
    if (!req) {
        answer(socket, {2, QStringLiteral("Request not understood.")});
        return;
    }
    const QList<Request> requests = HandOverRequests(*req);
    if (requests.isEmpty()) {
        if (m_toFront)
            m_toFront(req->HelpRequest);
        answer(socket, {});
        return;
    }
    const quint64 id = m_runner.submit(requests, req->QuestionWait < 0 ? -1 : req->QuestionWait * 1000);
    client->ids << id;
    client->help = req->HelpRequest;
    m_pending.insert(id, socket);
}

void RequestServer::finished(quint64 id, const RequestOutcome &outcome)
{
    QLocalSocket *socket = m_pending.take(id);
    const std::shared_ptr<Client> client = socket ? m_clients.value(socket) : nullptr;
    if (!client)
        return;
    client->ids.removeOne(id);
    // As a start of its own would: help after the requests, whatever they gave.
    if (client->help && m_toFront && outcome.reason != RequestOutcome::Reason::Terminated)
        m_toFront(true);
    answer(socket, {outcome.status, outcome.message});
}

void RequestServer::answer(QLocalSocket *socket, const ForwardReply &reply)
{
    socket->write(EncodeReply(reply));
    socket->flush();
    socket->disconnectFromServer();
}

void RequestServer::drop(QLocalSocket *socket)
{
    const std::shared_ptr<Client> client = m_clients.take(socket);
    if (!client)
        return;
    // Nobody waits for these any more: those not started are dropped.
    for (const quint64 id : std::as_const(client->ids)) {
        m_pending.remove(id);
        m_runner.withdraw(id);
    }
    socket->disconnect(this);
    socket->abort();
    socket->deleteLater();
}

InstanceGate::InstanceGate(const QString &programFolder) : m_name(InstanceName(programFolder))
{
    if (m_name.isEmpty())
        return;
    // Two programs started together: the first listens, the second hands over.
    m_lock = std::make_unique<QLockFile>(m_name + QStringLiteral(".lock"));
    m_lock->setStaleLockTime(10000);
    if (!m_lock->tryLock(kConnectMs + 2000))
        m_lock.reset();
}

InstanceGate::~InstanceGate() = default;

std::optional<ForwardReply> InstanceGate::forward(const CommandLineRequests &req)
{
    if (m_name.isEmpty())
        return std::nullopt;
    QLocalSocket socket;
    socket.connectToServer(m_name);
    if (!socket.waitForConnected(kConnectMs))
        return std::nullopt;
    // Whatever listens there must be this user's own program.
    if (!SameUser(socket.socketDescriptor()))
        return std::nullopt;
    return exchange(socket, req);
}

bool InstanceGate::listen(RequestServer &server)
{
    const bool listening = !m_name.isEmpty() && server.listen(m_name);
    m_lock.reset();
    return listening;
}

} // namespace qx
