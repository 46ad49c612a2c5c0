#include "seams.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTimer>
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

void DialogWatch::add(int delta)
{
    m_open += delta;
    Q_EMIT changed(m_open);
}

DialogWatch &dialogs()
{
    static DialogWatch instance;
    return instance;
}

bool MessageBox(const QString &text, const QString &title, bool okCancel)
{
    if (TerminationRequested())
        return false;
    if (seams().messageBox) {
        const DialogOpen open;
        return seams().messageBox(text, title, okCancel);
    }
    std::fprintf(stderr, "%s: %s\n", qPrintable(title), qPrintable(text));
    return true;
}

void Sleep(int ms)
{
    const int length = seams().pauseLength ? seams().pauseLength(ms) : ms;
    // Events go on meanwhile (a remote is answered, the link's bytes are
    // taken), in short slices, so that a termination signal ends the pause early.
    QElapsedTimer clock;
    clock.start();
    for (qint64 left = length; left > 0 && !TerminationRequested(); left = length - clock.elapsed()) {
        QEventLoop slice;
        QTimer::singleShot(int(std::min<qint64>(left, 10)), Qt::PreciseTimer, &slice, &QEventLoop::quit);
        slice.exec();
    }
}

QString PickFolder(const QString &start)
{
    const DialogOpen open;
    return seams().pickFolder ? seams().pickFolder(start) : start;
}

void OpenUrl(const QUrl &url)
{
    if (seams().openUrl)
        seams().openUrl(url);
}

QString SharedFolder()
{
    if (!seams().sharedFolder.isEmpty())
        return seams().sharedFolder;
    const QString exeDir = QCoreApplication::applicationDirPath();
    if (exeDir.isEmpty())
        return QString();
    const QString shared = QDir::cleanPath(exeDir + QStringLiteral("/../share/qx-7alt"));
    return QFileInfo(shared).isDir() ? shared : QString();
}

QString ProgramFolder()
{
    if (!seams().programFolder.isEmpty())
        return seams().programFolder;
    const QString exeDir = QCoreApplication::applicationDirPath();
    // Decided by the layout, not only by the permission: root may write
    // anywhere, yet an installed program must not write into /usr/bin.
    if (SharedFolder().isEmpty() && QFileInfo(exeDir).isWritable())
        return exeDir;
    const QString config = QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation);
    if (config.isEmpty())
        return exeDir;
    QDir().mkpath(config);
    return config;
}

bool KeptInConfigFolder()
{
    return seams().programFolder.isEmpty() && ProgramFolder() != QCoreApplication::applicationDirPath();
}

bool ProgramFolderUsable()
{
    const QFileInfo folder(ProgramFolder());
    return folder.isDir() && folder.isWritable();
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
