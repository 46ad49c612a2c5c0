// The stand-in device: command and packet checks, fault options no other test drives, transports, the program.

#include "emulator.h"

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
template <int N> QByteArray bytes(const char (&text)[N]) { return QByteArray(text, N - 1); }

// A blocking client on TCP or on the slave side of the emulator's pseudo-terminal (opened as a serial port).
struct Client {
    int fd = -1;
    QByteArray buffer;
    ~Client() { ::close(fd); }
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
        termios mode{};
        fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY);
        return fd >= 0 && tcgetattr(fd, &mode) == 0 && (cfmakeraw(&mode), tcsetattr(fd, TCSANOW, &mode) == 0);
    }
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
        if (n > 0)
            buffer.append(chunk, int(n));
        return n > 0;
    }
    // The next lines without their CR LF; null arrays for those that did not come in time.
    QByteArrayList readLines(int count)
    {
        QByteArrayList lines;
        QDeadlineTimer deadline(kWaitMs);
        while (lines.size() < count) {
            while (!buffer.contains("\r\n") && fill(int(qMax<qint64>(1, deadline.remainingTime()))))
                ;
            const qsizetype end = buffer.indexOf("\r\n");
            lines << (end < 0 ? QByteArray() : buffer.left(end));
            buffer.remove(0, end < 0 ? 0 : end + 2);
        }
        return lines;
    }
    QByteArray exchange(const QByteArray &command) { send(command); return readLines(1).first(); }
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

} // namespace

class TestEmulator : public QObject {
    Q_OBJECT

private slots:

    void conversation_data()
    {
        QTest::addColumn<QByteArray>("stream"); // sent at once, or in pieces of `chunk` bytes
        QTest::addColumn<int>("chunk"); QTest::addColumn<QByteArrayList>("replies");
        QTest::addColumn<int>("bank"); // the one bank left complete, holding `image` (-1: none)
        QTest::addColumn<QByteArray>("image");
        const auto row = [](const char *name, const QByteArray &stream, const QByteArrayList &replies, int bank = -1,
                            const QByteArray &image = {}, int chunk = 0) {
            QTest::newRow(name) << stream << chunk << replies << bank << image;
        };
        // A command and its reply, then a read-back, or a sync showing the device still answers.
        const auto cmd = [&](const char *name, const QByteArray &command, const QByteArray &reply,
                             const QByteArray &next = "# \r", const QByteArray &nextReply = kOk) {
            row(name, command + next, {reply, nextReply});
        };
        // A bank upload into bank 2, then a command.
        const auto load = [&](const char *name, const QByteArray &image, int chunk) {
            QByteArrayList replies{ldim(image, 2, true)};
            for (int n = 1; n <= (image.size() + 143) / 144; ++n)
                replies << "~01@ACK " + QByteArray::number(n);
            row(name, ldim(image, 2) + allPackets(image) + "#VERSION?\r", replies << kVersion, 2, image, chunk);
        };
        // A faulty packet stream after an announcement into bank 0; reception is abandoned.
        const auto fault = [&](const char *name, const QByteArray &image, const QByteArray &stream,
                               const QByteArrayList &replies) {
            row(name, ldim(image, 0) + stream + "#VERSION?\r", QByteArrayList{ldim(image, 0, true)} + replies << kVersion);
        };

        // The device starts as [1 3 0][0 7 2][1 2 0][0 15 4], background bank 3, full screen on.
        row("writes read back",
            "#Y 0,300,9,2\r#Y 1,300,2\r#Y 0,302,1,3\r#Y 1,302,3\r#Y 0,337,4,0\r#Y 1,338,0\r#Y 0,337,0,4\r#Y 1,338,4\r"
            "#Y 0,201,0\r#Y 1,201\r",
            {"~01@Y 0,300,9,2", "~01@Y 1,300,9,2", "~01@Y 0,302,1,3", "~01@Y 1,302,1,3", "~01@Y 0,337,4,0",
             "~01@Y 1,338,4,0", "~01@Y 0,337,0,4", "~01@Y 1,338,0,4", "~01@Y 0,201,0", "~01@Y 1,201,0"});
        row("preset layout, parameter 204 kept",
            "#Y 0,204,1\r#prst-rcl 5\r\n#Y 1,300,1\r#Y 1,302,3\r#Y 1,338,4\r#Y 1,201\r#Y 1,204\r",
            {"~01@Y 0,204,1", "~01@PRST-RCL 5", "~01@Y 1,300,5,1", "~01@Y 1,302,0,3", "~01@Y 1,338,4,4",
             "~01@Y 1,201,0", "~01@Y 1,204,1"});
        cmd("version, lower case", "#version?\r", kVersion);
        cmd("unknown command", "#FOO\r", kErr);
        cmd("version with text", "#VERSION? 2\r", kErr);
        cmd("read input of window 4", "#Y 1,300,4\r", kErr);
        cmd("read without window", "#Y 1,300\r", kErr);
        cmd("access 2", "#Y 2,300,1\r", kErr);
        cmd("unknown parameter", "#Y 1,999,0\r", kErr);
        cmd("338 is not written", "#Y 0,338,1,0\r", kErr);
        cmd("input 16 refused", "#Y 0,300,16,2\r", kErr, "#Y 1,300,2\r", "~01@Y 1,300,2,2");
        cmd("input of window 4 refused", "#Y 0,300,5,4\r", kErr, "#Y 1,300,3\r", "~01@Y 1,300,15,3");
        cmd("bank 5 refused", "#Y 0,337,5,4\r", kErr, "#Y 1,338,4\r", "~01@Y 1,338,3,4");
        cmd("preset 0", "#PRST-RCL 0\r\n", kErr);
        cmd("image below header size", bytes("#LDIM 7,0\r\n\0"), kErr);
        cmd("bank index 4", bytes("#LDIM 12,4\r\n\0"), kErr);
        cmd("overlong command", "#Y " + QByteArray(300, '1') + '\r', kErr);

        const QByteArray small = bankImage(2, 1), larger = bankImage(16, 10), ack1 = "~01@ACK 1";
        load("16x10, byte by byte", larger, 1);
        load("14x10, exactly two full packets", bankImage(14, 10), 0);
        load("header only, width 0", bankImage(0, 1), 0);

        fault("first packet numbered 2", small, packet(2, small), {kErr});
        fault("length field above 146", small, packet(1, small, 200), {kErr});
        fault("trailer not zero", small, packet(1, small, -1, bytes("\0\1")), {kErr});
        fault("more data than announced", small, packet(1, small + "AB"), {kErr});
        fault("bad marker", bankImage(2, 1, 0x5A), packet(1, bankImage(2, 1, 0x5A)), {kErr});
        fault("a command after a packet", larger, packet(1, larger.left(144)) + "#y 1,201\r",
              {ack1, kErr, "~01@Y 1,201,1"});
        const QByteArray wrongSize = bankImage(4, 1).left(12); // says 4 x 1, which would be 16 bytes
        fault("size does not match the header", wrongSize, packet(1, wrongSize), {kErr});
    }

    void conversation()
    {
        QFETCH(QByteArray, stream); QFETCH(int, chunk); QFETCH(QByteArrayList, replies);
        QFETCH(int, bank); QFETCH(QByteArray, image);
        Emulator emu;
        emu.setState({{{true, 3, 0}, {false, 7, 2}, {true, 2, 0}, {false, 15, 4}}, 3, 1});
        Client client;
        QVERIFY(client.connectTcp(emu.listenTcp()));
        for (int at = 0, step = chunk ? chunk : int(stream.size()); at < stream.size(); at += step)
            client.send(stream.mid(at, step));
        for (const QByteArray &line : client.readLines(int(replies.size()))) {
            const QByteArray expected = replies.takeFirst();
            QVERIFY2(expected == kErr ? line.startsWith(kErr) : line == expected, line.constData());
        }
        for (int b = 0; b < 4; ++b)
            QCOMPARE(emu.bank(b).complete, b == bank);
        if (bank >= 0) {
            const Bank stored = emu.bank(bank);
            QCOMPARE(stored.data, image);
            QCOMPARE(QSize(stored.width, stored.height), QSize(image[4], image[6]));
            QCOMPARE(emu.packetsReceived(), int(image.size() + 143) / 144);
        }
    }

    void terminatorsAndSplitting()
    {
        Emulator emu;
        Client client;
        QVERIFY(client.connectTcp(emu.listenTcp()));
        // Junk before a '#' is dropped; three kinds of ending; a command split over writes is answered at its CR.
        client.send(bytes("junk\r\n\0# \r\n\0#Y 1,300,0\r#PRST-RCL 3\r\n#VERS"));
        client.send("ION?\r");
        QCOMPARE(client.readLines(4), (QByteArrayList{kOk, "~01@Y 1,300,0,0", "~01@PRST-RCL 3", kVersion}));
        client.send("\n"), client.send(bytes("\0")); // its LF and NUL arrive late
        QCOMPARE(client.exchange("# \r"), kOk);

        QCOMPARE(emu.commands(), (QStringList{"# ", "#Y 1,300,0", "#PRST-RCL 3", "#VERSION?", "# "}));
        QByteArrayList raws;
        for (const ReceivedCommand &c : emu.received())
            raws << c.raw;
        QCOMPARE(raws,
                 (QByteArrayList{bytes("# \r\n\0"), "#Y 1,300,0\r", "#PRST-RCL 3\r\n", bytes("#VERSION?\r\n\0"), "# \r"}));
    }

    void garbage()
    {
        Options o;
        o.garbage = 64;
        Emulator emu(o);
        Client client;
        QVERIFY(client.connectTcp(emu.listenTcp()));
        client.send("# \r#VERSION?\r");
        const QByteArray first = kOk + "\r\n", second = kVersion + "\r\n", &got = client.buffer;
        while (got.size() < 128 + first.size() + second.size() && client.fill(kWaitMs))
            ;
        // Every reply comes whole after its own junk, which ends with CR.
        const QByteArray junk = got.left(64), junk2 = got.mid(64 + first.size(), 64);
        QCOMPARE(junk + first + junk2 + second, got);
        QVERIFY(junk.endsWith('\r') && junk2.endsWith('\r') && junk2 != junk);
        QVERIFY(junk.contains('\0') && junk.contains('\xFF') && junk.contains('\n'));
    }

    void ptyAndLink()
    {
        QTemporaryDir folder;
        const QString link = folder.filePath("com1"), file = folder.filePath("com2");
        QVERIFY(QFile::link("/nonexistent/old", link) && QFile(file).open(QIODevice::WriteOnly));
        {
            Emulator emulator;
            QCOMPARE(QFileInfo(link).symLinkTarget(), emulator.openPty(link)); // a stale link is replaced
            for (int n = 0; n < 2; ++n) { // another client after the first has gone
                Client client;
                QVERIFY(client.openPty(link));
                QCOMPARE(client.exchange("#y 1,300,2\r"), QByteArray("~01@Y 1,300,0,2"));
            }
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression("cannot make the link"));
            QVERIFY(emulator.openPty(file).isEmpty()); // a file that is not a link is not replaced
        }
        QVERIFY(!QFileInfo(file).isSymLink() && !QFileInfo(link).isSymLink()); // removed with the emulator
    }


    void program()
    {
        QTemporaryDir folder;
        const QString link = folder.filePath("com1");
        QProcess process;
        process.start(QX_BIN_DIR "/qx7-emulator", {"--tcp", "0", "--link", link});
        QTRY_VERIFY_WITH_TIMEOUT(process.peek(200).count('\n') >= 2, kWaitMs);
        const QRegularExpressionMatch lines = QRegularExpression("^tcp 127\\.0\\.0\\.1:(\\d+)\\s+pty (/dev/\\S+)\\s")
                                                  .match(QString::fromLatin1(process.readAll()));
        QVERIFY(lines.hasMatch());
        QCOMPARE(QFileInfo(link).symLinkTarget(), lines.captured(2));
        Client client;
        QVERIFY(client.connectTcp(quint16(lines.captured(1).toUInt())));
        QCOMPARE(client.exchange("#Y 1,300,2\r"), QByteArray("~01@Y 1,300,0,2"));
        process.terminate(); // SIGTERM: ends cleanly and takes the link away
        QVERIFY(process.waitForFinished(kWaitMs) && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0);
        QVERIFY(!QFileInfo(link).isSymLink());
    }
};

QTEST_GUILESS_MAIN(TestEmulator)
#include "tst_emulator.moc"
