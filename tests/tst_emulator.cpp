// The stand-in device's own checks of commands and packets, which no client test drives.

#include "emulator.h"

#include <QProcess>
#include <QTcpSocket>
#include <QtTest>

using namespace qx7emu;

namespace {

const QByteArray kErr = "~01@ERR"; // in an expected reply list: any error line
const QByteArray kOk = "~01@ OK";
const QByteArray kVersion = "~01@VERSION 2.12.0005";

// A literal with all its NUL bytes.
template <int N> QByteArray bytes(const char (&text)[N])
{
    return QByteArray(text, N - 1);
}

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
        QTest::addColumn<QByteArray>("stream");
        QTest::addColumn<QByteArrayList>("replies");
        // A command refused, then one showing the device still answers.
        const auto cmd = [](const char *name, const QByteArray &command, const QByteArray &next = "# \r",
                            const QByteArray &nextReply = kOk) {
            QTest::newRow(name) << command + next << QByteArrayList{kErr, nextReply};
        };
        // A faulty packet stream after an announcement into bank 0; reception is abandoned.
        const auto fault = [](const char *name, const QByteArray &image, const QByteArray &stream,
                              const QByteArrayList &replies = {kErr}) {
            QTest::newRow(name) << ldim(image, 0) + stream + "#VERSION?\r"
                                << (QByteArrayList{ldim(image, 0, true)} + replies << kVersion);
        };

        // The device starts as [1 3 0][0 7 2][1 2 0][0 15 4], background bank 3, full screen on.
        cmd("unknown command", "#FOO\r");
        cmd("input 16 refused", "#Y 0,300,16,2\r", "#Y 1,300,2\r", "~01@Y 1,300,2,2");
        cmd("input of window 4 refused", "#Y 0,300,5,4\r", "#Y 1,300,3\r", "~01@Y 1,300,15,3");
        cmd("bank 5 refused", "#Y 0,337,5,4\r", "#Y 1,338,4\r", "~01@Y 1,338,3,4");
        cmd("preset 0", "#PRST-RCL 0\r\n");
        cmd("bank index 4", bytes("#LDIM 12,4\r\n\0"));
        cmd("overlong command", "#Y " + QByteArray(300, '1') + '\r');

        const QByteArray small = bankImage(2, 1), larger = bankImage(16, 10);
        fault("first packet numbered 2", small, packet(2, small));
        fault("length field above 146", small, packet(1, small, 200));
        fault("trailer not zero", small, packet(1, small, -1, bytes("\0\1")));
        fault("more data than announced", small, packet(1, small + "AB"));
        fault("bad marker", bankImage(2, 1, 0x5A), packet(1, bankImage(2, 1, 0x5A)));
        fault("a command after a packet", larger, packet(1, larger.left(144)) + "#y 1,201\r",
              {"~01@ACK 1", kErr, "~01@Y 1,201,1"});
        const QByteArray wrongSize = bankImage(4, 1).left(12); // says 4 x 1, which would be 16 bytes
        fault("size does not match the header", wrongSize, packet(1, wrongSize));
    }

    void conversation()
    {
        QFETCH(QByteArray, stream);
        QFETCH(QByteArrayList, replies);
        Emulator emu;
        emu.setState({{{true, 3, 0}, {false, 7, 2}, {true, 2, 0}, {false, 15, 4}}, 3, 1});
        QTcpSocket client;
        client.connectToHost(QHostAddress::LocalHost, emu.listenTcp());
        QVERIFY(client.waitForConnected(5000) && client.write(stream) == stream.size());
        QByteArray got;
        while (got.count("\r\n") < replies.size() && client.waitForReadyRead(5000))
            got += client.readAll();
        for (const QByteArray &line : got.split('\n').mid(0, replies.size())) {
            const QByteArray expected = replies.takeFirst();
            QVERIFY2(expected == kErr ? line.startsWith(kErr) : line == expected + '\r', line.constData());
        }
        QVERIFY(replies.isEmpty());
        for (int b = 0; b < 4; ++b)
            QVERIFY(!emu.bank(b).complete);
    }

    // The program as ./run and scripts start it: refused options end with 2, a good start says where it listens
    // and answers as the firmware given, once a black hole has ended.
    void program_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("status");
        QTest::newRow("black hole for a second")
            << QStringList{"--tcp", "0", "--firmware", "3.1", "--black-hole", "1"} << -1;
        QTest::newRow("port beyond 65535") << QStringList{"--tcp", "65536"} << 2;
        QTest::newRow("count not a number") << QStringList{"--tcp", "0", "--noise", "x"} << 2;
    }
    void program()
    {
        QFETCH(QStringList, args);
        QFETCH(int, status);
        QProcess emu;
        emu.start(QX_BIN_DIR "/qx7-emulator", args);
        if (status >= 0) {
            QVERIFY(emu.waitForFinished(10000));
            QCOMPARE(emu.exitCode(), status);
            return;
        }
        QVERIFY(emu.waitForReadyRead(10000));
        const QByteArray listening = emu.readLine().trimmed();
        QVERIFY2(listening.startsWith("tcp 127.0.0.1:"), listening.constData());
        QTcpSocket client;
        client.connectToHost(QHostAddress::LocalHost, quint16(listening.mid(14).toUInt()));
        QVERIFY(client.waitForConnected(5000) && client.write("#VERSION?\r") == 10);
        while (!client.canReadLine() && client.waitForReadyRead(5000))
            continue;
        QCOMPARE(client.readLine(), QByteArray("~01@VERSION 3.1\r\n"));
        emu.kill();
        emu.waitForFinished(5000);
    }
};

QTEST_GUILESS_MAIN(TestEmulator)
#include "tst_emulator.moc"
