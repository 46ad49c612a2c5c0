// The stand-in device: its command table, the bank upload and its packet
// checks, the fault options, both transports and the program itself.

#include "emulator.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

using namespace qx7emu;

namespace {

constexpr int kWaitMs = 5000;

// A literal with its NUL bytes, all of them.
template <int N> QByteArray bytes(const char (&text)[N])
{
    return QByteArray(text, N - 1);
}

// Reads the device's lines, whatever the transport.
struct LineClient {
    QByteArray buffer;

    virtual ~LineClient() = default;
    virtual void send(const QByteArray &bytes) = 0;
    // Waits up to `ms` for more bytes and appends them to `buffer`; false when none came.
    virtual bool fill(int ms) = 0;

    // The next line without its CR LF; a null array when none came in time.
    QByteArray readLine(int timeoutMs = kWaitMs)
    {
        QDeadlineTimer deadline(timeoutMs);
        for (;;) {
            const int end = buffer.indexOf("\r\n");
            if (end >= 0) {
                const QByteArray line = buffer.left(end);
                buffer.remove(0, end + 2);
                return line;
            }
            if (!fill(int(qMax<qint64>(1, deadline.remainingTime()))))
                return {};
        }
    }
    QByteArray exchange(const QByteArray &command)
    {
        send(command);
        return readLine();
    }
};

// A plain blocking client, the way a simple program would talk to the device.
struct TcpClient : LineClient {
    QTcpSocket socket;

    bool connectTo(quint16 port)
    {
        socket.connectToHost(QHostAddress::LocalHost, port);
        socket.setSocketOption(QAbstractSocket::LowDelayOption, 1);
        return socket.waitForConnected(kWaitMs);
    }
    void send(const QByteArray &bytes) override
    {
        socket.write(bytes);
        socket.waitForBytesWritten(kWaitMs);
    }
    bool fill(int ms) override
    {
        if (!socket.waitForReadyRead(ms))
            return false;
        buffer += socket.readAll();
        return true;
    }
};

// The slave side of the emulator's pseudo-terminal, opened as a serial port would be.
struct PtyClient : LineClient {
    int fd = -1;

    ~PtyClient() override { close(); }
    bool open(const QString &path)
    {
        fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY);
        if (fd < 0)
            return false;
        termios mode{};
        tcgetattr(fd, &mode);
        cfmakeraw(&mode);
        return tcsetattr(fd, TCSANOW, &mode) == 0;
    }
    void close()
    {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
    void send(const QByteArray &bytes) override
    {
        for (qint64 done = 0; done < bytes.size();) {
            const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
            if (n <= 0)
                return;
            done += n;
        }
    }
    bool fill(int ms) override
    {
        pollfd p{fd, POLLIN, 0};
        char chunk[512];
        const ssize_t n = ::poll(&p, 1, ms) > 0 ? ::read(fd, chunk, sizeof chunk) : 0;
        if (n <= 0)
            return false;
        buffer.append(chunk, int(n));
        return true;
    }
};

// A bank image of w x h pixels; the pixel bytes are letters, so they never hold '#' or CR.
QByteArray bankImage(int w, int h, uchar marker = 0xA5)
{
    QByteArray image(8 + 2 * w * h, '\0');
    image[0] = char(marker);
    image[4] = char(w & 0xFF);
    image[5] = char(w >> 8);
    image[6] = char(h & 0xFF);
    image[7] = char(h >> 8);
    for (int i = 8; i < image.size(); ++i)
        image[i] = char('A' + i % 26);
    return image;
}

QByteArray packet(int number, const QByteArray &data, int lengthField = -1,
                  const QByteArray &trailer = QByteArray(2, '\0'))
{
    if (lengthField < 0)
        lengthField = int(data.size()) + 2;
    QByteArray p;
    p.append(char(number >> 8)).append(char(number & 0xFF));
    p.append(char(lengthField >> 8)).append(char(lengthField & 0xFF));
    return p + data + trailer;
}

QByteArray allPackets(const QByteArray &image)
{
    QByteArray stream;
    for (int n = 1, at = 0; at < image.size(); ++n, at += 144)
        stream += packet(n, image.mid(at, 144));
    return stream;
}

QByteArray ldim(const QByteArray &image, int bank)
{
    return "#LDIM " + QByteArray::number(image.size()) + ',' + QByteArray::number(bank) + bytes("\r\n\0");
}

QString describe(const DeviceState &s)
{
    QString text;
    for (const WindowState &w : s.windows)
        text += QStringLiteral("[%1 %2 %3]").arg(w.enabled).arg(w.input).arg(w.bank);
    return text + QStringLiteral(" bg %1 fs %2 p204 %3").arg(s.backgroundBank).arg(s.fullScreen).arg(s.param204);
}

DeviceState sampleState()
{
    DeviceState s;
    s.windows[0] = {true, 3, 0};
    s.windows[1] = {false, 7, 2};
    s.windows[2] = {true, 2, 0};
    s.windows[3] = {false, 15, 4};
    s.backgroundBank = 3;
    s.fullScreen = 1;
    return s;
}

} // namespace

class TestEmulator : public QObject {
    Q_OBJECT

private slots:
    void commandTable_data();
    void commandTable();
    void writesChangeState_data();
    void writesChangeState();
    void presetRecall();
    void terminatorsAndSplitting();
    void upload_data();
    void upload();
    void packetFaults_data();
    void packetFaults();
    void silent();
    void noiseAndDelay();
    void fragment();
    void dropAck();
    void disconnectAfterPackets();
    void noLdimReply();
    void garbage_data();
    void garbage();
    void streamNoEol();
    void reconnectStartsAfresh();
    void ptyAndLink();
    void bankToRgb_data();
    void bankToRgb();
    void logAndDump();
    void program();
};

void TestEmulator::commandTable_data()
{
    QTest::addColumn<QByteArray>("command");
    QTest::addColumn<QByteArray>("reply"); // "~01@ERR" stands for any error line

    const QByteArray err = "~01@ERR";
    QTest::newRow("sync") << QByteArray("# \r") << QByteArray("~01@ OK");
    QTest::newRow("sync, CR LF NUL") << bytes("# \r\n\0") << QByteArray("~01@ OK");
    QTest::newRow("version") << QByteArray("#VERSION?\r") << QByteArray("~01@VERSION 2.12.0005");
    QTest::newRow("version, lower case") << QByteArray("#version?\r") << QByteArray("~01@VERSION 2.12.0005");
    QTest::newRow("read enabled") << QByteArray("#Y 1,302,0\r") << QByteArray("~01@Y 1,302,1,0");
    QTest::newRow("read disabled") << QByteArray("#Y 1,302,1\r") << QByteArray("~01@Y 1,302,0,1");
    QTest::newRow("read full screen") << QByteArray("#Y 1,201\r") << QByteArray("~01@Y 1,201,1");
    QTest::newRow("read input") << QByteArray("#Y 1,300,2\r") << QByteArray("~01@Y 1,300,2,2");
    QTest::newRow("read input 15") << QByteArray("#Y 1,300,3\r") << QByteArray("~01@Y 1,300,15,3");
    QTest::newRow("read input, lower case") << QByteArray("#y 1,300,0\r") << QByteArray("~01@Y 1,300,3,0");
    QTest::newRow("read window bank") << QByteArray("#Y 1,338,1\r") << QByteArray("~01@Y 1,338,2,1");
    QTest::newRow("read background bank") << QByteArray("#Y 1,338,4\r") << QByteArray("~01@Y 1,338,3,4");
    QTest::newRow("write input") << QByteArray("#Y 0,300,4,1\r") << QByteArray("~01@Y 0,300,4,1");
    QTest::newRow("write full screen") << QByteArray("#Y 0,201,0\r") << QByteArray("~01@Y 0,201,0");
    QTest::newRow("write 204") << QByteArray("#Y 0,204,1\r") << QByteArray("~01@Y 0,204,1");
    QTest::newRow("write background") << QByteArray("#Y 0,337,0,4\r") << QByteArray("~01@Y 0,337,0,4");
    QTest::newRow("preset 16") << QByteArray("#PRST-RCL 16\r\n") << QByteArray("~01@PRST-RCL 16");
    QTest::newRow("preset, lower case") << QByteArray("#prst-rcl 5\r\n") << QByteArray("~01@PRST-RCL 5");

    QTest::newRow("unknown command") << QByteArray("#FOO\r") << err;
    QTest::newRow("sync with text") << QByteArray("# X\r") << err;
    QTest::newRow("version with text") << QByteArray("#VERSION? 2\r") << err;
    QTest::newRow("read input of window 4") << QByteArray("#Y 1,300,4\r") << err;
    QTest::newRow("read enable of window 4") << QByteArray("#Y 1,302,4\r") << err;
    QTest::newRow("read bank of window 5") << QByteArray("#Y 1,338,5\r") << err;
    QTest::newRow("read without window") << QByteArray("#Y 1,300\r") << err;
    QTest::newRow("read, letter for window") << QByteArray("#Y 1,300,x\r") << err;
    QTest::newRow("read, negative window") << QByteArray("#Y 1,300,-1\r") << err;
    QTest::newRow("access 2") << QByteArray("#Y 2,300,1\r") << err;
    QTest::newRow("unknown parameter") << QByteArray("#Y 1,999,0\r") << err;
    QTest::newRow("338 is not written") << QByteArray("#Y 0,338,1,0\r") << err;
    QTest::newRow("input 16") << QByteArray("#Y 0,300,16,1\r") << err;
    QTest::newRow("enable value 2") << QByteArray("#Y 0,302,2,0\r") << err;
    QTest::newRow("bank 5") << QByteArray("#Y 0,337,5,0\r") << err;
    QTest::newRow("full screen 2") << QByteArray("#Y 0,201,2\r") << err;
    QTest::newRow("write without window") << QByteArray("#Y 0,300,4\r") << err;
    QTest::newRow("preset 0") << QByteArray("#PRST-RCL 0\r\n") << err;
    QTest::newRow("preset 17") << QByteArray("#PRST-RCL 17\r\n") << err;
    QTest::newRow("preset without number") << QByteArray("#PRST-RCL\r\n") << err;
    QTest::newRow("image below header size") << bytes("#LDIM 7,0\r\n\0") << err;
    QTest::newRow("image too large") << bytes("#LDIM 4608009,0\r\n\0") << err;
    QTest::newRow("bank index 4") << bytes("#LDIM 12,4\r\n\0") << err;
    QTest::newRow("load without bank") << bytes("#LDIM 12\r\n\0") << err;
    QTest::newRow("overlong command") << "#Y " + QByteArray(300, '1') + '\r' << err;
}

void TestEmulator::commandTable()
{
    QFETCH(QByteArray, command);
    QFETCH(QByteArray, reply);
    Emulator emulator;
    emulator.setState(sampleState());
    TcpClient client;
    QVERIFY(client.connectTo(emulator.listenTcp()));

    const QByteArray answer = client.exchange(command);
    if (reply == "~01@ERR")
        QVERIFY2(answer.startsWith(reply), answer.constData());
    else
        QCOMPARE(answer, reply);
    // Whatever the command was, the device still answers the next one.
    QCOMPARE(client.exchange("# \r"), QByteArray("~01@ OK"));
}

void TestEmulator::writesChangeState_data()
{
    QTest::addColumn<QByteArray>("write");
    QTest::addColumn<QByteArray>("read");
    QTest::addColumn<QByteArray>("reply");

    QTest::newRow("input") << QByteArray("#Y 0,300,9,2") << QByteArray("#Y 1,300,2") << QByteArray("~01@Y 1,300,9,2");
    QTest::newRow("enable") << QByteArray("#Y 0,302,1,3") << QByteArray("#Y 1,302,3") << QByteArray("~01@Y 1,302,1,3");
    QTest::newRow("disable") << QByteArray("#Y 0,302,0,0") << QByteArray("#Y 1,302,0") << QByteArray("~01@Y 1,302,0,0");
    QTest::newRow("window bank") << QByteArray("#Y 0,337,4,0") << QByteArray("#Y 1,338,0")
                                 << QByteArray("~01@Y 1,338,4,0");
    QTest::newRow("background bank") << QByteArray("#Y 0,337,2,4") << QByteArray("#Y 1,338,4")
                                     << QByteArray("~01@Y 1,338,2,4");
    QTest::newRow("full screen") << QByteArray("#Y 0,201,1") << QByteArray("#Y 1,201") << QByteArray("~01@Y 1,201,1");
    QTest::newRow("refused input") << QByteArray("#Y 0,300,16,2") << QByteArray("#Y 1,300,2")
                                   << QByteArray("~01@Y 1,300,0,2");
    QTest::newRow("refused window") << QByteArray("#Y 0,300,5,4") << QByteArray("#Y 1,300,3")
                                    << QByteArray("~01@Y 1,300,0,3");
    QTest::newRow("refused bank") << QByteArray("#Y 0,337,9,4") << QByteArray("#Y 1,338,4")
                                  << QByteArray("~01@Y 1,338,0,4");
}

void TestEmulator::writesChangeState()
{
    QFETCH(QByteArray, write);
    QFETCH(QByteArray, read);
    QFETCH(QByteArray, reply);
    Emulator emulator;
    TcpClient client;
    QVERIFY(client.connectTo(emulator.listenTcp()));
    QVERIFY(!client.exchange(write + '\r').isEmpty());
    QCOMPARE(client.exchange(read + '\r'), reply);
}

void TestEmulator::presetRecall()
{
    Emulator emulator;
    TcpClient client;
    QVERIFY(client.connectTo(emulator.listenTcp()));
    QCOMPARE(client.exchange("#Y 0,204,1\r"), QByteArray("~01@Y 0,204,1"));

    QSet<QString> layouts;
    for (int n = 1; n <= 16; ++n) {
        QCOMPARE(client.exchange("#PRST-RCL " + QByteArray::number(n) + "\r\n"),
                 "~01@PRST-RCL " + QByteArray::number(n));
        DeviceState expected = presetLayout(n);
        expected.param204 = 1; // a recall leaves parameter 204 alone
        QCOMPARE(describe(emulator.state()), describe(expected));
        layouts.insert(describe(expected));
    }
    QCOMPARE(layouts.size(), 16);
    QCOMPARE(client.exchange("#Y 1,300,1\r"), QByteArray("~01@Y 1,300,0,1")); // preset 16: window 2 on input 1
}

void TestEmulator::terminatorsAndSplitting()
{
    Emulator emulator;
    TcpClient client;
    QVERIFY(client.connectTo(emulator.listenTcp()));

    // Stray bytes before a '#' are dropped; three commands with their three kinds of ending in one write.
    client.send(bytes("junk\r\n\0# \r\n\0#Y 1,300,0\r#PRST-RCL 3\r\n"));
    QCOMPARE(client.readLine(), QByteArray("~01@ OK"));
    QCOMPARE(client.readLine(), QByteArray("~01@Y 1,300,0,0"));
    QCOMPARE(client.readLine(), QByteArray("~01@PRST-RCL 3"));

    // A command split over several writes, its LF and NUL arriving late.
    client.send("#VERS");
    client.send("ION?\r");
    QCOMPARE(client.readLine(), QByteArray("~01@VERSION 2.12.0005"));
    client.send("\n");
    client.send(QByteArray(1, '\0'));
    QCOMPARE(client.exchange("# \r"), QByteArray("~01@ OK"));

    const QList<ReceivedCommand> received = emulator.received();
    QCOMPARE(received.size(), 5);
    QCOMPARE(received[0].text, QStringLiteral("# "));
    QCOMPARE(received[0].raw, bytes("# \r\n\0"));
    QCOMPARE(received[1].raw, QByteArray("#Y 1,300,0\r"));
    QCOMPARE(received[2].raw, QByteArray("#PRST-RCL 3\r\n"));
    QCOMPARE(received[3].text, QStringLiteral("#VERSION?"));
    QCOMPARE(received[3].raw, bytes("#VERSION?\r\n\0"));
    QCOMPARE(emulator.commands().last(), QStringLiteral("# "));
    emulator.clearReceived();
    QVERIFY(emulator.received().isEmpty());
}

void TestEmulator::upload_data()
{
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::addColumn<int>("chunk"); // bytes per write, 0: all at once
    QTest::addColumn<int>("packets");

    QTest::newRow("2x1, one packet") << 2 << 1 << 0 << 1;
    QTest::newRow("16x10, three packets in one write") << 16 << 10 << 0 << 3;
    QTest::newRow("16x10, byte by byte") << 16 << 10 << 1 << 3;
    QTest::newRow("16x10, pieces across packet borders") << 16 << 10 << 7 << 3;
    QTest::newRow("14x10, exactly two full packets") << 14 << 10 << 150 << 2;
    QTest::newRow("header only, width 0") << 0 << 1 << 0 << 1;
}

void TestEmulator::upload()
{
    QFETCH(int, width);
    QFETCH(int, height);
    QFETCH(int, chunk);
    QFETCH(int, packets);
    Emulator emulator;
    TcpClient client;
    QVERIFY(client.connectTo(emulator.listenTcp()));

    const QByteArray image = bankImage(width, height);
    QCOMPARE(client.exchange(ldim(image, 2)), "~01@LDIM " + QByteArray::number(image.size()) + ",2");
    const QByteArray stream = allPackets(image);
    for (int at = 0; at < stream.size(); at += chunk ? chunk : int(stream.size()))
        client.send(stream.mid(at, chunk ? chunk : -1));
    for (int n = 1; n <= packets; ++n)
        QCOMPARE(client.readLine(), "~01@ACK " + QByteArray::number(n));

    const Bank bank = emulator.bank(2);
    QVERIFY(bank.complete);
    QCOMPARE(bank.width, width);
    QCOMPARE(bank.height, height);
    QCOMPARE(bank.data, image);
    QVERIFY(!emulator.bank(1).complete);
    QCOMPARE(emulator.packetsReceived(), packets);
    // Back in command mode.
    QCOMPARE(client.exchange("#VERSION?\r"), QByteArray("~01@VERSION 2.12.0005"));
}

void TestEmulator::packetFaults_data()
{
    QTest::addColumn<QByteArray>("image");  // announced with its size
    QTest::addColumn<QByteArray>("stream"); // what follows the announcement
    QTest::addColumn<QByteArrayList>("replies");

    const QByteArray small = bankImage(2, 1);
    const QByteArray larger = bankImage(16, 10);
    const QByteArray err = "~01@ERR";
    QTest::newRow("first packet numbered 2") << small << packet(2, small) << QByteArrayList{err};
    QTest::newRow("packet 1 twice") << larger << packet(1, larger.left(144)) + packet(1, larger.mid(144, 144))
                                    << QByteArrayList{"~01@ACK 1", err};
    QTest::newRow("length field above 146") << small << packet(1, small, 200) << QByteArrayList{err};
    QTest::newRow("length field 2, no data") << small << packet(1, QByteArray(), 2) << QByteArrayList{err};
    QTest::newRow("trailer not zero") << small << packet(1, small, -1, bytes("\0\1")) << QByteArrayList{err};
    QTest::newRow("more data than announced") << small << packet(1, small + "AB") << QByteArrayList{err};
    QTest::newRow("second packet too long")
        << bankImage(2, 1) + QByteArray(138, 'A')
        << packet(1, (small + QByteArray(138, 'A')).left(144)) + packet(2, QByteArray(8, 'A'))
        << QByteArrayList{"~01@ACK 1", err};
    QTest::newRow("bad marker") << bankImage(2, 1, 0x5A) << packet(1, bankImage(2, 1, 0x5A)) << QByteArrayList{err};
    QTest::newRow("a command instead of a packet") << small << QByteArray("# \r") << QByteArrayList{err, "~01@ OK"};
    QTest::newRow("a command after a packet")
        << larger << packet(1, larger.left(144)) + "#y 1,201\r" << QByteArrayList{"~01@ACK 1", err, "~01@Y 1,201,0"};
    QByteArray wrongSize = small;
    wrongSize[4] = 4; // says 4 x 1, which would be 16 bytes
    QTest::newRow("size does not match the header") << wrongSize << packet(1, wrongSize) << QByteArrayList{err};
}

void TestEmulator::packetFaults()
{
    QFETCH(QByteArray, image);
    QFETCH(QByteArray, stream);
    QFETCH(QByteArrayList, replies);
    Emulator emulator;
    TcpClient client;
    QVERIFY(client.connectTo(emulator.listenTcp()));

    QVERIFY(client.exchange(ldim(image, 0)).startsWith("~01@LDIM "));
    client.send(stream);
    for (const QByteArray &expected : replies) {
        const QByteArray line = client.readLine();
        QVERIFY2(line.startsWith(expected), line.constData());
    }
    QVERIFY(!emulator.bank(0).complete);
    // Reception is abandoned: the next bytes are commands again.
    QCOMPARE(client.exchange("#VERSION?\r"), QByteArray("~01@VERSION 2.12.0005"));
}

void TestEmulator::silent()
{
    Options options;
    options.silent = true;
    Emulator emulator(options);
    TcpClient client;
    QVERIFY(client.connectTo(emulator.listenTcp()));
    client.send("#VERSION?\r#Y 0,300,5,0\r");
    QVERIFY(emulator.waitForCommands(2, kWaitMs));
    QTRY_COMPARE_WITH_TIMEOUT(emulator.state().windows[0].input, 5, kWaitMs); // still obeys
    QVERIFY(client.readLine(300).isNull());

    options.silent = false; // options change while running
    emulator.setOptions(options);
    QCOMPARE(client.exchange("# \r"), QByteArray("~01@ OK"));
}

void TestEmulator::noiseAndDelay()
{
    Options options;
    options.noise = 2;
    options.replyDelayMs = 30;
    Emulator emulator(options);
    TcpClient client;
    QVERIFY(client.connectTo(emulator.listenTcp()));
    client.send("#VERSION?\r# \r");
    const QByteArrayList expected{"~01@NOISE 1", "~01@NOISE 2", "~01@VERSION 2.12.0005",
                                  "~01@NOISE 3", "~01@NOISE 4", "~01@ OK"};
    for (const QByteArray &line : expected)
        QCOMPARE(client.readLine(), line);
}

void TestEmulator::fragment()
{
    Options options;
    options.fragment = true;
    options.version = QStringLiteral("2.12.0005-") + QString(60, QLatin1Char('x'));
    Emulator emulator(options);
    TcpClient client;
    QVERIFY(client.connectTo(emulator.listenTcp()));
    client.send("#VERSION?\r");

    // Count the reads one reply takes; it is whole in the end.
    int reads = 0;
    while (!client.buffer.contains("\r\n") && client.fill(kWaitMs))
        ++reads;
    QCOMPARE(client.readLine(), "~01@VERSION " + options.version.toLatin1());
    QVERIFY2(reads > 1, "the reply came in one piece");

    // Pieces of consecutive replies keep their order.
    client.send("# \r#VERSION?\r# \r");
    QCOMPARE(client.readLine(), QByteArray("~01@ OK"));
    QCOMPARE(client.readLine(), "~01@VERSION " + options.version.toLatin1());
    QCOMPARE(client.readLine(), QByteArray("~01@ OK"));
}

void TestEmulator::dropAck()
{
    Options options;
    options.dropAck = 2;
    Emulator emulator(options);
    TcpClient client;
    QVERIFY(client.connectTo(emulator.listenTcp()));
    const QByteArray image = bankImage(16, 10);
    QVERIFY(client.exchange(ldim(image, 3)).startsWith("~01@LDIM "));
    client.send(allPackets(image));
    QCOMPARE(client.readLine(), QByteArray("~01@ACK 1"));
    QCOMPARE(client.readLine(), QByteArray("~01@ACK 3"));
    QCOMPARE(emulator.bank(3).data, image);
    QCOMPARE(emulator.packetsReceived(), 3);
}

void TestEmulator::disconnectAfterPackets()
{
    Options options;
    options.disconnectAfterPackets = 2;
    Emulator emulator(options);
    const quint16 port = emulator.listenTcp();
    const QByteArray image = bankImage(16, 10);
    {
        TcpClient client;
        QVERIFY(client.connectTo(port));
        QVERIFY(client.exchange(ldim(image, 0)).startsWith("~01@LDIM "));
        client.send(allPackets(image));
        QCOMPARE(client.readLine(), QByteArray("~01@ACK 1"));
        QVERIFY(client.readLine().isNull());
        QTRY_COMPARE_WITH_TIMEOUT(client.socket.state(), QAbstractSocket::UnconnectedState, kWaitMs);
    }
    QVERIFY(!emulator.bank(0).complete);

    // The pseudo-terminal cannot be hung up: it stops answering instead.
    const QString path = emulator.openPty();
    QVERIFY(!path.isEmpty());
    PtyClient pty;
    QVERIFY(pty.open(path));
    QVERIFY(pty.exchange(ldim(image, 0)).startsWith("~01@LDIM "));
    pty.send(allPackets(image));
    QCOMPARE(pty.readLine(), QByteArray("~01@ACK 1"));
    pty.send("#VERSION?\r");
    QVERIFY(emulator.waitForCommands(3, kWaitMs));
    QVERIFY(pty.readLine(300).isNull());

    // A new TCP connection is answered again.
    TcpClient again;
    QVERIFY(again.connectTo(port));
    QCOMPARE(again.exchange("#VERSION?\r"), QByteArray("~01@VERSION 2.12.0005"));
    QCOMPARE(emulator.connections(), 2);
}

void TestEmulator::noLdimReply()
{
    Options options;
    options.noLdimReply = true;
    Emulator emulator(options);
    TcpClient client;
    QVERIFY(client.connectTo(emulator.listenTcp()));
    const QByteArray image = bankImage(2, 1);
    client.send(ldim(image, 1));
    QVERIFY(emulator.waitForCommands(1, kWaitMs));
    client.send(allPackets(image));
    QCOMPARE(client.readLine(), QByteArray("~01@ACK 1"));
    QCOMPARE(emulator.bank(1).data, image);
}

void TestEmulator::garbage_data()
{
    QTest::addColumn<int>("size");
    QTest::newRow("1 byte: a lone CR") << 1;
    QTest::newRow("4 bytes") << 4;
    QTest::newRow("64 bytes") << 64;
}

void TestEmulator::garbage()
{
    QFETCH(int, size);
    Options options;
    options.garbage = size;
    Emulator emulator(options);
    TcpClient client;
    QVERIFY(client.connectTo(emulator.listenTcp()));
    client.send("# \r#VERSION?\r");
    const QByteArray first = "~01@ OK\r\n";
    const QByteArray second = "~01@VERSION 2.12.0005\r\n";
    const int total = 2 * size + first.size() + second.size();
    while (client.buffer.size() < total && client.fill(kWaitMs)) {
    }
    QCOMPARE(client.buffer.size(), total);
    // Every reply comes whole after its own junk, which ends with CR.
    const QByteArray junk = client.buffer.left(size);
    QCOMPARE(client.buffer.mid(size, first.size()), first);
    QCOMPARE(client.buffer.right(second.size()), second);
    QVERIFY(junk.endsWith('\r'));
    if (size >= 4)
        QVERIFY(junk.contains('\0') && junk.contains('\xFF') && junk.contains('\n'));
    if (size >= 16)
        QVERIFY(client.buffer.mid(size + first.size(), size) != junk); // not the same junk every time
}

void TestEmulator::streamNoEol()
{
    Options options;
    options.streamNoEol = true;
    Emulator emulator(options);
    const quint16 port = emulator.listenTcp();
    TcpClient client;
    QVERIFY(client.connectTo(port));
    // The first command is still answered; after it only text without line ends.
    QCOMPARE(client.exchange("#VERSION?\r"), QByteArray("~01@VERSION 2.12.0005"));
    client.send("# \r");
    while (client.buffer.size() < 512 * 1024 && client.fill(kWaitMs)) {
    }
    QVERIFY(client.buffer.size() >= 512 * 1024);
    for (const char end : {'\r', '\n', '\0', '|'})
        QVERIFY(!client.buffer.contains(end));
    QVERIFY(emulator.waitForCommands(2, kWaitMs));

    // The stream belongs to the connection: with the option off, a new one is answered normally.
    options.streamNoEol = false;
    emulator.setOptions(options);
    client.socket.abort();
    TcpClient again;
    QVERIFY(again.connectTo(port));
    QCOMPARE(again.exchange("# \r"), QByteArray("~01@ OK"));
    QCOMPARE(again.exchange("# \r"), QByteArray("~01@ OK"));
}

void TestEmulator::reconnectStartsAfresh()
{
    Emulator emulator;
    const quint16 port = emulator.listenTcp();
    {
        // Leaves in the middle of an upload and of a packet.
        TcpClient first;
        QVERIFY(first.connectTo(port));
        const QByteArray image = bankImage(16, 10);
        QVERIFY(first.exchange(ldim(image, 0)).startsWith("~01@LDIM "));
        first.send(allPackets(image).left(70));
        first.socket.disconnectFromHost();
    }
    TcpClient second;
    QVERIFY(second.connectTo(port));
    QCOMPARE(second.exchange("#VERSION?\r"), QByteArray("~01@VERSION 2.12.0005"));
    QCOMPARE(emulator.connections(), 2);
}

void TestEmulator::ptyAndLink()
{
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    const QString link = folder.filePath(QStringLiteral("com1"));
    QVERIFY(QFile::link(QStringLiteral("/nonexistent/old"), link)); // a stale link is replaced
    QString path;
    {
        Emulator emulator;
        path = emulator.openPty(link);
        QVERIFY(path.startsWith(QStringLiteral("/dev/")));
        QCOMPARE(emulator.ptyPath(), path);
        QCOMPARE(QFileInfo(link).symLinkTarget(), path);

        PtyClient client;
        QVERIFY(client.open(link));
        QCOMPARE(client.exchange("# \r"), QByteArray("~01@ OK"));
        QCOMPARE(client.exchange("#y 1,300,2\r"), QByteArray("~01@Y 1,300,0,2"));
        const QByteArray image = bankImage(16, 10);
        QVERIFY(client.exchange(ldim(image, 1)).startsWith("~01@LDIM "));
        client.send(allPackets(image));
        for (int n = 1; n <= 3; ++n)
            QCOMPARE(client.readLine(), "~01@ACK " + QByteArray::number(n));
        QCOMPARE(emulator.bank(1).data, image);

        // Another client after the first has gone.
        client.close();
        PtyClient next;
        QVERIFY(next.open(path));
        QCOMPARE(next.exchange("#VERSION?\r"), QByteArray("~01@VERSION 2.12.0005"));

        // A file that is not a link is not replaced.
        const QString file = folder.filePath(QStringLiteral("com2"));
        QFile plain(file);
        QVERIFY(plain.open(QIODevice::WriteOnly));
        plain.close();
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("cannot make the link")));
        QVERIFY(emulator.openPty(file).isEmpty());
        QVERIFY(!QFileInfo(file).isSymLink());
    }
    QVERIFY(!QFileInfo::exists(link) && !QFileInfo(link).isSymLink()); // removed with the emulator
}

void TestEmulator::bankToRgb_data()
{
    QTest::addColumn<int>("cb");
    QTest::addColumn<int>("y");
    QTest::addColumn<int>("cr");
    QTest::addColumn<QColor>("rgb");
    QTest::newRow("black") << 128 << 16 << 128 << QColor(0, 0, 0);
    QTest::newRow("white") << 128 << 235 << 128 << QColor(255, 255, 255);
    QTest::newRow("red") << 90 << 81 << 240 << QColor(255, 0, 0);
    QTest::newRow("blue") << 240 << 41 << 110 << QColor(0, 0, 255);
}

void TestEmulator::bankToRgb()
{
    QFETCH(int, cb);
    QFETCH(int, y);
    QFETCH(int, cr);
    QFETCH(QColor, rgb);
    QByteArray image = bankImage(2, 1);
    image[8] = char(cb);
    image[9] = char(y);
    image[10] = char(cr);
    image[11] = char(y); // the second pixel has its own luma and shares the pair's chroma
    const QImage picture = bankToRgbImage(image);
    QCOMPARE(picture.size(), QSize(2, 1));
    const QColor first = picture.pixelColor(0, 0);
    QVERIFY2(qAbs(first.red() - rgb.red()) <= 2 && qAbs(first.green() - rgb.green()) <= 2 &&
                 qAbs(first.blue() - rgb.blue()) <= 2,
             qPrintable(first.name()));
    QCOMPARE(picture.pixelColor(1, 0), first);
    QVERIFY(bankToRgbImage(image.left(11)).isNull());
}

void TestEmulator::logAndDump()
{
    QTemporaryDir folder;
    Options options;
    options.logFile = folder.filePath(QStringLiteral("emulator.log"));
    options.dumpBanksDir = folder.filePath(QStringLiteral("banks"));
    Emulator emulator(options);
    TcpClient client;
    QVERIFY(client.connectTo(emulator.listenTcp()));

    QByteArray image = bankImage(4, 2);
    for (int i = 8; i < image.size(); i += 4) { // white everywhere
        image[i] = char(128);
        image[i + 1] = char(235);
        image[i + 2] = char(128);
        image[i + 3] = char(235);
    }
    QVERIFY(client.exchange(ldim(image, 3)).startsWith("~01@LDIM "));
    client.send(allPackets(image));
    QCOMPARE(client.readLine(), QByteArray("~01@ACK 1"));

    QFile bin(folder.filePath(QStringLiteral("banks/bank4.bin")));
    QVERIFY(bin.open(QIODevice::ReadOnly));
    QCOMPARE(bin.readAll(), image);
    const QImage png(folder.filePath(QStringLiteral("banks/bank4.png")));
    QCOMPARE(png.size(), QSize(4, 2));
    QCOMPARE(png.pixelColor(3, 1), QColor(255, 255, 255));

    QFile log(options.logFile);
    QVERIFY(log.open(QIODevice::ReadOnly));
    const QByteArray text = log.readAll();
    QVERIFY(text.contains("cmd #LDIM 24,3"));
    QVERIFY(text.contains("pkt number 1 length 26"));
    QVERIFY(text.contains("rep ~01@ACK 1"));
}

void TestEmulator::program()
{
    QTemporaryDir folder;
    const QString link = folder.filePath(QStringLiteral("com1"));
    QProcess process;
    process.start(QStringLiteral(QX_BIN_DIR "/qx7-emulator"),
                  {QStringLiteral("--tcp"), QStringLiteral("0"), QStringLiteral("--link"), link});
    QVERIFY(process.waitForStarted(kWaitMs));
    QTRY_VERIFY_WITH_TIMEOUT(process.canReadLine() && process.bytesAvailable() > 0 &&
                                 QByteArray(process.peek(200)).count('\n') >= 2,
                             kWaitMs);
    const QRegularExpression tcpLine(QStringLiteral("^tcp 127\\.0\\.0\\.1:(\\d+)$"));
    const QRegularExpressionMatch tcp = tcpLine.match(QString::fromLatin1(process.readLine()).trimmed());
    QVERIFY(tcp.hasMatch());
    const QString ptyLine = QString::fromLatin1(process.readLine()).trimmed();
    QVERIFY2(ptyLine.startsWith(QStringLiteral("pty /dev/")), qPrintable(ptyLine));
    QCOMPARE(QFileInfo(link).symLinkTarget(), ptyLine.mid(4));

    TcpClient client;
    QVERIFY(client.connectTo(quint16(tcp.captured(1).toUInt())));
    QCOMPARE(client.exchange("#VERSION?\r"), QByteArray("~01@VERSION 2.12.0005"));
    QCOMPARE(client.exchange("# \r"), QByteArray("~01@ OK"));
    QCOMPARE(client.exchange("#Y 1,300,2\r"), QByteArray("~01@Y 1,300,0,2"));

    process.terminate(); // SIGTERM: ends cleanly and takes the link away
    QVERIFY(process.waitForFinished(kWaitMs));
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), 0);
    QVERIFY(!QFileInfo(link).isSymLink());
}

QTEST_GUILESS_MAIN(TestEmulator)
#include "tst_emulator.moc"
