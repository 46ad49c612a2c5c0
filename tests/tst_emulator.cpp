// The stand-in device: its command table, the bank upload and its packet
// checks, the fault options, both transports and the program itself.

#include "emulator.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <arpa/inet.h>
#include <csignal>
#include <fcntl.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

using namespace qx7emu;
Q_DECLARE_METATYPE(qx7emu::Options)

namespace {

constexpr int kWaitMs = 5000;
const QByteArray kErr = "~01@ERR"; // in an expected reply list: any error line
const QByteArray kOk = "~01@ OK";
const QByteArray kVersion = "~01@VERSION 2.12.0005";

// A literal with all its NUL bytes.
template <int N> QByteArray bytes(const char (&text)[N])
{
    return QByteArray(text, N - 1);
}

// Options with one field changed.
template <class T> Options opt(T Options::*field, const T &value, Options o = {})
{
    o.*field = value;
    return o;
}

// A blocking client on TCP or on the slave side of the emulator's pseudo-terminal (opened as a serial port).
struct Client {
    int fd = -1;
    QByteArray buffer;
    bool closed = false; // the device closed the connection
    ~Client() { close(); }
    bool connectTcp(quint16 port)
    {
        std::signal(SIGPIPE, SIG_IGN);
        sockaddr_in a{AF_INET, htons(port), {htonl(INADDR_LOOPBACK)}, {}};
        const int one = 1;
        fd = ::socket(AF_INET, SOCK_STREAM, 0);
        return setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one) == 0 &&
               ::connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0;
    }
    bool openPty(const QString &path)
    {
        fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY);
        termios mode{};
        if (fd < 0 || tcgetattr(fd, &mode) != 0)
            return false;
        cfmakeraw(&mode);
        return tcsetattr(fd, TCSANOW, &mode) == 0;
    }
    void close() { ::close(std::exchange(fd, -1)); }
    void send(const QByteArray &bytes)
    {
        for (qint64 done = 0, n = 0; done < bytes.size(); done += n)
            if ((n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done))) <= 0)
                return;
    }
    // Appends what comes within ms to buffer; false when nothing came.
    bool fill(int ms)
    {
        pollfd p{fd, POLLIN, 0};
        char chunk[4096];
        const ssize_t n = ::poll(&p, 1, ms) > 0 ? ::read(fd, chunk, sizeof chunk) : -1;
        closed = closed || n == 0;
        if (n > 0)
            buffer.append(chunk, int(n));
        return n > 0;
    }
    bool fillTo(qsizetype size)
    {
        while (buffer.size() < size && fill(kWaitMs))
            ;
        return buffer.size() >= size;
    }
    // The next line without its CR LF; a null array when none came in time.
    QByteArray readLine()
    {
        QDeadlineTimer deadline(kWaitMs);
        while (!buffer.contains("\r\n"))
            if (!fill(int(qMax<qint64>(1, deadline.remainingTime()))))
                return {};
        const QByteArray line = buffer.left(buffer.indexOf("\r\n"));
        buffer.remove(0, line.size() + 2);
        return line;
    }
    QByteArrayList readLines(int count)
    {
        QByteArrayList lines;
        while (lines.size() < count)
            lines << readLine();
        return lines;
    }
    QByteArray exchange(const QByteArray &command)
    {
        send(command);
        return readLine();
    }
};

struct Rig {
    explicit Rig(const Options &options = {}) : emu(options) {}
    bool open() { return client.connectTcp(emu.listenTcp()); }
    Emulator emu;
    Client client;
};

// A bank image of w x h pixels; the pixel bytes are letters, so they never hold '#' or CR.
QByteArray bankImage(int w, int h, char marker = '\xA5')
{
    QByteArray image(8 + 2 * w * h, '\0');
    for (int i = 8; i < image.size(); ++i)
        image[i] = char('A' + i % 26);
    const char header[8] = {marker, 0, 0, 0, char(w), char(w >> 8), char(h), char(h >> 8)};
    return image.replace(0, 8, QByteArray(header, 8));
}

QByteArray packet(int n, const QByteArray &data, int length = -1, const QByteArray &trailer = QByteArray(2, '\0'))
{
    length = length < 0 ? int(data.size()) + 2 : length;
    const char header[4] = {char(n >> 8), char(n), char(length >> 8), char(length)};
    return QByteArray(header, 4) + data + trailer;
}

QByteArray allPackets(const QByteArray &image)
{
    QByteArray stream;
    for (int n = 1, at = 0; at < image.size(); ++n, at += 144)
        stream += packet(n, image.mid(at, 144));
    return stream;
}

// The announcement of an image, or with `reply` the device's answer to it.
QByteArray ldim(const QByteArray &image, int bank, bool reply = false)
{
    const QByteArray args = QByteArray::number(image.size()) + ',' + QByteArray::number(bank);
    return reply ? "~01@LDIM " + args : "#LDIM " + args + bytes("\r\n\0");
}

QString describe(const DeviceState &s)
{
    QString text;
    for (const WindowState &w : s.windows)
        text += QStringLiteral("[%1 %2 %3]").arg(w.enabled).arg(w.input).arg(w.bank);
    return text + QStringLiteral(" bg %1 fs %2 p204 %3").arg(s.backgroundBank).arg(s.fullScreen).arg(s.param204);
}

} // namespace

class TestEmulator : public QObject {
    Q_OBJECT

private slots:
    void conversation_data();
    void conversation();
    void presetRecall();
    void terminatorsAndSplitting();
    void silent();
    void fragment();
    void disconnects();
    void garbage_data();
    void garbage();
    void streamNoEol();
    void ptyAndLink();
    void bankToRgb_data();
    void bankToRgb();
    void logAndDump();
    void program();
};

void TestEmulator::conversation_data()
{
    QTest::addColumn<Options>("options");
    QTest::addColumn<QByteArray>("stream"); // sent at once, or in pieces of `chunk` bytes
    QTest::addColumn<int>("chunk");
    QTest::addColumn<QByteArrayList>("replies");
    QTest::addColumn<int>("bank"); // the one bank left complete, holding `image` (-1: none)
    QTest::addColumn<QByteArray>("image");
    const auto row = [](const char *name, const QByteArray &stream, const QByteArrayList &replies,
                        const Options &o = {}, int bank = -1, const QByteArray &image = {},
                        int chunk = 0) { QTest::newRow(name) << o << stream << chunk << replies << bank << image; };
    // A command and its reply, then a read-back, or a sync showing the device still answers.
    const auto cmd = [&](const char *name, const QByteArray &command, const QByteArray &reply,
                         const QByteArray &next = "# \r", const QByteArray &nextReply = kOk) {
        row(name, command + next, {reply, nextReply});
    };
    // A bank upload into bank 2, then a command.
    const auto load = [&](const char *name, const QByteArray &image, int chunk, const Options &o = {}) {
        QByteArrayList replies;
        if (!o.noLdimReply)
            replies << ldim(image, 2, true);
        for (int n = 1; n <= (image.size() + 143) / 144; ++n)
            if (n != o.dropAck)
                replies << "~01@ACK " + QByteArray::number(n);
        row(name, ldim(image, 2) + allPackets(image) + "#VERSION?\r", replies << kVersion, o, 2, image, chunk);
    };
    // A faulty packet stream after an announcement into bank 0; reception is abandoned.
    const auto fault = [&](const char *name, const QByteArray &image, const QByteArray &stream,
                           const QByteArrayList &replies) {
        row(name, ldim(image, 0) + stream + "#VERSION?\r", QByteArrayList{ldim(image, 0, true)} + replies << kVersion);
    };

    // The device starts as [1 3 0][0 7 2][1 2 0][0 15 4], background bank 3, full screen on.
    cmd("sync", "# \r", kOk);
    cmd("version, lower case", "#version?\r", kVersion);
    cmd("write input", "#Y 0,300,9,2\r", "~01@Y 0,300,9,2", "#Y 1,300,2\r", "~01@Y 1,300,9,2");
    cmd("enable", "#Y 0,302,1,3\r", "~01@Y 0,302,1,3", "#Y 1,302,3\r", "~01@Y 1,302,1,3");
    cmd("disable", "#Y 0,302,0,0\r", "~01@Y 0,302,0,0", "#Y 1,302,0\r", "~01@Y 1,302,0,0");
    cmd("window bank", "#Y 0,337,4,0\r", "~01@Y 0,337,4,0", "#Y 1,338,0\r", "~01@Y 1,338,4,0");
    cmd("background bank", "#Y 0,337,0,4\r", "~01@Y 0,337,0,4", "#Y 1,338,4\r", "~01@Y 1,338,0,4");
    cmd("full screen off", "#Y 0,201,0\r", "~01@Y 0,201,0", "#Y 1,201\r", "~01@Y 1,201,0");
    cmd("write 204", "#Y 0,204,1\r", "~01@Y 0,204,1");
    cmd("preset 16", "#PRST-RCL 16\r\n", "~01@PRST-RCL 16");
    cmd("preset, lower case", "#prst-rcl 5\r\n", "~01@PRST-RCL 5");
    cmd("unknown command", "#FOO\r", kErr);
    cmd("sync with text", "# X\r", kErr);
    cmd("version with text", "#VERSION? 2\r", kErr);
    cmd("read input of window 4", "#Y 1,300,4\r", kErr);
    cmd("read bank of window 5", "#Y 1,338,5\r", kErr);
    cmd("read without window", "#Y 1,300\r", kErr);
    cmd("read, letter for window", "#Y 1,300,x\r", kErr);
    cmd("access 2", "#Y 2,300,1\r", kErr);
    cmd("unknown parameter", "#Y 1,999,0\r", kErr);
    cmd("338 is not written", "#Y 0,338,1,0\r", kErr);
    cmd("input 16 refused", "#Y 0,300,16,2\r", kErr, "#Y 1,300,2\r", "~01@Y 1,300,2,2");
    cmd("input of window 4 refused", "#Y 0,300,5,4\r", kErr, "#Y 1,300,3\r", "~01@Y 1,300,15,3");
    cmd("bank 5 refused", "#Y 0,337,5,4\r", kErr, "#Y 1,338,4\r", "~01@Y 1,338,3,4");
    cmd("enable value 2", "#Y 0,302,2,0\r", kErr);
    cmd("full screen 2", "#Y 0,201,2\r", kErr);
    cmd("write without window", "#Y 0,300,4\r", kErr);
    cmd("preset 0", "#PRST-RCL 0\r\n", kErr);
    cmd("preset 17", "#PRST-RCL 17\r\n", kErr);
    cmd("preset without number", "#PRST-RCL\r\n", kErr);
    cmd("image below header size", bytes("#LDIM 7,0\r\n\0"), kErr);
    cmd("image too large", bytes("#LDIM 4608009,0\r\n\0"), kErr);
    cmd("bank index 4", bytes("#LDIM 12,4\r\n\0"), kErr);
    cmd("load without bank", bytes("#LDIM 12\r\n\0"), kErr);
    cmd("overlong command", "#Y " + QByteArray(300, '1') + '\r', kErr);
    row("noise and delay", "#VERSION?\r# \r",
        {"~01@NOISE 1", "~01@NOISE 2", kVersion, "~01@NOISE 3", "~01@NOISE 4", kOk},
        opt(&Options::noise, 2, opt(&Options::replyDelayMs, 30)));

    const QByteArray small = bankImage(2, 1), larger = bankImage(16, 10), ack1 = "~01@ACK 1";
    load("2x1, one packet", small, 0);
    load("16x10, byte by byte", larger, 1);
    load("16x10, pieces across packet borders", larger, 7);
    load("14x10, exactly two full packets", bankImage(14, 10), 0);
    load("header only, width 0", bankImage(0, 1), 0);
    load("acknowledgement 2 dropped", larger, 0, opt(&Options::dropAck, 2));
    load("announcement not answered", small, 0, opt(&Options::noLdimReply, true));

    fault("first packet numbered 2", small, packet(2, small), {kErr});
    fault("packet 1 twice", larger, packet(1, larger.left(144)) + packet(1, larger.mid(144, 144)), {ack1, kErr});
    fault("length field above 146", small, packet(1, small, 200), {kErr});
    fault("length field 2, no data", small, packet(1, QByteArray(), 2), {kErr});
    fault("trailer not zero", small, packet(1, small, -1, bytes("\0\1")), {kErr});
    fault("more data than announced", small, packet(1, small + "AB"), {kErr});
    const QByteArray padded = small + QByteArray(138, 'A');
    fault("second packet too long", padded, packet(1, padded.left(144)) + packet(2, QByteArray(8, 'A')), {ack1, kErr});
    fault("bad marker", bankImage(2, 1, 0x5A), packet(1, bankImage(2, 1, 0x5A)), {kErr});
    fault("a command instead of a packet", small, "# \r", {kErr, kOk});
    fault("a command after a packet", larger, packet(1, larger.left(144)) + "#y 1,201\r",
          {ack1, kErr, "~01@Y 1,201,1"});
    const QByteArray wrongSize = bankImage(4, 1).left(12); // says 4 x 1, which would be 16 bytes
    fault("size does not match the header", wrongSize, packet(1, wrongSize), {kErr});
}

void TestEmulator::conversation()
{
    QFETCH(Options, options);
    QFETCH(QByteArray, stream);
    QFETCH(int, chunk);
    QFETCH(QByteArrayList, replies);
    QFETCH(int, bank);
    QFETCH(QByteArray, image);
    Rig r(options);
    r.emu.setState({{{true, 3, 0}, {false, 7, 2}, {true, 2, 0}, {false, 15, 4}}, 3, 1});
    QVERIFY(r.open());
    for (int at = 0, step = chunk ? chunk : int(stream.size()); at < stream.size(); at += step)
        r.client.send(stream.mid(at, step));
    for (const QByteArray &expected : replies) {
        const QByteArray line = r.client.readLine();
        QVERIFY2(expected == kErr ? line.startsWith(kErr) : line == expected, line.constData());
    }
    for (int b = 0; b < 4; ++b)
        QCOMPARE(r.emu.bank(b).complete, b == bank);
    if (bank >= 0) {
        const Bank stored = r.emu.bank(bank);
        QCOMPARE(stored.data, image);
        QCOMPARE(QSize(stored.width, stored.height), QSize(image[4], image[6]));
        QCOMPARE(r.emu.packetsReceived(), int(image.size() + 143) / 144);
    }
}

void TestEmulator::presetRecall()
{
    Rig r;
    QVERIFY(r.open());
    QCOMPARE(r.client.exchange("#Y 0,204,1\r"), QByteArray("~01@Y 0,204,1"));
    for (int n = 1; n <= 16; ++n) {
        const QByteArray number = QByteArray::number(n);
        QCOMPARE(r.client.exchange("#PRST-RCL " + number + "\r\n"), "~01@PRST-RCL " + number);
        DeviceState expected = presetLayout(n);
        expected.param204 = 1; // a recall leaves parameter 204 alone
        QCOMPARE(describe(r.emu.state()), describe(expected));
    }
    QCOMPARE(describe(presetLayout(5)), QStringLiteral("[1 4 0][0 5 0][1 6 0][0 7 0] bg 4 fs 0 p204 0"));
    QCOMPARE(r.client.exchange("#Y 1,300,1\r"), QByteArray("~01@Y 1,300,0,1")); // preset 16, window 2
}

void TestEmulator::terminatorsAndSplitting()
{
    Rig r;
    QVERIFY(r.open());
    // Junk before a '#' is dropped; three kinds of ending; a command split over writes is answered at its CR.
    r.client.send(bytes("junk\r\n\0# \r\n\0#Y 1,300,0\r#PRST-RCL 3\r\n#VERS"));
    r.client.send("ION?\r");
    QCOMPARE(r.client.readLines(4), (QByteArrayList{kOk, "~01@Y 1,300,0,0", "~01@PRST-RCL 3", kVersion}));
    r.client.send("\n"); // its LF and NUL arrive late
    r.client.send(bytes("\0"));
    QCOMPARE(r.client.exchange("# \r"), kOk);

    QCOMPARE(r.emu.commands(), (QStringList{"# ", "#Y 1,300,0", "#PRST-RCL 3", "#VERSION?", "# "}));
    QByteArrayList raws;
    for (const ReceivedCommand &c : r.emu.received())
        raws << c.raw;
    QCOMPARE(raws,
             (QByteArrayList{bytes("# \r\n\0"), "#Y 1,300,0\r", "#PRST-RCL 3\r\n", bytes("#VERSION?\r\n\0"), "# \r"}));
}

void TestEmulator::silent()
{
    Rig r(opt(&Options::silent, true));
    QVERIFY(r.open());
    r.client.send("#VERSION?\r#Y 0,300,5,0\r# \r");
    QVERIFY(r.emu.waitForCommands(3, kWaitMs));  // the first two are fully handled once the third arrives
    QCOMPARE(r.emu.state().windows[0].input, 5); // still obeys
    r.emu.setOptions(Options());                 // options change while running
    QByteArray line = r.client.exchange("#VERSION?\r");
    if (line == kOk) // the last sync may have met the change
        line = r.client.readLine();
    QCOMPARE(line, kVersion); // nothing came for the first two
}

void TestEmulator::fragment()
{
    const QByteArray version = "~01@VERSION 2.12.0005-" + QByteArray(60, 'x');
    Rig r(opt(&Options::fragment, true, opt(&Options::version, QString::fromLatin1(version.mid(12)))));
    QVERIFY(r.open());
    r.client.send("#VERSION?\r");
    int reads = 0;
    while (!r.client.buffer.contains("\r\n") && r.client.fill(kWaitMs))
        ++reads;
    QVERIFY2(reads > 1, "the reply came in one piece");
    r.client.send("# \r#VERSION?\r# \r"); // pieces of consecutive replies keep their order
    QCOMPARE(r.client.readLines(4), (QByteArrayList{version, kOk, version, kOk}));
}

void TestEmulator::disconnects()
{
    QTemporaryDir folder;
    const QString logFile = folder.filePath("emulator.log");
    Rig r(opt(&Options::disconnectAfterPackets, 2, opt(&Options::logFile, logFile)));
    QVERIFY(r.open());
    const QByteArray image = bankImage(16, 10);
    r.client.send(ldim(image, 0) + allPackets(image));
    QCOMPARE(r.client.readLines(2), (QByteArrayList{ldim(image, 0, true), "~01@ACK 1"}));
    QVERIFY(r.client.readLine().isNull() && r.client.closed);
    QVERIFY(!r.emu.bank(0).complete);

    // The pseudo-terminal cannot be hung up: it stops answering instead.
    Client pty;
    QVERIFY(pty.openPty(r.emu.openPty()));
    pty.send(ldim(image, 0) + allPackets(image) + "#VERSION?\r# \r");
    QCOMPARE(pty.readLines(2), (QByteArrayList{ldim(image, 0, true), "~01@ACK 1"}));
    QVERIFY(r.emu.waitForCommands(4, kWaitMs)); // the version query is fully handled
    QFile log(logFile);
    QVERIFY(log.open(QIODevice::ReadOnly) && log.readAll().contains("rep (not sent) ~01@VERSION"));

    Client gone; // leaves in the middle of an upload and of a packet
    QVERIFY(gone.connectTcp(r.emu.tcpPort()));
    gone.send(ldim(image, 0) + allPackets(image).left(70));
    QCOMPARE(gone.readLine(), ldim(image, 0, true));
    gone.close();
    Client again; // a new TCP connection starts afresh
    QVERIFY(again.connectTcp(r.emu.tcpPort()));
    QCOMPARE(again.exchange("#VERSION?\r"), kVersion);
    QCOMPARE(r.emu.connections(), 3);
}

void TestEmulator::garbage_data()
{
    QTest::addColumn<int>("size");
    QTest::newRow("1 byte: a lone CR") << 1;
    QTest::newRow("64 bytes") << 64;
}

void TestEmulator::garbage()
{
    QFETCH(int, size);
    Rig r(opt(&Options::garbage, size));
    QVERIFY(r.open());
    r.client.send("# \r#VERSION?\r");
    const QByteArray first = kOk + "\r\n", second = kVersion + "\r\n", &got = r.client.buffer;
    QVERIFY(r.client.fillTo(2 * size + first.size() + second.size()));
    QCOMPARE(got.size(), 2 * size + first.size() + second.size());
    // Every reply comes whole after its own junk, which ends with CR.
    const QByteArray junk = got.left(size), junk2 = got.mid(size + first.size(), size);
    QCOMPARE(got.mid(size, first.size()) + got.right(second.size()), first + second);
    QVERIFY(junk.endsWith('\r') && junk2.endsWith('\r'));
    if (size > 1)
        QVERIFY(junk.contains('\0') && junk.contains('\xFF') && junk.contains('\n') && junk2 != junk);
}

void TestEmulator::streamNoEol()
{
    Rig r(opt(&Options::streamNoEol, true));
    QVERIFY(r.open());
    // The first command is still answered; after it only text without line ends.
    QCOMPARE(r.client.exchange("#VERSION?\r"), kVersion);
    r.client.send("# \r");
    QVERIFY(r.client.fillTo(512 * 1024));
    for (const char end : {'\r', '\n', '\0', '|'})
        QVERIFY(!r.client.buffer.contains(end));
    QVERIFY(r.emu.waitForCommands(2, kWaitMs));
    // The stream belongs to the connection: with the option off, a new one is answered normally.
    r.emu.setOptions(Options());
    r.client.close();
    Client again;
    QVERIFY(again.connectTcp(r.emu.tcpPort()));
    again.send("# \r# \r");
    QCOMPARE(again.readLines(2), (QByteArrayList{kOk, kOk}));
}

void TestEmulator::ptyAndLink()
{
    QTemporaryDir folder;
    const QString link = folder.filePath("com1"), file = folder.filePath("com2");
    QVERIFY(QFile::link("/nonexistent/old", link)); // a stale link is replaced
    QVERIFY(QFile(file).open(QIODevice::WriteOnly));
    {
        Emulator emulator;
        const QString path = emulator.openPty(link);
        QVERIFY(path.startsWith("/dev/") && emulator.ptyPath() == path);
        QCOMPARE(QFileInfo(link).symLinkTarget(), path);
        Client client;
        QVERIFY(client.openPty(link));
        const QByteArray image = bankImage(16, 10);
        client.send("#y 1,300,2\r" + ldim(image, 1) + allPackets(image));
        QCOMPARE(client.readLines(5),
                 (QByteArrayList{"~01@Y 1,300,0,2", ldim(image, 1, true), "~01@ACK 1", "~01@ACK 2", "~01@ACK 3"}));
        QCOMPARE(emulator.bank(1).data, image);
        client.close(); // another client after the first has gone
        Client next;
        QVERIFY(next.openPty(path));
        QCOMPARE(next.exchange("#VERSION?\r"), kVersion);
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("cannot make the link"));
        QVERIFY(emulator.openPty(file).isEmpty()); // a file that is not a link is not replaced
    }
    QVERIFY(!QFileInfo(file).isSymLink());
    QVERIFY(!QFileInfo::exists(link) && !QFileInfo(link).isSymLink()); // removed with the emulator
}

void TestEmulator::bankToRgb_data()
{
    QTest::addColumn<QByteArray>("samples"); // Cb Y Cr Y of a pixel pair
    QTest::addColumn<QColor>("rgb");
    QTest::newRow("black") << QByteArray::fromHex("80108010") << QColor(0, 0, 0);
    QTest::newRow("white") << QByteArray::fromHex("80EB80EB") << QColor(255, 255, 255);
    QTest::newRow("red") << QByteArray::fromHex("5A51F051") << QColor(255, 0, 0);
    QTest::newRow("blue") << QByteArray::fromHex("F0296E29") << QColor(0, 0, 255);
}

void TestEmulator::bankToRgb()
{
    QFETCH(QByteArray, samples);
    QFETCH(QColor, rgb);
    const QByteArray image = bankImage(2, 1).replace(8, 4, samples);
    const QImage picture = bankToRgbImage(image);
    QCOMPARE(picture.size(), QSize(2, 1));
    const QColor c = picture.pixelColor(0, 0);
    QVERIFY2(qAbs(c.red() - rgb.red()) <= 2 && qAbs(c.green() - rgb.green()) <= 2 && qAbs(c.blue() - rgb.blue()) <= 2,
             qPrintable(c.name()));
    QCOMPARE(picture.pixelColor(1, 0), c);
    QVERIFY(bankToRgbImage(image.left(11)).isNull());
}

void TestEmulator::logAndDump()
{
    QTemporaryDir folder;
    Rig r(
        opt(&Options::logFile, folder.filePath("emulator.log"), opt(&Options::dumpBanksDir, folder.filePath("banks"))));
    QVERIFY(r.open());
    const QByteArray image = bankImage(4, 2).replace(8, 16, QByteArray::fromHex("80EB80EB").repeated(4)); // white
    r.client.send(ldim(image, 3) + allPackets(image));
    QCOMPARE(r.client.readLines(2), (QByteArrayList{ldim(image, 3, true), "~01@ACK 1"}));

    QFile bin(folder.filePath("banks/bank4.bin"));
    QVERIFY(bin.open(QIODevice::ReadOnly));
    QCOMPARE(bin.readAll(), image);
    const QImage png(folder.filePath("banks/bank4.png"));
    QCOMPARE(png.size(), QSize(4, 2));
    QCOMPARE(png.pixelColor(3, 1), QColor(255, 255, 255));
    QFile log(folder.filePath("emulator.log"));
    QVERIFY(log.open(QIODevice::ReadOnly));
    const QByteArray text = log.readAll();
    for (const char *entry : {"cmd #LDIM 24,3", "pkt number 1 length 26", "rep ~01@ACK 1"})
        QVERIFY2(text.contains(entry), entry);
}

void TestEmulator::program()
{
    QTemporaryDir folder;
    const QString link = folder.filePath("com1");
    QProcess process;
    process.start(QX_BIN_DIR "/qx7-emulator", {"--tcp", "0", "--link", link});
    QVERIFY(process.waitForStarted(kWaitMs));
    QTRY_VERIFY_WITH_TIMEOUT(process.peek(200).count('\n') >= 2, kWaitMs);
    const QRegularExpressionMatch lines = QRegularExpression("^tcp 127\\.0\\.0\\.1:(\\d+)\\s+pty (/dev/\\S+)\\s")
                                              .match(QString::fromLatin1(process.readAll()));
    QVERIFY(lines.hasMatch());
    QCOMPARE(QFileInfo(link).symLinkTarget(), lines.captured(2));
    Client client;
    QVERIFY(client.connectTcp(quint16(lines.captured(1).toUInt())));
    QCOMPARE(client.exchange("#Y 1,300,2\r"), QByteArray("~01@Y 1,300,0,2"));

    process.terminate(); // SIGTERM: ends cleanly and takes the link away
    QVERIFY(process.waitForFinished(kWaitMs));
    QVERIFY(process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0);
    QVERIFY(!QFileInfo(link).isSymLink());
}

QTEST_GUILESS_MAIN(TestEmulator)
#include "tst_emulator.moc"
