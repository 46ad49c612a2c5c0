#pragma once
// The one link to the device: a serial port (MSComm1) or a TCP connection
// (Winsock1), chosen by ComPort (0 = TCP). OpenLink (re)opens it from the
// link settings; the command exchange writes and reads through it.

#include <QByteArray>
#include <QObject>
#include <QSerialPort>
#include <QTcpSocket>
#include <optional>

namespace qx {

struct LinkSettings;

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

// How OpenLink ended. A TCP connection is made in the background, so Opened
// only says that the address could be used.
enum class LinkOpenResult { Opened, SerialFailed, TcpFailed };

class DeviceLink : public QObject {
    Q_OBJECT
public:
    // The settings are read at every OpenLink and write (ComPort chooses the channel).
    explicit DeviceLink(const LinkSettings &settings, QObject *parent = nullptr);

    // Opens the link from the settings; the caller tells the operator of a
    // failure. Called at start-up and by the Reconnect button.
    LinkOpenResult OpenLink();

    // Writes bytes to the link chosen by ComPort; fails silently when closed.
    void write(const QByteArray &bytes);
    // Everything the serial port received since the last read ("" when closed).
    QByteArray readSerialInput();
    // Everything the socket holds (the data-arrival event's GetData).
    QByteArray readSocketData();

    // True once an open link has been lost (socket closed by the peer, serial
    // device gone) until the next OpenLink.
    bool linkLost() const { return m_lost; }
    // A write only queues the bytes; they leave when events run. Before a
    // blocking pause or the end of the process this waits until everything
    // written has left the process (TCP: taken by the socket; serial: written
    // to the port and drained). It gives up when nothing leaves for `stallMs`
    // and returns whether everything left.
    static constexpr int kDrainStallMs = 2000;
    bool flush(int stallMs = kDrainStallMs);
    // Bytes written but not yet taken by the socket or the port.
    qint64 pendingBytes() const;

    bool isTcp() const;
    QSerialPort &serialPort() { return m_serial; }   // MSComm1
    QTcpSocket &tcpSocket() { return m_tcp; }        // Winsock1

    // A device switched off without closing the connection is noticed without
    // any traffic of ours: the system probes an idle connection after this
    // many seconds, then every interval, and gives up after `count` probes.
    static constexpr int kKeepAliveIdleS = 3;
    static constexpr int kKeepAliveIntervalS = 2;
    static constexpr int kKeepAliveCount = 3;

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

    const LinkSettings &m_settings;
    QSerialPort m_serial;
    QTcpSocket m_tcp;
    bool m_lost = false;
    bool m_wasConnected = false; // the current TCP connection was up at some time
    bool m_opening = false;      // OpenLink is closing the old link itself
};

// Shortens the system's keep-alive times of a connected socket; false where
// the platform does not let a program choose them (its defaults then apply).
bool SetKeepAliveTimes(qintptr socket, int idleS, int intervalS, int count);

} // namespace qx
