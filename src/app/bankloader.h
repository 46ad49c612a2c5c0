#pragma once
// Bank loading on the Files and Setup page: the four bank buttons with the
// file each bank was last loaded from, and the load job behind cmdLOAD, which
// hands the request runner a load of the previewed picture into the selected
// bank. While any load runs (the operator's, or one another sender asked
// for) the same button is the stop button, the progress shows below it, and
// the bank's record is shown when it ends.

#include "state/request.h"

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
class PictureFolderBox;
class RequestRunner;

class BankLoader : public QObject {
    Q_OBJECT
public:
    // Creates optBANK(0..3), txtLOADED(0..3), cmdLOAD, boxFRAMING,
    // boxPROGRESS, txtPROGRESS, txtJOB and labTECHINFO in `frame`, registered
    // with `window` in this order. The job loads what `pictures` previewed.
    BankLoader(QWidget *window, QWidget *frame, AppState &state, RequestRunner &runner,
               const PictureFolderBox &pictures);

    // Start-up: cmdLOAD in the window's back colour, disabled until a picture is previewed.
    void setUpDesign(const QColor &back);
    // The bank names on the bank buttons, in `back`, and the file each bank holds.
    void showNames(const QColor &back);
    void setBankName(int bank, const QString &name); // bank 0..3
    void selectBank(int bank);
    void setLoadable(bool loadable);

    // The load button's handler; while a load runs, the stop request.
    void LoadImageJob();

Q_SIGNALS:
    // The job locks the rest of the window while it runs.
    void runningChanged(bool running);
    // The upload's technical line for the diagnostic column.
    void technicalInfo(const QString &text);
    // How the operator's load ended (refused while another request runs: a note for the operator).
    void requestEnded(const qx::RequestOutcome &outcome);

private:
    // The window while a load runs, and as it was afterwards.
    void loadStarted();
    void loadEnded(int bank);

    AppState &m_state;
    RequestRunner &m_runner;
    const PictureFolderBox &m_pictures;
    QString m_caption;          // of cmdLOAD before the load
    bool m_loadEnabled = false; // and whether it could be clicked

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
