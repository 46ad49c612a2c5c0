#pragma once
// The start-up and the shutdown of a run, whatever shows it. One fixed order
// of steps: the settings read and limited, the language applied, the link
// opened, the command line's requests run as one batch of the runner, the
// About window for a help request, then either the end (a run that ends by
// itself, or a close during the start-up) with the one exit status, or the
// remote control started and the panel left running. The window and the run
// without a display are views of it (`StartupView`): they show what they are
// told and decide nothing. The remote control is reached through
// `RemoteStarter`, which the remote library implements (the core does not
// link it).

#include "state/appcore.h"

#include <QList>
#include <QPoint>
#include <QString>
#include <optional>

namespace qx {

enum class LinkOpenResult;

class StartupView {
public:
    virtual ~StartupView() = default;
    // Before anything is read: the view's design values and flags.
    virtual void prepare() {}
    // The settings have been read and limited (the language not yet applied).
    virtual void settingsRead() {}
    // The objects whose controls a language file names, in its order (none
    // without a window).
    virtual QList<QObject *> languageTargets() { return {}; }
    // The language has been applied: what follows it is captured.
    virtual void languageApplied() {}
    // The settings as read and limited: shown.
    virtual void showSettings() {}
    // The link was opened, or not: the operator is told.
    virtual void showLinkOutcome(LinkOpenResult result, const QString &attempted) = 0;
    // A load of the command line before it runs: its bank and picture as the
    // operator would choose them (an attended load shows the window).
    virtual void preview(const Request &load, bool attended)
    {
        Q_UNUSED(load);
        Q_UNUSED(attended);
    }
    // A request of the start's batch that did not succeed.
    virtual void showFailure(const Request &request, const RequestOutcome &outcome)
    {
        Q_UNUSED(request);
        Q_UNUSED(outcome);
    }
    // The About window, for a help request.
    virtual void showHelp() {}
    // Where the window is, in twips, kept at the end; nullopt without one.
    virtual std::optional<QPoint> place() const { return std::nullopt; }
    // The program ends: open dialogs closed as cancelled, then the windows hidden.
    virtual void closeDialogs() {}
    virtual void hideWindows() {}
};

// The remote control as the start-up and the shutdown see it.
class RemoteStarter {
public:
    virtual ~RemoteStarter() = default;
    // Reads remote.ini in `folder` and starts what it says, or on
    // `portOverride` (--control-port) for this run.
    virtual void start(const QString &folder, quint16 portOverride) = 0;
    // The program ends: every request still waiting is answered at once.
    virtual void answerWaiting() = 0;
};

// The limits the settings get at the start whatever shows them: a serial
// port number from 1 to 100 (0 is TCP/IP).
void LimitStartSettings(Settings &settings);

class Startup {
public:
    Startup(AppCore &core, StartupView &view, RemoteStarter *remote = nullptr);
    Startup(const Startup &) = delete;
    Startup &operator=(const Startup &) = delete;

    // How the start-up ended: keep running, or end now with `status` ("/e",
    // --exit, a close during the start-up); the batch's outcome, whose
    // message a run without dialogs prints.
    struct Result {
        bool exitNow = false;
        int status = 0;
        RequestOutcome outcome;
    };
    // The start-up for what the command line asked.
    Result run(const CommandLineRequests &requests);

    // The one way the program ends after the start: the window closed, or a
    // termination signal, at any moment. Waiting remote requests are
    // answered, what runs is stopped (it ends at its next wait), dialogs are
    // closed, the settings saved unless the run ends by itself, and the
    // process ends once, with `status`.
    void shutdown(int status = 0);
    bool ending() const { return m_ending; }

private:
    void readSettingsAndLanguage();
    Result runRequests();
    void save();

    AppCore &m_core;
    StartupView &m_view;
    RemoteStarter *m_remote;
    bool m_ending = false;
    bool m_saved = false;
};

} // namespace qx
