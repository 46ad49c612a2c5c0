// qx-7alt: the operator's control panel for one QX-7.

#include "app/state/commandline.h"
#include "language/messagetable.h"
#include "mainwindow.h"
#include "platform.h"

#include <QApplication>
#include <cstdio>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    app.setApplicationName(QStringLiteral("QX-7alt"));
    qx::InstallGuiSeams();

    const QStringList arguments = app.arguments().mid(1);
    qx::CommandLineRequests probe;
    QString error;
    const bool parsed = qx::ParseArguments(arguments, probe, &error);
    const QString usage = qx::MessageTable::defaultText(20);
    if (!parsed) {
        std::fprintf(stderr, "%s\n%s\n", qPrintable(error), qPrintable(usage));
        return 2;
    }
    if (probe.VersionRequest) {
        std::printf("%s\n", qPrintable(qx::VersionLine()));
        return 0;
    }
    if (probe.UsageRequest) {
        std::printf("%s\n", qPrintable(usage));
        return 0;
    }
    if (probe.Unattended)
        qx::InstallConsoleSeams();

    qx::MainWindow window;
    const qx::MainWindow::StartResult start = window.Form_Load(arguments);
    if (start.exitNow)
        return start.status;
    window.show();
    qx::InstallTerminationHandler([&window] { window.close(); });
    return app.exec();
}
