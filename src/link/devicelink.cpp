#include "devicelink.h"

#include "settings/settings.h"
#include "util/seams.h"
#include "util/textutil.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QHostAddress>
#include <QThread>

#if defined(Q_OS_UNIX)
#include <netinet/in.h>
#include <netinet/tcp.h>
#if defined(Q_OS_LINUX)
#include <linux/sockios.h>
#endif
#include <sys/ioctl.h>
#include <sys/socket.h>
#elif defined(Q_OS_WIN)
#include <windows.h>
#endif

namespace qx {

std::optional<SerialLineSettings> ParseSerialSettings(const QString &text)
{
    const QStringList parts = text.split(QLatin1Char(','));
    if (parts.size() != 4)
        return std::nullopt;
    SerialLineSettings s;
    const QString baud = TrimBlanks(parts[0]);
    bool ok = false;
    s.baud = baud.toInt(&ok);
    if (!ok || s.baud <= 0)
        return std::nullopt;
    const QString parity = TrimBlanks(parts[1]).toLower();
    if (parity == QLatin1String("n"))
        s.parity = QSerialPort::NoParity;
    else if (parity == QLatin1String("e"))
        s.parity = QSerialPort::EvenParity;
    else if (parity == QLatin1String("o"))
        s.parity = QSerialPort::OddParity;
    else if (parity == QLatin1String("m"))
        s.parity = QSerialPort::MarkParity;
    else if (parity == QLatin1String("s"))
        s.parity = QSerialPort::SpaceParity;
    else
        return std::nullopt;
    const QString data = TrimBlanks(parts[2]);
    if (data == QLatin1String("5"))
        s.dataBits = QSerialPort::Data5;
    else if (data == QLatin1String("6"))
        s.dataBits = QSerialPort::Data6;
    else if (data == QLatin1String("7"))
        s.dataBits = QSerialPort::Data7;
    else if (data == QLatin1String("8"))
        s.dataBits = QSerialPort::Data8;
    else
        return std::nullopt;
    const QString stop = TrimBlanks(parts[3]);
    if (stop == QLatin1String("1"))
        s.stopBits = QSerialPort::OneStop;
    else if (stop == QLatin1String("1.5"))
        s.stopBits = QSerialPort::OneAndHalfStop;
    else if (stop == QLatin1String("2"))
        s.stopBits = QSerialPort::TwoStop;
    else
        return std::nullopt;
    return s;
}

#if defined(Q_OS_UNIX) && (defined(TIOCOUTQ) || defined(SIOCOUTQ))
// Waits until a kernel queue of the descriptor (asked for with `request`) is
// empty, as long as it keeps shrinking: a port held by flow control or a peer
// that stops reading must not hang the program.
static bool WaitQueueEmpty(int fd, unsigned long request, int stallMs)
{
    QElapsedTimer sinceProgress;
    sinceProgress.start();
    int last = -1;
    for (;;) {
        int queued = 0;
        if (fd < 0 || ::ioctl(fd, request, &queued) != 0 || queued <= 0)
            return true;
        if (queued != last) {
            last = queued;
            sinceProgress.restart();
        } else if (sinceProgress.elapsed() >= stallMs) {
            return false;
        }
        QThread::msleep(1);
    }
}
#endif

bool DrainSerialOutput(QSerialPort &port, int stallMs)
{
#if defined(Q_OS_UNIX) && defined(TIOCOUTQ)
    // The driver's output queue.
    return WaitQueueEmpty(int(port.handle()), TIOCOUTQ, stallMs);
#elif defined(Q_OS_WIN)
    Q_UNUSED(stallMs);
    return ::FlushFileBuffers(port.handle()) != 0;
#else
    Q_UNUSED(port);
    Q_UNUSED(stallMs);
    return true;
#endif
}

bool DrainTcpOutput(qintptr socket, int stallMs)
{
#if defined(Q_OS_LINUX) && defined(SIOCOUTQ)
    // The queue holds what was not yet sent and what the peer did not yet
    // acknowledge; a peer that stops reading keeps it from shrinking.
    return WaitQueueEmpty(int(socket), SIOCOUTQ, stallMs);
#else
    Q_UNUSED(socket);
    Q_UNUSED(stallMs);
    return true;
#endif
}

bool SetKeepAliveTimes(qintptr socket, int idleS, int intervalS, int count)
{
#if defined(Q_OS_LINUX)
    const int fd = int(socket);
    // Unacknowledged data would otherwise hold the connection for many minutes
    // of retransmissions, during which no keep-alive probe is sent.
    const unsigned userTimeoutMs = unsigned((idleS + intervalS * count) * 1000);
    return ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idleS, sizeof idleS) == 0 &&
           ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &intervalS, sizeof intervalS) == 0 &&
           ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &count, sizeof count) == 0 &&
           ::setsockopt(fd, IPPROTO_TCP, TCP_USER_TIMEOUT, &userTimeoutMs, sizeof userTimeoutMs) == 0;
#else
    Q_UNUSED(socket);
    Q_UNUSED(idleS);
    Q_UNUSED(intervalS);
    Q_UNUSED(count);
    return false;
#endif
}

namespace {

// The program folder's com<n> entry when there is one, else the platform's
// name for the port.
QString SerialPortEntry(int n)
{
    const QString mapped = JoinPath(ProgramFolder(), QStringLiteral("com%1").arg(n));
    const QFileInfo info(mapped);
    if (info.isSymLink() || info.exists())
        return mapped;
#ifdef Q_OS_WIN
    return QStringLiteral("COM%1").arg(n);
#else
    return QStringLiteral("/dev/ttyS%1").arg(n - 1);
#endif
}

// The device an entry leads to now; an entry that leads nowhere stays itself
// (and fails to open).
QString FollowEntry(const QString &entry)
{
    const QString target = QFileInfo(entry).canonicalFilePath();
    return target.isEmpty() ? entry : target;
}

} // namespace

QString SerialPortLocation(int n)
{
    return FollowEntry(SerialPortEntry(n));
}

DeviceLink::DeviceLink(const LinkSettings &settings, QObject *parent) : QObject(parent), m_settings(settings)
{
    connect(&m_serial, &QSerialPort::readyRead, this, &DeviceLink::serialDataArrived);
    connect(&m_tcp, &QTcpSocket::readyRead, this, &DeviceLink::socketDataArrived);
    connect(&m_tcp, &QTcpSocket::disconnected, this, &DeviceLink::markLost);
    connect(&m_tcp, &QTcpSocket::connected, this, &DeviceLink::onTcpConnected);
    connect(&m_tcp, &QTcpSocket::errorOccurred, this, &DeviceLink::onTcpError);
    connect(&m_serial, &QSerialPort::errorOccurred, this, [this](QSerialPort::SerialPortError e) {
        // A device unplugged shows as a resource error or, when the system
        // reports it as a failed read (a pseudo-terminal's other side closed), as a read error.
        if ((e == QSerialPort::ResourceError || e == QSerialPort::ReadError) && m_serial.isOpen())
            markLost();
    });
    m_connectTimer.setSingleShot(true);
    connect(&m_connectTimer, &QTimer::timeout, this, &DeviceLink::onConnectTimeout);
}

QString DeviceLink::attempted() const
{
    if (isTcp())
        return m_applied.TcpSettings;
    const QFileInfo entry(m_serialEntry);
    const QString target = entry.isSymLink() ? entry.symLinkTarget() : m_serialEntry;
    return QStringLiteral("com%1 \u2192 %2").arg(m_applied.ComPort).arg(QDir::toNativeSeparators(target));
}

bool DeviceLink::isTcp() const
{
    return m_applied.ComPort == 0;
}

bool DeviceLink::isConnected() const
{
    if (m_lost)
        return false;
    return isTcp() ? m_tcp.state() == QAbstractSocket::ConnectedState : m_serial.isOpen();
}

bool DeviceLink::isConnecting() const
{
    return isTcp() &&
           (m_tcp.state() == QAbstractSocket::HostLookupState || m_tcp.state() == QAbstractSocket::ConnectingState);
}

void DeviceLink::abortQuietly()
{
    m_connectTimer.stop();
    m_opening = true;
    m_tcp.abort();
    m_opening = false;
}

void DeviceLink::onConnectTimeout()
{
    if (!isConnecting())
        return;
    abortQuietly();
    Q_EMIT connectFailed(QStringLiteral("no answer"));
}

void DeviceLink::onTcpConnected()
{
    m_connectTimer.stop();
    m_wasConnected = true;
    m_tcp.setSocketOption(QAbstractSocket::KeepAliveOption, 1);
    SetKeepAliveTimes(m_tcp.socketDescriptor(), kKeepAliveIdleS, kKeepAliveIntervalS, kKeepAliveCount);
    Q_EMIT connected();
}

void DeviceLink::onTcpError()
{
    if (m_opening)
        return;
    m_connectTimer.stop();
    // A connection that was up and failed (the keep-alive gave up, the peer
    // reset it) is lost; one that never came up failed to connect.
    if (m_wasConnected)
        markLost();
    else if (m_tcp.state() != QAbstractSocket::ConnectedState)
        Q_EMIT connectFailed(m_tcp.errorString());
}

void DeviceLink::markLost()
{
    if (m_lost || m_opening)
        return;
    m_lost = true;
    Q_EMIT lost();
}

LinkOpenResult DeviceLink::OpenLink()
{
    const bool wasTcp = isTcp();
    m_applied = m_settings;
    if (!isTcp())
        m_serialEntry = SerialPortEntry(m_applied.ComPort);
    // The channel left behind is closed, so nothing more arrives on it.
    if (isTcp() && !wasTcp)
        m_serial.close();
    if (!isTcp() && wasTcp)
        abortQuietly();
    return reopen();
}

LinkOpenResult DeviceLink::reopen()
{
    m_lost = false;
    const LinkSettings &s = m_applied;
    if (s.ComPort != 0) {
        if (m_serial.isOpen())
            m_serial.close();
        bool failed = false;
        const auto line = ParseSerialSettings(s.ComPortSettings);
        if (!line) {
            failed = true;
        } else {
            m_serial.setPortName(FollowEntry(m_serialEntry));
            failed = !m_serial.open(QIODevice::ReadWrite);
            if (!failed) {
                failed = !(m_serial.setBaudRate(line->baud) && m_serial.setParity(line->parity) &&
                           m_serial.setDataBits(line->dataBits) && m_serial.setStopBits(line->stopBits));
                if (failed)
                    m_serial.close();
            }
        }
        return failed ? LinkOpenResult::SerialFailed : LinkOpenResult::Opened;
    }

    // TCP: the connection itself is made in the background; only an address
    // or port that cannot be used is a failure here.
    abortQuietly(); // closing the old connection is no loss
    m_wasConnected = false;
    QString rest = s.TcpSettings;
    QString host;
    SplitFirst(rest, host, QStringLiteral(":"));
    const QString portText = rest;
    const auto port = ToInteger(portText);
    const QString hostName = TrimBlanks(host);
    if (!port || *port < 1 || *port > 65535 || hostName.isEmpty())
        return LinkOpenResult::TcpFailed;
    m_tcp.connectToHost(hostName, quint16(*port));
    if (isConnecting())
        m_connectTimer.start(m_connectTimeoutMs);
    return LinkOpenResult::Opened;
}

bool DeviceLink::write(const QByteArray &bytes)
{
    // A socket still connecting would keep the bytes and send them whenever
    // the connection comes up: long after the operator asked for them.
    if (!isConnected())
        return false;
    QIODevice &channel = isTcp() ? static_cast<QIODevice &>(m_tcp) : m_serial;
    return channel.write(bytes) == bytes.size();
}

QByteArray DeviceLink::readSerialInput()
{
    return m_serial.isOpen() ? m_serial.readAll() : QByteArray();
}

QByteArray DeviceLink::readSocketData()
{
    return m_tcp.readAll();
}

qint64 DeviceLink::pendingBytes() const
{
    if (isTcp())
        return m_tcp.bytesToWrite();
    return m_serial.isOpen() ? m_serial.bytesToWrite() : 0;
}

bool DeviceLink::flush(int stallMs)
{
    if (isTcp()) {
        // Each round waits for some bytes to be taken; a peer that stops
        // reading leaves the socket full and ends the wait after stallMs.
        while (m_tcp.bytesToWrite() > 0) {
            if (m_tcp.state() != QAbstractSocket::ConnectedState || !m_tcp.waitForBytesWritten(stallMs))
                return false;
        }
        return m_tcp.state() != QAbstractSocket::ConnectedState || DrainTcpOutput(m_tcp.socketDescriptor(), stallMs);
    }
    if (!m_serial.isOpen())
        return true; // nothing can have been queued
    while (m_serial.bytesToWrite() > 0) {
        if (!m_serial.waitForBytesWritten(stallMs))
            return false;
    }
    return DrainSerialOutput(m_serial, stallMs);
}

} // namespace qx
