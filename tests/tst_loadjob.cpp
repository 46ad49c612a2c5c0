// Loading a picture into a bank as the operator and the command line do it: the bank the emulator stores equals
// the conversion byte for byte; refusals leave it untouched; the job locks the window and can be stopped.

#include "banks/imageroutines.h"
#include "windowrig.h"

#include <QDir>
#include <QImageReader>
#include <QListWidget>
#include <QProcess>
#include <QTest>
#include <QTimer>

using namespace qx;
using namespace qxtest;

namespace {

QImage pattern(int w, int h) // a varied picture
{
    QImage img(w, h, QImage::Format_RGB32);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            img.setPixel(x, y, qRgb((x * 7 + y) & 255, (y * 13) & 255, (x * y) & 255));
    return img;
}

// What the bank must hold for a picture file.
QByteArray reference(const QString &path)
{
    QImageReader reader(path);
    reader.setAutoTransform(false);
    const QImage img = reader.read();
    const int w = img.width() & ~1;
    return ConvertPixels(CapturePixels(img, w, img.height()), w, img.height());
}

} // namespace

class TestLoadJob : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // A load the command line asks for at the start, refused (a picture too wide): the warning window tells why with
    // the usage under it, and the run ends with status 2. (What a load sends, records and ends with: tst_runner.)
    void commandLineLoadRefused()
    {
        WindowRig rig;
        pattern(1922, 2).save(rig.folder.file("huge.bmp"));
        const QString previous = QDir::currentPath();
        QDir::setCurrent(rig.folder.path());
        rig.start({"/f:HUGE.BMP", "/b:2", "/e"}); // lower-cased by the switch form, and found all the same
        QDir::setCurrent(previous);
        QVERIFY(rig.result.exitNow && rig.result.status == 2);
        QCOMPARE(rig.seams.modals.value(0).mid(1, 1), QStringList{"Image file is of wrong format:\r\nhuge.bmp"});
        QVERIFY(rig.seams.modals[0].value(2).startsWith(QStringLiteral("Command line options for QX-7alt")));
    }

    // The operator's load locks the window while it runs and gives it back after; it records the file for the
    // bank only when the whole picture went out. Stopped (second click, answered OK), closed or cut off by the
    // device after 100 packets, the bank stays incomplete (nothing is sent after a stop: tst_upload); closed, the
    // shutdown ran once and the saved file claims nothing for the bank.
    void operatorLoad_data()
    {
        QTest::addColumn<QString>("stop");
        QTest::newRow("runs to the end") << "";
        QTest::newRow("stop button") << "button";
        QTest::newRow("window closed") << "close";
        QTest::newRow("connection closed by the device") << "device";
        QTest::newRow("another sender's request runs: busy, told before anything is asked") << "busy";
    }
    void operatorLoad()
    {
        QFETCH(QString, stop);
        qx7emu::Options o;
        o.disconnectAfterPackets = stop == "device" ? 101 : 0;
        o.replyDelayMs = stop == "busy" ? 200 : 0;
        WindowRig rig(o);
        pattern(720, 576).save(rig.folder.file("logo.bmp"));
        MainWindow &w = rig.start();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        rig.control<QListWidget>("lstFILES")->setCurrentRow(0);
        QCOMPARE(Caption(rig.find("labPARAM")), QStringLiteral("720 x 576"));
        rig.click("optBANK", 2);
        rig.core->state.settings.BankFileLoaded[3] = QStringLiteral("old.bmp");
        if (stop == "busy") {
            QVERIFY(rig.connected());
            rig.core->runner.submit(Request::readBack(RequestOrigin::HandOver)); // each reply comes late
            QString told;
            QTimer::singleShot(100, &w, [&] {
                rig.click("cmdLOAD");
                told = Caption(rig.find("labLINK"));
            });
            QTRY_VERIFY(!told.isEmpty());
            QVERIFY(told == MessageTable::defaultText(47) && rig.seams.boxes.isEmpty());
            return;
        }
        QString seen; // while the job runs: the stop caption, the locked controls and the progress
        QTimer probe;
        connect(&probe, &QTimer::timeout, [&] {
            if (!rig.control("txtJOB")->isHidden() && seen.isEmpty()) {
                seen = Caption(rig.find("cmdLOAD"));
                for (const char *name : {"cmdDIR", "cmdREFRESH", "lstFILES", "cmdRECONNECT", "cmdCOMDEFAULTS",
                                         "btnSWITCH", "labPRESETS", "cmdLOAD"})
                    seen += QString::number(rig.control(name)->isEnabled());
                for (int i = 0; i < 4; ++i)
                    seen += QString::number(rig.control("optBANK", i)->isEnabled());
                seen += QString::number(rig.control("boxFRAMING")->isVisible());
                // A preset key waits for no load: it is refused, and the indicator says so.
                QTest::keyClick(&w, Qt::Key_F3);
                seen += Caption(rig.find("labLINK")) == "Busy: preset 3 not recalled" ? "" : " key not refused";
            }
            if (stop.isEmpty() || stop == "device" || rig.emu.packetsReceived() <= 100)
                return;
            probe.stop();
            stop == "close" ? void(w.close()) : rig.click("cmdLOAD");
        });
        probe.start(5);
        rig.click("cmdLOAD");
        probe.stop();
        QCOMPARE(seen, QStringLiteral("Stop0000000100001"));
        // Given back: the caption, the locked controls usable, the progress hidden.
        QCOMPARE(Caption(rig.find("cmdLOAD")), QStringLiteral("Load image to selected bank"));
        QVERIFY(rig.control("cmdDIR")->isEnabled() && rig.control("lstFILES")->isEnabled() &&
                rig.control("btnSWITCH")->isEnabled() && rig.control("optBANK", 0)->isEnabled());
        QVERIFY(!rig.control("boxFRAMING")->isVisible() && Caption(rig.find("labTECHINFO")).isEmpty());
        const QString loaded = stop.isEmpty() ? "logo.bmp" : "";
        QCOMPARE(Caption(rig.find("txtLOADED", 2)) + '|' + rig.core->state.settings.BankFileLoaded[3],
                 loaded + '|' + loaded);
        QCOMPARE(rig.seams.boxes.value(0).first, MessageTable::defaultText(23));
        if (stop.isEmpty()) {
            QCOMPARE(Caption(rig.find("txtPROGRESS")) + '|' + Caption(rig.find("lab")),
                     QStringLiteral("100%|maxpacket: 1680"));
            QCOMPARE(rig.emu.bank(2).data, reference(rig.folder.file(QStringLiteral("logo.bmp"))));
            QVERIFY(!rig.emu.commands().contains("#PRST-RCL 3"));
            return;
        }
        QCOMPARE(rig.seams.boxes.value(1).second,
                 stop == "close" ? QString() : MessageTable::defaultText(stop == "button" ? 8 : 4));
        QVERIFY(!rig.emu.bank(2).complete);
        QCOMPARE(rig.seams.exits, stop == "close" ? QList<int>{0} : QList<int>());
        if (stop == "close")
            QCOMPARE(rig.read("QX-7alt.ini").split('\n').value(42).trimmed(), QByteArray("Bank File Loaded3="));
    }

    // What only the whole process shows: a device that stops reading ends an unattended load with 3 once the
    // bytes did not leave, over a pseudo-terminal and over TCP. (Every other status is decided by the runner.)
    void unattendedExitStatus_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::newRow("device acknowledges but stops reading (serial)") << "deaf";
        QTest::newRow("device acknowledges but stops reading (tcp)") << "deaf-tcp";
    }
    void unattendedExitStatus()
    {
        QFETCH(QString, fault);
        qx7emu::Options o;
        o.deafAfterPackets = fault.startsWith("deaf") ? 5 : 0;
        // A device that stops reading is reached over the pseudo-terminal: unsent bytes pile up at once.
        WindowRig rig(o, fault == "deaf" ? WindowRig::Link::Serial : WindowRig::Link::Tcp);
        const QString app = rig.folder.file("qx-7alt");
        QVERIFY(QFile::copy(QX_BIN_DIR "/qx-7alt", app));
        QFile::setPermissions(app, QFile::permissions(QX_BIN_DIR "/qx-7alt"));
        pattern(720, 576).save(rig.folder.file("Wide.bmp"));
        QProcess p;
        p.start(app, {"--file", rig.folder.file("Wide.bmp"), "--bank", "4", "--exit"});
        QVERIFY(p.waitForFinished(120000));
        QCOMPARE(p.exitCode(), 3);
        QVERIFY(!p.readAllStandardError().isEmpty()); // the reason, on standard error
        QVERIFY(!rig.emu.bank(3).complete);
        QCOMPARE(rig.emu.packetsReceived(), 5);
    }
};

QTEST_MAIN(TestLoadJob)
#include "tst_loadjob.moc"
