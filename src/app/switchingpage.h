#pragma once
// The Switching page of the main window: one frame per output window and one
// for the background, each with its source buttons, plus the "Enabled" and
// "Show full screen" boxes of the windows. The page never keeps what the
// operator clicked: every command is followed, half a second later, by a
// read-back that sets every control from the device's own state. Commands and
// read-backs are requests to the runner; the page shows, locks and asks.

#include "focuskeeper.h"

#include <QColor>
#include <QObject>
#include <QTimer>
#include <array>
#include <functional>

class QCheckBox;
class QGroupBox;
class QRadioButton;
class QWidget;

namespace qx {

struct AppState;
struct RequestOutcome;
struct SwitchChange;
struct SwitchState;
class RequestRunner;
class WaitWindow;

class SwitchingPage : public QObject {
    Q_OBJECT
public:
    // `window` is frmMAIN (the controls register with it, in this order:
    // frameWINDOW1..4, frameBACK, chkWINENABLE(w) and chkWINFULL(w) for each
    // window, then optWIN1INP(0..84)); `frame` is frameSWITCH. The page
    // never changes which page the window shows.
    SwitchingPage(QWidget *window, QWidget *frame, AppState &state, RequestRunner &runner,
                  const QColor &normalBackColor, const QColor &markBackColor, WaitWindow &wait,
                  QObject *parent = nullptr);

    // Queries the device and sets every control of the page from the replies.
    void RefreshSwitchState();
    // Disables the whole page while a command is under way; only the next
    // read-back enables it again.
    void LockSwitchControls(QWidget *sender);
    // The captions step of ShowTab for tab 2: names on the source buttons and
    // NormalBackColor on all of them.
    void ShowCaptions();
    // Start-up: "Window 1".."Window 4" and "Background" in the current language.
    void CaptionFrames();
    // Sets the controls from a read-back another sender's switching request
    // made, sending nothing; ignored while the page's own sequence runs.
    void showState(const SwitchState &state);

    // Event handlers; the buttons' clicked signals run them, and the page runs
    // them itself after setting a Value from code, as the operator's click would.
    void optWIN1INP_Click(int Index);
    void chkWINENABLE_Click(int Index);
    void chkWINFULL_Click(int Index);
    // The delayed read-back: made while the page is shown (the page reads
    // back when it is shown again), once the runner is ready when another
    // request holds it.
    void Timer_switch_Timer();

    // Check box Value: 0 unchecked, 1 checked, 2 grayed.
    static int CheckValue(const QCheckBox *box);
    static void SetCheckValue(QCheckBox *box, int value);

Q_SIGNALS:
    // How a command or read-back of the page ended (the window tells the
    // operator what did not leave).
    void requestEnded(const qx::RequestOutcome &outcome);
    // The page came into view (true) or went out of it: it watches the device's state while shown.
    void shown(bool shown);

public:
    bool SwitchBusy = false; // a read-back or a switching command is under way
    QTimer Timer_switch;     // 500 ms, one shot: the read-back after a command

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // The page's controls as a switching state.
    SwitchState shownState() const;
    // The frame of window 0..3, or frameBACK for 4.
    QGroupBox *frameOf(int window) const;
    void createControls(QWidget *window, QWidget *frame);
    // Runs the handler of an operator's click, or re-reads the device later
    // when the click came during a read-back.
    void operatorClick(const std::function<void()> &handler);
    void selectSource(int index);
    // The source button `index` is its group's one stop of the Tab key.
    void makeTabStop(int index);
    // Sets the boxes and marks the sources of `state` (a window a stopped
    // read-back did not reach keeps its selection).
    void applyState(const SwitchState &state);
    // Runs the operator's change; the read-back follows half a second later.
    void change(const SwitchChange &change);

    AppState &m_state;
    RequestRunner &m_runner;
    FocusKeeper m_focus;       // back to the control that had it once the page is usable again
    QWidget *m_page = nullptr; // frameSWITCH
    QColor m_normalBackColor;
    QColor m_markBackColor;
    WaitWindow &m_wait;
    bool m_readBackWaits = false; // a read-back waits for the runner's readiness

    QGroupBox *frameWINDOW1 = nullptr;
    QGroupBox *frameWINDOW2 = nullptr;
    QGroupBox *frameWINDOW3 = nullptr;
    QGroupBox *frameWINDOW4 = nullptr;
    QGroupBox *frameBACK = nullptr;
    std::array<QCheckBox *, 4> chkWINENABLE{};
    std::array<QCheckBox *, 4> chkWINFULL{};
    std::array<QRadioButton *, 85> optWIN1INP{};
};

} // namespace qx
