// The emulator's thread, its transports (TCP on 127.0.0.1, a pseudo-terminal)
// and the thread-safe API around them.

#include "emulator.h"
#include "emulator_p.h"
#include "pty.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QSocketNotifier>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <QTime>

#ifdef Q_OS_UNIX
#include <sys/socket.h>
#endif

namespace qx7emu {

namespace detail {

namespace {

constexpr int kReadChunk = 16384;
constexpr int kHangupPollMs = 10; // how often a pseudo-terminal without a client is looked at
constexpr int kDeafReceiveBuffer = 4096;

// A deaf device must really stop taking bytes: left alone, the system's
// receive buffer grows to megabytes and swallows a whole upload. Set on the
// listening socket, the limit holds for every connection it accepts.
void limitReceiveBuffer(qintptr descriptor)
{
#ifdef Q_OS_UNIX
    const int size = kDeafReceiveBuffer;
    ::setsockopt(int(descriptor), SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
#else
    Q_UNUSED(descriptor);
#endif
}

// The listen queue's length when the emulator accepts as usual.
constexpr int kListenBacklog = 50;

// Sets the length of a listening socket's queue of connections not yet
// accepted (Linux lets a listening socket be told again).
void setListenBacklog(qintptr descriptor, int backlog)
{
#ifdef Q_OS_UNIX
    ::listen(int(descriptor), backlog);
#else
    Q_UNUSED(descriptor);
    Q_UNUSED(backlog);
#endif
}

// Control bytes and bytes above 7E as <XX>, so that a log line stays one line.
QByteArray printable(const QByteArray &text)
{
    QByteArray out;
    out.reserve(text.size());
    for (const char c : text) {
        const auto u = uchar(c);
        if (u < 0x20 || u > 0x7E) {
            static const char hex[] = "0123456789ABCDEF";
            out.append('<').append(hex[u >> 4]).append(hex[u & 15]).append('>');
        } else {
            out.append(c);
        }
    }
    return out;
}

} // namespace

class TcpSession : public Session {
public:
    TcpSession(Worker &worker, QTcpSocket *socket) : Session(worker, &worker), m_socket(socket)
    {
        socket->setParent(this);
        // Replies go out at once; the application's exchange waits for every one of them.
        socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        QObject::connect(socket, &QTcpSocket::readyRead, this, [this] { readAll(); });
        QObject::connect(socket, &QTcpSocket::disconnected, this, [this] {
            m_closing = true;
            if (m_worker.logging())
                m_worker.log("conn", "tcp connection closed");
            deleteLater();
        });
        if (socket->bytesAvailable() > 0)
            QTimer::singleShot(0, this, [this] { readAll(); });
    }

protected:
    void writeBytes(const char *data, qint64 size) override
    {
        if (m_socket->state() != QAbstractSocket::ConnectedState)
            return;
        m_socket->write(data, size);
        m_socket->flush(); // hand it to the system now rather than on the next event-loop pass
    }

    void dropConnection() override
    {
        m_closing = true;
        m_socket->disconnectFromHost();
    }

    qint64 outputBacklog() const override { return m_socket->bytesToWrite(); }

    void stopReading() override
    {
        // With its buffer full, the socket takes nothing more from the system,
        // whose buffers then fill up and hold the client's writes back.
        m_socket->setReadBufferSize(1);
    }

private:
    void readAll()
    {
        char buffer[kReadChunk];
        while (!m_closing && !m_deaf) {
            const qint64 n = m_socket->read(buffer, sizeof buffer);
            if (n <= 0)
                break;
            feed(buffer, n);
        }
    }

    QTcpSocket *m_socket;
};

class PtySession : public Session {
public:
    explicit PtySession(Worker &worker) : Session(worker, &worker) {}

protected:
    void writeBytes(const char *data, qint64 size) override
    {
        Worker &w = m_worker;
        if (!w.m_ptyPending.isEmpty()) {
            w.m_ptyPending.append(data, size);
            return;
        }
        const qint64 written = writePty(w.m_ptyFd, data, size);
        if (written < 0)
            return; // nobody to deliver to
        if (written < size) {
            w.m_ptyPending.append(data + written, size - written);
            w.m_ptyWriteNotifier->setEnabled(true);
        }
    }

    void dropConnection() override
    {
        // A terminal cannot be hung up from this side: the device just stops answering.
        m_muted = true;
    }

    qint64 outputBacklog() const override { return m_worker.m_ptyPending.size(); }

    void stopReading() override { m_worker.stopPtyReading(); }
};

Worker::Worker(Shared &shared) : m_shared(shared)
{
    m_clock.start();
}

Worker::~Worker() = default;

const Options &Worker::options()
{
    const quint64 generation = m_shared.optionsGeneration.load(std::memory_order_acquire);
    if (generation != m_optionsGeneration) {
        const QString oldLog = m_options.logFile;
        {
            QMutexLocker lock(&m_shared.mutex);
            m_options = m_shared.options;
            m_optionsGeneration = m_shared.optionsGeneration.load();
        }
        if (m_options.logFile != oldLog || (!m_options.logFile.isEmpty() && !m_log.isOpen())) {
            m_log.close();
            if (!m_options.logFile.isEmpty()) {
                m_log.setFileName(m_options.logFile);
                if (!m_log.open(QIODevice::WriteOnly | QIODevice::Truncate))
                    qWarning("qx7-emulator: cannot write the log %s", qPrintable(m_options.logFile));
            }
        }
    }
    return m_options;
}

void Worker::log(const char *kind, const QByteArray &text)
{
    if (!m_log.isOpen())
        return;
    QByteArray line = QTime::currentTime().toString(QStringLiteral("HH:mm:ss.zzz")).toLatin1();
    line.append(' ').append(kind).append(' ').append(printable(text)).append('\n');
    m_log.write(line);
    m_log.flush(); // someone may be watching it while the emulator runs
}

qint64 Worker::recordCommand(const QByteArray &line, const QByteArray &raw)
{
    if (logging())
        log("cmd", line);
    ReceivedCommand command{QString::fromLatin1(line), raw};
    QMutexLocker lock(&m_shared.mutex);
    m_shared.received.append(std::move(command));
    m_shared.commandArrived.wakeAll();
    return m_shared.receivedDropped + m_shared.received.size() - 1;
}

void Worker::appendToRaw(qint64 serial, char byte)
{
    QMutexLocker lock(&m_shared.mutex);
    const qint64 index = serial - m_shared.receivedDropped;
    if (serial >= 0 && index >= 0 && index < m_shared.received.size())
        m_shared.received[index].raw.append(byte);
}

void Worker::countPacket()
{
    QMutexLocker lock(&m_shared.mutex);
    ++m_shared.packets;
}

void Worker::countFloodLines(qint64 lines)
{
    QMutexLocker lock(&m_shared.mutex);
    m_shared.floodLines += lines;
}

void Worker::floodRunning(bool running)
{
    QMutexLocker lock(&m_shared.mutex);
    m_shared.floods += running ? 1 : -1;
}

void Worker::stopPtyReading()
{
    m_ptyDeaf = true;
    if (m_ptyReadNotifier)
        m_ptyReadNotifier->setEnabled(false);
}

void Worker::storeBank(int index, const QByteArray &image, int width, int height)
{
    if (logging())
        log("bank", QStringLiteral("bank %1 stored, %2 x %3").arg(index + 1).arg(width).arg(height).toLatin1());
    // The files are written before the bank counts as stored, so that whoever
    // sees the bank (or its last acknowledgement) also finds the files.
    const QString dir = options().dumpBanksDir;
    if (!dir.isEmpty()) {
        QDir().mkpath(dir);
        const QString stem = QDir(dir).filePath(QStringLiteral("bank%1").arg(index + 1));
        QFile bin(stem + QStringLiteral(".bin"));
        if (bin.open(QIODevice::WriteOnly | QIODevice::Truncate))
            bin.write(image);
        const QImage rgb = bankToRgbImage(image);
        if (!rgb.isNull())
            rgb.save(stem + QStringLiteral(".png"), "PNG");
    }
    QMutexLocker lock(&m_shared.mutex);
    Bank &bank = m_shared.banks[index];
    bank.width = width;
    bank.height = height;
    bank.data = image;
    bank.complete = true;
}

quint16 Worker::listenTcp(quint16 port)
{
    options();
    if (m_server)
        return m_server->serverPort();
    m_server = new QTcpServer(this);
    if (!m_server->listen(QHostAddress::LocalHost, port)) {
        qWarning("qx7-emulator: cannot listen on 127.0.0.1:%u: %s", unsigned(port),
                 qPrintable(m_server->errorString()));
        delete m_server;
        m_server = nullptr;
        return 0;
    }
    if (options().deafAfterPackets > 0)
        limitReceiveBuffer(m_server->socketDescriptor());
    QObject::connect(m_server, &QTcpServer::newConnection, this, [this] { acceptConnections(); });
    if (options().blackHole)
        startBlackHole();
    QMutexLocker lock(&m_shared.mutex);
    m_shared.tcpPort = m_server->serverPort();
    return m_shared.tcpPort;
}

void Worker::startBlackHole()
{
    // With a backlog of 0 the system queues one connection; while that one
    // waits unaccepted, every further connection request is dropped without
    // an answer, as by a device that is off behind a switch (Linux).
    m_server->pauseAccepting();
    setListenBacklog(m_server->socketDescriptor(), 0);
    m_filler = new QTcpSocket(this);
    m_filler->connectToHost(QHostAddress::LocalHost, m_server->serverPort());
    m_filler->waitForConnected(5000);
    m_fillerPort = m_filler->localPort();
    if (logging())
        log("conn", "tcp black hole: connection requests get no answer");
}

void Worker::endBlackHole()
{
    if (!m_server || !m_filler)
        return;
    delete m_filler;
    m_filler = nullptr;
    setListenBacklog(m_server->socketDescriptor(), kListenBacklog);
    if (logging())
        log("conn", "tcp black hole ended");
    // The filler still waits in the queue: it is accepted and closed unseen.
    m_server->resumeAccepting();
}

void Worker::stopTcp()
{
    if (!m_server)
        return;
    delete m_filler;
    m_filler = nullptr;
    m_fillerPort = 0;
    delete m_server;
    m_server = nullptr;
    for (QTcpSocket *socket : findChildren<QTcpSocket *>())
        socket->abort();
    if (logging())
        log("conn", "tcp listening stopped, connections closed");
    QMutexLocker lock(&m_shared.mutex);
    m_shared.tcpPort = 0;
}

void Worker::acceptConnections()
{
    while (QTcpSocket *socket = m_server->nextPendingConnection()) {
        if (m_fillerPort != 0 && socket->peerPort() == m_fillerPort) {
            m_fillerPort = 0;
            socket->abort();
            socket->deleteLater();
            continue;
        }
        if (logging())
            log("conn", "tcp connection from port " + QByteArray::number(socket->peerPort()));
        {
            QMutexLocker lock(&m_shared.mutex);
            ++m_shared.connections;
        }
        if (options().closeOnAccept) {
            if (logging())
                log("conn", "closed on accept");
            socket->abort();
            socket->deleteLater();
            continue;
        }
        new TcpSession(*this, socket);
    }
}

QString Worker::openPty(const QString &linkPath)
{
    options();
    if (m_ptyFd < 0) {
        QString path;
        const int fd = openPtyMaster(&path);
        if (fd < 0) {
            qWarning("qx7-emulator: cannot create a pseudo-terminal");
            return {};
        }
        m_ptyFd = fd;
        m_ptyPath = path;
        m_ptySession = new PtySession(*this);
        m_ptyReadNotifier = new QSocketNotifier(fd, QSocketNotifier::Read, this);
        QObject::connect(m_ptyReadNotifier, &QSocketNotifier::activated, this, [this] { readPty(); });
        m_ptyWriteNotifier = new QSocketNotifier(fd, QSocketNotifier::Write, this);
        m_ptyWriteNotifier->setEnabled(false);
        QObject::connect(m_ptyWriteNotifier, &QSocketNotifier::activated, this, [this] { writePtyPending(); });
        m_ptyHangupTimer = new QTimer(this);
        m_ptyHangupTimer->setSingleShot(true);
        m_ptyHangupTimer->setInterval(kHangupPollMs);
        QObject::connect(m_ptyHangupTimer, &QTimer::timeout, this,
                         [this] { m_ptyReadNotifier->setEnabled(!m_ptyDeaf); });
        if (logging())
            log("conn", "pseudo-terminal " + path.toLocal8Bit());
        QMutexLocker lock(&m_shared.mutex);
        m_shared.ptyPath = path;
    }
    if (!linkPath.isEmpty()) {
        if (!makeSymlink(m_ptyPath, linkPath)) {
            qWarning("qx7-emulator: cannot make the link %s", qPrintable(linkPath));
            return {};
        }
        if (!m_links.contains(linkPath))
            m_links.append(linkPath);
    }
    return m_ptyPath;
}

void Worker::closePty(bool removeLinks)
{
    if (m_ptyFd < 0)
        return;
    delete m_ptySession;
    delete m_ptyReadNotifier;
    delete m_ptyWriteNotifier;
    delete m_ptyHangupTimer;
    m_ptySession = nullptr;
    m_ptyReadNotifier = nullptr;
    m_ptyWriteNotifier = nullptr;
    m_ptyHangupTimer = nullptr;
    m_ptyPending.clear();
    m_ptyClientSeen = false;
    m_ptyDeaf = false;
    if (removeLinks) {
        for (const QString &link : std::as_const(m_links)) {
            const QFileInfo info(link);
            if (info.isSymLink() && info.symLinkTarget() == QFileInfo(m_ptyPath).absoluteFilePath())
                QFile::remove(link);
        }
        m_links.clear();
    }
    detail::closePty(m_ptyFd);
    m_ptyFd = -1;
    m_ptyPath.clear();
    QMutexLocker lock(&m_shared.mutex);
    m_shared.ptyPath.clear();
}

void Worker::readPty()
{
    char buffer[kReadChunk];
    while (!m_ptyDeaf) {
        bool hangup = false;
        const qint64 n = detail::readPty(m_ptyFd, buffer, sizeof buffer, &hangup);
        if (n > 0) {
            m_ptyClientSeen = true;
            m_ptySession->feed(buffer, n);
            continue;
        }
        if (hangup) {
            // No client has the terminal open, and the notifier would fire for
            // ever: look again a little later.
            m_ptyReadNotifier->setEnabled(false);
            m_ptyHangupTimer->start();
            if (m_ptyClientSeen) {
                // The next client starts a conversation of its own.
                m_ptyClientSeen = false;
                m_ptySession->resetParser();
                m_ptyPending.clear();
                m_ptyWriteNotifier->setEnabled(false);
                if (logging())
                    log("conn", "pseudo-terminal client gone");
            }
        }
        return;
    }
}

void Worker::writePtyPending()
{
    const qint64 written = writePty(m_ptyFd, m_ptyPending.constData(), m_ptyPending.size());
    if (written < 0)
        m_ptyPending.clear();
    else
        m_ptyPending.remove(0, written);
    if (m_ptyPending.isEmpty())
        m_ptyWriteNotifier->setEnabled(false);
}

void Worker::shutdown()
{
    // Everything made in this thread is deleted in this thread.
    const QObjectList owned = children();
    for (QObject *child : owned)
        delete child;
    m_server = nullptr;
    m_ptySession = nullptr;
    m_ptyReadNotifier = nullptr;
    m_ptyWriteNotifier = nullptr;
    m_ptyHangupTimer = nullptr;
    closePty(true);
    m_log.close();
}

} // namespace detail

struct Emulator::Private {
    detail::Shared shared;
    QThread thread;
    detail::Worker *worker = nullptr;

    // Runs `f` in the emulator's thread and waits for it.
    template <typename F> void inThread(F f) { QMetaObject::invokeMethod(worker, f, Qt::BlockingQueuedConnection); }
};

Emulator::Emulator(const Options &options) : d(std::make_unique<Private>())
{
    d->shared.options = options;
    d->worker = new detail::Worker(d->shared);
    d->worker->moveToThread(&d->thread);
    d->thread.setObjectName(QStringLiteral("qx7-emulator"));
    d->thread.start();
    d->inThread([w = d->worker] { w->options(); }); // opens the log before anything arrives
}

Emulator::~Emulator()
{
    d->inThread([w = d->worker] { w->shutdown(); });
    d->thread.quit();
    d->thread.wait();
    delete d->worker;
}

quint16 Emulator::listenTcp(quint16 port)
{
    quint16 result = 0;
    d->inThread([&] { result = d->worker->listenTcp(port); });
    return result;
}

QString Emulator::openPty(const QString &linkPath)
{
    QString result;
    d->inThread([&] { result = d->worker->openPty(linkPath); });
    return result;
}

void Emulator::endBlackHole()
{
    d->inThread([w = d->worker] { w->endBlackHole(); });
}

void Emulator::stopTcp()
{
    d->inThread([w = d->worker] { w->stopTcp(); });
}

void Emulator::closePty()
{
    d->inThread([w = d->worker] {
        if (w->logging())
            w->log("conn", "pseudo-terminal closed");
        w->closePty(false);
    });
}

void Emulator::setOptions(const Options &options)
{
    {
        QMutexLocker lock(&d->shared.mutex);
        d->shared.options = options;
        ++d->shared.optionsGeneration;
    }
    // Applied now (a new log file opens at once), not only with the next bytes.
    d->inThread([w = d->worker] { w->options(); });
}

Options Emulator::options() const
{
    QMutexLocker lock(&d->shared.mutex);
    return d->shared.options;
}

DeviceState Emulator::state() const
{
    QMutexLocker lock(&d->shared.mutex);
    return d->shared.state;
}

void Emulator::setState(const DeviceState &state)
{
    QMutexLocker lock(&d->shared.mutex);
    d->shared.state = state;
}

Bank Emulator::bank(int index) const
{
    if (index < 0 || index > 3)
        return {};
    QMutexLocker lock(&d->shared.mutex);
    return d->shared.banks[index];
}

QList<ReceivedCommand> Emulator::received() const
{
    QMutexLocker lock(&d->shared.mutex);
    return d->shared.received;
}

QStringList Emulator::commands() const
{
    QMutexLocker lock(&d->shared.mutex);
    QStringList texts;
    texts.reserve(d->shared.received.size());
    for (const ReceivedCommand &command : std::as_const(d->shared.received))
        texts.append(command.text);
    return texts;
}

void Emulator::clearReceived()
{
    QMutexLocker lock(&d->shared.mutex);
    d->shared.receivedDropped += d->shared.received.size();
    d->shared.received.clear();
}

int Emulator::packetsReceived() const
{
    QMutexLocker lock(&d->shared.mutex);
    return d->shared.packets;
}

int Emulator::connections() const
{
    QMutexLocker lock(&d->shared.mutex);
    return d->shared.connections;
}

qint64 Emulator::floodLines() const
{
    QMutexLocker lock(&d->shared.mutex);
    return d->shared.floodLines;
}

bool Emulator::flooding() const
{
    QMutexLocker lock(&d->shared.mutex);
    return d->shared.floods > 0;
}

bool Emulator::waitForCommands(int count, int timeoutMs) const
{
    QDeadlineTimer deadline(timeoutMs);
    QMutexLocker lock(&d->shared.mutex);
    while (d->shared.received.size() < count) {
        if (!d->shared.commandArrived.wait(&d->shared.mutex, deadline))
            return d->shared.received.size() >= count;
    }
    return true;
}

quint16 Emulator::tcpPort() const
{
    QMutexLocker lock(&d->shared.mutex);
    return d->shared.tcpPort;
}

QString Emulator::ptyPath() const
{
    QMutexLocker lock(&d->shared.mutex);
    return d->shared.ptyPath;
}

} // namespace qx7emu
