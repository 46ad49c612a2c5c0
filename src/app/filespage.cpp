#include "filespage.h"

#include "mainwindow.h"
#include "settings/settings.h"
#include "util/textutil.h"
#include "widgets.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>

#include <algorithm>

namespace qx {

FilesPage::FilesPage(MainWindow &window, QWidget *frame)
    : QObject(&window), m_window(window), m_state(window.state())
{
    buildPictureGroup(frame);
    buildBankGroup(frame);
    buildLinkGroup(frame);
    buildNamesGroup(frame);
    buildLanguageGroup(frame);
    labNN = MakeLabel(&window, frame, QStringLiteral("labNN"), QString(), QRect(9600, 6060, 1600, 255));

    connect(cmdDIR, &QPushButton::clicked, this, &FilesPage::cmdDIR_Click);
    connect(cmdREFRESH, &QPushButton::clicked, this, &FilesPage::cmdREFRESH_Click);
    connect(lstFILES, &QListWidget::currentRowChanged, this, &FilesPage::lstFILES_Click);
    connect(cmdLOAD, &QPushButton::clicked, this, &FilesPage::LoadImageJob);
}

void FilesPage::buildPictureGroup(QWidget *frame)
{
    QWidget *w = &m_window;
    labDIR = MakeLabel(w, frame, QStringLiteral("labDIR"), QStringLiteral("Folder:"), QRect(120, 330, 720, 255));
    txtDIR = MakeTextBox(w, frame, QStringLiteral("txtDIR"), QString(), QRect(840, 300, 5520, 315));
    txtDIR->setToolTip(QStringLiteral("Folder with BMP, GIF, or JPG graphical files"));
    SetBackColor(txtDIR, QColor(224, 224, 224));
    QPalette p = txtDIR->palette();
    p.setColor(QPalette::Base, QColor(224, 224, 224));
    txtDIR->setPalette(p);
    cmdDIR = MakeButton(w, frame, QStringLiteral("cmdDIR"), QStringLiteral("Select folder"), QRect(6480, 270, 1455, 375));
    cmdDIR->setToolTip(QStringLiteral("Select another folder with image files"));
    cmdREFRESH = MakeButton(w, frame, QStringLiteral("cmdREFRESH"), QString(), QRect(8040, 270, 495, 375));
    cmdREFRESH->setIcon(cmdREFRESH->style()->standardIcon(QStyle::SP_BrowserReload));
    cmdREFRESH->setToolTip(QStringLiteral("Refresh current folder contents"));
    lstFILES = MakeList(w, frame, QStringLiteral("lstFILES"), QRect(120, 720, 3015, 3480));
    // No sorting of its own: the widget would sort with regard to case, the
    // names come sorted without.
    lstFILES->setToolTip(QStringLiteral("Click to view a graphical file and to load it"));
    labPREVIEW = MakeLabel(w, frame, QStringLiteral("labPREVIEW"), QStringLiteral("Preview image:"),
                           QRect(3240, 720, 2400, 255));
    pictPREVIEW = new QLabel(frame);
    RegisterControl(w, pictPREVIEW, QStringLiteral("pictPREVIEW"), ControlKind::Image);
    pictPREVIEW->setGeometry(twRect(3240, 1000, 4005, 2250));
    pictPREVIEW->setFrameShape(QFrame::Box);
    pictPREVIEW->setScaledContents(true);
    pictPREVIEW->setTextFormat(Qt::PlainText);
    labPARAM = MakeLabel(w, frame, QStringLiteral("labPARAM"), QStringLiteral("-"), QRect(3240, 3300, 4005, 255));
    labPICTUREBAD = MakeLabel(w, frame, QStringLiteral("labPICTUREBAD"), QStringLiteral("Picture size is invalid"),
                              QRect(3240, 3560, 4005, 315));
    labPICTUREERROR = MakeLabel(w, frame, QStringLiteral("labPICTUREERROR"), QStringLiteral("Error loading picture"),
                                QRect(3240, 3900, 4005, 600));
    for (QLabel *l : {labPICTUREBAD, labPICTUREERROR}) {
        QFont f = l->font();
        f.setBold(true);
        f.setPointSize(12);
        l->setFont(f);
        l->setAlignment(Qt::AlignCenter);
    }
}

void FilesPage::buildBankGroup(QWidget *frame)
{
    QWidget *w = &m_window;
    for (int i = 0; i < 4; ++i) {
        optBANK[size_t(i)] = MakeOption(w, frame, QStringLiteral("optBANK"), QStringLiteral("Bank %1").arg(i + 1),
                                        QRect(7440, 720 + i * 420, 1575, 375), i);
    }
    optBANK[0]->setChecked(true);
    for (int i = 0; i < 4; ++i) {
        txtLOADED[size_t(i)] = MakeLabel(w, frame, QStringLiteral("txtLOADED"), QStringLiteral("-"),
                                         QRect(9120, 750 + i * 420, 2200, 315), i);
    }
    cmdLOAD = MakeButton(w, frame, QStringLiteral("cmdLOAD"), QStringLiteral("Load image to selected bank"),
                         QRect(7440, 2520, 3855, 495));
    boxFRAMING = new QFrame(frame);
    RegisterControl(w, boxFRAMING, QStringLiteral("boxFRAMING"), ControlKind::Shape);
    boxFRAMING->setGeometry(twRect(7800, 3600, 1395, 435));
    boxFRAMING->setFrameShape(QFrame::Box);
    boxPROGRESS = new QFrame(frame);
    RegisterControl(w, boxPROGRESS, QStringLiteral("boxPROGRESS"), ControlKind::Shape);
    boxPROGRESS->setGeometry(twRect(7800, 3600, 1, 435));
    SetBackColor(boxPROGRESS, QColor(128, 128, 128));
    txtPROGRESS = MakeLabel(w, frame, QStringLiteral("txtPROGRESS"), QStringLiteral("0%"), QRect(7920, 3720, 1155, 195));
    txtPROGRESS->setAlignment(Qt::AlignCenter);
    txtJOB = MakeLabel(w, frame, QStringLiteral("txtJOB"), QStringLiteral("-"), QRect(7740, 4080, 1575, 375));
    txtJOB->setAlignment(Qt::AlignCenter);
    labTECHINFO = MakeLabel(w, frame, QStringLiteral("labTECHINFO"), QString(), QRect(9300, 3600, 1575, 435));
    for (QWidget *c : std::initializer_list<QWidget *>{boxFRAMING, boxPROGRESS, txtPROGRESS, txtJOB})
        c->hide();
    txtPROGRESS->raise();
}

void FilesPage::buildLinkGroup(QWidget *frame)
{
    QWidget *w = &m_window;
    labSETTINGS = MakeLabel(w, frame, QStringLiteral("labSETTINGS"), QStringLiteral("Communication settings:"),
                            QRect(120, 4620, 4800, 255));
    chkCOM = MakeCheckBox(w, frame, QStringLiteral("chkCOM"), QStringLiteral("Enable TCP/IP (disable com port)"),
                          QRect(120, 4920, 4800, 315));
    chkCOM->setToolTip(QStringLiteral("OFF=use com port; ON=use TCP/IP LAN connection"));
    labCOMPORT = MakeLabel(w, frame, QStringLiteral("labCOMPORT"), QStringLiteral("com port number (1...100)"),
                           QRect(120, 5340, 2400, 255));
    txtCOMPORT = MakeTextBox(w, frame, QStringLiteral("txtCOMPORT"), QString(), QRect(2640, 5310, 900, 315));
    labCOMSETTINGS = MakeLabel(w, frame, QStringLiteral("labCOMSETTINGS"), QStringLiteral("com port settings"),
                               QRect(120, 5760, 2400, 255));
    txtCOMSETTINGS = MakeTextBox(w, frame, QStringLiteral("txtCOMSETTINGS"), QString(), QRect(2640, 5730, 2280, 315));
    labTCPSETTINGS = MakeLabel(w, frame, QStringLiteral("labTCPSETTINGS"), QStringLiteral("TCP/IP settings"),
                               QRect(120, 6180, 2400, 255));
    txtTCPSETTINGS = MakeTextBox(w, frame, QStringLiteral("txtTCPSETTINGS"), QString(), QRect(2640, 6150, 2280, 315));
    cmdCOMDEFAULTS = MakeButton(w, frame, QStringLiteral("cmdCOMDEFAULTS"), QStringLiteral("Restore defaults"),
                                QRect(120, 6660, 2280, 435));
    cmdRECONNECT = MakeButton(w, frame, QStringLiteral("cmdRECONNECT"), QStringLiteral("Reconnect to QX-7"),
                              QRect(2640, 6660, 2280, 435));

    connect(chkCOM, &QCheckBox::clicked, this, &FilesPage::chkCOM_Click);
    connect(txtCOMPORT, &QLineEdit::textChanged, this, &FilesPage::txtCOMPORT_Change);
    connect(txtCOMSETTINGS, &QLineEdit::textChanged, this, &FilesPage::txtCOMSETTINGS_Change);
    connect(txtTCPSETTINGS, &QLineEdit::textChanged, this, &FilesPage::txtTCPSETTINGS_Change);
    connect(cmdCOMDEFAULTS, &QPushButton::clicked, this, &FilesPage::cmdCOMDEFAULTS_Click);
    connect(cmdRECONNECT, &QPushButton::clicked, this, &FilesPage::cmdRECONNECT_Click);
}

void FilesPage::buildNamesGroup(QWidget *frame)
{
    QWidget *w = &m_window;
    lstINPUTNAMES = MakeList(w, frame, QStringLiteral("lstINPUTNAMES"), QRect(5280, 4920, 2040, 2640));
    lstINPUTNAMES->setToolTip(QStringLiteral("Logical names of QX-7 inputs or output windows"));
    txtEDITINPUTNAME = MakeTextBox(w, frame, QStringLiteral("txtEDITINPUTNAME"), QString(), QRect(5280, 8100, 2040, 315));
    txtEDITINPUTNAME->setEnabled(false);
    lstPRESETNAMES = MakeList(w, frame, QStringLiteral("lstPRESETNAMES"), QRect(7440, 4920, 2040, 2640));
    lstPRESETNAMES->setToolTip(QStringLiteral("Logical names of layout presets"));
    txtEDITPRESETNAME = MakeTextBox(w, frame, QStringLiteral("txtEDITPRESETNAME"), QString(),
                                    QRect(7440, 8100, 2040, 315));
    txtEDITPRESETNAME->setEnabled(false);
    labNAMEINPUTS = MakeLabel(w, frame, QStringLiteral("labNAMEINPUTS"), QStringLiteral("Input and windows names:"),
                              QRect(5280, 4380, 2040, 510));
    labEDITINPUTNAME = MakeLabel(w, frame, QStringLiteral("labEDITINPUTNAME"), QStringLiteral("Edit input/window name:"),
                                 QRect(5280, 7590, 2040, 480));
    labPRESETNAMES = MakeLabel(w, frame, QStringLiteral("labPRESETNAMES"), QStringLiteral("Preset and bank names:"),
                               QRect(7440, 4380, 2040, 510));
    labEDITPRESETNAME = MakeLabel(w, frame, QStringLiteral("labEDITPRESETNAME"), QStringLiteral("Edit preset name:"),
                                  QRect(7440, 7590, 2040, 480));
    for (QLabel *l : {labNAMEINPUTS, labEDITINPUTNAME, labPRESETNAMES, labEDITPRESETNAME})
        l->setAlignment(Qt::AlignLeft | Qt::AlignBottom);
}

void FilesPage::buildLanguageGroup(QWidget *frame)
{
    QWidget *w = &m_window;
    comboLANG = new QComboBox(frame);
    RegisterControl(w, comboLANG, QStringLiteral("comboLANG"), ControlKind::ComboBox);
    comboLANG->setGeometry(twRect(9600, 4920, 1680, 315));
    comboLANG->setToolTip(QStringLiteral("RESTART! Language setting will take effect after the application restart"));
    labLANG = MakeLabel(w, frame, QStringLiteral("labLANG"), QStringLiteral("Select language:"), QRect(9600, 4620, 1680, 255));
}

// ---- link settings ----

void FilesPage::SetUpLinkSettings()
{
    chkCOM->setChecked(m_state.settings.ComPort == 0);
    chkCOM_Click();
}

void FilesPage::chkCOM_Click()
{
    Settings &s = m_state.settings;
    if (chkCOM->isChecked()) {
        txtCOMPORT->setEnabled(false);
        txtCOMSETTINGS->setEnabled(false);
        txtTCPSETTINGS->setEnabled(true);
        txtCOMPORT->setText(QStringLiteral("0"));
        s.ComPort = 0;
    } else {
        txtCOMPORT->setEnabled(true);
        txtCOMSETTINGS->setEnabled(true);
        txtTCPSETTINGS->setEnabled(false);
        const QString port = QString::number(Clamp(s.ComPort, 1, 100));
        if (txtCOMPORT->text() == port)
            txtCOMPORT_Change(); // no change event for the same text, but the value must follow it
        else
            txtCOMPORT->setText(port);
    }
    txtCOMSETTINGS->setText(s.ComPortSettings);
    txtTCPSETTINGS->setText(s.TcpSettings);
}

void FilesPage::txtCOMPORT_Change()
{
    const double value = RoundHalfEven(NumericValue(txtCOMPORT->text()));
    m_state.settings.ComPort = qint32(std::max(1.0, std::min(100.0, value)));
}

void FilesPage::txtCOMSETTINGS_Change()
{
    m_state.settings.ComPortSettings = TrimBlanks(txtCOMSETTINGS->text());
}

void FilesPage::txtTCPSETTINGS_Change()
{
    m_state.settings.TcpSettings = TrimBlanks(txtTCPSETTINGS->text());
}

void FilesPage::cmdCOMDEFAULTS_Click()
{
    m_state.settings.ComPortSettings = kDefaultComSettings;
    m_state.settings.TcpSettings = kDefaultTcpSettings;
    txtCOMSETTINGS->setText(m_state.settings.ComPortSettings);
    txtTCPSETTINGS->setText(m_state.settings.TcpSettings);
}

void FilesPage::cmdRECONNECT_Click()
{
    m_window.OpenLink();
}

} // namespace qx
