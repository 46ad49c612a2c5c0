#include "seams.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>
#include <algorithm>
#include <atomic>
#include <cstdio>

namespace qx {

namespace {
// Lock-free, so a signal handler may set it.
std::atomic<bool> g_terminationRequested{false};
static_assert(std::atomic<bool>::is_always_lock_free);
} // namespace

void RequestTermination()
{
    g_terminationRequested.store(true);
}

bool TerminationRequested()
{
    return g_terminationRequested.load();
}

void ClearTerminationRequest()
{
    g_terminationRequested.store(false);
}

Seams &seams()
{
    static Seams instance;
    return instance;
}

bool MessageBox(const QString &text, const QString &title, bool okCancel)
{
    if (TerminationRequested())
        return false;
    if (seams().messageBox)
        return seams().messageBox(text, title, okCancel);
    std::fprintf(stderr, "%s: %s\n", qPrintable(title), qPrintable(text));
    return true;
}

void Sleep(int ms)
{
    const int length = seams().pauseLength ? seams().pauseLength(ms) : ms;
    // In short slices, so that a termination signal ends the pause early.
    QElapsedTimer clock;
    clock.start();
    for (qint64 left = length; left > 0 && !TerminationRequested(); left = length - clock.elapsed())
        QThread::msleep(ulong(std::min<qint64>(left, 10)));
}

QString PickFolder(const QString &start)
{
    return seams().pickFolder ? seams().pickFolder(start) : start;
}

void OpenUrl(const QUrl &url)
{
    if (seams().openUrl)
        seams().openUrl(url);
}

QString ProgramFolder()
{
    if (!seams().programFolder.isEmpty())
        return seams().programFolder;
    return QCoreApplication::applicationDirPath();
}

void ExitProcess(int status)
{
    if (seams().exitProcess)
        seams().exitProcess(status);
    else
        QCoreApplication::exit(status);
}

QString JoinPath(const QString &folder, const QString &name)
{
    if (folder.isEmpty())
        return name;
    if (folder.endsWith(QLatin1Char('/')) || folder.endsWith(QLatin1Char('\\')))
        return folder + name;
    return folder + QLatin1Char('/') + name;
}

} // namespace qx
