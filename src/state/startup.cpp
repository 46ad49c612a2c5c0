#include "startup.h"

#include "language/languagefile.h"
#include "settings/settingsfile.h"
#include "state/forwarding.h"
#include "util/seams.h"
#include "util/textutil.h"

#include <QDir>

namespace qx {

void LimitStartSettings(Settings &settings)
{
    if (settings.ComPort != 0)
        settings.ComPort = qint32(Clamp(settings.ComPort, 1, 100));
}

Startup::Startup(AppCore &core, StartupView &view, RemoteStarter *remote) : m_core(core), m_view(view), m_remote(remote)
{
}

Startup::Result Startup::run(const CommandLineRequests &requests)
{
    m_view.prepare();
    m_core.state.cmd = requests; // read by main, not changed afterwards
    m_core.log.resetCount();
    readSettingsAndLanguage();
    m_view.showSettings();
    // The receive polling starts with the link.
    const LinkOpenResult opened = m_core.session.open(); // before asking what it tried
    m_view.showLinkOutcome(opened, m_core.session.attempted());
    Result result = runRequests();
    if (!result.exitNow) {
        m_core.runner.open();
        if (m_remote)
            m_remote->start(ProgramFolder(), requests.ControlPort);
    }
    return result;
}

void Startup::readSettingsAndLanguage()
{
    AppState &state = m_core.state;
    LoadSettings(state.settings, state.cmd.ConfigPathOverride);
    LimitStartSettings(state.settings);
    m_core.log.setShowLog(state.settings.ShowLog);
    m_view.settingsRead();
    const QString cleanedLanguageFile =
        ApplyLanguageAtStart(state.settings.Tongue, m_view.languageTargets(), state.msg);
    m_view.languageApplied();
    // Nothing can be saved in a configuration folder that cannot be used: the
    // operator is told once, in the language just chosen, and the run goes on.
    if (!ProgramFolderUsable())
        MessageBox(FillIn(state.msg(42), QDir::toNativeSeparators(ProgramFolder())), state.msg(43));
    // So is every file that could not be read as it was, so that no edit is
    // lost without a word.
    const QString notice = ReadingNotice(state.settings, state.cmd.ConfigPathOverride, cleanedLanguageFile, state.msg);
    if (!notice.isEmpty())
        MessageBox(notice, state.msg(43));
}

Startup::Result Startup::runRequests()
{
    const CommandLineRequests &cmd = m_core.state.cmd;
    const QList<Request> batch = HandOverRequests(cmd, RequestOrigin::CommandLine);
    for (const Request &r : batch)
        if (r.kind == RequestKind::Load)
            m_view.preview(r, !cmd.Unattended);
    // The command, the preset recall, the load.
    Result result;
    result.outcome =
        m_core.runner.runBatch(batch, [this](const Request &r, const RequestOutcome &o) { m_view.showFailure(r, o); });
    if (cmd.HelpRequest && !TerminationRequested())
        m_view.showHelp();
    // A close request or a termination signal during the start-up ends it
    // there: the shutdown runs once and nothing of the start-up comes back.
    // "/e" and --exit end at once, without saving, once what was sent has
    // reached the device's side. Either way the status is the batch's: 0
    // only when everything asked was done.
    const bool closed = TerminationRequested();
    if (cmd.ExitRequest)
        result.outcome = m_core.runner.endRun(result.outcome);
    result.exitNow = closed || cmd.ExitRequest;
    result.status = result.outcome.status;
    if (closed)
        shutdown(result.status);
    return result;
}

void Startup::shutdown(int status)
{
    if (m_ending)
        return;
    m_ending = true;
    RequestTermination();
    if (m_remote)
        m_remote->answerWaiting();
    m_core.runner.stop();
    m_core.runner.close(); // the link stays as it is while the program ends
    m_view.closeDialogs();
    // A run that ends by itself leaves both settings files as they were.
    if (!m_core.state.cmd.ExitRequest)
        save();
    // What was sent before the end leaves before the process does.
    m_core.runner.close();
    m_view.hideWindows();
    ExitProcess(status);
}

void Startup::save()
{
    if (m_saved)
        return;
    m_saved = true;
    Settings &settings = m_core.state.settings;
    if (const std::optional<QPoint> at = m_view.place()) {
        settings.MainX = at->x();
        settings.MainY = at->y();
    }
    SaveSettings(settings, m_core.state.cmd.ConfigPathOverride);
}

} // namespace qx
