// The Switching page against the device emulator: the read-back, the three
// kinds of switching click, and the delayed read-back after each command.

#include "app/state/appstate.h"
#include "app/switchingpage.h"
#include "app/waitwindow.h"
#include "app/widgets.h"
#include "emulator.h"
#include "link/commandexchange.h"
#include "link/commlog.h"
#include "link/devicelink.h"
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

// For readings the emulator cannot be put into (an enable value of 2, replies
// without a number): answers on 127.0.0.1 in the test's thread, which the
// exchange's waits keep running. Unlisted reads answer 0.
class ScriptedDevice : public QObject {
public:
    explicit ScriptedDevice(Readings readings) : m_readings(std::move(readings))
    {
        m_server.listen(QHostAddress::LocalHost, 0);
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            QTcpSocket *peer = m_server.nextPendingConnection();
            connect(peer, &QTcpSocket::readyRead, this, [this, peer] {
                m_buffer += peer->readAll();
                for (int cr; (cr = int(m_buffer.indexOf('\r'))) >= 0; m_buffer.remove(0, cr + 1)) {
                    const QString c = QString::fromLatin1(m_buffer.left(cr));
                    commands << c;
                    const QString reply = c == QLatin1String("# ") ? QStringLiteral("~01@ OK")
                                                                   : "~01@Y 1," + c.mid(5).section(',', 0, 0) + ',' +
                                                                         m_readings.value(c, QStringLiteral("0"));
                    peer->write(reply.toLatin1() + "\r\n");
                }
            });
        });
    }
    quint16 port() const { return m_server.serverPort(); }
    QStringList commands;

private:
    QTcpServer m_server;
    Readings m_readings;
    QByteArray m_buffer;
};

// The page in a window of its own, with its link and exchange.
struct Rig {
    AppState state;
    CommLog log;
    DeviceLink link{state};
    CommandExchange exchange{link, log};
    QWidget window;
    WaitWindow wait{&window};
    QList<int> tabsShown;
    std::unique_ptr<SwitchingPage> page;

    Rig()
    {
        RegisterControl(&window, &window, QStringLiteral("frmMAIN"), ControlKind::Window);
        Settings &s = state.settings;
        for (int n = 1; n <= 16; ++n)
            s.LabelIn[size_t(n)] = QStringLiteral("Input %1").arg(n);
        for (int n = 1; n <= 4; ++n) {
            s.LabelWin[size_t(n)] = QStringLiteral("Window %1").arg(n);
            s.BankName[size_t(n)] = QStringLiteral("Bank %1").arg(n);
            s.BankFileLoaded[size_t(n)] = QStringLiteral("picture%1.bmp").arg(n);
        }
        log.setShowLog(true);
        log.setFeedToList(true);
        page = std::make_unique<SwitchingPage>(&window, new QWidget(&window), state, exchange, kNormal, kMark, wait,
                                               [this](int tab) {
                                                   tabsShown << tab;
                                                   page->ShowCaptions();
                                               });
    }
    bool connectTo(quint16 port)
    {
        state.settings.ComPort = 0;
        state.settings.TcpSettings = QStringLiteral("127.0.0.1:%1").arg(port);
        link.OpenLink();
        exchange.startReceiveTimer();
        return QTest::qWaitFor([this] { return link.tcpSocket().state() == QAbstractSocket::ConnectedState; }, 5000);
    }
    // What the tab event does.
    void showAndReadBack()
    {
        page->ShowCaptions();
        page->RefreshSwitchState();
    }
    int timeouts() const { return int(log.entries().count(QStringLiteral("TIMEOUT ERROR"))); }
    // Enabled controls: 93 when the page is usable, 0 when locked.
    int enabledCount() const
    {
        int n = 0;
        for (QWidget *w : window.findChildren<QAbstractButton *>())
            n += w->isEnabled() && w->parentWidget() != &wait;
        return n;
    }
    // The selected button of each of the five frames (-1: none).
    Ints selected() const
    {
        Ints result(5, -1);
        for (int i = 0; i < 85; ++i)
            if (page->optWIN1INP[size_t(i)]->isChecked())
                result[i / 20] = i;
        return result;
    }
    Ints marked() const
    {
        Ints result;
        for (int i = 0; i < 85; ++i) {
            const QColor c = BackColor(page->optWIN1INP[size_t(i)]);
            if (c != kNormal)
                result << (c == kMark ? i : -1000 - i);
        }
        return result;
    }
    static Ints values(const std::array<QCheckBox *, 4> &boxes)
    {
        Ints v;
        for (QCheckBox *b : boxes)
            v << SwitchingPage::CheckValue(b);
        return v;
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

} // namespace

class TestSwitching : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();
    void controlsAndCaptions();
    void readBack_data();
    void readBack();
    void readBackStoppedInSourcePhase();
    void sourceClick_data();
    void sourceClick();
    void cancelInWaitWindowEndsWaits();
    void checkBoxClick_data();
    void checkBoxClick();
    void clicksDuringReadBackSendNothing();
    void tabClickDuringCommandReadsBackAfterIt();

private:
    std::unique_ptr<qx7emu::Emulator> m_emu;
    std::unique_ptr<Rig> m_rig;
    QList<bool> m_answers;   // to the bank question
    QStringList m_questions; // "text|title|okCancel|wait window shown"

    bool start(const DeviceState &state, bool silent = false)
    {
        qx7emu::Options options;
        options.silent = silent;
        m_emu = std::make_unique<qx7emu::Emulator>(options);
        m_emu->setState(state);
        m_rig = std::make_unique<Rig>();
        return m_rig->connectTo(m_emu->listenTcp());
    }
    // Every command as received; one that does not end in exactly one CR shows up.
    QStringList received() const
    {
        QStringList texts;
        for (const auto &c : m_emu->received())
            texts << (c.raw == c.text.toLatin1() + '\r' ? c.text : "bad terminator: " + c.raw.toHex());
        return texts;
    }
    // The read-back that Timer_switch starts after a command.
    bool delayedReadBack()
    {
        return QTest::qWaitFor(
            [this] {
                return m_rig->tabsShown == Ints{2} && !m_rig->page->SwitchBusy &&
                       m_emu->commands().endsWith(QStringLiteral("#Y 1,338,4"));
            },
            10000);
    }
};

void TestSwitching::init()
{
    m_answers.clear();
    m_questions.clear();
    seams().messageBox = [this](const QString &text, const QString &title, bool okCancel) {
        m_questions << QStringLiteral("%1|%2|%3|%4").arg(text, title).arg(okCancel).arg(m_rig->wait.isVisible());
        return m_answers.isEmpty() ? false : m_answers.takeFirst();
    };
}

void TestSwitching::cleanup()
{
    m_rig.reset();
    m_emu.reset();
    seams().messageBox = nullptr;
}

void TestSwitching::controlsAndCaptions()
{
    Rig rig;
    // Language files address the controls by name and index, in this order.
    QStringList expected{"frmMAIN", "frameWINDOW1", "frameWINDOW2", "frameWINDOW3", "frameWINDOW4", "frameBACK"};
    for (int w = 0; w < 4; ++w)
        expected << QStringLiteral("chkWINENABLE(%1)").arg(w) << QStringLiteral("chkWINFULL(%1)").arg(w);
    for (int i = 0; i < 85; ++i)
        expected << QStringLiteral("optWIN1INP(%1)").arg(i);
    QStringList actual;
    for (QObject *c : WindowControls(&rig.window))
        actual << ControlName(c) + (ControlIndex(c) < 0 ? QString() : QStringLiteral("(%1)").arg(ControlIndex(c)));
    QCOMPARE(actual, expected);
    SwitchingPage &page = *rig.page;
    QCOMPARE(page.frameWINDOW3->geometry(), twRect(4680, 300, 2175, 8595));
    QCOMPARE(page.frameBACK->geometry(), twRect(9000, 6300, 2175, 2595));

    // One selection per frame; controls inside their frame, not overlapping.
    for (int i : {0, 20, 40, 60, 84, 19, 82})
        page.optWIN1INP[size_t(i)]->setChecked(true);
    QCOMPARE(rig.selected(), (Ints{19, 20, 40, 60, 82}));
    for (int w = 0; w <= 4; ++w) {
        const auto children = page.frameOf(w)->findChildren<QWidget *>(QString(), Qt::FindDirectChildrenOnly);
        QCOMPARE(children.size(), w == 4 ? 5 : 22);
        for (QWidget *a : children) {
            QVERIFY(page.frameOf(w)->rect().contains(a->geometry()));
            for (QWidget *b : children)
                QVERIFY2(a == b || !a->geometry().intersects(b->geometry()), qPrintable(ControlName(a)));
        }
    }

    QCOMPARE(page.optWIN1INP[17]->text(), QStringLiteral("File"));
    QCOMPARE(page.optWIN1INP[84]->text(), QStringLiteral("Live DVI Input"));
    rig.state.msg.set(11, QStringLiteral("Direct"));
    rig.state.msg.set(12, QStringLiteral("Fenster"));
    rig.state.settings.LabelIn[5].clear();
    rig.state.settings.BankName[2] = QStringLiteral("Logo");
    SetBackColor(page.optWIN1INP[61], kMark);
    SetBackColor(page.optWIN1INP[84], kMark);
    page.CaptionFrames();
    page.ShowCaptions();
    QCOMPARE(page.frameWINDOW4->title(), QStringLiteral("Fenster 4"));
    QCOMPARE(page.frameBACK->title(), QStringLiteral("Background"));
    for (int w = 0; w < 4; ++w) {
        QCOMPARE(page.optWIN1INP[size_t(20 * w + 4)]->text(), QString());
        QCOMPARE(page.optWIN1INP[size_t(20 * w + 15)]->text(), QStringLiteral("Input 16"));
        QCOMPARE(page.optWIN1INP[size_t(20 * w + 17)]->text(), QStringLiteral("Logo"));
        QCOMPARE(page.optWIN1INP[size_t(20 * w + 17)]->toolTip(), QStringLiteral("picture2.bmp"));
    }
    QCOMPARE(page.optWIN1INP[81]->text(), QStringLiteral("Logo"));
    QCOMPARE(page.optWIN1INP[83]->toolTip(), QStringLiteral("picture4.bmp"));
    QCOMPARE(page.optWIN1INP[84]->text(), QStringLiteral("Direct"));
    QCOMPARE(rig.marked(), Ints());
}

void TestSwitching::readBack_data()
{
    QTest::addColumn<DeviceState>("state");
    QTest::addColumn<Readings>("scripted"); // when given, a scripted device answers instead of the emulator
    QTest::addColumn<bool>("silent");
    QTest::addColumn<Ints>("enabled");
    QTest::addColumn<Ints>("full");
    QTest::addColumn<Ints>("selected");
    QTest::addColumn<int>("exchanges");
    QTest::addColumn<QStringList>("commands"); // empty: only counted

    const DeviceState none;
    const Ints off{0, 0, 0, 0};
    const Ints firstInputs{0, 20, 40, 60, 84};
    QTest::newRow("example: window 1 on input 3, background bank 2")
        << device({true}, {2}, {}, 2, 0) << Readings() << false << Ints{1, 0, 0, 0} << off << Ints{2, 20, 40, 60, 81}
        << 15 << kExampleReadBack;
    QTest::newRow("full screen with windows 2 and 4 enabled")
        << device({false, true, false, true}, {0, 1, 2, 3}, {}, 0, 1) << Readings() << false << Ints{0, 1, 0, 1}
        << Ints{0, 1, 0, 1} << Ints{0, 21, 42, 63, 84} << 16
        << QStringList{"# ",         "#Y 1,302,0", "#Y 1,302,1", "#Y 1,201",   "#Y 1,302,2", "#Y 1,302,3",
                       "#Y 1,201",   "#Y 1,300,0", "#Y 1,338,0", "#Y 1,300,1", "#Y 1,338,1", "#Y 1,300,2",
                       "#Y 1,338,2", "#Y 1,300,3", "#Y 1,338,3", "#Y 1,338,4"};
    QTest::newRow("all enabled, full screen on, background bank 4")
        << device({true, true, true, true}, {15, 14, 12, 11}, {}, 4, 1) << Readings() << false << Ints{1, 1, 1, 1}
        << Ints{1, 1, 1, 1} << Ints{15, 34, 52, 71, 83} << 18 << QStringList();
    QTest::newRow("banks override inputs") << device({true, true}, {0, 6}, {0, 3, 0, 1}, 1, 0) << Readings() << false
                                           << Ints{1, 1, 0, 0} << off << Ints{0, 38, 40, 76, 80} << 16 << QStringList();
    QTest::newRow("input 20 held at 16, bank 7 no bank, background 9 live")
        << device({}, {0, 4, 20, 0}, {0, 7, 0, 5}, 9, 0) << Readings() << false << off << off << Ints{0, 24, 55, 60, 84}
        << 14 << QStringList();
    QTest::newRow("silent device") << device({true, true, true, true}, {5, 5, 5, 5}, {}, 3, 1) << Readings() << true
                                   << off << off << firstInputs << 14 << QStringList();
    QTest::newRow("enable value 2: enabled, no full-screen query")
        << none << Readings{{"#Y 1,302,1", "2"}, {"#Y 1,302,2", "1"}, {"#Y 1,201", "1"}} << false << Ints{0, 1, 1, 0}
        << Ints{0, 0, 1, 0} << firstInputs << 15 << QStringList();
    QTest::newRow("full-screen value 2 is not on") << none << Readings{{"#Y 1,302,0", "1"}, {"#Y 1,201", "2"}} << false
                                                   << Ints{1, 0, 0, 0} << off << firstInputs << 15 << QStringList();
    QTest::newRow("readings without digits count 0")
        << none << Readings{{"#Y 1,302,0", "on"}, {"#Y 1,300,0", "x7"}, {"#Y 1,300,1", "-3"}, {"#Y 1,338,4", ""}}
        << false << off << off << firstInputs << 14 << QStringList();
    QTest::newRow("value up to the comma, blanks before it")
        << none << Readings{{"#Y 1,300,3", "11,3"}, {"#Y 1,300,1", " 9"}, {"#Y 1,338,4", "3,4"}} << false << off << off
        << Ints{0, 29, 40, 71, 82} << 14 << QStringList();
}

void TestSwitching::readBack()
{
    QFETCH(DeviceState, state);
    QFETCH(Readings, scripted);
    QFETCH(bool, silent);
    QFETCH(Ints, enabled);
    QFETCH(Ints, full);
    QFETCH(Ints, selected);
    QFETCH(int, exchanges);
    QFETCH(QStringList, commands);
    std::unique_ptr<ScriptedDevice> scriptedDevice;
    if (scripted.isEmpty()) {
        QVERIFY(start(state, silent));
    } else {
        scriptedDevice = std::make_unique<ScriptedDevice>(scripted);
        m_rig = std::make_unique<Rig>();
        QVERIFY(m_rig->connectTo(scriptedDevice->port()));
    }
    if (silent)
        m_rig->exchange.setPollMs(0); // the 14 time-outs then take seconds, not minutes
    SwitchingPage &page = *m_rig->page;
    m_rig->state.settings.LabelWin[3] = QStringLiteral("Stage");
    // Leave other selections and values on the page: the read-back replaces them all.
    for (int i : {5, 30, 47, 66, 82})
        page.optWIN1INP[size_t(i)]->setChecked(true);
    for (int w = 0; w < 4; ++w) {
        SwitchingPage::SetCheckValue(page.chkWINENABLE[size_t(w)], 1 - enabled[w]);
        SwitchingPage::SetCheckValue(page.chkWINFULL[size_t(w)], 1);
    }
    page.LockSwitchControls();

    m_rig->showAndReadBack();

    QCOMPARE(Rig::values(page.chkWINENABLE), enabled);
    QCOMPARE(Rig::values(page.chkWINFULL), full);
    QCOMPARE(m_rig->selected(), selected);
    QCOMPARE(m_rig->marked(), selected);
    QCOMPARE(page.chkWINENABLE[2]->text(), QStringLiteral("Stage"));
    QCOMPARE(page.chkWINENABLE[3]->text(), QStringLiteral("Window 4"));
    if (!commands.isEmpty())
        QCOMPARE(received(), commands);
    QCOMPARE(int((scriptedDevice ? scriptedDevice->commands : m_emu->commands()).size()), exchanges);
    QCOMPARE(m_rig->timeouts(), silent ? exchanges : 0);
    QCOMPARE(m_rig->enabledCount(), 93);
    QVERIFY(!page.SwitchBusy);
    QVERIFY(!page.Timer_switch.isActive());
    m_rig.reset(); // before the scripted device goes
}

void TestSwitching::readBackStoppedInSourcePhase()
{
    QVERIFY(start(device({true}, {1, 2, 3, 4}, {}, 0, 0)));
    SwitchingPage &page = *m_rig->page;
    for (int i : {33, 45, 65})
        page.optWIN1INP[size_t(i)]->setChecked(true);
    page.LockSwitchControls();
    // A stop request (a load job being stopped) comes with window 2's input reading.
    int inputReplies = 0;
    connect(&m_rig->exchange, &CommandExchange::lineCut, this, [&] {
        if (m_rig->exchange.RxLine.startsWith("~01@Y 1,300,") && ++inputReplies == 2)
            m_rig->exchange.StopRequested = true;
    });
    m_rig->showAndReadBack();
    QCOMPARE(received(), kExampleReadBack.mid(0, 9) << QStringLiteral("#Y 1,338,4"));
    QCOMPARE(m_rig->selected().mid(0, 4), (Ints{1, 33, 45, 65})); // windows 2 to 4 keep theirs
    QCOMPARE(m_rig->enabledCount(), 93);
}

void TestSwitching::sourceClick_data()
{
    QTest::addColumn<int>("button");
    QTest::addColumn<QList<bool>>("answers"); // to the bank question
    QTest::addColumn<QStringList>("commands");
    QTest::addColumn<Ints>("selectedAfter"); // what the delayed read-back shows

    // Before each click the windows show inputs 1 to 4 and the background the live input.
    QTest::newRow("window 2 input 4") << 23 << QList<bool>() << QStringList{"#Y 0,300,3,1", "#Y 0,337,0,1"}
                                      << Ints{0, 23, 42, 63, 84};
    QTest::newRow("window 1 input 1, already selected")
        << 0 << QList<bool>() << QStringList{"#Y 0,300,0,0", "#Y 0,337,0,0"} << Ints{0, 21, 42, 63, 84};
    QTest::newRow("window 4 input 16") << 75 << QList<bool>() << QStringList{"#Y 0,300,15,3", "#Y 0,337,0,3"}
                                       << Ints{0, 21, 42, 75, 84};
    QTest::newRow("window 3 bank 3, OK") << 58 << QList<bool>{true} << QStringList{"#Y 0,337,3,2"}
                                         << Ints{0, 21, 58, 63, 84};
    QTest::newRow("window 3 bank 3, Cancel") << 58 << QList<bool>{false} << QStringList{} << Ints{0, 21, 42, 63, 84};
    QTest::newRow("window 1 bank 1, OK") << 16 << QList<bool>{true} << QStringList{"#Y 0,337,1,0"}
                                         << Ints{16, 21, 42, 63, 84};
    QTest::newRow("background bank 1, OK")
        << 80 << QList<bool>{true} << QStringList{"#Y 0,337,1,4", "#Y 0,204,1"} << Ints{0, 21, 42, 63, 80};
    QTest::newRow("background bank 4, Cancel")
        << 83 << QList<bool>{false} << QStringList{"#Y 0,204,1"} << Ints{0, 21, 42, 63, 84};
    QTest::newRow("background live, already selected")
        << 84 << QList<bool>() << QStringList{"#Y 0,337,0,4", "#Y 0,204,1"} << Ints{0, 21, 42, 63, 84};
}

void TestSwitching::sourceClick()
{
    QFETCH(int, button);
    QFETCH(QList<bool>, answers);
    QFETCH(QStringList, commands);
    QFETCH(Ints, selectedAfter);
    QVERIFY(start(device({true, true, true, true}, {0, 1, 2, 3}, {}, 0, 0)));
    SwitchingPage &page = *m_rig->page;
    m_rig->showAndReadBack();
    m_emu->clearReceived();
    m_answers = answers;

    page.optWIN1INP[size_t(button)]->click();

    QCOMPARE(received(), commands);
    const QString question = m_rig->state.msg(14) + '|' + m_rig->state.msg(15) + "|1|1";
    QCOMPARE(m_questions, answers.isEmpty() ? QStringList() : QStringList{question});
    QVERIFY(!m_rig->wait.isVisible());
    QCOMPARE(m_rig->enabledCount(), 0);
    QVERIFY(!page.SwitchBusy);
    QVERIFY(page.Timer_switch.isActive());

    QVERIFY(delayedReadBack());
    QCOMPARE(m_rig->selected(), selectedAfter);
    QCOMPARE(m_rig->marked(), selectedAfter);
    QCOMPARE(m_rig->enabledCount(), 93);
    QCOMPARE(m_rig->timeouts(), 0);
}

void TestSwitching::cancelInWaitWindowEndsWaits()
{
    QVERIFY(start(DeviceState{}, true));
    bool shownAtCancel = false;
    QTimer::singleShot(50, &m_rig->wait, [&] {
        shownAtCancel = m_rig->wait.isVisible();
        m_rig->wait.cmdCANCEL->click();
    });
    m_rig->page->optWIN1INP[44]->click();
    // Cancel ended the input command's wait, and the bank command's wait right after it.
    QVERIFY(shownAtCancel);
    QVERIFY(m_rig->exchange.StopRequested);
    QVERIFY(m_emu->waitForCommands(2, 5000));
    QCOMPARE(m_emu->commands(), (QStringList{"#Y 0,300,4,2", "#Y 0,337,0,2"}));
    QCOMPARE(m_rig->timeouts(), 2);
    QVERIFY(!m_rig->wait.isVisible());
}

void TestSwitching::checkBoxClick_data()
{
    QTest::addColumn<DeviceState>("state");
    QTest::addColumn<bool>("fullScreenBox"); // else the "Enabled" box
    QTest::addColumn<int>("window");
    QTest::addColumn<int>("valueBefore"); // set from code before the click; -1: as read back
    QTest::addColumn<QStringList>("commands");
    QTest::addColumn<Ints>("fullRightAfter");
    QTest::addColumn<int>("valueAfter"); // of the clicked box, after the delayed read-back

    QTest::newRow("tick Enabled of window 1")
        << device({}, {}, {}, 0, 0) << false << 0 << -1 << QStringList{"#Y 0,302,1,0"} << Ints{0, 0, 0, 0} << 1;
    QTest::newRow("clear Enabled of window 3") << device({false, false, true}, {}, {}, 0, 0) << false << 2 << -1
                                               << QStringList{"#Y 0,302,0,2"} << Ints{0, 0, 0, 0} << 0;
    QTest::newRow("grayed Enabled of window 4 enables")
        << device({}, {}, {}, 0, 0) << false << 3 << 2 << QStringList{"#Y 0,302,1,3"} << Ints{0, 0, 0, 0} << 1;
    QTest::newRow("full screen on window 3 clears the others")
        << device({true, true, false, true}, {}, {}, 0, 1) << true << 2 << -1
        << QStringList{"#Y 0,302,1,2", "#Y 0,201,1"} << Ints{0, 0, 1, 0} << 1;
    QTest::newRow("full screen off on window 2 sends no window number")
        << device({true, true}, {}, {}, 0, 1) << true << 1 << -1 << QStringList{"#Y 0,201,0"} << Ints{1, 0, 0, 0} << 0;
}

void TestSwitching::checkBoxClick()
{
    QFETCH(DeviceState, state);
    QFETCH(bool, fullScreenBox);
    QFETCH(int, window);
    QFETCH(int, valueBefore);
    QFETCH(QStringList, commands);
    QFETCH(Ints, fullRightAfter);
    QFETCH(int, valueAfter);
    QVERIFY(start(state));
    SwitchingPage &page = *m_rig->page;
    m_rig->showAndReadBack();
    m_emu->clearReceived();
    QCheckBox *box = (fullScreenBox ? page.chkWINFULL : page.chkWINENABLE)[size_t(window)];
    if (valueBefore >= 0)
        SwitchingPage::SetCheckValue(box, valueBefore);

    box->click();

    QCOMPARE(received(), commands);
    QCOMPARE(Rig::values(page.chkWINFULL), fullRightAfter);
    QCOMPARE(m_rig->enabledCount(), 0);
    QVERIFY(!page.SwitchBusy);
    QVERIFY(m_questions.isEmpty());

    QVERIFY(delayedReadBack());
    QCOMPARE(SwitchingPage::CheckValue(box), valueAfter);
    QVERIFY(!box->isTristate());
    QCOMPARE(m_rig->enabledCount(), 93);
}

void TestSwitching::clicksDuringReadBackSendNothing()
{
    QVERIFY(start(device({true, false, true}, {3, 0, 7}, {0, 2}, 1, 1)));
    SwitchingPage &page = *m_rig->page;
    // The operator clicks all over the page while the read-back waits for the device.
    int lines = 0;
    connect(&m_rig->exchange, &CommandExchange::lineCut, this, [&] {
        ++lines;
        for (QAbstractButton *b : std::initializer_list<QAbstractButton *>{page.chkWINENABLE[1], page.chkWINFULL[0],
                                                                           page.optWIN1INP[size_t(lines)],
                                                                           page.optWIN1INP[58], page.optWIN1INP[84]})
            b->click();
    });
    m_rig->showAndReadBack();
    QCOMPARE(lines, 16);
    QCOMPARE(m_emu->commands().size(), 16);
    for (const QString &c : m_emu->commands())
        QVERIFY2(!c.startsWith(QLatin1String("#Y 0")), qPrintable(c));
    QVERIFY(m_questions.isEmpty());
    QVERIFY(!page.Timer_switch.isActive());
    QVERIFY(!page.SwitchBusy);
}

void TestSwitching::tabClickDuringCommandReadsBackAfterIt()
{
    QVERIFY(start(DeviceState{}));
    m_rig->showAndReadBack();
    m_emu->clearReceived();
    // The Switching tab is clicked just as the enable command's reply comes in.
    connect(
        &m_rig->exchange, &CommandExchange::lineCut, this, [this] { m_rig->showAndReadBack(); },
        Qt::SingleShotConnection);
    m_rig->page->chkWINENABLE[1]->click();
    QCOMPARE(m_emu->commands(), QStringList{"#Y 0,302,1,1"});
    QCOMPARE(m_rig->timeouts(), 0); // the command still got its reply
    QVERIFY(delayedReadBack());
    QCOMPARE(Rig::values(m_rig->page->chkWINENABLE), (Ints{0, 1, 0, 0}));
}

QTEST_MAIN(TestSwitching)
#include "tst_switching.moc"
