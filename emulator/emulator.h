#pragma once
// The QX-7 stand-in: a device that answers the application's command set over
// TCP (127.0.0.1 only) and/or a pseudo-terminal, keeps the state of its four
// windows, background, presets and image banks, receives bank uploads packet by
// packet, and can misbehave on purpose (fault options) so that the
// application's handling of a bad device can be tested.
//
// An Emulator runs in its own thread, so a test or a benchmark can talk to it
// with blocking calls from the main thread. Every accessor is thread-safe.

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>
#include <memory>

class QImage;

namespace qx7emu {

struct Options {
    QString version = QStringLiteral("2.12.0005"); // answered to "#VERSION?"
    bool silent = false;                           // never answers anything
    int replyDelayMs = 0;                          // every reply is sent this much later
    int noise = 0;                                 // unsolicited lines sent before every reply
    bool fragment = false;                         // replies go out in small pieces with short pauses
    int dropAck = 0;                               // packet number that is never answered (0: none)
    int disconnectAfterPackets = 0;                // closes the connection after this many packets (0: never)
    int dropAfterCommands = 0;                     // closes the connection after this many commands of it, answered
                                                   // first (0: never); the pseudo-terminal stops answering instead
    bool closeOnAccept = false;                    // every TCP connection is closed the moment it is accepted
    bool blackHole = false;   // listenTcp keeps its queue full and accepts nothing: connection attempts
                              // get no answer at all, not even a refusal (a device behind a switch that
                              // is off), until endBlackHole
    bool noLdimReply = false; // "#LDIM" is accepted but not answered
    int garbage = 0;          // bytes of junk (NUL, FF, LF, CR among them) before every reply
    bool streamNoEol = false; // after the first command, text without line ends until disconnected
    bool flood = false;       // after the first command, complete lines ("~01@FLOOD n") as fast as the
                              // link takes them, commands still answered between them
    int floodSeconds = 0;     // the flood ends after this many seconds (0: never)
    int floodRate = 0;        // flood lines per second (0: as fast as the link takes them)
    int deafAfterPackets = 0; // after this many packets the connection is no longer read, but
                              // "~01@ OK" goes out every millisecond (0: never)
    QString logFile;          // every command, packet header and reply, time-stamped
    QString dumpBanksDir;     // each completed bank as bankN.bin and bankN.png
    // Read commands answered with a given text instead of the state, for
    // readings a real device may send but the state cannot hold: "#Y 1,302,1"
    // mapped to "2" is answered "~01@Y 1,302,2"; one mapped to "" is never answered.
    QHash<QByteArray, QByteArray> readings;
};

struct WindowState {
    bool enabled = false;
    int input = 0; // 0..15
    int bank = 0;  // 0 = live input, 1..4
};

struct DeviceState {
    WindowState windows[4];
    int backgroundBank = 0; // 0 = live DVI input, 1..4
    int fullScreen = 0;     // parameter 201
    int param204 = 0;
};

struct Bank {
    int width = 0;
    int height = 0;
    QByteArray data; // the whole bank image as uploaded (header included)
    bool complete = false;
};

struct ReceivedCommand {
    QString text;   // the command as received, without its terminator bytes
    QByteArray raw; // the command with its terminator bytes (CR, then LF and NUL when sent)
};

class Emulator {
public:
    explicit Emulator(const Options &options = {});
    ~Emulator();
    Emulator(const Emulator &) = delete;
    Emulator &operator=(const Emulator &) = delete;

    // Listens on 127.0.0.1; port 0 picks a free one. Returns the port (0 on failure).
    quint16 listenTcp(quint16 port = 0);
    // Creates a pseudo-terminal and returns its device path ("" on failure);
    // with `linkPath`, also makes a symbolic link of that name to it.
    QString openPty(const QString &linkPath = QString());
    // The device switched off: stops listening and closes every TCP connection.
    // listenTcp(port) with the same port switches it on again.
    void stopTcp();
    // The serial device unplugged: closes the pseudo-terminal; its links stay
    // and lead nowhere. openPty makes a new one (with a new device path).
    void closePty();
    // The device behind the black hole comes back: the listener accepts again.
    void endBlackHole();

    void setOptions(const Options &options);
    Options options() const;

    DeviceState state() const;
    void setState(const DeviceState &state);
    Bank bank(int index) const; // index 0..3

    QList<ReceivedCommand> received() const; // every command, in order (packets not included)
    QStringList commands() const;            // the texts of received()
    void clearReceived();
    int packetsReceived() const; // data packets accepted or answered since start
    int connections() const;     // TCP connections accepted since start
    qint64 floodLines() const;   // lines sent by the flood option since start
    bool flooding() const;       // a flood is running

    // Blocks until at least `count` commands have been received (true) or the time is up.
    bool waitForCommands(int count, int timeoutMs) const;

    quint16 tcpPort() const; // 0 when not listening
    QString ptyPath() const; // "" when no pseudo-terminal is open

private:
    struct Private;
    std::unique_ptr<Private> d;
};

// The layout stored in preset `preset` (1..16), as a recall applies it: window w
// (0..3) is enabled when bit w of the preset number is set (preset 16: all four)
// and shows input (preset - 1 + w) mod 16 without a bank; the background shows
// bank (preset - 1) mod 5; full screen is off. A recall keeps parameter 204
// (0 in the returned state).
DeviceState presetLayout(int preset);

// The largest bank image the device takes (1920 x 1200 pixels).
constexpr qint64 kMaxBankImageBytes = 2LL * 1920 * 1200 + 8;

// Checks a bank image's header: marker A5, three zero bytes, width and height
// (little-endian), and a total size of 2 * width * height + 8 bytes.
bool parseBankHeader(const QByteArray &image, int *width = nullptr, int *height = nullptr);

// The bank image converted back to RGB (inverse BT.601, studio range; both
// pixels of a pair share its Cb and Cr). A null image when the header is bad.
QImage bankToRgbImage(const QByteArray &image);

} // namespace qx7emu
