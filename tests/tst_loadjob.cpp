// Loading a picture into a bank through the window, as the operator and the
// command line do it: the bank the emulator stores must equal the conversion
// byte for byte; refusals must leave the bank untouched; the job locks the
// window, can be stopped, and records the file for the bank.

#include "app/filespage.h"
#include "app/mainwindow.h"
#include "banks/imageroutines.h"
#include "emulator.h"
#include "linkrig.h"

#include <QDir>
#include <QFile>
#include <QFrame>
#include <QImageReader>
#include <QLabel>
#include <QListWidget>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>

using namespace qx;
using namespace qxtest;

class TestLoadJob : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void commandLineLoad_data();
    void commandLineLoad();
    void commandLineRefusals_data();
    void commandLineRefusals();
    void operatorLoadLocksAndRecords();
    void cancelAtStartChangesNothing();
    void stopDuringUpload_data();
    void stopDuringUpload();
    void unattendedExitStatus_data();
    void unattendedExitStatus();
};

namespace {

// A varied picture of the given size.
QImage pattern(int w, int h)
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

// Line `n` (from 1) of a settings file, without its line end.
QByteArray readSettingsLine(const QString &path, int n)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll().split('\n').value(n - 1).trimmed() : QByteArray();
}

QByteArray tcpConfig(quint16 port)
{
    QByteArray out = ";x\r\nCom Port=0\r\nCom Port Settings=115200,n,8,1\r\nTCP Settings=127.0.0.1:" + QByteArray::number(port)
        + "\r\n";
    return out;
}

// A program folder set for TCP to `emu`, which is also the working folder.
struct Rig {
    TempProgramFolder folder;
    ScriptedSeams seams;
    QString previous = QDir::currentPath();
    explicit Rig(qx7emu::Emulator &emu)
    {
        WriteTcpConfig(folder.path(), emu.listenTcp());
        QDir::setCurrent(folder.path());
    }
    ~Rig() { QDir::setCurrent(previous); }
    QString save(const QString &name, const QImage &img)
    {
        const QString path = folder.file(name);
        img.save(path);
        return path;
    }
    // Starts the window with one picture in the folder, selected in the file list.
    FilesPage &startWith(MainWindow &w, const QImage &img)
    {
        save(QStringLiteral("logo.bmp"), img);
        w.Form_Load({});
        w.files().lstFILES->setCurrentRow(0);
        return w.files();
    }
};

} // namespace

void TestLoadJob::commandLineLoad_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("storedWidth");
    QTest::newRow("bmp") << "a.bmp" << 64 << 64;
    QTest::newRow("jpg, odd width") << "a.jpg" << 75 << 74;
    QTest::newRow("gif") << "stripes.gif" << 34 << 34;
    QTest::newRow("animated gif: first frame") << "animated.gif" << 34 << 34;
    QTest::newRow("1921 wide loads as 1920") << "wide.bmp" << 1921 << 1920;
}

void TestLoadJob::commandLineLoad()
{
    QFETCH(QString, name);
    QFETCH(int, width);
    QFETCH(int, storedWidth);
    qx7emu::Emulator emu;
    Rig rig(emu);
    QString path;
    if (name.endsWith(QLatin1String(".gif"))) {
        path = rig.folder.file(name);
        QVERIFY(QFile::copy(QStringLiteral(QX_TEST_DATA_DIR "/") + name, path));
    } else {
        path = rig.save(name, pattern(width, width > 1000 ? 4 : 48));
    }
    MainWindow w;
    // The command line lower-cases its switches; the file is found all the same.
    const auto result = w.Form_Load({QStringLiteral("/f:") + name.toUpper(), QStringLiteral("/b:2"), QStringLiteral("/e")});
    QVERIFY(result.exitNow);
    QCOMPARE(result.status, 0);
    QVERIFY2(rig.seams.boxes.isEmpty(), qPrintable(rig.seams.boxes.value(0).first));
    const qx7emu::Bank bank = emu.bank(1);
    QVERIFY(bank.complete);
    QCOMPARE(bank.width, storedWidth);
    QCOMPARE(bank.data, reference(path));
    QCOMPARE(w.state().settings.BankFileLoaded[2], name.toLower());
    const QStringList cmds = emu.commands();
    QCOMPARE(cmds.mid(0, 3), (QStringList{QStringLiteral("#VERSION?"), QStringLiteral("# "),
                                           QStringLiteral("#LDIM %1,1").arg(bank.data.size())}));
}

void TestLoadJob::commandLineRefusals_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("version");
    QTest::addColumn<QString>("warning"); // "" when the refusal is a message box
    QTest::addColumn<QString>("box");
    QTest::addColumn<QStringList>("commands");
    QTest::newRow("missing file") << "nothere.bmp" << "2.12" << "Can't find file to load to QX-7:\r\nnothere.bmp"
                                  << QString() << QStringList{};
    QTest::newRow("1922 wide") << "huge.bmp" << "2.12" << "Image file is of wrong format:\r\nhuge.bmp" << QString()
                               << QStringList{};
    QTest::newRow("not a picture") << "text.bmp" << "2.12" << "Image file is of wrong format:\r\ntext.bmp"
                                   << QString() << QStringList{};
    QTest::newRow("old firmware") << "small.bmp" << "2.11.0001" << QString()
                                  << "Old version of QX-7. Please update the firmware for QX-7"
                                  << QStringList{QStringLiteral("#VERSION?")};
}

void TestLoadJob::commandLineRefusals()
{
    QFETCH(QString, file);
    QFETCH(QString, version);
    QFETCH(QString, warning);
    QFETCH(QString, box);
    QFETCH(QStringList, commands);
    qx7emu::Options o;
    o.version = version;
    qx7emu::Emulator emu(o);
    Rig rig(emu);
    rig.save(QStringLiteral("huge.bmp"), pattern(1922, 2));
    rig.save(QStringLiteral("small.bmp"), pattern(8, 8));
    QFile text(rig.folder.file(QStringLiteral("text.bmp")));
    text.open(QIODevice::WriteOnly);
    text.write("this is not a picture");
    text.close();
    MainWindow w;
    w.Form_Load({QStringLiteral("/f:") + file, QStringLiteral("/e")});
    if (!warning.isEmpty()) {
        QCOMPARE(rig.seams.modals.size(), 1);
        QCOMPARE(rig.seams.modals[0].value(1), warning);
        QVERIFY(rig.seams.modals[0].value(2).startsWith(QStringLiteral("Command line options for QX-7alt")));
    } else {
        QCOMPARE(rig.seams.boxes.value(0).first, box);
        QCOMPARE(w.files().txtLOADED[0]->text(), QString());
    }
    QTest::qWait(50);
    QCOMPARE(emu.commands(), commands);
    QVERIFY(!emu.bank(0).complete);
}

void TestLoadJob::operatorLoadLocksAndRecords()
{
    qx7emu::Emulator emu;
    Rig rig(emu);
    rig.save(QStringLiteral("logo.bmp"), pattern(720, 576));
    MainWindow w;
    w.Form_Load({});
    FilesPage &f = w.files();
    f.ListImageFiles(); // the folder is the program folder
    QCOMPARE(f.lstFILES->count(), 1);
    f.lstFILES->setCurrentRow(0);
    QVERIFY(f.cmdLOAD->isEnabled());
    QCOMPARE(f.labPARAM->text(), QStringLiteral("720 x 576"));
    f.optBANK[2]->setChecked(true);

    // While the job runs: the stop caption, the progress, and the locked controls.
    QStringList seen;
    QTimer probe;
    connect(&probe, &QTimer::timeout, [&] {
        if (!f.LoadRunning || !seen.isEmpty())
            return;
        seen << f.cmdLOAD->text() << QString::number(f.cmdDIR->isEnabled()) << QString::number(f.lstFILES->isEnabled())
             << QString::number(f.optBANK[0]->isEnabled()) << QString::number(w.btnSWITCH->isEnabled())
             << QString::number(f.cmdRECONNECT->isEnabled()) << QString::number(f.cmdLOAD->isEnabled())
             << QString::number(f.boxFRAMING->isVisible());
    });
    probe.start(20);
    w.show();
    QTest::mouseClick(f.cmdLOAD, Qt::LeftButton);
    probe.stop();
    QCOMPARE(rig.seams.boxes.value(0).first, MessageTable::defaultText(23));
    QCOMPARE(seen, (QStringList{"Stop", "0", "0", "0", "0", "0", "1", "1"}));
    QCOMPARE(f.cmdLOAD->text(), QStringLiteral("Load image to selected bank"));
    QVERIFY(f.cmdDIR->isEnabled() && f.lstFILES->isEnabled() && w.btnSWITCH->isEnabled());
    QVERIFY(!f.boxFRAMING->isVisible());
    QCOMPARE(f.txtPROGRESS->text(), QStringLiteral("100%"));
    QCOMPARE(w.lab->text(), QStringLiteral("maxpacket: 1680"));
    QCOMPARE(f.txtLOADED[2]->text(), QStringLiteral("logo.bmp"));
    QCOMPARE(w.state().settings.BankFileLoaded[3], QStringLiteral("logo.bmp"));
    QCOMPARE(emu.bank(2).data, reference(rig.folder.file(QStringLiteral("logo.bmp"))));
    QCOMPARE(emu.packetsReceived(), 5761);
}

void TestLoadJob::cancelAtStartChangesNothing()
{
    qx7emu::Emulator emu;
    Rig rig(emu);
    MainWindow w;
    FilesPage &f = rig.startWith(w, pattern(16, 16));
    rig.seams.answers = {false};
    f.cmdLOAD->click();
    QVERIFY(w.exchange().StopRequested);
    QVERIFY(f.boxFRAMING->isHidden());
    QVERIFY(f.cmdDIR->isEnabled());
    QCOMPARE(f.txtLOADED[0]->text(), QString());
    QTest::qWait(50);
    QVERIFY(emu.commands().isEmpty());
}

void TestLoadJob::stopDuringUpload_data()
{
    QTest::addColumn<bool>("closeWindow"); // else a second click on the stop button, answered OK
    QTest::newRow("stop button") << false;
    QTest::newRow("window closed") << true;
}

void TestLoadJob::stopDuringUpload()
{
    QFETCH(bool, closeWindow);
    qx7emu::Emulator emu;
    Rig rig(emu);
    MainWindow w;
    FilesPage &f = rig.startWith(w, pattern(720, 576));
    w.state().settings.BankFileLoaded[1] = QStringLiteral("old.bmp");
    QTimer::singleShot(0, [&] {
        QTimer *t = new QTimer(&w);
        connect(t, &QTimer::timeout, [&, t] {
            if (emu.packetsReceived() > 100) {
                t->stop();
                if (closeWindow)
                    w.close();
                else
                    f.cmdLOAD->click();
            }
        });
        t->start(5);
    });
    f.cmdLOAD->click();
    QCOMPARE(rig.seams.boxes.size(), closeWindow ? 1 : 2);
    if (!closeWindow)
        QCOMPARE(rig.seams.boxes[1].second, MessageTable::defaultText(8));
    QCOMPARE(f.txtLOADED[0]->text(), QString());
    QCOMPARE(w.state().settings.BankFileLoaded[1], QString());
    QCOMPARE(f.cmdLOAD->text(), QStringLiteral("Load image to selected bank"));
    QVERIFY(f.labTECHINFO->text().isEmpty());
    const int packets = emu.packetsReceived();
    QVERIFY(packets < 5761);
    QTest::qWait(100);
    QCOMPARE(emu.packetsReceived(), packets); // nothing after the stop
    QVERIFY(!emu.bank(0).complete);
    // Closed: the shutdown ran once and the saved file claims nothing for the bank.
    QCOMPARE(rig.seams.exits, closeWindow ? QList<int>{0} : QList<int>());
    if (closeWindow)
        QVERIFY(readSettingsLine(rig.folder.file(QStringLiteral("QX-7alt.ini")), 41) == "Bank File Loaded1=");
}

void TestLoadJob::unattendedExitStatus_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("fault");
    QTest::addColumn<int>("status");
    QTest::newRow("loaded") << "Logo.bmp" << "" << 0;
    QTest::newRow("missing file") << "Nothing.bmp" << "" << 2;
    QTest::newRow("too large") << "Huge.bmp" << "" << 2;
    QTest::newRow("old firmware") << "Logo.bmp" << "old" << 2;
    QTest::newRow("no link") << "Logo.bmp" << "nolink" << 3;
    QTest::newRow("no version reply") << "Logo.bmp" << "silent" << 3;
    QTest::newRow("dropped acknowledgement") << "Logo.bmp" << "drop" << 3;
    QTest::newRow("connection closed") << "Logo.bmp" << "disconnect" << 3;
    QTest::newRow("device acknowledges but stops reading (serial)") << "Wide.bmp" << "deaf" << 3;
}

void TestLoadJob::unattendedExitStatus()
{
    QFETCH(QString, file);
    QFETCH(QString, fault);
    QFETCH(int, status);
    qx7emu::Options o;
    if (fault == QLatin1String("old"))
        o.version = QStringLiteral("2.11");
    o.silent = fault == QLatin1String("silent");
    o.dropAck = fault == QLatin1String("drop") ? 3 : 0;
    o.disconnectAfterPackets = fault == QLatin1String("disconnect") ? 3 : 0;
    o.deafAfterPackets = fault == QLatin1String("deaf") ? 5 : 0;
    qx7emu::Emulator emu(o);
    QTemporaryDir dir;
    const QString app = dir.filePath(QStringLiteral("qx-7alt"));
    QVERIFY(QFile::copy(QStringLiteral(QX_BIN_DIR "/qx-7alt"), app));
    QFile::setPermissions(app, QFile::permissions(QStringLiteral(QX_BIN_DIR "/qx-7alt")));
    QFile ini(dir.filePath(QStringLiteral("QX-7alt.ini")));
    ini.open(QIODevice::WriteOnly);
    if (fault == QLatin1String("nolink"))
        ini.write(";x\r\nCom Port=0\r\nx\r\nTCP Settings=127.0.0.1\r\n");
    else if (fault == QLatin1String("deaf")) // the pseudo-terminal holds little, so unsent bytes pile up at once
        ini.write(emu.openPty(dir.filePath(QStringLiteral("com1"))).isEmpty() ? "" : ";x\r\nCom Port=1\r\n");
    else
        ini.write(tcpConfig(emu.listenTcp()));
    ini.close();
    pattern(40, 30).save(dir.filePath(QStringLiteral("Logo.bmp")));
    pattern(1922, 2).save(dir.filePath(QStringLiteral("Huge.bmp")));
    pattern(720, 576).save(dir.filePath(QStringLiteral("Wide.bmp")));
    QProcess p;
    p.start(app, {QStringLiteral("--file"), dir.filePath(file), QStringLiteral("--bank"), QStringLiteral("4"),
                  QStringLiteral("--exit")});
    QVERIFY(p.waitForFinished(120000));
    QCOMPARE(p.exitCode(), status);
    if (status == 0)
        QCOMPARE(emu.bank(3).data, reference(dir.filePath(file)));
    else
        QVERIFY(!p.readAllStandardError().isEmpty()); // the reason, on standard error
    if (status == 2)
        QVERIFY(!emu.bank(3).complete && emu.packetsReceived() == 0);
    if (fault == QLatin1String("deaf"))
        QCOMPARE(emu.packetsReceived(), 5);
}

QTEST_MAIN(TestLoadJob)
#include "tst_loadjob.moc"
