// The Switching tab against the device emulator: the read-back, the three kinds of switching click, and the
// delayed read-back after each command.

#include "app/switchingpage.h"
#include "app/widgets.h"
#include "state/readbackscheduler.h"
#include "state/requestrunner.h"
#include "util/seams.h"
#include "windowrig.h"

#include <QCheckBox>
#include <QSignalSpy>
#include <QtTest>

using namespace qx;
using namespace qxtest;
using qx7emu::DeviceState;
using Ints = QList<int>;
using Readings = QHash<QByteArray, QByteArray>; // read command -> text after the reply prefix
Q_DECLARE_METATYPE(qx7emu::DeviceState)
Q_DECLARE_METATYPE(qx::Request)

namespace {

// The window connected to the emulator holding `device`, on the Files and Setup page or, read back and with
// nothing received yet, on the Switching page.
MainWindow &startOn(WindowRig &rig, const DeviceState &device, const Readings &readings = {}, bool switching = false)
{
    qx7emu::Options o = rig.emu.options();
    o.readings = readings;
    rig.emu.setOptions(o);
    rig.emu.setState(device);
    MainWindow &w = rig.start();
    if (!rig.connected())
        qFatal("no connection");
    if (switching) {
        rig.click("labSWITCH");
        rig.emu.clearReceived();
    }
    return w;
}

// Every command the emulator received; one not ending in exactly one CR shows up.
QStringList received(const WindowRig &rig)
{
    QStringList texts;
    for (const auto &c : rig.emu.received())
        texts << (c.raw == c.text.toLatin1() + '\r' ? c.text : "bad terminator: " + c.raw.toHex());
    return texts;
}

DeviceState device(QList<bool> enabled, Ints inputs, Ints banks, int background, int fullScreen)
{
    DeviceState s;
    for (int w = 0; w < 4; ++w)
        s.windows[w] = {enabled.value(w), inputs.value(w), banks.value(w)};
    s.backgroundBank = background;
    s.fullScreen = fullScreen;
    return s;
}

// The read-back's commands; windows marked '1' in `asksFull` ask for full screen after their enable read.
QStringList readBackCommands(const QString &asksFull)
{
    QStringList c{"# "};
    for (int w = 0; w < 4; ++w)
        c << QString("#Y 1,302,%1").arg(w) << (asksFull[w] == '1' ? QStringList{"#Y 1,201"} : QStringList());
    for (int w = 0; w < 4; ++w)
        c << QString("#Y 1,300,%1").arg(w) << QString("#Y 1,338,%1").arg(w);
    return c << "#Y 1,338,4";
}

} // namespace

class TestSwitching : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void readBack_data()
    {
        QTest::addColumn<DeviceState>("state");
        QTest::addColumn<Readings>("readings"); // answered instead of the device's state
        QTest::addColumn<bool>("stop");         // a stop request comes with window 2's input reading
        QTest::addColumn<QStringList>("commands");
        QTest::addColumn<QString>("shown");
        const DeviceState none;
        QTest::newRow("banks override inputs, background bank 4")
            << device({true, true}, {15, 6}, {0, 3, 0, 1}, 4, 0) << Readings() << false << readBackCommands("1100")
            << "enabled 1100 full 0000 selected 15,38,40,76,83";
        QTest::newRow("input 20 held at 16, bank 7 no bank, background 9 live")
            << device({}, {0, 4, 20, 0}, {0, 7, 0, 5}, 9, 0) << Readings() << false << readBackCommands("0000")
            << "enabled 0000 full 0000 selected 0,24,55,60,84";
        QTest::newRow("stop request: windows 2 to 4 keep theirs")
            << device({true}, {1, 2, 3, 4}, {}, 0, 0) << Readings() << true
            << (readBackCommands("1000").mid(0, 9) << "#Y 1,338,4")
            << "enabled 1000 full 0000 selected 1,30,47,66,84 marked 1,84";
        QTest::newRow("enable 2: enabled, no full-screen query; full screen 2 is not on")
            << none << Readings{{"#Y 1,302,1", "2"}, {"#Y 1,302,2", "1"}, {"#Y 1,201", "2"}} << false
            << readBackCommands("0010") << "enabled 0110 full 0000 selected 0,20,40,60,84";
        QTest::newRow("value: digits up to the comma after blanks, else 0; held, never wrapped")
            << none << Readings{{"#Y 1,302,0", "on"},        {"#Y 1,300,0", "x7"},   {"#Y 1,300,1", " 9"},
                                {"#Y 1,300,2", "-3"},        {"#Y 1,300,3", "11,3"}, {"#Y 1,338,4", "3,4"},
                                {"#Y 1,338,0", "4294967297"}}
            << false << readBackCommands("0000") << "enabled 0000 full 0000 selected 0,29,40,71,82";
    }
    void readBack()
    {
        QFETCH(DeviceState, state);
        QFETCH(Readings, readings);
        QFETCH(bool, stop);
        WindowRig rig;
        MainWindow &w = startOn(rig, state, readings);
        // The names and the language's words the page shows (a stray mark on a button is cleared).
        rig.core->state.msg.set(11, "Direct");
        rig.core->state.msg.set(12, "Fenster");
        Settings &s = rig.core->state.settings;
        s.LabelWin[3] = "Stage";
        s.LabelIn[5] = "";
        s.BankName[2] = "Logo";
        s.BankFileLoaded[2] = "picture2.bmp";
        s.BankFileLoaded[4] = "picture4.bmp";
        SetBackColor(rig.control("optWIN1INP", 61), QColor(128, 128, 128));
        w.switching().CaptionFrames();
        // Other selections, grayed boxes and a locked page: the read-back replaces them all.
        for (int i : {5, 30, 47, 66, 82})
            rig.control<QAbstractButton>("optWIN1INP", i)->setChecked(true);
        for (int i = 0; i < 4; ++i)
            for (const char *box : {"chkWINENABLE", "chkWINFULL"})
                SwitchingPage::SetCheckValue(rig.control<QCheckBox>(box, i), 2);
        w.switching().LockSwitchControls(nullptr);
        int inputReplies = 0;
        const CommandExchange &ex = std::as_const(rig.core->session).exchange(); // watched, holding nothing
        connect(&ex, &CommandExchange::lineCut, this, [&] {
            if (stop && ex.rxLine().startsWith("~01@Y 1,300,") && ++inputReplies == 2)
                rig.core->session.stop();
        });

        rig.click("labSWITCH");

        QTEST(rig.switching(), "shown");
        const auto text = [&](int i) {
            QObject *b = rig.find("optWIN1INP", i);
            return Caption(b) + '|' + ToolTip(b);
        };
        QCOMPARE(QStringList({Caption(rig.find("chkWINENABLE", 2)), Caption(rig.find("chkWINENABLE", 3)),
                              Caption(rig.find("frameWINDOW4")), Caption(rig.find("frameBACK"))})
                     .join('|'),
                 "Stage|Window 4|Fenster 4|Background");
        for (int i = 0; i < 80; i += 20)
            QCOMPARE(text(i + 4) + text(i + 15) + text(i + 17), QString("|Input 16|Logo|picture2.bmp"));
        QCOMPARE(text(81) + text(83) + text(84), QString("Logo|picture2.bmpBank 4|picture4.bmpDirect|"));
        QTEST(received(rig), "commands");
        QCOMPARE(rig.timeouts, 0);
        QVERIFY(rig.switchingIdle());
    }

    void othersChanges_data()
    {
        QTest::addColumn<Request>("request");
        QTest::addColumn<bool>("shown");
        QTest::addColumn<QString>("after"); // "" nothing read back
        SwitchChange change;
        change.window = 2;
        change.source = 5;
        QTest::newRow("a change, the page shown") << Request::switching(change, RequestOrigin::HandOver, false) << true
                                                  << "enabled 1000 full 0000 selected 0,24,40,60,84";
        QTest::newRow("a preset, behind another page")
            << Request::recall(3, RequestOrigin::HandOver, false) << false << "";
    }
    // Another sender's change or preset is read back half a second later, as after the page's own click, while the
    // page is shown (it watches the state) and only then; the page stays behind the page the operator left open.
    void othersChanges()
    {
        QFETCH(Request, request);
        QFETCH(bool, shown);
        QFETCH(QString, after);
        WindowRig rig;
        startOn(rig, device({true}, {}, {}, 0, 0), {}, true);
        if (!shown)
            rig.click("labFILES");
        rig.core->runner.submit(request);
        QTest::qWait(300);
        QCOMPARE(rig.emu.commands().count("# "), 0);
        QTest::qWait(ReadBackScheduler::kSettleMs);
        QTRY_COMPARE(rig.emu.commands().count("# "), int(!after.isEmpty()));
        QTRY_COMPARE(rig.switching(), after.isEmpty() ? "enabled 1000 full 0000 selected 0,20,40,60,84" : after);
        QCOMPARE(rig.control("frameSWITCH")->isHidden(), !shown);
    }

    // The operator's click while another sender's load runs is a request like any other: refused with a note,
    // nothing of it goes between the load's packets, and the page reads the device back once the load is over.
    void clickDuringAnotherLoad()
    {
        WindowRig rig;
        QVERIFY(QImage(64, 32, QImage::Format_RGB32).save(rig.folder.file("pic.bmp")));
        MainWindow &w = startOn(rig, device({true, true, true, true}, {0, 1, 2, 3}, {}, 0, 0), {}, true);
        QString shown;
        connect(&rig.core->runner, &RequestRunner::loadStarted, this, [&] {
            QTimer::singleShot(0, &w, [&] {
                rig.click("optWIN1INP", 75);
                shown = rig.switching() + '|' + Caption(rig.find("labLINK"));
            });
        });
        QSignalSpy done(&rig.core->runner, &RequestRunner::finished);
        rig.core->runner.submit(Request::load(rig.folder.file("pic.bmp"), 2, RequestOrigin::HandOver, false));
        QVERIFY(done.wait(20000) && rig.emu.bank(1).complete);
        QCOMPARE(shown, "enabled 1111 full 0000 selected 0,21,42,63,84 usable 0|Busy: not switched");
        QTRY_VERIFY_WITH_TIMEOUT(rig.switchingIdle() && rig.emu.commands().endsWith("#Y 1,338,4"), 10000);
        QVERIFY2(rig.emu.commands().filter("#Y 0,").isEmpty(), qPrintable(rig.emu.commands().join('|')));
        QCOMPARE(rig.switching(), "enabled 1111 full 0000 selected 0,21,42,63,84");
    }

    void click_data()
    {
        QTest::addColumn<DeviceState>("state");
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("index");
        // "grayed": the box set so from code; "tab": tab clicked at the reply; "cancel": Cancel in the wait window
        // of a device that answers nothing; "left": another page opened after the click
        QTest::addColumn<QString>("before");
        QTest::addColumn<QList<bool>>("answers"); // to the bank question
        QTest::addColumn<QStringList>("commands");
        QTest::addColumn<QString>("fullNow"); // the full-screen boxes right after the click
        QTest::addColumn<QString>("after");   // the page after the delayed read-back

        // Source clicks: the windows show inputs 1 to 4 and the background the live input.
        const DeviceState four = device({true, true, true, true}, {0, 1, 2, 3}, {}, 0, 0);
        const auto source = [&](const char *tag, int button, QList<bool> answers, QStringList sent, const char *sel,
                                const char *before = "") {
            QTest::newRow(tag) << four << "optWIN1INP" << button << before << answers << sent << "0000"
                               << QString("enabled 1111 full 0000 selected ") + sel;
        };
        source("window 4 input 16", 75, {}, {"#Y 0,300,15,3", "#Y 0,337,0,3"}, "0,21,42,75,84");
        source("Cancel in the wait window", 75, {}, {"#Y 0,300,15,3"}, "0,21,42,75,84", "cancel");
        source("window 3 bank 3, OK", 58, {true}, {"#Y 0,337,3,2"}, "0,21,58,63,84");
        source("window 3 bank 3, Cancel", 58, {false}, {}, "0,21,42,63,84");
        source("background bank 1, OK", 80, {true}, {"#Y 0,337,1,4", "#Y 0,204,1"}, "0,21,42,63,80");
        source("background bank 4, Cancel", 83, {false}, {"#Y 0,204,1"}, "0,21,42,63,84");
        source("background live, already selected", 84, {}, {"#Y 0,337,0,4", "#Y 0,204,1"}, "0,21,42,63,84");

        // Box clicks; `after`: the enabled and full-screen boxes after the read-back, inputs 1 on every window.
        const auto box = [](const char *tag, DeviceState state, const char *name, int index, const char *before,
                            QStringList commands, const char *fullNow, const char *after) {
            QTest::newRow(tag) << state << name << index << before << QList<bool>() << commands << fullNow
                               << QString(after) + " selected 0,20,40,60,84";
        };
        const DeviceState off = device({}, {}, {}, 0, 0);
        box("clear Enabled of window 3", device({false, false, true}, {}, {}, 0, 0), "chkWINENABLE", 2, "",
            {"#Y 0,302,0,2"}, "0000", "enabled 0000 full 0000");
        box("grayed Enabled of window 4 enables", off, "chkWINENABLE", 3, "grayed", {"#Y 0,302,1,3"}, "0000",
            "enabled 0001 full 0000");
        box("tab clicked at the reply: read back after the command", off, "chkWINENABLE", 1, "tab", {"#Y 0,302,1,1"},
            "0000", "enabled 0100 full 0000");
        box("Presets opened before the read-back: none until the page shows", off, "chkWINENABLE", 1, "left",
            {"#Y 0,302,1,1"}, "0000", "enabled 0100 full 0000");
        box("full screen on window 3 clears the others", device({true, true, false, true}, {}, {}, 0, 1), "chkWINFULL",
            2, "", {"#Y 0,302,1,2", "#Y 0,201,1"}, "0010", "enabled 1111 full 1111");
        box("full screen off on window 2 sends no window number", device({true, true}, {}, {}, 0, 1), "chkWINFULL", 1,
            "", {"#Y 0,201,0"}, "1000", "enabled 1100 full 0000");
    }
    void click()
    {
        QFETCH(DeviceState, state);
        QFETCH(QString, name);
        QFETCH(int, index);
        QFETCH(QString, before);
        QFETCH(QList<bool>, answers);
        QFETCH(QString, fullNow);
        WindowRig rig;
        MainWindow &w = startOn(rig, state, {}, true);
        rig.seams.answers = answers;
        // The bank question comes while the wait window shows; no lease holds the link meanwhile.
        QList<bool> waitShown;
        seams().messageBox = [&, scripted = seams().messageBox](const QString &text, const QString &title, bool ok) {
            waitShown << (ok && w.waitWindow().isVisible() && rig.core->session.idle());
            return scripted(text, title, ok);
        };
        auto *button = rig.control<QAbstractButton>(name, index);
        if (before == "grayed")
            SwitchingPage::SetCheckValue(static_cast<QCheckBox *>(button), 2);
        if (before == "tab")
            connect(
                &std::as_const(rig.core->session).exchange(), &CommandExchange::lineCut, this,
                [&rig] { rig.click("labSWITCH"); }, Qt::SingleShotConnection);
        qx7emu::Options o = rig.emu.options();
        o.silent = before == "cancel";
        rig.emu.setOptions(o);
        connect(&rig.core->log, &CommLog::sentChanged, this, [&] {
            QTimer::singleShot(0, &w, [&] {
                if (o.silent)
                    rig.click("cmdCANCEL");
            });
        });

        button->click();

        rig.emu.setOptions(o = {});
        const QList<QPair<QString, QString>> question{{rig.core->state.msg(14), rig.core->state.msg(15)}};
        QCOMPARE(rig.seams.boxes, answers.isEmpty() ? decltype(question)() : question);
        QCOMPARE(waitShown, answers.isEmpty() ? QList<bool>() : QList<bool>{true});
        QVERIFY(!w.waitWindow().isVisible() && !w.switching().SwitchBusy);
        QVERIFY2(rig.switching().contains(" full " + fullNow + " ") && rig.switching().endsWith(" usable 0"),
                 qPrintable(rig.switching()));

        // The read-back half a second after the command; the operator gone to another page meanwhile, it is
        // not made and the window stays there, until the page is shown again.
        if (before == "left") {
            w.ShowTab(1);
            QTest::qWait(700);
            QVERIFY(rig.control("frameSWITCH")->isHidden() && !received(rig).contains("# "));
            rig.click("labSWITCH");
        }
        QTRY_VERIFY_WITH_TIMEOUT(rig.switchingIdle() && rig.emu.commands().endsWith("#Y 1,338,4"), 10000);
        QTEST(rig.switching(), "after");
        QCOMPARE(rig.timeouts, int(before == "cancel"));
        const QStringList sent = received(rig);
        QTEST(sent.mid(0, sent.indexOf("# ")), "commands"); // the read-back begins with "# "
        for (int i = 0; i < 8; ++i)
            QVERIFY(!rig.control<QCheckBox>(i < 4 ? "chkWINENABLE" : "chkWINFULL", i % 4)->isTristate());
    }
};

QTEST_MAIN(TestSwitching)
#include "tst_switching.moc"
