// qx-7alt: the operator's control panel for one QX-7.

#include "language/languagefile.h"
#include "language/messagetable.h"
#include "link/serialports.h"
#include "mainwindow.h"
#include "outcomes.h"
#include "platform.h"
#include "remote/panelremote.h"
#include "settings/settingsfile.h"
#include "state/commandline.h"
#include "state/forwarding.h"
#include "state/startup.h"
#include "util/seams.h"

#include <QApplication>
#include <QCoreApplication>
#include <QIcon>
#include <cstdio>
#include <cstring>
#include <optional>

namespace {
// The name the configuration folder is found by, whatever the executable is
// called, for every kind of run alike (and the window class); set once, on the
// first application object, it stays for those after it.
const QString kApplicationName = QStringLiteral("QX-7alt");
const char kLongUsage[] = "Options for scripts (values keep their case and may contain \"/\"):\n"
                          "  --file PATH     picture to load into a bank\n"
                          "  --bank N        bank 1 to 4 (default 1; another number ends with status 2)\n"
                          "  --command TEXT  protocol command sent at start-up\n"
                          "  --preset N      recall preset N (1 to 16; another number ends with status 2)\n"
                          "  --exit          end when done; with --file the exit status tells the outcome:\n"
                          "                  0 loaded, 2 refused before anything reached the bank, 3 link failure\n"
                          "  --config PATH   main configuration file to use\n"
                          "  --control-port N  remote control (HTTP on TCP N, OSC on UDP N) for this run\n"
                          "  --wait SECONDS  handed to a running program: refused after waiting this long\n"
                          "                  behind a question open there (0 to 3600; default: as long as this waits)\n"
                          "  --help          this text\n"
                          "  --version       the program's version\n"
                          "  --list-ports    the serial ports, one a line: stable name, device, description\n"
                          "                  and the com<n> entries leading to it, separated by tabs\n"
                          "With these options and --exit nothing shows a dialog: messages go to standard error,\n"
                          "and without a display the requests run without a window.\n"
                          "While the program runs in the same folder, a second start hands its requests\n"
                          "to it and ends with the status it reports; without requests the running\n"
                          "window comes to the front.";
// What a run without dialogs is told goes to standard error, as a second
// start handing the same requests over is told it; so does why any start
// ended without having done everything asked.
int Told(const qx::RequestOutcome &outcome, const qx::MessageTable &msg, bool unattended, int status)
{
    const QString text = outcome.told(msg).message;
    if ((unattended || status != 0) && !text.isEmpty())
        std::fprintf(stderr, "%s\n", qPrintable(text));
    return status;
}

// The run that ends by itself: no window, no display. It shows nothing but
// what goes to standard error; every step and every decision is the core's.
class ConsoleView : public qx::StartupView {
public:
    explicit ConsoleView(const qx::MessageTable &msg) : m_msg(msg) {}
    void showLinkOutcome(qx::LinkOpenResult result, const QString &attempted) override
    {
        qx::ShowLinkOutcome(result, attempted, m_msg);
    }

private:
    const qx::MessageTable &m_msg;
};

// A run with --exit and the long options: the start-up's requests without a
// window, whether a display is there or not (nothing is ever shown).
int RunWithoutWindow(const qx::CommandLineRequests &requests)
{
    qx::InstallConsoleSeams();
    qx::AppCore core;
    ConsoleView view(core.state.msg);
    qx::Startup startup(core, view);
    qx::OnTermination([&core] { core.runner.stop(); });
    const qx::Startup::Result result = startup.run(requests);
    return Told(result.outcome, core.state.msg, true, result.status);
}

// The platform the toolkit would load, with its offscreen platform after it:
// a display that cannot be opened then leaves the offscreen one instead of
// ending the process. Returns whether the offscreen platform was asked for.
bool PlatformWithFallback()
{
    QByteArray platforms = qgetenv("QT_QPA_PLATFORM");
    if (platforms.split(';').contains("offscreen"))
        return true;
#if defined(Q_OS_UNIX) && !defined(Q_OS_MACOS)
    if (platforms.isEmpty())
        platforms = qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") ? "xcb" : "wayland;xcb";
    qputenv("QT_QPA_PLATFORM", platforms + ";offscreen");
#endif
    return false;
}
} // namespace

int main(int argc, char *argv[])
{
    // Before anything else: a termination request in the first moments ends the
    // run like any later one, with the status the run decides, never by the signal.
    qx::InstallTerminationHandler();
    // The serial ports, one a line, without a window or a display (the
    // program folder's com<n> entries need the executable's folder).
    if (argc == 2 && std::strcmp(argv[1], "--list-ports") == 0) {
        QCoreApplication core(argc, argv);
        QCoreApplication::setApplicationName(kApplicationName);
        return qx::PrintSerialPorts();
    }
    // The plain answers (--version, --help, a bad option) need no display.
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    qx::CommandLineRequests requests;
    QString error;
    const bool parsed = qx::ParseArguments(arguments, requests, &error);
    const QString usage = qx::MessageTable::defaultText(20);
    if (!parsed) {
        std::fprintf(stderr, "%s\n%s\n", qPrintable(error), qPrintable(usage));
        return 2;
    }
    if (requests.VersionRequest) {
        std::printf("%s\n", qPrintable(qx::VersionLine()));
        return 0;
    }
    if (requests.UsageRequest) {
        std::printf("%s\n\n%s\n", qPrintable(usage), kLongUsage);
        return 0;
    }
    // One program per folder holds the link: a later start of the same user
    // hands its requests over. That is decided before any display is needed
    // (a start from cron, ssh or a daemon has none).
    std::optional<qx::InstanceGate> gate;
    {
        QCoreApplication console(argc, argv);
        QCoreApplication::setApplicationName(kApplicationName);
        gate.emplace(qx::ProgramFolder(), requests.ConfigPathOverride);
        if (const auto reply = gate->forward(requests)) {
            if (!reply->message.isEmpty())
                std::fprintf(stderr, "%s\n", qPrintable(reply->message));
            return reply->status;
        }
    }
    // A run that ends by itself shows nothing: it needs no display.
    if (requests.Unattended) {
        QCoreApplication console(argc, argv); // keeps the name the gate's gave
        gate.reset();
        return RunWithoutWindow(requests);
    }
    const bool offscreenAsked = PlatformWithFallback();
    QApplication app(argc, argv);
    if (!offscreenAsked && QGuiApplication::platformName() == QLatin1String("offscreen")) {
        std::fprintf(stderr, "No display: the window cannot open. Without a display, use the options with --exit.\n");
        return 1;
    }
    // The application name is the window class the desktop entry's StartupWMClass names; the desktop
    // file name is the application id on Wayland. The window's icon comes with the program, installed or not.
    QCoreApplication::setApplicationName(kApplicationName);
    QGuiApplication::setDesktopFileName(QStringLiteral("io.example.qx7alt"));
    QIcon icon;
    for (const int size : {16, 24, 32, 48, 64, 128, 256})
        icon.addFile(QStringLiteral(":/icons/%1.png").arg(size), QSize(size, size));
    QApplication::setWindowIcon(icon);
    // The program ends through the core's shutdown only.
    app.setQuitOnLastWindowClosed(false);
    qx::InstallGuiSeams();

    qx::AppCore core;
    qx::MainWindow window(core);
    // Other programs in the room reach the device through the runner too.
    qx::PanelRemote remote(core);
    window.showRemote(remote);
    qx::Startup startup(core, window, &remote);
    window.setCloseHandler([&startup] { startup.shutdown(); });
    // A run that ends by itself takes no requests of others.
    qx::RequestServer server(core.runner, [&window](bool help) { window.bringToFront(help); });
    server.setConfiguration(qx::ConfigurationFile(qx::ProgramFolder(), requests.ConfigPathOverride));
    // Without a private folder the panel runs all the same, without the hand-over, and says so.
    const bool handOver = requests.ExitRequest || gate->hasPrivateFolder();
    if (!requests.ExitRequest)
        gate->listen(server);
    gate.reset();
    qx::OnTermination([&startup] { startup.shutdown(); });
    const qx::Startup::Result start = startup.run(requests);
    if (start.exitNow)
        return Told(start.outcome, core.state.msg, false, start.status);
    if (!handOver) {
        const QString note = qx::FillIn(core.state.msg(79), qx::RuntimeFolderName());
        std::fprintf(stderr, "%s\n", qPrintable(note));
        window.showHandOverNote(note);
    }
    window.show();
    return app.exec();
}
