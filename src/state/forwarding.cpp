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

QStringList RuntimeFolderPlaces()
{
    QStringList places;
#ifdef Q_OS_UNIX
    // The session's folder, when this start is told it.
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty())
        places << QDir::cleanPath(runtime);
#endif
    for (int n = 0; n < kRuntimeFolderNames; ++n)
        places << RuntimeFolderName(n);
    return places;
}

QStringList HoldingFolders(const QString &entry)
{
    QStringList holding;
    if (entry.isEmpty())
        return holding;
    for (const QString &place : RuntimeFolderPlaces()) {
        const QString path = QDir(place).filePath(entry);
        if (IsPrivateFolder(place) && (QFileInfo::exists(path) || QFileInfo::exists(path + QStringLiteral(".lock"))))
            holding << place;
    }
    return holding;
}

QString FallbackRuntimeFolder()
{
#ifdef Q_OS_UNIX
    // Another user may have made "qx-7alt-<uid>" first: then the next name
    // that is the user's own, or that the user makes now, serves.
    for (int n = 0; n < kRuntimeFolderNames; ++n) {
        const QString name = RuntimeFolderName(n);
        ::mkdir(QFile::encodeName(name).constData(), 0700); // there already: checked below like any other
        if (IsPrivateFolder(name))
            return name;
    }
#endif
    return QString();
}

QString PrivateRuntimeFolder(const QString &entry)
{
#ifdef Q_OS_UNIX
    // A program that runs already is found where its socket is, whichever
    // shell started it, even when a name before its folder has gone again.
    if (const QStringList holding = HoldingFolders(entry); !holding.isEmpty())
        return holding.first();
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    return IsPrivateFolder(runtime) ? runtime : FallbackRuntimeFolder();
#else
    Q_UNUSED(entry);
    return QDir::tempPath();
#endif
}

QString ConfigurationFile(const QString &folder, const QString &configFile)
{
    // The same file whether it exists yet or not: its folder's canonical path.
    const QFileInfo file(configFile.isEmpty() ? JoinPath(folder, QStringLiteral("QX-7alt.ini")) : configFile);
    const QString canonical = QFileInfo(file.absolutePath()).canonicalFilePath();
    return QDir(canonical.isEmpty() ? file.absolutePath() : canonical).filePath(file.fileName());
}

QString InstanceEntry(const QString &folder, const QString &configFile)
{
    // A panel is its program folder and its configuration file: a start for
    // another configuration is another panel.
    const QString canonical = QFileInfo(folder).canonicalFilePath();
    const QByteArray key =
        (canonical.isEmpty() ? folder : canonical).toUtf8() + '\n' + ConfigurationFile(folder, configFile).toUtf8();
    return QStringLiteral("qx-7alt-") +
           QString::fromLatin1(QCryptographicHash::hash(key, QCryptographicHash::Sha256).toHex().left(24));
}

QString InstanceName(const QString &folder, const QString &configFile)
{
    const QString entry = InstanceEntry(folder, configFile);
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
    // Where its bytes go: the configuration (only the panel of the same one
    // takes it), and the folder relative names are read from.
    field("config", ConfigurationFile(ProgramFolder(), req.ConfigPathOverride));
    field("cwd", QDir::currentPath());
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
    QString cwd;
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
        } else if (name == "config") {
            req.ConfigPathOverride = value;
        } else if (name == "cwd") {
            cwd = value;
        } // a field of a later version is left alone
        if (!ok)
            return std::nullopt;
    }
    // Asked to end when done, the sender waits without anybody to answer a question.
    req.Unattended = req.ExitRequest;
    if (!req.LoadFileRequest.isEmpty() && !cwd.isEmpty() && QFileInfo(req.LoadFileRequest).isRelative() &&
        !req.LoadFileRequest.contains(QLatin1Char('\\')))
        req.LoadFileRequest = QDir(cwd).absoluteFilePath(req.LoadFileRequest);
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
    : QObject(parent), m_runner(runner), m_toFront(std::move(toFront))
{
    for (QLocalServer *&server : m_servers) {
        server = new QLocalServer(this);
        server->setSocketOptions(QLocalServer::UserAccessOption);
        connect(server, &QLocalServer::newConnection, this, &RequestServer::accept);
    }
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

bool RequestServer::listen(const QString &path, int slot)
{
    m_paths[size_t(slot)] = path;
    QLocalServer *server = m_servers[size_t(slot)];
    if (path.isEmpty())
        return false;
    if (server->listen(path))
        return true;
    // Nobody answered under this name (the caller asked first): what is
    // there is left from a run that ended without closing it.
    QLocalServer::removeServer(path);
    return server->listen(path);
}

void RequestServer::holdWhileRunning(std::unique_ptr<QLockFile> mark)
{
    m_running = std::move(mark);
}

bool RequestServer::isListening() const
{
    return m_servers[0]->isListening();
}

void RequestServer::relisten()
{
    for (int slot = 0; slot < int(m_servers.size()); ++slot)
        if (!m_paths[size_t(slot)].isEmpty() && !m_servers[size_t(slot)]->isListening())
            listen(m_paths[size_t(slot)], slot);
}

void RequestServer::accept()
{
    for (QLocalServer *server : m_servers)
        while (QLocalSocket *socket = server->nextPendingConnection())
            take(socket);
    relisten();
}

void RequestServer::take(QLocalSocket *socket)
{
    // Only a program of the same user may ask, and only so many at once.
    if (!SameUser(socket->socketDescriptor(), m_user) || m_clients.size() >= kMaxConnections) {
        socket->abort();
        socket->deleteLater();
        return;
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
    // A panel of another configuration is another panel.
    if (!m_configuration.isEmpty() && !req->ConfigPathOverride.isEmpty() &&
        req->ConfigPathOverride != m_configuration) {
        answer(socket, {2, QStringLiteral("This panel runs another configuration: %1.").arg(m_configuration)});
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

InstanceGate::InstanceGate(const QString &programFolder, const QString &configFile)
    : m_entry(InstanceEntry(programFolder, configFile)), m_name(InstanceName(programFolder, configFile))
{
    // Held by the panel for as long as it runs, where only this user writes
    // (beside its settings), so that a start that cannot reach it still knows
    // it is there.
    m_running =
        std::make_unique<QLockFile>(JoinPath(programFolder, QLatin1Char('.') + m_entry + QStringLiteral(".run")));
    m_running->setStaleLockTime(0); // stale only when its process has gone
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
    // Every place a panel of this user and configuration may listen, however
    // this start and the panel's were told where that is.
    for (const QString &place : HoldingFolders(m_entry)) {
        QLocalSocket socket;
        socket.connectToServer(QDir(place).filePath(m_entry));
        // Whatever listens there must be this user's own program.
        if (socket.waitForConnected(kConnectMs) && SameUser(socket.socketDescriptor()))
            return exchange(socket, req);
    }
    // None answered. A panel that runs all the same holds the link: this
    // start must not open a second one beside it.
    if (!m_running->tryLock(0) && m_running->error() == QLockFile::LockFailedError)
        return ForwardReply{1, QStringLiteral("A running panel of this configuration could not be reached: "
                                              "nothing was sent. Start it again to hand requests over.")};
    m_running->unlock();
    return std::nullopt;
}

bool InstanceGate::listen(RequestServer &server)
{
    // The panel holds its mark for as long as it runs, hand-over or not.
    if (m_running->tryLock(0))
        server.holdWhileRunning(std::move(m_running));
    const bool listening = !m_name.isEmpty() && server.listen(m_name);
    // Also where a start without the session's variables looks first.
    const QString also = FallbackRuntimeFolder();
    if (listening && !also.isEmpty() && QDir(also).filePath(m_entry) != m_name)
        server.listen(QDir(also).filePath(m_entry), 1);
    m_lock.reset();
    return listening;
}

} // namespace qx
