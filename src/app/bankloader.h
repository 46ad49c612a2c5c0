#pragma once
// Bank loading on the Files and Setup page: the four bank buttons with the
// file each bank was last loaded from, and the load job behind cmdLOAD, which
// loads the previewed picture into the selected bank (capture, convert,
// upload) and records the file for the bank. While the job runs the same
// button is the stop button, and the job shows its progress below it.

#include <QObject>
#include <array>

class QColor;
class QFrame;
class QLabel;
class QPushButton;
class QRadioButton;
class QWidget;

namespace qx {

struct AppState;
class CommandExchange;
class CommLog;
class DeviceSession;
class PictureFolderBox;

class BankLoader : public QObject {
    Q_OBJECT
public:
    enum class LoadOutcome { None, Loaded, Cancelled, Stopped, Refused, LinkFailed };

    // Creates optBANK(0..3), txtLOADED(0..3), cmdLOAD, boxFRAMING,
    // boxPROGRESS, txtPROGRESS, txtJOB and labTECHINFO in `frame`, registered
    // with `window` in this order. The job loads what `pictures` previewed.
    BankLoader(QWidget *window, QWidget *frame, AppState &state, DeviceSession &session, CommLog &log,
               const PictureFolderBox &pictures);

    // Start-up: cmdLOAD in the window's back colour, disabled until a picture is previewed.
    void setUpDesign(const QColor &back);
    // The bank names on the bank buttons, in `back`, and the file each bank holds.
    void showNames(const QColor &back);
    void setBankName(int bank, const QString &name); // bank 0..3
    void selectBank(int bank);
    void setLoadable(bool loadable);

    // The load button's handler; while a job runs, the stop request.
    void LoadImageJob();
    // The "/f:" load: no confirmation question unless `confirm` (a load handed
    // over by a second start without --exit, as if clicked); returns when the job is over.
    LoadOutcome runFromCommandLine(bool confirm = false);
    bool running() const { return m_running; }
    // While a remote request holds the link, the load button starts nothing.
    void setHeld(bool held) { m_held = held; }
    // Shutdown: a load cut short leaves its bank holding nothing known.
    void forgetCutLoad();

Q_SIGNALS:
    // The job locks the rest of the window while it runs.
    void runningChanged(bool running);
    // The upload's technical line for the diagnostic column.
    void technicalInfo(const QString &text);

private:
    AppState &m_state;
    DeviceSession &m_session;
    CommandExchange &m_exchange;
    CommLog &m_log;
    const PictureFolderBox &m_pictures;
    bool m_running = false;
    bool m_held = false;
    bool m_commandLineRun = false;
    int m_bank = 0; // index 0..3 of the bank the job loads (the selected optBANK)
    LoadOutcome m_lastOutcome = LoadOutcome::None;

    std::array<QRadioButton *, 4> optBANK{};
    std::array<QLabel *, 4> txtLOADED{};
    QPushButton *cmdLOAD = nullptr;
    QFrame *boxFRAMING = nullptr;
    QFrame *boxPROGRESS = nullptr;
    QLabel *txtPROGRESS = nullptr;
    QLabel *txtJOB = nullptr;
    QLabel *labTECHINFO = nullptr;
};

} // namespace qx
