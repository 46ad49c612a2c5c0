#pragma once
// The Files and Setup page: the picture folder with its preview, the bank
// buttons and the load job, the link settings, the two name lists, the
// language box and the message counter.

#include <QImage>
#include <QObject>
#include <QString>
#include <array>

class QCheckBox;
class QComboBox;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QRadioButton;

namespace qx {

class MainWindow;
struct AppState;

class FilesPage : public QObject {
    Q_OBJECT
public:
    FilesPage(MainWindow &window, QWidget *frame);

    // --- picture files ---
    QLabel *labDIR = nullptr;
    QLineEdit *txtDIR = nullptr;
    QPushButton *cmdDIR = nullptr;
    QPushButton *cmdREFRESH = nullptr;
    QListWidget *lstFILES = nullptr;
    QLabel *labPREVIEW = nullptr;
    QLabel *pictPREVIEW = nullptr;
    QLabel *labPARAM = nullptr;
    QLabel *labPICTUREBAD = nullptr;
    QLabel *labPICTUREERROR = nullptr;
    // --- bank loading ---
    std::array<QRadioButton *, 4> optBANK{};
    QPushButton *cmdLOAD = nullptr;
    std::array<QLabel *, 4> txtLOADED{};
    QLabel *txtJOB = nullptr;
    QLabel *txtPROGRESS = nullptr;
    QFrame *boxPROGRESS = nullptr;
    QFrame *boxFRAMING = nullptr;
    QLabel *labTECHINFO = nullptr;
    // --- link settings ---
    QLabel *labSETTINGS = nullptr;
    QCheckBox *chkCOM = nullptr;
    QLabel *labCOMPORT = nullptr;
    QLineEdit *txtCOMPORT = nullptr;
    QLabel *labCOMSETTINGS = nullptr;
    QLineEdit *txtCOMSETTINGS = nullptr;
    QLabel *labTCPSETTINGS = nullptr;
    QLineEdit *txtTCPSETTINGS = nullptr;
    QPushButton *cmdCOMDEFAULTS = nullptr;
    QPushButton *cmdRECONNECT = nullptr;
    // --- names ---
    QLabel *labNAMEINPUTS = nullptr;
    QListWidget *lstINPUTNAMES = nullptr;
    QLabel *labEDITINPUTNAME = nullptr;
    QLineEdit *txtEDITINPUTNAME = nullptr;
    QLabel *labPRESETNAMES = nullptr;
    QListWidget *lstPRESETNAMES = nullptr;
    QLabel *labEDITPRESETNAME = nullptr;
    QLineEdit *txtEDITPRESETNAME = nullptr;
    // --- language ---
    QLabel *labLANG = nullptr;
    QComboBox *comboLANG = nullptr;
    // --- message counter ---
    QLabel *labNN = nullptr;

    // Picture folder and preview.
    void cmdDIR_Click();
    void cmdREFRESH_Click() { ListImageFiles(); }
    void lstFILES_Click();
    void ListImageFiles();
    // Decodes LoadFileRequest, checks its size and shows it; true when the
    // picture can be loaded.
    bool PreviewPicture();
    int PreviewWidth = 0;     // twips, as designed
    int PreviewHeight = 0;
    double PreviewRatio = 1.0;
    qint32 ImageWidth = 0;    // even
    qint32 ImageHeight = 0;
    QImage Picture1;          // the decoded picture of the last accepted preview

    // Load job (the cmdLOAD button).
    enum class LoadOutcome { None, Loaded, Cancelled, Stopped, Refused, LinkFailed };
    void LoadImageJob();
    bool LoadRunning = false;
    bool CommandLineRun = false;
    LoadOutcome lastOutcome() const { return m_lastOutcome; }

    // Names.
    void SetUpNames();
    void lstINPUTNAMES_Click();
    void lstPRESETNAMES_Click();
    void txtEDITINPUTNAME_Change();
    void txtEDITPRESETNAME_Change();

    // Language box.
    void FillLanguageBox();
    void comboLANG_Click();

    // Link settings (handlers of the group).
    void chkCOM_Click();
    void txtCOMPORT_Change();
    void txtCOMSETTINGS_Change();
    void txtTCPSETTINGS_Change();
    void cmdCOMDEFAULTS_Click();
    void cmdRECONNECT_Click();
    // Start-up: tick chkCOM for TCP and fill the boxes through its handler.
    void SetUpLinkSettings();

private:
    void buildPictureGroup(QWidget *frame);
    void buildBankGroup(QWidget *frame);
    void buildLinkGroup(QWidget *frame);
    void buildNamesGroup(QWidget *frame);
    void buildLanguageGroup(QWidget *frame);

    void showPictureError(const QString &text);

    MainWindow &m_window;
    AppState &m_state;
    LoadOutcome m_lastOutcome = LoadOutcome::None;
    bool m_settingComPort = false;
};

} // namespace qx
