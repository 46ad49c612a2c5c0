// qx-7alt: the operator's control panel for one QX-7.

#include "language/languagefile.h"
#include "language/messagetable.h"
#include "link/serialports.h"
#include "mainwindow.h"
#include "outcomes.h"
#include "platform.h"
#include "remote/remotecontrol.h"
#include "remote/runnergateway.h"
#include "settings/settingsfile.h"
#include "state/commandline.h"
#include "state/forwarding.h"
#include "util/seams.h"

#include <QApplication>
#include <QCoreApplication>
#include <QIcon>
#include <cstdio>
#include <cstring>
#include <optional>

namespace {
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
// start handing the same requests over is told it.
int Told(const qx::RequestOutcome &outcome, const qx::MessageTable &msg, bool unattended, int status)
{
    const QString text = outcome.told(msg).message;
    if (unattended && !text.isEmpty())
        std::fprintf(stderr, "%s\n", qPrintable(text));
    return status;
}

// A run with --exit and no display: the start-up's requests without a window,
// with the settings, the language's messages and the link the window's
// start-up would use, and the same batch of the runner.
int RunWithoutWindow(const qx::CommandLineRequests &requests)
{
    qx::InstallConsoleSeams();
    qx::AppCore core;
    core.state.cmd = requests;
    qx::LoadSettings(core.state.settings, requests.ConfigPathOverride);
    qx::ApplyLanguageAtStart(core.state.settings.Tongue, {}, core.state.msg);
    const qx::LinkOpenResult opened = core.session.open(); // before asking what it tried
    qx::ShowLinkOutcome(opened, core.session.attempted(), core.state.msg);
    qx::OnTermination([&core] { core.runner.stop(); });
    const qx::RequestOutcome outcome =
        core.runner.endRun(core.runner.runBatch(qx::HandOverRequests(requests, qx::RequestOrigin::CommandLine)));
    return Told(outcome, core.state.msg, true, outcome.status);
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
        gate.emplace(qx::ProgramFolder());
        if (!gate->hasPrivateFolder()) {
            std::fprintf(stderr, "%s\n",
                         qPrintable(qx::FillIn(qx::MessageTable::defaultText(79), qx::RuntimeFolderName())));
            return 1;
        }
        if (const auto reply = gate->forward(requests)) {
            if (!reply->message.isEmpty())
                std::fprintf(stderr, "%s\n", qPrintable(reply->message));
            return reply->status;
        }
    }
    // Without a display only a run that ends by itself can go on.
    if (!qx::DisplayAvailable()) {
        QCoreApplication console(argc, argv);
        gate.reset();
        if (requests.Unattended)
            return RunWithoutWindow(requests);
        std::fprintf(stderr, "No display: the window cannot open. Without a display, use the options with --exit.\n");
        return 1;
    }
    QApplication app(argc, argv);
    // The application name is the window class the desktop entry's StartupWMClass names; the desktop
    // file name is the application id on Wayland. The window's icon comes with the program, installed or not.
    app.setApplicationName(QStringLiteral("QX-7alt"));
    QGuiApplication::setDesktopFileName(QStringLiteral("io.example.qx7alt"));
    QIcon icon;
    for (const int size : {16, 24, 32, 48, 64, 128, 256})
        icon.addFile(QStringLiteral(":/icons/%1.png").arg(size), QSize(size, size));
    QApplication::setWindowIcon(icon);
    // The program ends through the main window's close request only.
    app.setQuitOnLastWindowClosed(false);
    qx::InstallGuiSeams();
    if (requests.Unattended)
        qx::InstallConsoleSeams();

    qx::AppCore core;
    qx::MainWindow window(core);
    // Other programs in the room reach the device through the runner too.
    qx::RunnerGateway gateway(core);
    qx::RemoteControl remote(gateway);
    // A run that ends by itself takes no requests of others.
    qx::RequestServer server(core.runner, [&window](bool help) { window.bringToFront(help); });
    if (!requests.ExitRequest)
        gate->listen(server);
    gate.reset();
    qx::OnTermination([&window] { window.requestClose(); });
    const qx::MainWindow::StartResult start = window.Form_Load(requests);
    if (start.exitNow)
        return Told(start.outcome, core.state.msg, requests.Unattended, start.status);
    core.runner.open();
    window.startRemote(remote, requests.ControlPort);
    window.show();
    return app.exec();
}
