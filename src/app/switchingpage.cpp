#include "switchingpage.h"

#include "link/devicesession.h"
#include "state/appstate.h"
#include "state/requestrunner.h"
#include "switching/switchprotocol.h"
#include "tabs.h"
#include "util/seams.h"
#include "waitwindow.h"
#include "widgets.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QRadioButton>

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

SwitchingPage::SwitchingPage(QWidget *window, QWidget *frame, AppState &state, DeviceSession &session,
                             const QColor &normalBackColor, const QColor &markBackColor, WaitWindow &wait,
                             std::function<void(int)> showTab, QObject *parent)
    : QObject(parent), m_state(state), m_session(session), m_exchange(session.exchange()),
      m_normalBackColor(normalBackColor),
      m_markBackColor(markBackColor), m_wait(wait), m_showTab(std::move(showTab))
{
    m_page = frame;
    Timer_switch.setInterval(500);
    Timer_switch.setSingleShot(true);
    connect(&Timer_switch, &QTimer::timeout, this, &SwitchingPage::Timer_switch_Timer);

    // Cancel in the wait window stops the running source change: its wait
    // ends and nothing more of it is sent.
    m_wait.setCancelAction([this] { m_exchange.StopRequested = true; });

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
    }
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

void SwitchingPage::LockSwitchControls()
{
    m_focus.beforeLock(m_page);
    for (QRadioButton *b : optWIN1INP)
        b->setEnabled(false);
    for (int w = 0; w < kWindows; ++w) {
        chkWINENABLE[size_t(w)]->setEnabled(false);
        chkWINFULL[size_t(w)]->setEnabled(false);
    }
    m_focus.afterLock();
}

void SwitchingPage::send(const QByteArray &command, const QString &replyPrefix)
{
    if (!m_exchange.SendCommand(command))
        Q_EMIT commandNotSent();
    m_exchange.WaitReply(replyPrefix);
}

int SwitchingPage::query(const QByteArray &command, const QString &replyPrefix)
{
    send(command, replyPrefix);
    return ValueAfterPrefix(m_exchange.ReplyText, replyPrefix);
}

void SwitchingPage::selectSource(int index)
{
    QRadioButton *b = optWIN1INP[size_t(index)];
    b->setChecked(true);
    optWIN1INP_Click(index); // as a click on it would; it finds SwitchBusy set
    SetBackColor(b, m_markBackColor);
}

void SwitchingPage::RefreshSwitchState()
{
    // The exchange has one reply slot: a read-back started inside the wait of
    // a running sequence would take that sequence's replies. Read back once
    // the sequence is over instead.
    if (SwitchBusy) {
        Timer_switch.start();
        return;
    }
    const DeviceSession::Lease lease = m_session.lease();
    m_exchange.ClearReceive();
    m_exchange.StopRequested = false;
    SwitchBusy = true;

    send(SyncCommand(), SyncReplyPrefix());

    const QString enabledPrefix = ReadReplyPrefix(kParamEnabled);
    const QString fullPrefix = ReadReplyPrefix(kParamFullScreen);
    for (int w = 0; w < kWindows; ++w) {
        const int e = query(ReadCommand(kParamEnabled, w), enabledPrefix);
        QCheckBox *enable = chkWINENABLE[size_t(w)];
        QCheckBox *full = chkWINFULL[size_t(w)];
        SetCheckValue(enable, e > 0 ? 1 : 0);
        chkWINENABLE_Click(w);
        SetBackColor(enable, m_normalBackColor);
        SetNameCaption(enable, m_state.settings.LabelWin[size_t(w + 1)]);
        SetBackColor(full, m_normalBackColor);
        SetCheckValue(full, 0);
        chkWINFULL_Click(w);
        // Only a plain "1" asks for full screen; the device answers one value
        // for all windows, so every enabled window asks again.
        if (e == 1 && query(ReadCommand(kParamFullScreen), fullPrefix) == 1) {
            SetCheckValue(full, 1);
            chkWINFULL_Click(w);
        }
        enable->setEnabled(true);
        full->setEnabled(true);
    }

    const QString inputPrefix = ReadReplyPrefix(kParamInput);
    const QString bankPrefix = ReadReplyPrefix(kParamBankShown);
    for (int w = 0; w < kWindows; ++w) {
        const int s = query(ReadCommand(kParamInput, w), inputPrefix);
        if (m_exchange.StopRequested)
            break;
        const int b = query(ReadCommand(kParamBankShown, w), bankPrefix);
        selectSource(WindowSelection(w, s, b));
    }

    const int back = BackgroundSelection(query(ReadCommand(kParamBankShown, kBackgroundWindow), bankPrefix));
    selectSource(back);
    optWIN1INP[size_t(back)]->setEnabled(true);

    for (QRadioButton *b : optWIN1INP)
        b->setEnabled(true);
    SwitchBusy = false;
    m_focus.restore();
    if (!m_exchange.StopRequested)
        Q_EMIT readBack(shownState());
}

SwitchState SwitchingPage::shownState() const
{
    SwitchState s;
    s.known = true;
    s.fullScreen = 0;
    for (int w = 0; w < kWindows; ++w) {
        s.enabled[size_t(w)] = CheckValue(chkWINENABLE[size_t(w)]);
        if (CheckValue(chkWINFULL[size_t(w)]) == 1)
            s.fullScreen = 1;
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
    // The controls' own handlers find SwitchBusy set and send nothing.
    SwitchBusy = true;
    ShowCaptions(); // every source button back in the normal colour
    for (int w = 0; w < kWindows; ++w) {
        SetCheckValue(chkWINENABLE[size_t(w)], state.enabled[size_t(w)]);
        SetCheckValue(chkWINFULL[size_t(w)], state.enabled[size_t(w)] == 1 && state.fullScreen == 1 ? 1 : 0);
    }
    for (const int button : state.sourceButton)
        selectSource(button);
    SwitchBusy = false;
}

void SwitchingPage::optWIN1INP_Click(int Index)
{
    if (SwitchBusy)
        return;
    const SourceButton source = SourceOfButton(Index);
    if (source.kind == SourceButton::Invalid)
        return;
    LockSwitchControls();
    m_wait.show();
    m_exchange.ClearReceive();
    SetBackColor(optWIN1INP[size_t(Index)], m_normalBackColor);
    m_exchange.StopRequested = false;
    SwitchBusy = true;
    // Showing a bank picture takes the device a long time: ask first, while
    // the wait window shows. The sequence holds the link only once the answer
    // is in: no lease covers a box.
    const bool confirmed = source.kind != SourceButton::Bank || MessageBox(m_state.msg(14), m_state.msg(15), true);
    const DeviceSession::Lease lease = m_session.lease();

    const auto send = [this](const QByteArray &command, const QString &replyPrefix) {
        if (!m_exchange.StopRequested)
            this->send(command, replyPrefix);
    };
    const QString bankPrefix = WriteReplyPrefix(kParamBankSelect);
    if (source.window == kBackgroundWindow) {
        if (source.kind == SourceButton::Live)
            send(WriteCommand(kParamBankSelect, 0, kBackgroundWindow), bankPrefix);
        else if (confirmed)
            send(WriteCommand(kParamBankSelect, source.number, kBackgroundWindow), bankPrefix);
        // The device wants this after every background change, even a cancelled one.
        send(WriteCommand(kParamBackgroundSet, 1), WriteReplyPrefix(kParamBackgroundSet));
    } else if (source.kind == SourceButton::Input) {
        send(WriteCommand(kParamInput, source.number, source.window), WriteReplyPrefix(kParamInput));
        // No bank, so the window shows the input itself.
        send(WriteCommand(kParamBankSelect, 0, source.window), bankPrefix);
    } else if (confirmed) {
        send(WriteCommand(kParamBankSelect, source.number, source.window), bankPrefix);
    }

    m_wait.hide();
    SwitchBusy = false;
    Timer_switch.start();
}

void SwitchingPage::chkWINENABLE_Click(int Index)
{
    if (SwitchBusy || Index < 0 || Index >= kWindows)
        return;
    const DeviceSession::Lease lease = m_session.lease();
    LockSwitchControls();
    // Held during the exchange so that a delayed read-back does not start
    // inside this wait and take its reply.
    SwitchBusy = true;
    const int on = CheckValue(chkWINENABLE[size_t(Index)]) != 0 ? 1 : 0;
    send(WriteCommand(kParamEnabled, on, Index), WriteReplyPrefix(kParamEnabled));
    SwitchBusy = false;
    Timer_switch.start();
}

void SwitchingPage::chkWINFULL_Click(int Index)
{
    if (SwitchBusy || Index < 0 || Index >= kWindows)
        return;
    const DeviceSession::Lease lease = m_session.lease();
    SwitchBusy = true;
    LockSwitchControls();
    if (CheckValue(chkWINFULL[size_t(Index)]) != 0) {
        // Only one window can be shown full screen.
        for (int w = 0; w < kWindows; ++w) {
            if (w == Index)
                continue;
            SetCheckValue(chkWINFULL[size_t(w)], 0);
            chkWINFULL_Click(w); // as the operator's click would; it finds SwitchBusy set
        }
        send(WriteCommand(kParamEnabled, 1, Index), WriteReplyPrefix(kParamEnabled));
        m_exchange.SendCommand(WriteCommand(kParamFullScreen, 1));
    } else {
        m_exchange.SendCommand(WriteCommand(kParamFullScreen, 0));
    }
    m_exchange.WaitReply(WriteReplyPrefix(kParamFullScreen));
    SwitchBusy = false;
    Timer_switch.start();
}

void SwitchingPage::Timer_switch_Timer()
{
    Timer_switch.stop();
    if (SwitchBusy) {
        // A sequence is still waiting for the device: read back after it.
        Timer_switch.start();
        return;
    }
    if (m_showTab)
        m_showTab(TabSwitching);
    RefreshSwitchState();
}

} // namespace qx
