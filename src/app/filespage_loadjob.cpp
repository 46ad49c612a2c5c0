// The load job: the cmdLOAD button loads the previewed picture into the
// selected bank (capture, convert, upload) and records the file for the bank.
// While it runs the same button is the stop button.

#include "filespage.h"

#include "banks/imageroutines.h"
#include "banks/picture.h"
#include "banks/upload.h"
#include "mainwindow.h"
#include "outcomes.h"
#include "util/seams.h"
#include "widgets.h"

#include <QCoreApplication>
#include <QFrame>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>

namespace qx {

namespace {
constexpr int kFramingWidth = 1395; // twips, the 100 % width of the progress bar
}

void FilesPage::LoadImageJob()
{
    CommandExchange &ex = m_window.exchange();
    const MessageTable &msg = m_state.msg;

    // A click while a job runs is the stop button.
    if (LoadRunning) {
        if (MessageBox(msg(9), msg(8), true))
            ex.StopRequested = true;
        return;
    }
    if (!CommandLineRun && !MessageBox(msg(23), msg(15), true)) {
        ex.StopRequested = true;
        m_lastOutcome = LoadOutcome::Cancelled;
        return;
    }

    if (m_state.settings.ShowLog) {
        m_window.log().clearList();
        m_window.lstLOG->show();
    }
    m_window.log().resetCount();
    ex.StopRequested = false;
    LoadRunning = true;
    int bank = 0;
    for (int i = 0; i < 4; ++i)
        if (optBANK[size_t(i)]->isChecked())
            bank = i;
    m_state.cmd.LoadBankRequest = bank;

    for (QWidget *w : std::initializer_list<QWidget *>{boxFRAMING, boxPROGRESS, txtPROGRESS, txtJOB})
        w->show();
    boxPROGRESS->resize(1, boxPROGRESS->height()); // one twip: the narrowest bar there is
    const QString caption = cmdLOAD->text();
    cmdLOAD->setText(msg(7));

    QList<QWidget *> locked{cmdDIR, cmdREFRESH, lstFILES, cmdRECONNECT, cmdCOMDEFAULTS};
    for (QRadioButton *b : optBANK)
        locked.append(b);
    for (QWidget *w : locked)
        w->setEnabled(false);
    m_window.setTabsEnabled(false);

    txtJOB->setText(msg(1));
    txtPROGRESS->clear();
    QCoreApplication::processEvents();

    const QByteArray image = ConvertPixels(CapturePixels(Picture1, ImageWidth, ImageHeight), ImageWidth, ImageHeight);
    UploadDisplay display;
    display.txtJOB = [this](const QString &text) { txtJOB->setText(text); };
    display.ShowProgress = [this](int percent) {
        boxPROGRESS->resize(std::max(1, tw(ProgressBarWidth(kFramingWidth, percent))), boxPROGRESS->height());
        txtPROGRESS->setText(ProgressText(percent));
    };
    display.labTECHINFO = [this](const QString &text) { labTECHINFO->setText(text); };
    display.lab = [this](const QString &text) { m_window.lab->setText(text); };
    const UploadOutcome outcome = UploadImage(ex, msg, image, ImageWidth, ImageHeight, bank, display);
    ShowUploadOutcome(outcome, msg);

    QString name = m_state.cmd.LoadFileRequest;
    SplitPath(name);
    if (ex.StopRequested || outcome != UploadOutcome::Done)
        name.clear();
    txtLOADED[size_t(bank)]->setText(name);
    m_state.settings.BankFileLoaded[size_t(bank + 1)] = name;

    switch (outcome) {
    case UploadOutcome::Done: m_lastOutcome = LoadOutcome::Loaded; break;
    case UploadOutcome::Stopped: m_lastOutcome = LoadOutcome::Stopped; break;
    case UploadOutcome::OldFirmware: m_lastOutcome = LoadOutcome::Refused; break;
    case UploadOutcome::NoVersionReply:
    case UploadOutcome::LinkFailed: m_lastOutcome = LoadOutcome::LinkFailed; break;
    }

    cmdLOAD->setText(caption);
    for (QWidget *w : locked)
        w->setEnabled(true);
    m_window.setTabsEnabled(true);
    for (QWidget *w : std::initializer_list<QWidget *>{boxFRAMING, boxPROGRESS, txtPROGRESS, txtJOB})
        w->hide();
    LoadRunning = false;
}

} // namespace qx
