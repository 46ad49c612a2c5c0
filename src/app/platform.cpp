#include "platform.h"

#include "util/seams.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDialog>
#include <QFileDialog>
#include <QMessageBox>
#include <QSocketNotifier>
#include <cstdio>

#ifdef Q_OS_UNIX
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace qx {

#ifdef Q_OS_UNIX
namespace {
int g_signalPipe[2] = {-1, -1};

void onSignal(int)
{
    RequestTermination();
    const char byte = 1;
    [[maybe_unused]] const auto n = ::write(g_signalPipe[1], &byte, 1);
}
} // namespace

void InstallTerminationHandler()
{
    if (g_signalPipe[0] < 0 && ::socketpair(AF_UNIX, SOCK_STREAM, 0, g_signalPipe) != 0)
        return;
    struct sigaction sa = {};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    sigset_t ours;
    sigemptyset(&ours);
    for (int sig : {SIGTERM, SIGINT, SIGHUP}) {
        ::sigaction(sig, &sa, nullptr);
        sigaddset(&ours, sig);
    }
    // A process started with these signals blocked would never see them;
    // one that was sent meanwhile is handled now.
    ::sigprocmask(SIG_UNBLOCK, &ours, nullptr);
}

void OnTermination(std::function<void()> onTerminate)
{
    if (g_signalPipe[0] < 0)
        return;
    auto *notifier = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read);
    QObject::connect(notifier, &QSocketNotifier::activated, notifier, [onTerminate = std::move(onTerminate)] {
        char byte;
        [[maybe_unused]] const auto n = ::read(g_signalPipe[0], &byte, 1);
        onTerminate();
    });
}
#else
void InstallTerminationHandler()
{
}
void OnTermination(std::function<void()>)
{
}
#endif

void CloseOpenDialogs()
{
    for (QWidget *w : QApplication::topLevelWidgets()) {
        if (auto *dialog = qobject_cast<QDialog *>(w); dialog && dialog->isVisible())
            dialog->reject();
    }
}

void InstallGuiSeams()
{
    Seams &s = seams();
    s.messageBox = [](const QString &text, const QString &title, bool okCancel) {
        QMessageBox box(QMessageBox::NoIcon, title, text,
                        okCancel ? (QMessageBox::Ok | QMessageBox::Cancel) : QMessageBox::Ok);
        box.setTextFormat(Qt::PlainText);
        return box.exec() == QMessageBox::Ok;
    };
    s.pickFolder = [](const QString &start) {
        const QString chosen = QFileDialog::getExistingDirectory(nullptr, QString(), start);
        return chosen.isEmpty() ? start : chosen; // cancelled: the picker still reports its folder
    };
    s.openUrl = [](const QUrl &url) { QDesktopServices::openUrl(url); };
}

void InstallConsoleSeams()
{
    seams().messageBox = [](const QString &text, const QString &title, bool) {
        std::fprintf(stderr, "%s: %s\n", qPrintable(title), qPrintable(text));
        return true;
    };
}

} // namespace qx
