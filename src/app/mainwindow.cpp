#include "mainwindow.h"

#include "remote/remotecontrol.h"

#include "bankloader.h"
#include "focuskeeper.h"
#include "language/languagefile.h"
#include "language/messagetable.h"
#include "language/templatewriter.h"
#include "languagebox.h"
#include "linksettings.h"
#include "namelisteditor.h"
#include "outcomes.h"
#include "pagekeys.h"
#include "picturefolder.h"
#include "platform.h"
#include "remote/remotecontrol.h"
#include "remotebox.h"
#include "settings/names.h"
#include "settings/settingsfile.h"
#include "switching/switchprotocol.h"
#include "switchingpage.h"
#include "util/seams.h"
#include "util/textutil.h"
#include "waitwindow.h"
#include "warningwindow.h"
#include "widgets.h"
#include "windowscaler.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QDateTime>
#include <QFrame>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMouseEvent>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QTimer>
#include <utility>

namespace qx {

namespace {
constexpr int kClientWidth = 13740;
constexpr int kClientHeight = 9375;
constexpr int kLogLeft = 13860;
constexpr int kLogWidth = 4560;

// A click on a panel or on the label lying on it: the left button pressed on
// either and released over the panel (the label lies on it). Other buttons,
// and a press released elsewhere, do nothing.
class ClickFilter : public QObject {
public:
    ClickFilter(QWidget *panel, std::function<void()> action)
        : QObject(panel), m_panel(panel), m_action(std::move(action))
    {
    }
    bool eventFilter(QObject *watched, QEvent *e) override
    {
        if (e->type() == QEvent::KeyPress) {
            const int key = static_cast<QKeyEvent *>(e)->key();
            if (key != Qt::Key_Space && key != Qt::Key_Return && key != Qt::Key_Enter)
                return false;
            m_action();
            return true;
        }
        if (e->type() != QEvent::MouseButtonPress && e->type() != QEvent::MouseButtonRelease &&
            e->type() != QEvent::MouseButtonDblClick)
            return false;
        const auto *me = static_cast<QMouseEvent *>(e);
        if (me->button() != Qt::LeftButton)
            return true;
        if (e->type() == QEvent::MouseButtonPress) {
            m_pressed = true;
            return true;
        }
        if (e->type() == QEvent::MouseButtonRelease && std::exchange(m_pressed, false)) {
            // The release goes to the widget that took the press, wherever the pointer is.
            const QPoint at = m_panel->mapFromGlobal(me->globalPosition().toPoint());
            auto *w = qobject_cast<QWidget *>(watched);
            if (m_panel->rect().contains(at) && (!w || w->isEnabled()))
                m_action();
        }
        return true;
    }

private:
    QWidget *m_panel;
    std::function<void()> m_action;
    bool m_pressed = false;
};
} // namespace

MainWindow::MainWindow(AppCore &core)
    : m_state(core.state), m_log(core.log), m_session(core.session), m_runner(core.runner)
{
    RegisterControl(this, this, QStringLiteral("frmMAIN"), ControlKind::Window);
    setWindowTitle(QStringLiteral("QX-7"));
    UseDesignLook(this);
    resize(tw(kClientWidth), tw(kClientHeight));

    buildTabStrip();
    // The pages are built in these colours; the start-up takes them again.
    NormalBackColor = BackColor(btnPRESETS);
    MarkBackColor = BackColor(btnFILES);
    buildPresetsPage();

    frameSWITCH = MakeFrame(this, this, QStringLiteral("frameSWITCH"), QStringLiteral("Switching"),
                            QRect(2220, 120, 11415, 9135));
    m_wait = std::make_unique<WaitWindow>(this);
    // Cancel in the wait window stops the running source change: its wait
    // ends and nothing more of it is sent.
    m_wait->setCancelAction([this] { m_runner.stop(); });
    m_switching =
        std::make_unique<SwitchingPage>(this, frameSWITCH, m_state, m_runner, NormalBackColor, MarkBackColor, *m_wait);

    buildFilesPage();
    buildLogColumn();

    m_session.registerTimers(this);
    RegisterControl(this, &m_switching->Timer_switch, QStringLiteral("Timer_switch"), ControlKind::Timer);
    m_session.registerConnections(this);

    m_warning = std::make_unique<WarningWindow>(m_state.msg, this);

    // A read-back of another sender's change shows on the page too.
    connect(&m_runner, &RequestRunner::stateChanged, this, [this] { m_switching->showState(m_runner.switchState()); });
    // While shown, the page has what a preset or an outage left unknown read back.
    connect(m_switching.get(), &SwitchingPage::shown, &core.readBack, [this, &core](bool shown) {
        shown ? core.readBack.watch(m_switching.get()) : core.readBack.unwatch(m_switching.get());
    });

    // The log column mirrors the communication log.
    connect(&m_log, &CommLog::countChanged, labNN, &QLabel::setText);
    connect(m_banks.get(), &BankLoader::technicalInfo, lab, &QLabel::setText);
    connect(&m_log, &CommLog::diagnosticCountChanged, labN, &QLabel::setText);
    connect(&m_log, &CommLog::sentChanged, lab2, &QLabel::setText);
    connect(&m_log, &CommLog::receivedChanged, lab3, &QLabel::setText);
    connect(&m_log, &CommLog::entryAdded, this, [this](const QString &text) {
        lstLOG->addItem(text);
        lstLOG->setCurrentRow(lstLOG->count() - 1);
    });
    connect(&m_log, &CommLog::listCleared, lstLOG, &QListWidget::clear);
    connect(chkLOGLIST, &QCheckBox::toggled, &m_log, &CommLog::setFeedToList);

    // Created last, after every designed control, so the controls keep their order.
    buildLinkIndicator();
    m_linkSettings->buildPortList(this, frameFILES, m_state.msg);
    m_remoteBox = std::make_unique<RemoteBox>(this, frameFILES, m_state.msg);
    buildKeyboardAndMarks();
    m_scaler = std::make_unique<WindowScaler>(this, QSize(tw(kClientWidth), tw(kClientHeight)));
}

void MainWindow::showRemote(PanelRemote &remote)
{
    m_remoteBox->view(remote);
}

void MainWindow::showHandOverNote(const QString &note)
{
    m_remoteBox->setHandOverNote(note);
}

MainWindow::~MainWindow() = default;

WaitWindow &MainWindow::waitWindow()
{
    return *m_wait;
}
WarningWindow &MainWindow::warningWindow()
{
    return *m_warning;
}

void MainWindow::buildTabStrip()
{
    const struct {
        QFrame **panel;
        QLabel **label;
        const char *panelName;
        const char *labelName;
        int top;
        const char *caption;
        const char *tip;
        quint32 color;
        int tab;
    } tabs[] = {
        {&btnPRESETS, &labPRESETS, "btnPRESETS", "labPRESETS", 720, "Presets", "Qick switching of layout presets",
         0x00C0C0C0, TabPresets},
        {&btnSWITCH, &labSWITCH, "btnSWITCH", "labSWITCH", 2220, "Switching", "Switching of inputs to output windows",
         0x00808080, TabSwitching},
        {&btnFILES, &labFILES, "btnFILES", "labFILES", 7260, "Files and Setup", nullptr, 0x00808080, TabFiles},
    };
    for (const auto &t : tabs) {
        QFrame *panel = MakePanel(this, this, QString::fromLatin1(t.panelName), QRect(60, t.top, 2235, 1335));
        SetBackColor(panel, ColorFromBgr(t.color));
        QLabel *label = MakeLabel(this, panel, QString::fromLatin1(t.labelName), QString::fromLatin1(t.caption),
                                  QRect(120, 300, 1995, 735));
        QFont f = label->font();
        f.setPointSizeF(13.5);
        label->setFont(f);
        if (t.tip)
            label->setToolTip(QString::fromLatin1(t.tip));
        const int tab = t.tab;
        auto *filter = new ClickFilter(panel, [this, tab] { onTabClicked(tab); });
        panel->installEventFilter(filter);
        label->installEventFilter(filter);
        *t.panel = panel;
        *t.label = label;
    }
    pictABOUT = MakePanel(this, this, QStringLiteral("pictABOUT"), QRect(60, 8760, 1575, 435));
    SetBackColor(pictABOUT, ColorFromBgr(0x00808080));
    labABOUT =
        MakeLabel(this, pictABOUT, QStringLiteral("labABOUT"), QStringLiteral("About"), QRect(60, 60, 1455, 315));
    labABOUT->setAlignment(Qt::AlignCenter);
    auto *about = new ClickFilter(pictABOUT, [this] { pictABOUT_Click(); });
    pictABOUT->installEventFilter(about);
    labABOUT->installEventFilter(about);
}

void MainWindow::buildPresetsPage()
{
    framePRESETS =
        MakeFrame(this, this, QStringLiteral("framePRESETS"), QStringLiteral("Presets"), QRect(2220, 120, 11415, 9075));
    for (int n = 1; n <= 16; ++n) {
        const int left = n <= 8 ? 600 : 3900;
        const int top = 540 + ((n - 1) % 8) * 840;
        QPushButton *b = MakeButton(this, framePRESETS, QStringLiteral("cmdPRESET"), QStringLiteral("preset_"),
                                    QRect(left, top, 3135, 735), n);
        connect(b, &QPushButton::clicked, this, [this, n] { cmdPRESET_Click(n); });
        cmdPRESET[size_t(n)] = b;
        // F1..F12 and Shift+F1..F4, on every page and over a text box (which
        // then types nothing).
        const QKeySequence key(n <= 12 ? QKeyCombination(Qt::Key(Qt::Key_F1 + n - 1))
                                       : QKeyCombination(Qt::ShiftModifier, Qt::Key(Qt::Key_F1 + n - 13)));
        b->setToolTip(QStringLiteral("Key ") + key.toString(QKeySequence::PortableText));
        auto *shortcut = new QShortcut(key, this);
        shortcut->setContext(Qt::ApplicationShortcut);
        shortcut->setAutoRepeat(false);
        connect(shortcut, &QShortcut::activated, this, [this, n] { presetKey(n); });
    }
}

void MainWindow::presetKey(int index)
{
    // Like a click: sent between the exchanges of a read-back or a switching
    // command. A load keeps the link: the key does nothing, and the indicator
    // says why for its full time.
    showNotSent(m_runner.execute(Request::recall(index, RequestOrigin::Key)));
}

void MainWindow::buildFilesPage()
{
    frameFILES =
        MakeFrame(this, this, QStringLiteral("frameFILES"), QStringLiteral("Files"), QRect(2220, 120, 11415, 9135));
    m_pictures = std::make_unique<PictureFolderBox>(this, frameFILES, m_state);
    m_banks = std::make_unique<BankLoader>(this, frameFILES, m_state, m_runner, *m_pictures);
    m_linkSettings = std::make_unique<LinkSettingsBox>(this, frameFILES, m_state.settings);
    connect(m_linkSettings.get(), &LinkSettingsBox::reconnectRequested, this, &MainWindow::OpenLink);
    m_inputNames = std::make_unique<NameListEditor>(
        this, frameFILES, m_state.settings, NameList::InputsAndWindows,
        NameListEditor::Design{"lstINPUTNAMES", "txtEDITINPUTNAME", "labNAMEINPUTS", "labEDITINPUTNAME",
                               "Input and windows names:", "Edit input/window name:",
                               "Logical names of QX-7 inputs or output windows", 5280});
    m_presetNames = std::make_unique<NameListEditor>(
        this, frameFILES, m_state.settings, NameList::PresetsAndBanks,
        NameListEditor::Design{"lstPRESETNAMES", "txtEDITPRESETNAME", "labPRESETNAMES", "labEDITPRESETNAME",
                               "Preset and bank names:", "Edit preset name:", "Logical names of layout presets", 7440});
    m_inputNames->AddCaptions();
    m_presetNames->AddCaptions();
    m_language = std::make_unique<LanguageBox>(this, frameFILES, m_state.settings);
    labNN = MakeLabel(this, frameFILES, QStringLiteral("labNN"), QString(), QRect(9600, 6060, 1600, 255));

    connect(m_pictures.get(), &PictureFolderBox::loadableChanged, m_banks.get(), &BankLoader::setLoadable);
    // A bank name edited in the list shows on its bank button at once.
    connect(m_presetNames.get(), &NameListEditor::nameEdited, this, [this](int entry, const QString &name) {
        const int bank = BankButtonOfEntry(NameList::PresetsAndBanks, entry);
        if (bank >= 0)
            m_banks->setBankName(bank, name);
    });
    // The load job locks the folder, the link and the other tabs while it runs.
    connect(m_banks.get(), &BankLoader::runningChanged, this, [this](bool running) {
        if (running && m_state.settings.ShowLog)
            lstLOG->show();
        m_pictures->setLocked(running);
        m_linkSettings->setLocked(running);
        setTabsEnabled(!running);
    });
}

void MainWindow::SetUpNames()
{
    Settings &s = m_state.settings;
    FillDefaultNames(s, m_presetCaption, m_state.msg(10));
    m_inputNames->Fill();
    m_presetNames->Fill();
    for (int n = 1; n <= kPresets; ++n) {
        SetNameCaption(cmdPRESET[size_t(n)], s.PresetName[size_t(n)]);
        SetBackColor(cmdPRESET[size_t(n)], NormalBackColor);
    }
    m_banks->showNames(NormalBackColor);
}

void MainWindow::buildLogColumn()
{
    Label1 = MakeLabel(this, this, QStringLiteral("Label1"), QStringLiteral("N:"), QRect(kLogLeft, 120, 360, 255));
    labN = MakeLabel(this, this, QStringLiteral("labN"), QStringLiteral("0"), QRect(kLogLeft + 360, 120, 1200, 255));
    chkLOGLIST = MakeCheckBox(this, this, QStringLiteral("chkLOGLIST"), QStringLiteral("feed to list"),
                              QRect(kLogLeft + 1800, 90, 1800, 315));
    lab = MakeLabel(this, this, QStringLiteral("lab"), QString(), QRect(kLogLeft, 420, kLogWidth, 255));
    lab2 = MakeLabel(this, this, QStringLiteral("lab2"), QStringLiteral("0"), QRect(kLogLeft, 720, kLogWidth, 495));
    lab3 = MakeLabel(this, this, QStringLiteral("lab3"), QStringLiteral("0"), QRect(kLogLeft, 1260, kLogWidth, 495));
    lstLOG = MakeList(this, this, QStringLiteral("lstLOG"), QRect(kLogLeft, 1800, kLogWidth, 6900));
    cmdTONGUE = MakeButton(this, this, QStringLiteral("cmdTONGUE"), QStringLiteral("tongue!"),
                           QRect(kLogLeft, 8820, 1215, 375));
    connect(cmdTONGUE, &QPushButton::clicked, this, &MainWindow::cmdTONGUE_Click);
    // The column lies beyond the design width: hidden until the window is widened to show it, so that no key
    // reaches a control nobody sees (Tab and Space would write the template and end the program).
    showLogColumn(false);
}

void MainWindow::showLogColumn(bool shown)
{
    for (QWidget *w : std::initializer_list<QWidget *>{Label1, labN, chkLOGLIST, lab, lab2, lab3, lstLOG, cmdTONGUE})
        w->setVisible(shown);
}

void MainWindow::buildLinkIndicator()
{
    // In the free part of the left column, between the Switching and the Files tab panels.
    labLINKMARK = MakeLabel(this, this, QStringLiteral("labLINKMARK"), QString(), QRect(120, 6405, 165, 165));
    labLINK = MakeLabel(this, this, QStringLiteral("labLINK"), QString(), QRect(360, 6360, 1800, 840));
    labLINK->setWordWrap(true);
    labLINK->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    // Their texts come from the messages: nothing of them goes into the language template.
    for (QLabel *l : {labLINKMARK, labLINK})
        SetTag(l, QStringLiteral("empty"));
    // A click on the indicator, or Space or Enter on it, tries the link again at once.
    labLINK->setFocusPolicy(Qt::StrongFocus);
    for (QLabel *l : {labLINKMARK, labLINK}) {
        l->setCursor(Qt::PointingHandCursor);
        l->installEventFilter(new ClickFilter(l, [this] { m_session.monitor().retryNow(); }));
    }
    connect(&m_session.monitor(), &LinkMonitor::changed, this, &MainWindow::showLinkState);
    connect(&m_note, &IndicatorNote::changed, this, &MainWindow::showLinkState);
}

void MainWindow::buildKeyboardAndMarks()
{
    // The tab panels and the About panel take the focus; Space or Enter on
    // one is a click on it. Each shows the focus it has, as the indicator does.
    for (QFrame *panel : {btnPRESETS, btnSWITCH, btnFILES, pictABOUT}) {
        panel->setFocusPolicy(Qt::StrongFocus);
        ShowFocusFrame(panel);
    }
    ShowFocusFrame(labLINK);
    new PageKeys(
        this, {{TabPresets, btnPRESETS}, {TabSwitching, btnSWITCH}, {TabFiles, btnFILES}},
        [this] { return shownTab(); }, [this](int tab) { onTabClicked(tab); });

    connect(&m_tally, &PresetTally::changed, this, &MainWindow::markTally);
    // Whoever asked for it: a click, a key, the command line, a second start, a remote.
    connect(&m_runner, &RequestRunner::presetRecalled, &m_tally, &PresetTally::recalled);
    // A link that comes up again may find a device restarted meanwhile; a
    // wait that went unanswered is no new link.
    connect(&m_session.monitor(), &LinkMonitor::changed, this, [this] {
        const LinkMonitor::State state = m_session.monitor().state();
        if (state != LinkMonitor::State::NotAnswering)
            m_tally.linkUp(state == LinkMonitor::State::Connected);
    });
    connect(m_switching.get(), &SwitchingPage::requestEnded, this, &MainWindow::showNotSent);
    connect(m_banks.get(), &BankLoader::requestEnded, this, &MainWindow::showNotSent);

    labLANGNOTE = MakeLabel(this, frameFILES, QStringLiteral("labLANGNOTE"), QString(), QRect(9600, 5280, 1700, 720));
    SetTag(labLANGNOTE, QStringLiteral("empty"));
    connect(m_language.get(), &LanguageBox::languageChosen, this,
            [this](bool pending) { labLANGNOTE->setText(pending ? m_state.msg(52) : QString()); });
}

void MainWindow::markTally(int current, int previous)
{
    // Marked by a bold caption, a dark bar at its left edge and the line
    // "Last recalled here" under the key; no colour, which would claim to
    // know the device's state.
    for (const int n : {previous, current}) {
        if (n < 1 || n > kPresets)
            continue;
        QPushButton *b = cmdPRESET[size_t(n)];
        QFont f = b->font();
        f.setBold(n == current);
        b->setFont(f);
        SetTallyMark(b, n == current);
        QString tip = b->toolTip().section(QLatin1Char('\n'), 0, 0);
        if (n == current)
            tip += QLatin1Char('\n') + m_state.msg(51);
        b->setToolTip(tip);
    }
}

int MainWindow::shownTab() const
{
    return !framePRESETS->isHidden() ? TabPresets : !frameSWITCH->isHidden() ? TabSwitching : TabFiles;
}

void MainWindow::showLinkState()
{
    const MessageTable &msg = m_state.msg;
    const LinkMonitor &monitor = m_session.monitor();
    const LinkSettings &s = m_session.applied();
    const bool tcp = s.ComPort == 0;
    const QString port = QString::number(s.ComPort);
    const QString text = LinkStateText(monitor, s, msg);
    quint32 color = 0x000000C0; // red
    switch (monitor.state()) {
    case LinkMonitor::State::Connected:
        color = 0x0000A000;
        break;
    case LinkMonitor::State::Connecting:
    case LinkMonitor::State::NotAnswering:
        color = 0x0000C0E0;
        break;
    default:
        break;
    }
    // A note stays its full time whatever the link reports meanwhile.
    labLINK->setText(m_note.active() ? m_note.text() : text);
    SetBackColor(labLINKMARK, ColorFromBgr(color));
    const QDateTime last = monitor.lastReply();
    const QString tip =
        msg(39) + QStringLiteral(": ") +
        (tcp ? QStringLiteral("TCP/IP ") + s.TcpSettings : QStringLiteral("com%1, %2").arg(port, s.ComPortSettings)) +
        QLatin1Char('\n') + msg(40) + QStringLiteral(": ") +
        (last.isValid() ? last.toString(QStringLiteral("HH:mm:ss")) : msg(41));
    labLINK->setToolTip(tip);
    labLINKMARK->setToolTip(tip);
}

void MainWindow::onTabClicked(int tab)
{
    ShowTab(tab);
    if (tab == TabSwitching)
        m_switching->RefreshSwitchState();
}

void MainWindow::ShowTab(int tab)
{
    framePRESETS->setVisible(tab == TabPresets);
    frameSWITCH->setVisible(tab == TabSwitching);
    frameFILES->setVisible(tab == TabFiles);
    const std::pair<QFrame *, int> panels[] = {
        {btnPRESETS, TabPresets}, {btnSWITCH, TabSwitching}, {btnFILES, TabFiles}};
    for (const auto &[panel, number] : panels) {
        if (number == tab)
            panel->raise();
        else
            panel->lower();
    }
    for (const auto &[panel, number] : panels)
        SetBackColor(panel, MarkBackColor);
    for (const auto &[panel, number] : panels)
        if (number == tab)
            SetBackColor(panel, NormalBackColor);
    if (tab == TabSwitching)
        m_switching->ShowCaptions();
}

void MainWindow::OpenLink()
{
    m_tally.reset();
    const LinkOpenResult opened = m_session.open(); // before asking what it tried
    ShowLinkOutcome(opened, m_session.attempted(), m_state.msg);
}

void MainWindow::setTabsEnabled(bool enabled)
{
    for (QWidget *w : std::initializer_list<QWidget *>{labSWITCH, btnSWITCH, labPRESETS, btnPRESETS})
        w->setEnabled(enabled);
}

void MainWindow::cmdPRESET_Click(int index)
{
    // The device may answer; the next wait throws that line away as foreign.
    showNotSent(m_runner.execute(Request::recall(index, RequestOrigin::Operator)));
}

void MainWindow::showNotSent(const RequestOutcome &outcome)
{
    // On air the operator must know at once that the layout did not change.
    if (outcome.reason == RequestOutcome::Reason::Busy && !outcome.message.isEmpty())
        m_note.show(outcome.message);
    else if (outcome.reason == RequestOutcome::Reason::LinkDown)
        m_note.show(m_state.msg(50));
}

void MainWindow::bringToFront(bool about)
{
    setWindowState(windowState() & ~Qt::WindowMinimized);
    show();
    raise();
    activateWindow();
    // From the event loop: the hand-over that asked is answered meanwhile.
    if (about)
        QTimer::singleShot(0, this, &MainWindow::pictABOUT_Click);
}

void MainWindow::pictABOUT_Click()
{
    m_warning->FillAboutTexts();
    showWarningModal();
}

void MainWindow::showWarningModal()
{
    if (TerminationRequested())
        return;
    const DialogOpen open;
    if (seams().showModal)
        seams().showModal(m_warning.get());
    else
        m_warning->exec();
}

void MainWindow::cmdTONGUE_Click()
{
    WriteLanguageTemplate({this, m_wait.get(), m_warning.get()}, m_state.settings.Tongue,
                          JoinPath(ProgramFolder(), LanguageFileName(QString())));
    // The application ends at once: nothing of this run is saved, and no
    // shutdown runs when the window closes afterwards.
    m_onClose = nullptr;
    m_wait->hide();
    m_warning->hide();
    hide();
    ExitProcess(0);
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    requestClose();
    event->accept();
}

void MainWindow::requestClose()
{
    if (m_onClose)
        m_onClose();
}

} // namespace qx
