#include "switchingpage.h"

#include "state/appstate.h"
#include "state/requestrunner.h"
#include "switching/switchprotocol.h"
#include "tabs.h"
#include "util/seams.h"
#include "waitwindow.h"
#include "widgets.h"

#include <QCheckBox>
#include <QEvent>
#include <QGroupBox>
#include <QRadioButton>
#include <utility>

namespace qx {

namespace {
// Places in twips. The window frames stand side by side; the background frame
// sits under the right-hand end of the page.
constexpr int kWindowFrameLeft[kWindows] = {360, 2520, 4680, 6840};
constexpr int kWindowFrameTop = 300;
constexpr int kFrameWidth = 2175;
constexpr int kWindowFrameHeight = 8595;
constexpr int kBackFrameLeft = 9000;
constexpr int kBackFrameTop = 6300;
constexpr int kBackFrameHeight = 2595;

// Inside a frame: the two boxes on top, then one row per source.
constexpr int kInnerLeft = 120;
constexpr int kInnerWidth = 1935;
constexpr int kRowHeight = 285;
constexpr int kEnableTop = 300;
constexpr int kFullTop = 600;
constexpr int kInputsTop = 1020;
constexpr int kRowStep = 345;
constexpr int kBanksTop = kInputsTop + kInputs * kRowStep + 120; // a gap between inputs and banks
constexpr int kBackRowsTop = 300;
constexpr int kBackRowStep = 420;
} // namespace

SwitchingPage::SwitchingPage(QWidget *window, QWidget *frame, AppState &state, RequestRunner &runner,
                             const QColor &normalBackColor, const QColor &markBackColor, WaitWindow &wait,
                             QObject *parent)
    : QObject(parent), m_state(state), m_runner(runner), m_normalBackColor(normalBackColor),
      m_markBackColor(markBackColor), m_wait(wait)
{
    m_page = frame;
    // Shown, the page watches the device's state: what a preset or an outage
    // left unknown is read back for it.
    m_page->installEventFilter(this);
    Timer_switch.setInterval(500);
    Timer_switch.setSingleShot(true);
    connect(&Timer_switch, &QTimer::timeout, this, &SwitchingPage::Timer_switch_Timer);
    connect(&m_runner, &RequestRunner::readyChanged, this, [this](bool ready) {
        // From the event loop, never inside the signal that freed the runner.
        if (ready && std::exchange(m_readBackWaits, false))
            QTimer::singleShot(0, this, &SwitchingPage::Timer_switch_Timer);
    });
    createControls(window, frame);
}

QGroupBox *SwitchingPage::frameOf(int window) const
{
    switch (window) {
    case 0:
        return frameWINDOW1;
    case 1:
        return frameWINDOW2;
    case 2:
        return frameWINDOW3;
    case 3:
        return frameWINDOW4;
    case kBackgroundWindow:
        return frameBACK;
    default:
        return nullptr;
    }
}

void SwitchingPage::createControls(QWidget *window, QWidget *frame)
{
    QGroupBox **frames[kWindows] = {&frameWINDOW1, &frameWINDOW2, &frameWINDOW3, &frameWINDOW4};
    for (int w = 0; w < kWindows; ++w) {
        *frames[w] =
            MakeFrame(window, frame, QStringLiteral("frameWINDOW%1").arg(w + 1), QStringLiteral("Window %1").arg(w + 1),
                      QRect(kWindowFrameLeft[w], kWindowFrameTop, kFrameWidth, kWindowFrameHeight));
        SetBackColor(*frames[w], m_normalBackColor);
    }
    frameBACK = MakeFrame(window, frame, QStringLiteral("frameBACK"), QStringLiteral("Background"),
                          QRect(kBackFrameLeft, kBackFrameTop, kFrameWidth, kBackFrameHeight));
    SetBackColor(frameBACK, m_normalBackColor);

    for (int w = 0; w < kWindows; ++w) {
        QCheckBox *enable = MakeCheckBox(window, frameOf(w), QStringLiteral("chkWINENABLE"), QStringLiteral("Enabled"),
                                         QRect(kInnerLeft, kEnableTop, kInnerWidth, kRowHeight), w);
        QCheckBox *full =
            MakeCheckBox(window, frameOf(w), QStringLiteral("chkWINFULL"), QStringLiteral("Show full screen"),
                         QRect(kInnerLeft, kFullTop, kInnerWidth, kRowHeight), w);
        chkWINENABLE[size_t(w)] = enable;
        chkWINFULL[size_t(w)] = full;
        for (QCheckBox *box : {enable, full}) {
            SetBackColor(box, m_normalBackColor);
            // A box grayed from code takes a click as "checked"; after that it
            // is a two-state box again, as the operator knows it.
            connect(box, &QCheckBox::stateChanged, box, [box](int s) {
                if (s != Qt::PartiallyChecked)
                    box->setTristate(false);
            });
        }
        connect(enable, &QCheckBox::clicked, this, [this, w] { operatorClick([this, w] { chkWINENABLE_Click(w); }); });
        connect(full, &QCheckBox::clicked, this, [this, w] { operatorClick([this, w] { chkWINFULL_Click(w); }); });
    }

    for (int i = 0; i < kSourceButtons; ++i) {
        const SourceButton source = SourceOfButton(i);
        const int p = i % kButtonsPerWindow;
        QString caption;
        int top = 0;
        if (source.window == kBackgroundWindow) {
            caption = source.kind == SourceButton::Live ? QStringLiteral("Live DVI Input") : QStringLiteral("File");
            top = kBackRowsTop + p * kBackRowStep;
        } else if (source.kind == SourceButton::Input) {
            caption = QStringLiteral("Input");
            top = kInputsTop + p * kRowStep;
        } else {
            caption = QStringLiteral("File");
            top = kBanksTop + (source.number - 1) * kRowStep;
        }
        // Each frame holds its own buttons, so each frame is one exclusive group.
        QRadioButton *button = MakeOption(window, frameOf(source.window), QStringLiteral("optWIN1INP"), caption,
                                          QRect(kInnerLeft, top, kInnerWidth, kRowHeight), i);
        SetBackColor(button, m_normalBackColor);
        optWIN1INP[size_t(i)] = button;
        // clicked, not toggled: a click on the selected button sends its commands again.
        connect(button, &QRadioButton::clicked, this, [this, i] { operatorClick([this, i] { optWIN1INP_Click(i); }); });
        connect(button, &QRadioButton::toggled, this, [this, i](bool on) {
            if (on)
                makeTabStop(i);
        });
    }
    for (int i = 0; i < kSourceButtons; i += kButtonsPerWindow)
        makeTabStop(i);
}

void SwitchingPage::makeTabStop(int index)
{
    // Tab reaches a source group once, on its selected source (the first
    // before any is known); the arrow keys move within the group.
    const int window = SourceOfButton(index).window;
    for (int i = 0; i < kSourceButtons; ++i)
        if (SourceOfButton(i).window == window)
            optWIN1INP[size_t(i)]->setFocusPolicy(i == index ? Qt::StrongFocus : Qt::ClickFocus);
}

bool SwitchingPage::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_page && (event->type() == QEvent::Show || event->type() == QEvent::Hide))
        Q_EMIT shown(event->type() == QEvent::Show);
    return QObject::eventFilter(watched, event);
}

void SwitchingPage::operatorClick(const std::function<void()> &handler)
{
    // A click while a read-back runs sends nothing, but it has already changed
    // the box or button on screen: read the device back once more afterwards,
    // so the page shows the device's state again.
    if (SwitchBusy) {
        Timer_switch.start();
        return;
    }
    handler();
}

int SwitchingPage::CheckValue(const QCheckBox *box)
{
    switch (box->checkState()) {
    case Qt::Checked:
        return 1;
    case Qt::PartiallyChecked:
        return 2;
    default:
        return 0;
    }
}

void SwitchingPage::SetCheckValue(QCheckBox *box, int value)
{
    if (value == 2) {
        box->setTristate(true);
        box->setCheckState(Qt::PartiallyChecked);
    } else {
        box->setCheckState(value ? Qt::Checked : Qt::Unchecked);
    }
}

void SwitchingPage::CaptionFrames()
{
    for (int w = 0; w < kWindows; ++w)
        frameOf(w)->setTitle(m_state.msg(12) + QStringLiteral(" %1").arg(w + 1));
    frameBACK->setTitle(m_state.msg(13));
}

void SwitchingPage::ShowCaptions()
{
    const Settings &s = m_state.settings;
    for (int w = 0; w < kWindows; ++w) {
        for (int input = 0; input < kInputs; ++input) {
            QRadioButton *b = optWIN1INP[size_t(InputButton(w, input))];
            SetNameCaption(b, s.LabelIn[size_t(input + 1)]);
            SetBackColor(b, m_normalBackColor);
        }
        for (int bank = 1; bank <= kBanks; ++bank) {
            QRadioButton *b = optWIN1INP[size_t(BankButton(w, bank))];
            SetNameCaption(b, s.BankName[size_t(bank)]);
            b->setToolTip(s.BankFileLoaded[size_t(bank)]);
            SetBackColor(b, m_normalBackColor);
        }
    }
    for (int bank = 1; bank <= kBanks; ++bank) {
        QRadioButton *b = optWIN1INP[size_t(BankButton(kBackgroundWindow, bank))];
        SetNameCaption(b, s.BankName[size_t(bank)]);
        b->setToolTip(s.BankFileLoaded[size_t(bank)]);
        SetBackColor(b, m_normalBackColor);
    }
    QRadioButton *live = optWIN1INP[kLiveButton];
    live->setText(m_state.msg(11));
    SetBackColor(live, m_normalBackColor);
}

void SwitchingPage::LockSwitchControls(QWidget *sender)
{
    m_focus.beforeLock(m_page, sender);
    for (QRadioButton *b : optWIN1INP)
        b->setEnabled(false);
    for (int w = 0; w < kWindows; ++w) {
        chkWINENABLE[size_t(w)]->setEnabled(false);
        chkWINFULL[size_t(w)]->setEnabled(false);
    }
    m_focus.afterLock();
}

void SwitchingPage::selectSource(int index)
{
    QRadioButton *b = optWIN1INP[size_t(index)];
    b->setChecked(true);
    SetBackColor(b, m_markBackColor);
}

void SwitchingPage::applyState(const SwitchState &state)
{
    for (int w = 0; w < kWindows; ++w) {
        SetCheckValue(chkWINENABLE[size_t(w)], state.enabled[size_t(w)] == 1 ? 1 : 0);
        SetCheckValue(chkWINFULL[size_t(w)], state.fullScreen[size_t(w)] == 1 ? 1 : 0);
    }
    for (const int button : state.sourceButton)
        if (button >= 0 && button < kSourceButtons)
            selectSource(button);
}

void SwitchingPage::RefreshSwitchState()
{
    // One sequence at a time: a read-back asked for while the page's own
    // sequence or another request runs is made once that is over.
    if (SwitchBusy || m_runner.busy()) {
        m_readBackWaits = true;
        return;
    }
    SwitchBusy = true;
    const RequestOutcome outcome = m_runner.execute(Request::readBack(RequestOrigin::Operator));
    for (int w = 0; w < kWindows; ++w) {
        QCheckBox *enable = chkWINENABLE[size_t(w)];
        SetBackColor(enable, m_normalBackColor);
        SetNameCaption(enable, m_state.settings.LabelWin[size_t(w + 1)]);
        SetBackColor(chkWINFULL[size_t(w)], m_normalBackColor);
    }
    applyState(m_runner.switchState());
    for (int w = 0; w < kWindows; ++w) {
        chkWINENABLE[size_t(w)]->setEnabled(true);
        chkWINFULL[size_t(w)]->setEnabled(true);
    }
    for (QRadioButton *b : optWIN1INP)
        b->setEnabled(true);
    SwitchBusy = false;
    m_focus.restore();
    Q_EMIT requestEnded(outcome);
}

SwitchState SwitchingPage::shownState() const
{
    SwitchState s;
    s.known = true;
    for (int w = 0; w < kWindows; ++w) {
        s.enabled[size_t(w)] = CheckValue(chkWINENABLE[size_t(w)]);
        s.fullScreen[size_t(w)] = CheckValue(chkWINFULL[size_t(w)]);
    }
    for (int i = 0; i < kSourceButtons; ++i)
        if (optWIN1INP[size_t(i)]->isChecked() && SourceOfButton(i).kind != SourceButton::Invalid)
            s.sourceButton[size_t(SourceOfButton(i).window)] = i;
    return s;
}

void SwitchingPage::showState(const SwitchState &state)
{
    if (!state.known || SwitchBusy || state == shownState())
        return;
    SwitchBusy = true;
    ShowCaptions(); // every source button back in the normal colour
    applyState(state);
    SwitchBusy = false;
}

void SwitchingPage::change(const SwitchChange &change)
{
    SwitchBusy = true;
    const RequestOutcome outcome = m_runner.execute(Request::switching(change, RequestOrigin::Operator));
    // Refused while another request runs: the click did nothing, and the page
    // says what it last knew until its read-back.
    if (outcome.reason == RequestOutcome::Reason::Busy && m_runner.switchState().known)
        applyState(m_runner.switchState());
    SwitchBusy = false;
    // Whatever came of it, the page shows the device's state again.
    Timer_switch.start();
    Q_EMIT requestEnded(outcome);
}

void SwitchingPage::optWIN1INP_Click(int Index)
{
    if (SwitchBusy)
        return;
    const SourceButton source = SourceOfButton(Index);
    if (source.kind == SourceButton::Invalid)
        return;
    LockSwitchControls(optWIN1INP[size_t(Index)]);
    SetBackColor(optWIN1INP[size_t(Index)], m_normalBackColor);
    SwitchChange c;
    c.window = source.window == kBackgroundWindow ? SwitchChange::kBackground : source.window + 1;
    c.sourceKind =
        source.kind == SourceButton::Input ? SwitchChange::SourceKind::Input : SwitchChange::SourceKind::Bank;
    // Inputs count from 1 in a request; the background's live input is its bank 0.
    c.source = source.kind == SourceButton::Input  ? source.number + 1
               : source.kind == SourceButton::Live ? 0
                                                   : source.number;
    // The bank question comes while the wait window shows; Cancel there stops the change.
    m_wait.show();
    change(c);
    m_wait.hide();
}

void SwitchingPage::chkWINENABLE_Click(int Index)
{
    if (SwitchBusy || Index < 0 || Index >= kWindows)
        return;
    LockSwitchControls(chkWINENABLE[size_t(Index)]);
    SwitchChange c;
    c.what = SwitchChange::What::Enable;
    c.window = Index + 1;
    c.on = CheckValue(chkWINENABLE[size_t(Index)]) != 0;
    change(c);
}

void SwitchingPage::chkWINFULL_Click(int Index)
{
    if (SwitchBusy || Index < 0 || Index >= kWindows)
        return;
    LockSwitchControls(chkWINFULL[size_t(Index)]);
    SwitchChange c;
    c.what = SwitchChange::What::FullScreen;
    c.window = Index + 1;
    c.on = CheckValue(chkWINFULL[size_t(Index)]) != 0;
    // Only one window can be shown full screen.
    if (c.on)
        for (int w = 0; w < kWindows; ++w)
            if (w != Index)
                SetCheckValue(chkWINFULL[size_t(w)], 0);
    change(c);
}

void SwitchingPage::Timer_switch_Timer()
{
    Timer_switch.stop();
    // The operator's page is the operator's: gone to another page, the
    // read-back is not made.
    if (m_page->isHidden())
        return;
    ShowCaptions();
    RefreshSwitchState();
}

} // namespace qx
