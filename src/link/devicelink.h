#pragma once
// The one link to the device: a serial port (MSComm1) or a TCP connection
// (Winsock1), chosen by ComPort (0 = TCP). OpenLink takes the link settings
// as they are at that moment and opens them; reopen opens the same again.
// Edits of the settings boxes in between change nothing here. The command
// exchange writes and reads through it.

#include "settings/settings.h"

#include <QByteArray>
#include <QObject>
#include <QSerialPort>
#include <QTcpSocket>
#include <QTimer>
#include <optional>

namespace qx {

// "baud,parity,data bits,stop bits", e.g. "115200,n,8,1".
struct SerialLineSettings {
    qint32 baud = 115200;
    QSerialPort::Parity parity = QSerialPort::NoParity;
    QSerialPort::DataBits dataBits = QSerialPort::Data8;
    QSerialPort::StopBits stopBits = QSerialPort::OneStop;
};
std::optional<SerialLineSettings> ParseSerialSettings(const QString &text);

// The device behind serial port number n: the entry "com<n>" of the program
// folder when there is one (usually a symbolic link to a device), otherwise
// the platform's own name for the port (COM<n> on Windows, /dev/ttyS<n-1> elsewhere).
QString SerialPortLocation(int n);

// Waits until the serial driver has sent what it holds; false when its queue
// stops shrinking for `stallMs`.
bool DrainSerialOutput(QSerialPort &port, int stallMs);
// Waits until the system's send queue of a connected socket is empty (every
// byte taken by the peer's side); false when it stops shrinking for `stallMs`.
// True at once where the platform cannot tell.
bool DrainTcpOutput(qintptr socket, int stallMs);

// How OpenLink ended. A TCP connection is made in the background, so Opened
// only says that the address could be used.
enum class LinkOpenResult { Opened, SerialFailed, TcpFailed };

class DeviceLink : public QObject {
    Q_OBJECT
public:
    // `settings` are the operator's settings; only OpenLink reads them.
    explicit DeviceLink(const LinkSettings &settings, QObject *parent = nullptr);

    // Applies the settings as they are now (a serial port number becomes the
    // device it names at this moment) and opens the link; the caller tells the
    // operator of a failure. Called at start-up and by the Reconnect button.
    LinkOpenResult OpenLink();
    // Opens again what the last OpenLink applied: the same channel, address
    // and serial device, whatever the settings boxes hold now.
    LinkOpenResult reopen();
    // What the last OpenLink tried, in words: "com1 → /dev/ttyS0" (the
    // entry and where it leads), or the address.
    QString attempted() const;
    // The settings the last OpenLink applied.
    const LinkSettings &applied() const { return m_applied; }

    // Writes bytes to the open link; false, and nothing is queued, when the
    // port is not open or the socket is not connected at this moment.
    bool write(const QByteArray &bytes);
    // The port is open, or the TCP connection is up, and not lost since.
    bool isConnected() const;
    // A TCP connection is being made.
    bool isConnecting() const;
    // Everything the serial port received since the last read ("" when closed).
    QByteArray readSerialInput();
    // Everything the socket holds (the data-arrival event's GetData).
    QByteArray readSocketData();

    // True once an open link has been lost (socket closed by the peer, serial
    // device gone) until the next OpenLink.
    bool linkLost() const { return m_lost; }
    // A write only queues the bytes; they leave when events run. Before a
    // blocking pause, a success or the end of the process this waits until
    // everything written has left (TCP: taken by the socket and by the peer's
    // side; serial: written to the port and drained). It gives up when nothing
    // leaves for `stallMs` and returns whether everything left.
    static constexpr int kDrainStallMs = 2000;
    bool flush(int stallMs = kDrainStallMs);
    // Bytes written but not yet taken by the socket or the port.
    qint64 pendingBytes() const;

    bool isTcp() const;
    QSerialPort &serialPort() { return m_serial; } // MSComm1
    const QSerialPort &serialPort() const { return m_serial; }
    QTcpSocket &tcpSocket() { return m_tcp; } // Winsock1

    // A device switched off without closing the connection is noticed without
    // any traffic of ours: the system probes an idle connection after this
    // many seconds, then every interval, and gives up after `count` probes.
    static constexpr int kKeepAliveIdleS = 3;
    static constexpr int kKeepAliveIntervalS = 2;
    static constexpr int kKeepAliveCount = 3;
    // A connection attempt that gets no answer at all (a device behind a
    // switch that is off drops it without a refusal) is abandoned after this
    // long rather than the system's own half minute, and counts as failed.
    static constexpr int kConnectTimeoutMs = 3000;
    void setConnectTimeout(int ms) { m_connectTimeoutMs = ms; } // tests shorten it

Q_SIGNALS:
    void serialDataArrived();
    void socketDataArrived();
    void lost();
    // The TCP connection is up, or could not be made (the reason in words).
    void connected();
    void connectFailed(const QString &reason);

private:
    void markLost();
    void onTcpConnected();
    void onTcpError();
    void onConnectTimeout();
    void abortQuietly(); // closes the socket without reporting a loss

    const LinkSettings &m_settings;
    LinkSettings m_applied;
    QString m_serialEntry; // serial: the program folder's com<n> entry or the platform's name
    QSerialPort m_serial;
    QTcpSocket m_tcp;
    bool m_lost = false;
    bool m_wasConnected = false; // the current TCP connection was up at some time
    bool m_opening = false;      // OpenLink is closing the old link itself
    QTimer m_connectTimer;       // runs while a connection attempt is unanswered
    int m_connectTimeoutMs = kConnectTimeoutMs;
};

// Shortens the system's keep-alive times of a connected socket; false where
// the platform does not let a program choose them (its defaults then apply).
bool SetKeepAliveTimes(qintptr socket, int idleS, int intervalS, int count);

} // namespace qx
