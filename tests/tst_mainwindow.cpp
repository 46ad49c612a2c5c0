// The main window driven as an operator would, offscreen, against the emulator: start-up, the link settings,
// presets, names, the log column, the tab strip and the shutdown.

#include "app/focuskeeper.h"
#include "app/platform.h"
#include "app/switchingpage.h"
#include "app/widgets.h"
#include "app/windowscaler.h"
#include "language/messagetable.h"
#include "remote/panelremote.h"
#include "remote/remotepairing.h"
#include "settings/settings.h"
#include "util/seams.h"
#include "windowrig.h"

#include <QApplication>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QSet>
#include <QSignalSpy>
#include <QStyleOption>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>
#include <cmath>

using namespace qx;
using namespace qxtest;

class TestMainWindow : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void freshStartDefaults()
    {
        WindowRig rig({}, WindowRig::Link::Serial);
        rig.start();
        QVERIFY(rig.seams.boxes.isEmpty()); // no warning: serial port 1 opened through com1
        // The folder's pictures and their order: tst_picture:listImageFiles.
        QCOMPARE(rig.control<QLineEdit>("txtDIR")->text() + '|' + rig.control<QLineEdit>("txtCOMPORT")->text(),
                 rig.folder.path() + "|1");
        // Only the Files and Setup page is shown; the verdicts, the log and the TCP box are hidden or off.
        QString shown;
        for (const char *name :
             {"frameFILES", "framePRESETS", "frameSWITCH", "lstLOG", "labPICTUREBAD", "labPICTUREERROR"})
            shown += QString::number(!rig.control(name)->isHidden());
        for (const char *name : {"chkCOM", "txtTCPSETTINGS", "cmdLOAD"})
            shown += QString::number(rig.control(name)->isEnabled());
        QCOMPARE(shown + QString::number(rig.control<QAbstractButton>("chkCOM")->isChecked()), "1000001000");
        // The selected tab is light, the others dark; preset buttons show their colour flat beside the caption.
        QCOMPARE(BackColor(rig.control("btnFILES")), QColor(192, 192, 192));
        QCOMPARE(BackColor(rig.control("btnPRESETS")), QColor(128, 128, 128));
        QWidget *preset = rig.control("cmdPRESET", 1);
        QCOMPARE(preset->grab().toImage().pixelColor(8, preset->height() / 2), QColor(192, 192, 192));
        // Locked controls stay legible, drawn with the palette role the style uses for their captions.
        rig.window->switching().LockSwitchControls(nullptr);
        rig.window->setTabsEnabled(false); // as during a load; cmdLOAD is disabled without a picture
        const auto luminance = [](const QColor &c) {
            const auto lin = [](double v) { return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
            return 0.2126 * lin(c.redF()) + 0.7152 * lin(c.greenF()) + 0.0722 * lin(c.blueF()) + 0.05;
        };
        for (const auto &[control, index, role] : {std::tuple{"optWIN1INP", 0, QPalette::WindowText},
                                                   {"cmdLOAD", -1, QPalette::ButtonText},
                                                   {"labSWITCH", -1, QPalette::WindowText}}) {
            QWidget *locked = rig.control(control, index), *back = locked;
            QVERIFY(locked && !locked->isEnabled());
            while (!back->property("qxBackColor").isValid())
                back = back->parentWidget();
            const double text = luminance(locked->palette().color(QPalette::Disabled, role));
            const double ground = luminance(BackColor(back)), ratio = std::max(text, ground) / std::min(text, ground);
            QVERIFY2(ratio >= 3, qPrintable(QString("%1 %2").arg(control).arg(ratio)));
        }
    }

    void setupPageEdits()
    {
        WindowRig rig({}, WindowRig::Link::None);
        rig.writeConfig({"Com Port=150", "Com Port Settings=9600,e,7,2", "TCP Settings=127.0.0.1:1"});
        rig.start({QStringLiteral("/c:#Y 0,204,1")});
        Settings &s = rig.core->state.settings;
        auto *port = rig.control<QLineEdit>("txtCOMPORT");
        // 150 in the file: the box shows 100 and port 100 fails with its message only (its text: tst_link:openLink);
        // "/c:" sends nothing.
        QCOMPARE(port->text(), QStringLiteral("100"));
        QCOMPARE(rig.seams.boxes.size(), 1);
        QCOMPARE(rig.core->log.messageCount(), 0);
        rig.click("cmdCOMDEFAULTS");
        QCOMPARE(rig.control<QLineEdit>("txtCOMSETTINGS")->text() + '|' + s.TcpSettings,
                 kDefaultComSettings + '|' + kDefaultTcpSettings);
        rig.click("chkCOM");
        QVERIFY(s.ComPort == 0 && !port->isEnabled() && !rig.control("txtCOMSETTINGS")->isEnabled() &&
                rig.control("txtTCPSETTINGS")->isEnabled());
        rig.click("chkCOM");
        // Coming back from TCP selects serial port 1; the link is not reopened by the box.
        QVERIFY(s.ComPort == 1 && port->text() == "1" && rig.seams.boxes.size() == 1);
        // Typed port numbers: nothing is 1, at most 100, halves to even.
        for (const auto &[typed, number] : {std::pair{"", 1}, {"250", 100}, {"2.5", 2}, {"3.5", 4}}) {
            port->clear();
            QTest::keyClicks(port, typed);
            QCOMPARE(s.ComPort, number);
        }
        // Names show in their lists as they are typed.
        auto *presets = rig.control<QListWidget>("lstPRESETNAMES");
        auto *edit = rig.control<QLineEdit>("txtEDITPRESETNAME");
        presets->setCurrentRow(17);
        QVERIFY(edit->isEnabled() && edit->text() == "Bank 2");
        edit->selectAll();
        QTest::keyClicks(edit, "<b>Logo</b>");
        QCOMPARE(presets->item(17)->text() + '|' + Caption(rig.find("optBANK", 1)), "bank2: <b>Logo</b>|<b>Logo</b>");
        // A preset name shows in the list at once, on its button only after a restart. A pasted line break
        // becomes a blank; no length limit applies, also when a list click puts the name back.
        presets->setCurrentRow(4);
        edit->clear();
        edit->insert("Stu\ndio" + QString(32768, 'o'));
        presets->setCurrentRow(0);
        presets->setCurrentRow(4);
        const QString name = "Stu dio" + QString(32768, 'o');
        QCOMPARE(presets->item(4)->text() + '|' + Caption(rig.find("cmdPRESET", 5)), "preset5: " + name + "|preset_5");
        QCOMPARE(s.PresetName[5], name);
        // Names and the Enabled box of window 1 show "&" as typed, each where it is set: no mnemonic of a name
        // takes the focus to its button and clicks it.
        for (QString *list : {s.LabelIn.data(), s.LabelWin.data(), s.PresetName.data(), s.BankName.data()})
            std::fill(list + 1, list + 5, QStringLiteral("&Start"));
        rig.window->SetUpNames();
        rig.window->ShowTab(2); // as the operator opens the Switching page
        rig.window->switching().RefreshSwitchState();
        for (const auto &[control, index] :
             {std::pair{"cmdPRESET", 1}, {"optBANK", 1}, {"optWIN1INP", 20}, {"optWIN1INP", 80}, {"chkWINENABLE", 0}})
            QCOMPARE(rig.control<QAbstractButton>(control, index)->text(), QStringLiteral("&&Start"));
        // The Remote control group: its tick starts the listeners on the port typed and is kept in remote.ini;
        // a port that is no port leaves the one before.
        PanelRemote remote(*rig.core);
        rig.window->showRemote(remote);
        remote.start(rig.folder.path(), 0);
        QCOMPARE(rig.control<QLineEdit>("txtREMOTETOKEN")->cursorPosition(), 0); // the token from its start
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost));
        const QString free = QString::number(probe.serverPort());
        probe.close();
        auto *typed = rig.control<QLineEdit>("txtREMOTEPORT");
        typed->setText(free);
        rig.click("chkREMOTE");
        typed->setText("70000");
        Q_EMIT typed->editingFinished();
        QCOMPARE(QString::number(remote.control().port()) + '|' + typed->text(), free + '|' + free);
        QVERIFY(remote.control().listening());
        // The pairing code with whole pixels a module (a smoothed one does not scan): its dark part, between the
        // quiet zones of four modules, is a whole number of modules wide.
        const QImage code = rig.control("imgREMOTEQR")->grab().toImage();
        QRect dark;
        for (int y = 0; y < code.height(); ++y)
            for (int x = 0; x < code.width(); ++x)
                dark |= qGray(code.pixel(x, y)) < 128 ? QRect(x, y, 1, 1) : QRect();
        QCOMPARE(dark.width() % (QrCodeImage(remote.control().pairingLink()).width() - 8), 0);
        QVERIFY(rig.read("remote.ini").contains("Enabled=1\r\nPort=" + free.toLatin1() + "\r\n"));
        // The note names the address a tablet opens; a new token is saved and applied (the old pairing link goes).
        QVERIFY(rig.control<QLabel>("labREMOTENOTE")->text().contains("http://127.0.0.1:" + free + "/"));
        const QString link = remote.control().pairingLink();
        const QString token = rig.control<QLineEdit>("txtREMOTETOKEN")->text();
        rig.click("cmdREMOTENEWTOKEN");
        const QString made = rig.control<QLineEdit>("txtREMOTETOKEN")->text();
        QVERIFY(made != token && rig.read("remote.ini").contains("Token=" + made.toLatin1()));
        QVERIFY(remote.control().pairingLink() != link);
    }

    // NUL bytes are left out (the language file's "Cap\0tion=" line sets the title) and the operator is told
    // once, also of a settings file that is not text (what the shutdown writes of each: tst_settings:reading).
    // A remote.ini that is not text, readable by others, or with a short token is the remote group's note.
    void filesWithNulBytes()
    {
        WindowRig rig({}, WindowRig::Link::Serial);
        const QByteArray picture("BM\x06\0", 4);
        rig.write("startup.ini", QByteArray(";\0\r\nTongue=D\0E\r\n", 16));
        rig.write("QX-7alt_DE.lng", QByteArray(";\r\n;\r\nMessage=MSG(43)\r\nCap\0tion=Ordner\r\n", 40));
        rig.write("QX-7alt.ini", picture);
        rig.write("remote.ini", picture);
        QFile(rig.folder.file("remote.ini")).setPermissions(QFileDevice::ReadOwner | QFileDevice::ReadOther);
        const auto remoteNote = [&rig] {
            rig.start();
            PanelRemote remote(*rig.core);
            rig.window->showRemote(remote);
            remote.start(rig.folder.path(), 0);
            rig.window->close();
            return rig.control<QLabel>("labREMOTENOTE")->text();
        };
        const QString ini = QDir::toNativeSeparators(rig.folder.file("remote.ini"));
        QCOMPARE(remoteNote(), FillIn(MessageTable::defaultText(76), ini) + " (not a text file) · " +
                                   FillIn(MessageTable::defaultText(77), ini));
        QStringList told;
        for (const auto &[n, file] : {std::pair{65, "startup.ini"}, {66, "QX-7alt_DE.lng"}, {67, "QX-7alt.ini"}})
            told << FillIn(MessageTable::defaultText(n), QDir::toNativeSeparators(rig.folder.file(file)));
        QCOMPARE(rig.seams.boxes, (QList<QPair<QString, QString>>{{told.join("\r\n\r\n"), "Ordner"}}));
        // A token set by hand that is easy to guess is the note's too.
        QFile(rig.folder.file("remote.ini")).setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        rig.write("remote.ini", "Token=abc\r\n");
        QCOMPARE(remoteNote(), FillIn(MessageTable::defaultText(78), QString::number(kShortRemoteToken)));
    }

    void serialPortList()
    {
        // The operator picks the adapter by its stable name: com<n> of the program folder becomes a link to it
        // (the settings keep the number) and Reconnect opens it. A file in the entry's place is left alone.
        WindowRig rig({}, WindowRig::Link::None);
        QTemporaryDir dev;
        const QString byId = dev.filePath("serial/by-id"), stable = byId + "/usb-Example_QX-7_0001-if00";
        const QString pty = rig.emu.openPty();
        QVERIFY(QDir().mkpath(byId) && QFile::link(pty, stable));
        rig.seams.ports = {{pty, "QX-7 emulator", "Example", "0001"}};
        qx::seams().serialByIdFolder = byId;
        rig.start();
        auto *ports = rig.control<QComboBox>("comboPORTS");
        QCOMPARE(ports->itemText(0),
                 "usb-Example_QX-7_0001-if00 (" + QFileInfo(pty).fileName() + ") \u2013 QX-7 emulator, Example, 0001");
        QCOMPARE(ports->currentIndex(), -1);
        QVERIFY(QFile::remove(rig.folder.file("com3")));
        rig.write("com3", "mine");
        for (const char *number : {"2", "3"}) {
            rig.control<QLineEdit>("txtCOMPORT")->setText(number);
            ports->setFocus();
            QTest::keyClick(ports, Qt::Key_Down); // the operator's choice
        }
        QCOMPARE(QFileInfo(rig.folder.file("com2")).symLinkTarget(), stable);
        QCOMPARE(rig.seams.boxes.last(), qMakePair(FillIn(MessageTable::defaultText(60), rig.folder.file("com3")),
                                                   MessageTable::defaultText(61)));
        rig.control<QLineEdit>("txtCOMPORT")->setText("2");
        QCOMPARE(ports->currentIndex(), 0); // the port com2 leads to
        rig.click("cmdRECONNECT");
        QTRY_COMPARE(rig.control<QLabel>("labLINK")->text(), QString("Connected \u00B7 com2"));
        rig.click("chkCOM"); // TCP/IP: no serial port is in use
        QVERIFY(ports->count() == 0 && !ports->isEnabled() && ports->placeholderText() == "TCP/IP in use");
    }

    // The log column shows what went out and came in (a recall's bytes on the wire: tst_app:commandLine).
    void logColumn()
    {
        WindowRig rig({}, WindowRig::Link::Serial);
        rig.writeConfig({}, "Log=1");
        MainWindow &w = rig.start();
        QVERIFY(!rig.control("lstLOG")->isHidden());
        QCOMPARE(w.width() - 7, rig.control("lstLOG")->geometry().right() + 1); // widened, by the pages' margin
        auto *list = rig.control<QListWidget>("lstLOG"); // drawn from half a device pixel on, as at scale 1.5
        QImage half((list->size() + QSize(1, 1)) * 1.5, QImage::Format_ARGB32);
        half.setDevicePixelRatio(1.5);
        list->render(&half, QPoint(1, 1));
        for (const QPoint at : {QPoint(2, 100), QPoint(100, 2), QPoint(half.width() - 1, 100), // its last pixels
                                QPoint(100, half.height() - 1)})
            QCOMPARE(half.pixel(at), list->grab().toImage().pixel(0, 100)); // the frame's line on every edge
        rig.click("chkLOGLIST");
        {
            const DeviceSession::Lease lease = rig.core->session.lease();
            lease.exchange().SendCommand("# \r");
            lease.exchange().WaitReply(QStringLiteral("~01@ OK"));
        }
        QStringList shown;
        for (const char *name : {"lab2", "lab3", "labN", "labNN"})
            shown << Caption(rig.find(name));
        QCOMPARE(shown, (QStringList{"(sent 3) 23 20 0D ", "~01@ OK\r\n", "2", "2"}));
        QCOMPARE(rig.control<QListWidget>("lstLOG")->count(), 2);
    }

    // The page keys and clicks from the Files and Setup page, where every start opens; a key does what a click
    // on the panel does (the Switching page reads back), and a locked panel is passed over. Space or Enter on a
    // focused panel clicks it. A click's release reaches the widget that took the press, at the pointer's place.
    void pageChoice_data()
    {
        QTest::addColumn<QString>("focus"); // the control given the focus first, or where a mouse button goes down
        QTest::addColumn<QString>("keys");  // or "left|right up on <control>": where the button comes up
        QTest::addColumn<bool>("locked");   // the Presets and Switching panels, as during a load
        QTest::addColumn<QString>("page");  // the frame shown, "+about" when the About box opened
        const struct {
            const char *row, *focus, *keys;
            bool locked;
            const char *page;
        } rows[] = {
            {"Ctrl+1", "txtDIR", "Ctrl+1", false, "framePRESETS"},
            {"Ctrl+2 reads back", "txtDIR", "Ctrl+2", false, "frameSWITCH"},
            {"Ctrl+3", "txtDIR", "Ctrl+1, Ctrl+3", false, "frameFILES"},
            {"Ctrl+Tab: round from Files to Presets, About passed over", "txtDIR", "Ctrl+Tab", false, "framePRESETS"},
            {"Ctrl+PgDn", "txtDIR", "Ctrl+1, Ctrl+PgDown", false, "frameSWITCH"},
            {"Ctrl+Shift+Tab", "txtDIR", "Ctrl+Shift+Backtab", false, "frameSWITCH"},
            {"Ctrl+PgUp: round from Presets to Files", "txtDIR", "Ctrl+1, Ctrl+PgUp", false, "frameFILES"},
            {"Ctrl+PgDn, locked panels passed over", "txtDIR", "Ctrl+PgDown", true, "frameFILES"},
            {"Ctrl+2 on a locked panel", "txtDIR", "Ctrl+2", true, "frameFILES"},
            {"Space on the Switching panel", "btnSWITCH", "Space", false, "frameSWITCH"},
            {"Enter on the About panel", "pictABOUT", "Return", false, "frameFILES+about"},
            {"click: label to panel", "labSWITCH", "left up on btnSWITCH", false, "frameSWITCH"},
            {"click: panel to label", "btnSWITCH", "left up on labSWITCH", false, "frameSWITCH"},
            {"right click", "labSWITCH", "right up on labSWITCH", false, "frameFILES"},
            {"click released on another tab", "labSWITCH", "left up on btnPRESETS", false, "frameFILES"},
            {"click on About", "labABOUT", "left up on pictABOUT", false, "frameFILES+about"},
        };
        for (const auto &r : rows)
            QTest::newRow(r.row) << r.focus << r.keys << r.locked << r.page;
    }
    void pageChoice()
    {
        QFETCH(QString, focus);
        QFETCH(QString, keys);
        QFETCH(bool, locked);
        QFETCH(QString, page);
        WindowRig rig;
        MainWindow &w = rig.start();
        QVERIFY(QTest::qWaitForWindowActive(&w) && rig.connected());
        w.setTabsEnabled(!locked);
        QWidget *down = rig.control(focus),
                *up = keys.contains(" up on ") ? rig.control(keys.section(' ', 3)) : nullptr;
        down->setFocus();
        const auto button = keys.startsWith("left") ? Qt::LeftButton : Qt::RightButton;
        if (up) {
            QTest::mousePress(down, button);
            QTest::mouseRelease(down, button, {}, down->mapFromGlobal(up->mapToGlobal(up->rect().center())));
        } else {
            QTest::keySequence(down, QKeySequence(keys));
        }
        QString shown;
        for (const char *frame : {"framePRESETS", "frameSWITCH", "frameFILES"})
            shown += rig.control(frame)->isHidden() ? "" : frame;
        QCOMPARE(shown + (rig.seams.modals.isEmpty() ? "" : "+about"), page);
        if (page == "frameSWITCH")
            QTRY_VERIFY_WITH_TIMEOUT(rig.switchingIdle() && rig.emu.commands().endsWith("#Y 1,338,4"), 5000);
        else
            QVERIFY(rig.emu.commands().isEmpty());
    }

    // After a switching command and its read-back the focus is back on the button that sent it. Every
    // control that takes the focus shows it (the indicator and the panels draw a frame). Tab reaches a
    // source group on its selected source.
    void focusStaysAndShows()
    {
        WindowRig rig;
        qx7emu::DeviceState state;
        state.windows[1].input = 14;
        rig.emu.setState(state);
        MainWindow &w = rig.start();
        QVERIFY(QTest::qWaitForWindowActive(&w) && rig.connected());
        // Round the Files and Setup page by Tab, as a keyboard user goes: each stop looks otherwise when left.
        rig.control("btnPRESETS")->setFocus();
        for (QSet<QWidget *> seen; !seen.contains(w.focusWidget());) {
            QWidget *k = w.focusWidget();
            seen.insert(k);
            const QImage focused = k->grab().toImage();
            QTest::keyClick(k, Qt::Key_Tab);
            QVERIFY2(k->grab().toImage() != focused, qPrintable(ControlName(k)));
        }
        // Tab into a list chooses nothing: no picture previewed, no name to edit.
        QImage(8, 8, QImage::Format_RGB32).save(rig.folder.file("logo.bmp"));
        rig.click("cmdREFRESH");
        rig.control("lstFILES")->setFocus(Qt::TabFocusReason);
        QVERIFY(rig.control<QLabel>("pictPREVIEW")->pixmap().isNull() &&
                !rig.control("txtEDITINPUTNAME")->isEnabled() && !rig.control("txtEDITPRESETNAME")->isEnabled());
        rig.control("pictABOUT")->setFocus();
        QTest::keyClick(w.focusWidget(), Qt::Key_Backtab); // the panels are in the Tab order
        QCOMPARE(ControlName(w.focusWidget()), "btnFILES");
        QTest::keyClick(&w, Qt::Key_2, Qt::ControlModifier);
        QTRY_VERIFY_WITH_TIMEOUT(rig.switchingIdle(), 5000);
        rig.control("chkWINFULL", 3)->setFocus();
        QTest::keyClick(w.focusWidget(), Qt::Key_Tab);
        QTest::keyClick(w.focusWidget(), Qt::Key_Tab);
        QCOMPARE(w.focusWidget(), rig.control("optWIN1INP", 34)); // window 2's input 15
        // Space on window 2's input 4, then Up twice: each key switches once, the focus on the new source.
        rig.control("optWIN1INP", 23)->setFocus();
        for (const auto &[key, input] : {std::pair{Qt::Key_Space, 3}, {Qt::Key_Up, 2}, {Qt::Key_Up, 1}}) {
            QApplication::setActiveWindow(&w); // after the wait window, as a window manager does
            QWidget *from = w.focusWidget();
            rig.emu.clearReceived();
            QTest::keyClick(from, key);
            QVERIFY(!from->isEnabled() && !from->hasFocus()); // locked: the toolkit moved the focus on
            QTRY_VERIFY_WITH_TIMEOUT(rig.switchingIdle() && rig.emu.commands().endsWith("#Y 1,338,4"), 5000);
            QCOMPARE(rig.emu.commands().first(), QString("#Y 0,300,%1,1").arg(input));
            QCOMPARE(w.focusWidget(), rig.control("optWIN1INP", 20 + input));
        }
        // A framed control that goes while it has the focus (the window's end can take it so, after a late
        // activation) is not redrawn half destroyed.
        QWidget host;
        auto *frame = new QLabel(&host);
        frame->setFocusPolicy(Qt::StrongFocus);
        ShowFocusFrame(frame);
        host.show();
        QVERIFY(QTest::qWaitForWindowActive(&host));
        frame->setFocus();
        QTRY_VERIFY(frame->hasFocus() && frame->lineWidth() == 3);
        delete frame;
    }

    // With less room than its design (a 1280 x 720 screen at scale 2 is 640 x 360, less the panel), the
    // window is scaled down to fit, fonts and the style's sizes too, moved inside the room; on every page
    // each control stays inside the window, clear of its frame's caption and lines, with room for what it
    // draws (check mark, icon, borders) and the name lists without a sideways scroll bar. The layout
    // follows the operator's resizing, down to the least scale.
    void scaledWindowFits_data()
    {
        QTest::addColumn<QRect>("room");
        QTest::addColumn<int>("mainX"); // stored position, twips
        QTest::addColumn<QString>("tongue");
        QTest::newRow("1280 x 720 at scale 1, German: as designed") << QRect(0, 0, 1280, 704) << 1200 << "DE";
        QTest::newRow("1280 x 720 at scale 2, German, stored far right") << QRect(0, 0, 640, 344) << 15000 << "DE";
    }
    void scaledWindowFits()
    {
        QFETCH(QRect, room);
        QFETCH(int, mainX);
        QFETCH(QString, tongue);
        WindowRig rig;
        rig.write(
            "startup.ini",
            QString(";QX-7alt v1\r\nTongue=%2\r\nMainX= %1 \r\nMainY= 600 \r\n").arg(mainX).arg(tongue).toLatin1());
        seams().sharedFolder = QX_LANGUAGE_DIR;
        seams().availableArea = [room](const QPoint &) { return room; };
        MainWindow &w = rig.start();
        const double scale = w.scaler().scale(); // how much: tst_panel:fitScale
        QCOMPARE(scale < 1, room.height() < 625);
        QCOMPARE(w.pos().x(), std::min(mainX / 15, room.width() - 16 - w.width()));
        QCOMPARE(QString("%1 %2").arg(w.font().pointSizeF()).arg(rig.control("labPRESETS")->font().pointSizeF()),
                 QString("%1 %2").arg(8 * scale).arg(13.5 * scale));
        for (int tab : {1, 2, 9}) {
            w.ShowTab(tab);
            for (QObject *c : WindowControls(&w)) {
                auto *k = qobject_cast<QWidget *>(c);
                if (!k || !k->isVisibleTo(&w) || k == &w)
                    continue;
                const QString name = ControlName(c) + QString::number(ControlIndex(c));
                QVERIFY2(w.rect().contains(QRect(k->mapTo(&w, QPoint()), k->size())), qPrintable(name));
                if (qobject_cast<QAbstractButton *>(k)) { // a push button's face, else the mark and the caption
                    const auto mark = qobject_cast<QRadioButton *>(k) ? QStyle::PM_ExclusiveIndicatorHeight
                                                                      : QStyle::PM_IndicatorHeight;
                    auto *push = qobject_cast<QPushButton *>(k);
                    const int need =
                        push ? k->minimumSizeHint().height()
                             : std::max(k->fontMetrics().height(), k->style()->pixelMetric(mark, nullptr, k));
                    QStyleOptionButton face; // and a push button's caption inside its borders
                    face.initFrom(k);
                    const int inside = k->style()->subElementRect(QStyle::SE_PushButtonContents, &face, k).width();
                    QVERIFY2(need <= k->height() &&
                                 (!push || k->fontMetrics().horizontalAdvance(push->text()) <= inside),
                             qPrintable(name));
                }
                if (auto *list = qobject_cast<QListWidget *>(k))
                    QVERIFY2(!list->horizontalScrollBar()->isVisible(), qPrintable(name));
                if (auto *frame = qobject_cast<QGroupBox *>(k->parentWidget())) {
                    QStyleOptionGroupBox o;
                    o.initFrom(frame);
                    o.text = frame->title();
                    o.subControls = QStyle::SC_GroupBoxFrame | QStyle::SC_GroupBoxLabel; // as a frame without a tick
                    const QRect caption =
                        k->style()->subControlRect(QStyle::CC_GroupBox, &o, QStyle::SC_GroupBoxLabel, frame);
                    const QRect inside =
                        k->style()->subControlRect(QStyle::CC_GroupBox, &o, QStyle::SC_GroupBoxFrame, frame);
                    const int line = 2 * std::max(1, int(std::lround(w.scaler().scale())));
                    QVERIFY2(!caption.intersects(k->geometry()) &&
                                 inside.adjusted(line, line, -line, -line).contains(k->geometry()),
                             qPrintable(name));
                }
            }
        }
        // A refusal longer than the picture error's lines is drawn smaller, whole: nothing at its edges.
        auto *refusal = rig.control<QLabel>("labPICTUREERROR");
        refusal->setText("Corrupt JPEG data: 13 extraneous bytes before marker 0xd9");
        const QImage drawn = refusal->grab().toImage();
        for (int x = 0; x < drawn.width(); ++x)
            QVERIFY(drawn.pixel(x, 0) == drawn.pixel(0, 0) && drawn.pixel(x, drawn.height() - 1) == drawn.pixel(0, 0));
        w.resize(458, 400);
        QTRY_COMPARE(w.scaler().scale(), 0.5);
        QCOMPARE(rig.control("btnFILES")->geometry(), QRect(2, 242, 75, 45));
        w.resize(100, 60); // no smaller than the least scale
        QTRY_COMPARE(w.size(), QSize(321, 219));
    }

    // The preset this program last recalled is marked on its button, whoever asked for it, until another
    // is recalled; the link opened again clears the mark. F1..F12 and Shift+F1..F4 recall presets on any page,
    // over a text box that then types nothing; like a click, a key goes out between the exchanges of a sequence
    // that holds the link (a load refuses it: tst_loadjob).
    void tally_data()
    {
        QTest::addColumn<int>("preset"); // by the row's way
        QTest::newRow("click") << 7;
        QTest::newRow("second start") << 12;
        QTest::newRow("keys") << 16;
    }
    void tally()
    {
        QFETCH(int, preset);
        const QString how = QTest::currentDataTag();
        WindowRig rig;
        MainWindow &w = rig.start();
        QVERIFY(QTest::qWaitForWindowActive(&w) && rig.connected());
        if (how == "keys") {
            auto *edit = rig.control<QLineEdit>("txtDIR");
            edit->setFocus();
            {
                const DeviceSession::Lease held = rig.core->session.lease();
                QTest::keyClick(&w, Qt::Key_F2);
            }
            QTest::keyClick(&w, Qt::Key_F5, Qt::ShiftModifier);
            QTest::keyClick(&w, Qt::Key_F1);
            QTest::keyClick(edit, Qt::Key_F12);
            QTest::keyClick(&w, Qt::Key_F4, Qt::ShiftModifier);
            QCOMPARE(rig.control("cmdPRESET", 16)->toolTip().section('\n', 0, 0) + '|' + edit->text(),
                     "Key Shift+F4|" + rig.folder.path());
            QTRY_COMPARE_WITH_TIMEOUT(
                rig.emu.commands(), (QStringList{"#PRST-RCL 2", "#PRST-RCL 1", "#PRST-RCL 12", "#PRST-RCL 16"}), 5000);
        }
        w.ShowTab(1);
        if (how == "click" || how == "second start")
            rig.click("cmdPRESET", 1);
        if (how == "click")
            rig.click("cmdPRESET", preset);
        else if (how == "second start") {
            QSignalSpy done(&rig.core->runner, &RequestRunner::finished);
            rig.core->runner.submit(Request::recall(12, RequestOrigin::HandOver));
            QVERIFY(done.wait(5000));
        }
        QString bold;
        for (int n = 1; n <= 16; ++n)
            bold += rig.control("cmdPRESET", n)->font().bold() ? QString::number(n) : "";
        QCOMPARE(bold + '|' + rig.control("cmdPRESET", preset)->toolTip().section('\n', 1),
                 QString::number(preset) + "|Last recalled here");
        rig.control("cmdPRESET", preset)->setFocus(); // the bar stays dark under the focus frame
        QTRY_COMPARE(rig.control("cmdPRESET", preset)->grab().toImage().pixelColor(5, 20), QColor(Qt::black));
        w.OpenLink();
        QVERIFY(!rig.control("cmdPRESET", preset)->font().bold() &&
                !rig.control("cmdPRESET", preset)->toolTip().contains('\n'));
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
