// The start-up sequence of the main window: one fixed order of steps, each
// skipped silently when it fails, ending with the command-line requests.

#include "bankloader.h"
#include "language/languagefile.h"
#include "language/messagetable.h"
#include "languagebox.h"
#include "linksettings.h"
#include "mainwindow.h"
#include "picturefolder.h"
#include "settings/settingsfile.h"
#include "switchingpage.h"
#include "util/seams.h"
#include "util/textutil.h"
#include "util/treefile.h"
#include "waitwindow.h"
#include "warningwindow.h"
#include "widgets.h"
#include "windowscaler.h"

#include <QCheckBox>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <cstdio>
#include <optional>

namespace qx {

namespace {
// How long the requests of the command line wait for a TCP connection.
constexpr int kConnectWaitMs = 5000;
} // namespace

MainWindow::StartResult MainWindow::Form_Load(const CommandLineRequests &requests)
{
    setUpWindow();                      // 1-3
    m_state.cmd = requests;             // 4: read by main, not changed afterwards
    loadSettingsAndLanguage();          // 5-7
    showSettings();                     // 8-14
    // The requests of the command line hold the link until they are done;
    // they go out once the connection is up (a command written before would be lost).
    std::optional<DeviceSession::Lease> requestsHoldLink(std::in_place, m_session);
    startLink();                        // 15, 16
    return runCommandLineRequests(requestsHoldLink); // 17-20
}

void MainWindow::setUpWindow()
{
    // 1. Design values.
    NormalBackColor = BackColor(btnPRESETS);
    MarkBackColor = BackColor(btnFILES);
    m_presetCaption = cmdPRESET[1]->text();
    // (The preview frame's design size is the picture folder's own.)

    // 2. Colours and the hidden verdicts.
    for (QWidget *w : std::initializer_list<QWidget *>{framePRESETS, frameFILES, frameSWITCH})
        SetBackColor(w, NormalBackColor);
    m_pictures->setUpDesign(NormalBackColor);
    m_banks->setUpDesign(NormalBackColor);
    m_linkSettings->setUpDesign(NormalBackColor);

    // 3. Flags (the load job starts with its own clear).
    m_exchange.StopRequested = false;
    m_log.resetCount();
    m_switching->SwitchBusy = false;
}

void MainWindow::loadSettingsAndLanguage()
{
    // 5. Settings.
    LoadSettings(m_state.settings, m_state.cmd.ConfigPathOverride);
    m_log.setShowLog(m_state.settings.ShowLog);

    // 6, 7. Languages.
    m_language->FillLanguageBox();
    const QString cleanedLanguageFile =
        ApplyLanguageAtStart(m_state.settings.Tongue, {this, m_wait.get(), m_warning.get()}, m_state.msg);
    m_warning->captureDesign();
    // Nothing can be saved in a configuration folder that cannot be used: the
    // operator is told once, in the language just chosen, and the run goes on.
    if (!ProgramFolderUsable())
        MessageBox(FillIn(m_state.msg(42), QDir::toNativeSeparators(ProgramFolder())), m_state.msg(43));
    // So is every file that could not be read as it was, so that no edit is
    // lost without a word.
    const QString notice = ReadingNotice(m_state.settings, m_state.cmd.ConfigPathOverride, cleanedLanguageFile, m_state.msg);
    if (!notice.isEmpty())
        MessageBox(notice, m_state.msg(43));
}

void MainWindow::showSettings()
{
    // 8. Window position (twips).
    move(tw(m_state.settings.MainX), tw(m_state.settings.MainY));

    // 9. Link settings boxes.
    m_linkSettings->setUpLinkSettings();

    // 10. Names and the captions that show them.
    SetUpNames();

    // 11. Window frames.
    m_switching->CaptionFrames();

    // 12. Picture folder.
    m_pictures->showFolder();

    // 13. Files and Setup page.
    ShowTab(TabFiles);

    // 14. Diagnostic column.
    if (m_state.settings.ShowLog) {
        // (The layout is still at its designed scale here.)
        m_scaler->setDesignSize(m_scaler->designSize() + QSize(lstLOG->width(), 0));
        lstLOG->clear();
        m_log.clearList();
        showLogColumn(true);
    }
    // The window as designed where it fits its screen, else scaled down to fit.
    m_scaler->fitToScreen();
}

void MainWindow::startLink()
{
    // 15, 16. Link and receive polling.
    const CommandLineRequests &cmd = m_state.cmd;
    OpenLink();
    m_exchange.startReceiveTimer();
    if (!m_state.LinkFailed && (cmd.CommandRequested || cmd.PresetRequest != 0 || !cmd.LoadFileRequest.isEmpty()))
        m_session.waitConnected(kConnectWaitMs);
}

MainWindow::StartResult MainWindow::runCommandLineRequests(std::optional<DeviceSession::Lease> &linkHeld)
{
    const CommandLineRequests &cmd = m_state.cmd;
    StartResult result;
    // A close request or a termination signal during the start-up ends it
    // there: the shutdown runs once and nothing of the start-up comes back.
    bool loadCut = false;
    const auto closedMeanwhile = [this, &result, &cmd, &loadCut] {
        if (!TerminationRequested())
            return false;
        requestClose();
        result.exitNow = true;
        // A run without dialogs whose load the termination cut short says so,
        // whichever of the load's steps the signal reached first; an outcome
        // the load had already reached without dialogs (refused, link
        // failure) stands; with dialogs a close is a close.
        result.status = m_closeStatus != 0 || (cmd.Unattended && loadCut) ? 1 : cmd.Unattended ? result.status : 0;
        return true;
    };

    const bool commandLeft = sendRequestedCommand(); // 17
    if (!cmd.LoadFileRequest.isEmpty())
        loadCut = loadRequestedFile(result.status);   // 18
    linkHeld.reset();

    if (closedMeanwhile())
        return result;

    // 19. Help.
    if (cmd.HelpRequest)
        pictABOUT_Click();

    // 20. "/e": end at once, without the shutdown. What the link still has to
    // send goes out first, and has reached the device's side.
    if (closedMeanwhile())
        return result;
    if (cmd.ExitRequest) {
        // Without dialogs, a command that could not leave is a link failure.
        if ((!link().flush() || !commandLeft) && cmd.Unattended && result.status == 0)
            result.status = 3;
        m_unloaded = true;
        result.exitNow = true;
    }
    return result;
}

bool MainWindow::sendRequestedCommand()
{
    // 17. The "/c:" command, then the preset recall; no reply is awaited.
    const CommandLineRequests &cmd = m_state.cmd;
    if (!cmd.CommandRequested && cmd.PresetRequest == 0)
        return true;
    const bool commandLeft = !m_state.LinkFailed && sendRequests(cmd);
    if (!commandLeft) {
        m_warning->setWarning(m_state.msg(18));
        if (cmd.Unattended)
            std::fprintf(stderr, "%s\n", qPrintable(m_warning->warning()));
    }
    return commandLeft;
}

bool MainWindow::loadRequestedFile(int &status)
{
    // 18. The "/f:" load.
    const CommandLineRequests &cmd = m_state.cmd;
    const int bank = int(Clamp(cmd.LoadBankRequest, 0, 3));
    m_banks->selectBank(bank);
    bool refused = false;
    QString reason; // why the picture was refused, for a run without a window
    if (m_state.LinkFailed) {
        m_warning->setWarning(m_state.msg(18));
    } else if (!IsRegularFile(cmd.LoadFileRequest)) { // missing, or a FIFO or a device named like a picture
        m_warning->setWarning(m_state.msg(19) + QStringLiteral("\r\n") + cmd.LoadFileRequest);
        m_state.LinkFailed = true;
        refused = true;
    } else {
        if (!cmd.Unattended)
            show();
        if (!m_pictures->PreviewPicture(cmd.LoadFileRequest)) {
            m_warning->setWarning(m_state.msg(21) + QStringLiteral("\r\n") + cmd.LoadFileRequest);
            reason = m_pictures->refusal();
            m_state.LinkFailed = true;
            refused = true;
        }
    }
    if (m_state.LinkFailed) {
        m_warning->setUsage(ExpandBars(m_state.msg(20)));
        if (cmd.Unattended) {
            std::fprintf(stderr, "%s\n", qPrintable(m_warning->warning()));
            if (!reason.isEmpty())
                std::fprintf(stderr, "%s\n", qPrintable(reason));
            status = refused ? 2 : 3;
        } else {
            showWarningModal();
        }
        return false;
    }
    const BankLoader::LoadOutcome outcome = m_banks->runFromCommandLine();
    const bool cut = outcome != BankLoader::LoadOutcome::Loaded && TerminationRequested();
    switch (outcome) {
    case BankLoader::LoadOutcome::Loaded: status = 0; break;
    case BankLoader::LoadOutcome::Refused: status = 2; break;
    default: status = 3; break;
    }
    return cut;
}

} // namespace qx
