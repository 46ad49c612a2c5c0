// The Switching page against the device emulator: the read-back, the three
// kinds of switching click, and the delayed read-back after each command.

#include "app/switchingpage.h"
#include "app/waitwindow.h"
#include "app/widgets.h"
#include "emulator.h"
#include "linkrig.h"
#include "util/controls.h"
#include "util/seams.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>
#include <memory>

using namespace qx;
using qx7emu::DeviceState;
using Ints = QList<int>;
using Readings = QHash<QString, QString>; // read command -> text after the reply prefix
Q_DECLARE_METATYPE(qx7emu::DeviceState)

namespace {

const QColor kNormal(192, 192, 192);
const QColor kMark(128, 128, 128);

// Answers on 127.0.0.1 with readings the emulator cannot hold (enable 2, no digits); unlisted reads answer 0.
class ScriptedDevice : public QTcpServer {
public:
    explicit ScriptedDevice(Readings readings) : m_readings(std::move(readings))
    {
        listen(QHostAddress::LocalHost, 0);
        connect(this, &QTcpServer::newConnection, this, [this] {
            QTcpSocket *peer = nextPendingConnection();
            connect(peer, &QTcpSocket::readyRead, this, [this, peer] {
                m_buffer += peer->readAll();
                for (int cr; (cr = int(m_buffer.indexOf('\r'))) >= 0; m_buffer.remove(0, cr + 1)) {
                    const QString c = QString::fromLatin1(m_buffer.left(cr));
                    commands << c;
                    const QString reply =
                        c == "# " ? QString("~01@ OK")
                                  : "~01@Y 1," + c.mid(5).section(',', 0, 0) + ',' + m_readings.value(c, "0");
                    peer->write(reply.toLatin1() + "\r\n");
                }
            });
        });
    }
    QStringList commands;

private:
    Readings m_readings;
    QByteArray m_buffer;
};

// The page in a window of its own, on a link to the emulator (or a scripted device); it answers the bank question.
struct Rig : qxtest::LinkRig {
    std::unique_ptr<qx7emu::Emulator> emu;
    std::unique_ptr<ScriptedDevice> scripted;
    QWidget window;
    WaitWindow wait{&window};
    std::unique_ptr<SwitchingPage> page;
    Ints tabsShown;
    QList<bool> answers;   // to the bank question, false when none is left
    QStringList questions; // "text|title|okCancel|wait window shown"

    Rig()
    {
        RegisterControl(&window, &window, "frmMAIN", ControlKind::Window);
        log.setShowLog(true);
        log.setFeedToList(true);
        page = std::make_unique<SwitchingPage>(&window, new QWidget(&window), state, ex, kNormal, kMark, wait,
                                               [this](int tab) {
                                                   tabsShown << tab;
                                                   page->ShowCaptions();
                                               });
        seams().messageBox = [this](const QString &text, const QString &title, bool okCancel) {
            questions << QString("%1|%2|%3|%4").arg(text, title).arg(okCancel).arg(wait.isVisible());
            return answers.isEmpty() ? false : answers.takeFirst();
        };
    }
    ~Rig() { seams().messageBox = nullptr; }
    bool start(const DeviceState &device, bool silent = false, const Readings &readings = {})
    {
        qx7emu::Options options;
        options.silent = silent;
        emu = std::make_unique<qx7emu::Emulator>(options);
        emu->setState(device);
        if (!readings.isEmpty())
            scripted = std::make_unique<ScriptedDevice>(readings);
        return openTcp(scripted ? scripted->serverPort() : emu->listenTcp());
    }
    QStringList received() const // every command; one not ending in exactly one CR shows up
    {
        QStringList texts;
        for (const auto &c : emu->received())
            texts << (c.raw == c.text.toLatin1() + '\r' ? c.text : "bad terminator: " + c.raw.toHex());
        return texts;
    }
    void showAndReadBack() // what the tab event does
    {
        page->ShowCaptions();
        page->RefreshSwitchState();
    }
    int timeouts() const { return int(log.entries().count("TIMEOUT ERROR")); }
    // "enabled 1000 full 0000 selected 2,20,40,60,81", then " marked ..." when the buttons in kMark
    // differ (another colour shows as "?i") and " usable n" when not all 93 controls are.
    QString shown() const
    {
        QString enabled, full;
        for (int w = 0; w < 4; ++w) {
            enabled += QString::number(SwitchingPage::CheckValue(page->chkWINENABLE[size_t(w)]));
            full += QString::number(SwitchingPage::CheckValue(page->chkWINFULL[size_t(w)]));
        }
        QStringList selected, marked;
        for (int i = 0; i < 85; ++i) {
            const QColor c = BackColor(page->optWIN1INP[size_t(i)]);
            if (page->optWIN1INP[size_t(i)]->isChecked())
                selected << QString::number(i);
            if (c != kNormal)
                marked << (c == kMark ? "" : "?") + QString::number(i);
        }
        int usable = 0;
        for (QWidget *w : window.findChildren<QAbstractButton *>())
            usable += w->isEnabled() && w->parentWidget() != &wait;
        return QString("enabled %1 full %2 selected %3").arg(enabled, full, selected.join(',')) +
               (marked == selected ? QString() : " marked " + marked.join(',')) +
               (usable == 93 ? QString() : QString(" usable %1").arg(usable));
    }
};

DeviceState device(QList<bool> enabled, Ints inputs, Ints banks, int background, int fullScreen)
{
    DeviceState s;
    for (int w = 0; w < 4; ++w)
        s.windows[w] = {enabled.value(w), inputs.value(w), banks.value(w)};
    s.backgroundBank = background;
    s.fullScreen = fullScreen;
    return s;
}

const QStringList kExampleReadBack{"# ",         "#Y 1,302,0", "#Y 1,201",   "#Y 1,302,1", "#Y 1,302,2",
                                   "#Y 1,302,3", "#Y 1,300,0", "#Y 1,338,0", "#Y 1,300,1", "#Y 1,338,1",
                                   "#Y 1,300,2", "#Y 1,338,2", "#Y 1,300,3", "#Y 1,338,3", "#Y 1,338,4"};

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
    void controlsAndCaptions();
    void readBack_data();
    void readBack();
    void click_data();
    void click();
    void cancelInWaitWindowEndsWaits();
    void clicksDuringReadBackSendNothing();
};

void TestSwitching::controlsAndCaptions()
{
    Rig rig;
    SwitchingPage &page = *rig.page;
    // Each frame holds its own controls, inside it and not overlapping.
    for (int w = 0; w <= 4; ++w) {
        const auto children = page.frameOf(w)->findChildren<QWidget *>(QString(), Qt::FindDirectChildrenOnly);
        QCOMPARE(children.size(), w == 4 ? 5 : 22);
        QRegion covered;
        for (QWidget *a : children) {
            QVERIFY2(page.frameOf(w)->rect().contains(a->geometry()) && !covered.intersects(a->geometry()),
                     qPrintable(ControlName(a)));
            covered += a->geometry();
        }
    }

    rig.state.msg.set(11, "Direct");
    rig.state.msg.set(12, "Fenster");
    Settings &s = rig.state.settings;
    s.LabelIn[16] = "Input 16";
    s.BankName[2] = "Logo";
    s.BankFileLoaded[2] = "picture2.bmp";
    s.BankFileLoaded[4] = "picture4.bmp";
    SetBackColor(page.optWIN1INP[61], kMark);
    SetBackColor(page.optWIN1INP[84], kMark);
    page.CaptionFrames();
    page.ShowCaptions();
    QCOMPARE(page.frameWINDOW4->title() + '|' + page.frameBACK->title(), QString("Fenster 4|Background"));
    for (int w = 0; w < 4; ++w) {
        QCOMPARE(page.optWIN1INP[size_t(20 * w + 4)]->text(), QString());
        QCOMPARE(page.optWIN1INP[size_t(20 * w + 15)]->text(), QString("Input 16"));
        QCOMPARE(page.optWIN1INP[size_t(20 * w + 17)]->text() + '|' + page.optWIN1INP[size_t(20 * w + 17)]->toolTip(),
                 QString("Logo|picture2.bmp"));
    }
    QCOMPARE(page.optWIN1INP[81]->text() + '|' + page.optWIN1INP[83]->toolTip(), QString("Logo|picture4.bmp"));
    QCOMPARE(page.optWIN1INP[84]->text(), QString("Direct"));
    QCOMPARE(rig.shown(), QString("enabled 0000 full 0000 selected ")); // no button left marked
}

void TestSwitching::readBack_data()
{
    QTest::addColumn<DeviceState>("state");
    QTest::addColumn<Readings>("scripted"); // when given, a scripted device answers instead of the emulator
    QTest::addColumn<bool>("stop");         // a stop request comes with window 2's input reading
    QTest::addColumn<QStringList>("commands");
    QTest::addColumn<QString>("shown");

    const DeviceState none;
    QTest::newRow("example: window 1 on input 3, background bank 2")
        << device({true}, {2}, {}, 2, 0) << Readings() << false << kExampleReadBack
        << "enabled 1000 full 0000 selected 2,20,40,60,81";
    QTest::newRow("full screen asked once per enabled window")
        << device({false, true, false, true}, {0, 1, 2, 3}, {}, 0, 1) << Readings() << false << readBackCommands("0101")
        << "enabled 0101 full 0101 selected 0,21,42,63,84";
    QTest::newRow("banks override inputs, background bank 4")
        << device({true, true}, {15, 6}, {0, 3, 0, 1}, 4, 0) << Readings() << false << readBackCommands("1100")
        << "enabled 1100 full 0000 selected 15,38,40,76,83";
    QTest::newRow("input 20 held at 16, bank 7 no bank, background 9 live")
        << device({}, {0, 4, 20, 0}, {0, 7, 0, 5}, 9, 0) << Readings() << false << readBackCommands("0000")
        << "enabled 0000 full 0000 selected 0,24,55,60,84";
    QTest::newRow("stop request: windows 2 to 4 keep theirs")
        << device({true}, {1, 2, 3, 4}, {}, 0, 0) << Readings() << true << (kExampleReadBack.mid(0, 9) << "#Y 1,338,4")
        << "enabled 1000 full 0000 selected 1,30,47,66,84 marked 1,84";
    QTest::newRow("enable value 2: enabled, no full-screen query")
        << none << Readings{{"#Y 1,302,1", "2"}, {"#Y 1,302,2", "1"}, {"#Y 1,201", "1"}} << false
        << readBackCommands("0010") << "enabled 0110 full 0010 selected 0,20,40,60,84";
    QTest::newRow("full-screen value 2 is not on")
        << none << Readings{{"#Y 1,302,0", "1"}, {"#Y 1,201", "2"}} << false << readBackCommands("1000")
        << "enabled 1000 full 0000 selected 0,20,40,60,84";
    QTest::newRow("value: digits up to the comma after blanks, else 0")
        << none << Readings{{"#Y 1,302,0", "on"}, {"#Y 1,300,0", "x7"},   {"#Y 1,300,1", " 9"},
                            {"#Y 1,300,2", "-3"}, {"#Y 1,300,3", "11,3"}, {"#Y 1,338,4", "3,4"}}
        << false << readBackCommands("0000") << "enabled 0000 full 0000 selected 0,29,40,71,82";
}

void TestSwitching::readBack()
{
    QFETCH(DeviceState, state);
    QFETCH(Readings, scripted);
    QFETCH(bool, stop);
    QFETCH(QStringList, commands);
    QFETCH(QString, shown);
    Rig rig;
    QVERIFY(rig.start(state, false, scripted));
    SwitchingPage &page = *rig.page;
    rig.state.settings.LabelWin[3] = "Stage";
    // Other selections, grayed boxes and a locked page: the read-back replaces them all.
    for (int i : {5, 30, 47, 66, 82})
        page.optWIN1INP[size_t(i)]->setChecked(true);
    for (int w = 0; w < 4; ++w) {
        SwitchingPage::SetCheckValue(page.chkWINENABLE[size_t(w)], 2);
        SwitchingPage::SetCheckValue(page.chkWINFULL[size_t(w)], 2);
    }
    page.LockSwitchControls();
    int inputReplies = 0;
    connect(&rig.ex, &CommandExchange::lineCut, this, [&] {
        if (stop && rig.ex.RxLine.startsWith("~01@Y 1,300,") && ++inputReplies == 2)
            rig.ex.StopRequested = true;
    });

    rig.showAndReadBack();

    QCOMPARE(rig.shown(), shown);
    QCOMPARE(page.chkWINENABLE[2]->text() + '|' + page.chkWINENABLE[3]->text(), QString("Stage|"));
    QCOMPARE(rig.scripted ? rig.scripted->commands : rig.received(), commands);
    QCOMPARE(rig.timeouts(), 0);
    QVERIFY(!page.SwitchBusy);
    QVERIFY(!page.Timer_switch.isActive());
}

void TestSwitching::click_data()
{
    QTest::addColumn<DeviceState>("state");
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("index");
    QTest::addColumn<QString>("before");      // "grayed": the box set so from code; "tab": tab clicked at the reply
    QTest::addColumn<QList<bool>>("answers"); // to the bank question
    QTest::addColumn<QStringList>("commands");
    QTest::addColumn<QString>("fullNow"); // the full-screen boxes right after the click
    QTest::addColumn<QString>("after");   // the page after the delayed read-back

    // Source clicks: the windows show inputs 1 to 4 and the background the live input.
    const DeviceState four = device({true, true, true, true}, {0, 1, 2, 3}, {}, 0, 0);
    const auto source = [&](const char *tag, int button, QList<bool> answers, QStringList commands, const char *sel) {
        QTest::newRow(tag) << four << "optWIN1INP" << button << "" << answers << commands << "0000"
                           << QString("enabled 1111 full 0000 selected ") + sel;
    };
    source("window 1 input 1, already selected", 0, {}, {"#Y 0,300,0,0", "#Y 0,337,0,0"}, "0,21,42,63,84");
    source("window 4 input 16", 75, {}, {"#Y 0,300,15,3", "#Y 0,337,0,3"}, "0,21,42,75,84");
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
    box("full screen on window 3 clears the others", device({true, true, false, true}, {}, {}, 0, 1), "chkWINFULL", 2,
        "", {"#Y 0,302,1,2", "#Y 0,201,1"}, "0010", "enabled 1111 full 1111");
    box("full screen off on window 2 sends no window number", device({true, true}, {}, {}, 0, 1), "chkWINFULL", 1, "",
        {"#Y 0,201,0"}, "1000", "enabled 1100 full 0000");
}

void TestSwitching::click()
{
    QFETCH(DeviceState, state);
    QFETCH(QString, name);
    QFETCH(int, index);
    QFETCH(QString, before);
    QFETCH(QList<bool>, answers);
    QFETCH(QStringList, commands);
    QFETCH(QString, fullNow);
    QFETCH(QString, after);
    Rig rig;
    QVERIFY(rig.start(state));
    SwitchingPage &page = *rig.page;
    rig.showAndReadBack();
    rig.emu->clearReceived();
    rig.answers = answers;
    auto *button = Control<QAbstractButton>(&rig.window, name, index);
    QVERIFY(button);
    if (before == "grayed")
        SwitchingPage::SetCheckValue(static_cast<QCheckBox *>(button), 2);
    if (before == "tab")
        connect(
            &rig.ex, &CommandExchange::lineCut, this, [&rig] { rig.showAndReadBack(); }, Qt::SingleShotConnection);

    button->click();

    QCOMPARE(rig.received(), commands);
    const QString question = rig.state.msg(14) + '|' + rig.state.msg(15) + "|1|1";
    QCOMPARE(rig.questions, answers.isEmpty() ? QStringList() : QStringList{question});
    QVERIFY(!rig.wait.isVisible());
    QVERIFY(!page.SwitchBusy);
    QVERIFY(page.Timer_switch.isActive());
    QVERIFY2(rig.shown().contains(" full " + fullNow + " ") && rig.shown().endsWith(" usable 0"),
             qPrintable(rig.shown()));

    // The read-back that Timer_switch starts after the command.
    QVERIFY(QTest::qWaitFor(
        [&] { return rig.tabsShown == Ints{2} && !page.SwitchBusy && rig.emu->commands().endsWith("#Y 1,338,4"); },
        10000));
    QCOMPARE(rig.shown(), after);
    QCOMPARE(rig.timeouts(), 0);
    for (int w = 0; w < 4; ++w)
        QVERIFY(!page.chkWINENABLE[size_t(w)]->isTristate() && !page.chkWINFULL[size_t(w)]->isTristate());
}

void TestSwitching::cancelInWaitWindowEndsWaits()
{
    Rig rig;
    QVERIFY(rig.start(DeviceState{}, true));
    bool shownAtCancel = false;
    rig.window.setGeometry(300, 200, 900, 600);
    QPoint centre;
    QTimer::singleShot(50, &rig.wait, [&] {
        shownAtCancel = rig.wait.isVisible();
        centre = rig.wait.frameGeometry().center();
        rig.wait.cmdCANCEL->click();
    });
    rig.page->optWIN1INP[44]->click();
    // Cancel ended the input command's wait, and the bank command's wait right after it.
    QVERIFY(shownAtCancel);
    // The wait window opens over the middle of its window, not at the screen's corner.
    QVERIFY2((centre - rig.window.frameGeometry().center()).manhattanLength() < 8, qPrintable(QString::number(centre.x())));
    QVERIFY(rig.ex.StopRequested);
    QVERIFY(rig.emu->waitForCommands(2, 5000));
    QCOMPARE(rig.emu->commands(), (QStringList{"#Y 0,300,4,2", "#Y 0,337,0,2"}));
    QCOMPARE(rig.timeouts(), 2);
    QVERIFY(!rig.wait.isVisible());
}

void TestSwitching::clicksDuringReadBackSendNothing()
{
    Rig rig;
    QVERIFY(rig.start(device({true, false, true}, {3, 0, 7}, {0, 2}, 1, 1)));
    SwitchingPage &page = *rig.page;
    // The operator clicks all over the page while the read-back waits for the device.
    int lines = 0;
    const auto clicker = connect(&rig.ex, &CommandExchange::lineCut, this, [&] {
        ++lines;
        for (QAbstractButton *b : std::initializer_list<QAbstractButton *>{page.chkWINENABLE[1], page.chkWINFULL[0],
                                                                           page.optWIN1INP[size_t(lines)],
                                                                           page.optWIN1INP[58], page.optWIN1INP[84]})
            b->click();
    });
    rig.showAndReadBack();
    disconnect(clicker);
    QCOMPARE(lines, 16);
    QCOMPARE(rig.emu->commands(), readBackCommands("1010"));
    QVERIFY(rig.questions.isEmpty());
    QVERIFY(!page.SwitchBusy);
    // The clicks changed the page on screen: it is read back once more, and then
    // shows the device's state again.
    QVERIFY(page.Timer_switch.isActive());
    QTRY_COMPARE_WITH_TIMEOUT(rig.emu->commands(), readBackCommands("1010") + readBackCommands("1010"), 5000);
    QTRY_VERIFY_WITH_TIMEOUT(!page.SwitchBusy, 5000);
    const QString afterTick = rig.shown();
    rig.showAndReadBack();
    QCOMPARE(afterTick, rig.shown());
}

QTEST_MAIN(TestSwitching)
#include "tst_switching.moc"