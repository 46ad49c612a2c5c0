// The start-up sequence of the main window: one fixed order of steps, each
// skipped silently when it fails, ending with the command-line requests.

#include "bankloader.h"
#include "language/languagefile.h"
#include "language/messagetable.h"
#include "languagebox.h"
#include "linksettings.h"
#include "mainwindow.h"
#include "state/forwarding.h"
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
    startLink();                        // 15, 16
    return runCommandLineRequests();    // 17-20
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

void MainWindow::startLink()
{
    // 15, 16. Link and receive polling.
    const CommandLineRequests &cmd = m_state.cmd;
    OpenLink();
    m_session.exchange().startReceiveTimer();
    // The requests of the command line go out once the connection is up (a
    // command written before would be lost); no retry reopens the link
    // meanwhile. The lease covers the wait only, never a box.
    if (!m_state.LinkFailed && HasForwardedRequests(cmd)) {
        const DeviceSession::Lease lease = m_session.lease();
        m_session.waitConnected(kConnectWaitMs);
    }
}

MainWindow::StartResult MainWindow::runCommandLineRequests()
{
    const CommandLineRequests &cmd = m_state.cmd;
    StartResult result;
    // The first request that did not succeed decides the status.
    RequestOutcome outcome;
    const auto take = [&outcome](const RequestOutcome &o) {
        if (outcome.done())
            outcome = o;
    };
    // 17. The command, then the preset recall; no reply is awaited.
    for (const Request &r : HandOverRequests(cmd, RequestOrigin::CommandLine)) {
        if (r.kind == RequestKind::Load)
            continue;
        const RequestOutcome sent = m_state.LinkFailed ? RequestOutcome::of(RequestOutcome::Reason::LinkDown, m_state.msg(18))
                                                       : m_runner.execute(r);
        if (!sent.done()) {
            m_warning->setWarning(m_state.msg(18));
            report(sent);
        }
        take(sent);
    }
    // 18. The load.
    if (!cmd.LoadFileRequest.isEmpty())
        take(loadRequestedFile());

    // A close request or a termination signal during the start-up ends it
    // there: the shutdown runs once and nothing of the start-up comes back.
    // A run without dialogs reports a request that the end cut short (a
    // command that did not leave, a load not finished) with status 1; an
    // outcome it had reached without dialogs (refused, link failure) stands;
    // with dialogs a close is a close.
    const auto closedMeanwhile = [this, &result, &cmd, &outcome] {
        if (!TerminationRequested())
            return false;
        requestClose();
        result.exitNow = true;
        const bool cut = outcome.reason == RequestOutcome::Reason::Terminated ||
                         outcome.reason == RequestOutcome::Reason::LinkDown;
        result.status = m_closeStatus != 0 || (cmd.Unattended && cut) ? 1 : cmd.Unattended ? outcome.status : 0;
        return true;
    };
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
        if (!link().flush() && outcome.done())
            take(RequestOutcome::of(RequestOutcome::Reason::LinkFailure, m_state.msg(18)));
        // Without dialogs the status tells the outcome.
        result.status = cmd.Unattended ? outcome.status : 0;
        m_unloaded = true;
        result.exitNow = true;
    }
    return result;
}

void MainWindow::report(const RequestOutcome &outcome)
{
    if (m_state.cmd.Unattended && !outcome.message.isEmpty())
        std::fprintf(stderr, "%s\n", qPrintable(outcome.message));
}

RequestOutcome MainWindow::loadRequestedFile()
{
    // 18. The "/f:" load, into the bank it names, as the operator would pick them.
    const CommandLineRequests &cmd = m_state.cmd;
    const Request request = HandOverRequests(cmd, RequestOrigin::CommandLine).constLast();
    m_banks->selectBank(request.bank - 1);
    RequestOutcome outcome;
    bool uploaded = false;
    if (m_state.LinkFailed) {
        outcome = RequestOutcome::of(RequestOutcome::Reason::LinkDown, m_state.msg(18));
    } else {
        if (!cmd.Unattended)
            show();
        if (IsRegularFile(request.file))
            m_pictures->PreviewPicture(request.file);
        const QMetaObject::Connection started =
            connect(&m_runner, &RequestRunner::loadStarted, this, [&uploaded] { uploaded = true; });
        outcome = m_runner.execute(request);
        disconnect(started);
    }
    report(outcome);
    // A picture refused, or no link to load it over: the warning window says
    // so with the usage, and the program stays (until "/e"). What the upload
    // itself met, the runner has told already.
    if (!outcome.done() && !uploaded && outcome.reason != RequestOutcome::Reason::Terminated) {
        m_state.LinkFailed = true;
        // The message and the file; why the picture was refused goes to standard error only.
        m_warning->setWarning(outcome.message.section(QLatin1Char('\n'), 0, 1).replace(QLatin1Char('\n'), QStringLiteral("\r\n")));
        m_warning->setUsage(ExpandBars(m_state.msg(20)));
        if (!cmd.Unattended)
            showWarningModal();
    }
    return outcome;
}

} // namespace qx
