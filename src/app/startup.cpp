// The start-up sequence of the main window: one fixed order of steps, each
// skipped silently when it fails, ending with the command-line requests,
// which are one batch of the request runner like those of a second start.

#include "bankloader.h"
#include "language/languagefile.h"
#include "language/messagetable.h"
#include "languagebox.h"
#include "linksettings.h"
#include "mainwindow.h"
#include "picturefolder.h"
#include "settings/settingsfile.h"
#include "state/forwarding.h"
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

MainWindow::StartResult MainWindow::Form_Load(const CommandLineRequests &requests)
{
    setUpWindow();                   // 1-3
    m_state.cmd = requests;          // 4: read by main, not changed afterwards
    loadSettingsAndLanguage();       // 5-7
    showSettings();                  // 8-14
    OpenLink();                      // 15, 16: the receive polling starts with the link
    return runCommandLineRequests(); // 17-20
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

    // 3. Flags (every request of the runner starts with its own clear).
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
    const QString notice =
        ReadingNotice(m_state.settings, m_state.cmd.ConfigPathOverride, cleanedLanguageFile, m_state.msg);
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
        // (The layout is still at its designed scale here.) The column ends
        // as far from the window's edge as the pages do.
        const QSize design = m_scaler->designSize();
        const int margin = design.width() - (frameFILES->geometry().right() + 1);
        m_scaler->setDesignSize(QSize(lstLOG->geometry().right() + 1 + margin, design.height()));
        lstLOG->clear();
        m_log.clearList();
        showLogColumn(true);
    }
    // The window as designed where it fits its screen, else scaled down to fit.
    m_scaler->fitToScreen();
}

MainWindow::StartResult MainWindow::runCommandLineRequests()
{
    const CommandLineRequests &cmd = m_state.cmd;
    const QList<Request> batch = HandOverRequests(cmd, RequestOrigin::CommandLine);
    // 18.1, 18.4: the load's bank selected and its picture previewed as the
    // operator would pick them; an attended load shows the window.
    for (const Request &r : batch) {
        if (r.kind != RequestKind::Load)
            continue;
        m_banks->selectBank(r.bank - 1);
        if (!cmd.Unattended)
            show();
        if (IsRegularFile(r.file))
            m_pictures->PreviewPicture(r.file);
    }
    // 17, 18: the command, the preset recall, the load.
    StartResult result;
    result.outcome = m_runner.runBatch(batch, [this](const Request &r, const RequestOutcome &o) { showFailure(r, o); });
    // 19. Help.
    if (cmd.HelpRequest && !TerminationRequested())
        pictABOUT_Click();
    // A close request or a termination signal during the start-up ends it
    // there: the shutdown runs once and nothing of the start-up comes back.
    // 20. "/e": end at once, without the shutdown, once what was sent has
    // reached the device's side.
    const bool closed = TerminationRequested();
    if (closed) {
        requestClose();
    } else if (cmd.ExitRequest) {
        m_unloaded = true;
        result.outcome = m_runner.endRun(result.outcome);
    }
    result.exitNow = closed || cmd.ExitRequest;
    result.status = result.outcome.startStatus(!cmd.Unattended, closed);
    return result;
}

void MainWindow::showFailure(const Request &request, const RequestOutcome &outcome)
{
    // Told already (the load's own boxes), or cut short by the end.
    if (outcome.shown || outcome.reason == RequestOutcome::Reason::Terminated)
        return;
    // The reason and the file; why a picture was refused goes to standard error only.
    m_warning->setWarning(
        outcome.message.section(QLatin1Char('\n'), 0, 1).replace(QLatin1Char('\n'), QStringLiteral("\r\n")));
    // A command over a link that is down: the link's own message has said so.
    if (request.kind != RequestKind::Load && outcome.reason == RequestOutcome::Reason::LinkDown)
        return;
    m_warning->setUsage(ExpandBars(m_state.msg(20)));
    showWarningModal();
}

} // namespace qx
