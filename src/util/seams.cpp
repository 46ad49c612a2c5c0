#include "seams.h"

#include <QCoreApplication>
#include <QThread>
#include <cstdio>

namespace qx {

Seams &seams()
{
    static Seams instance;
    return instance;
}

bool MessageBox(const QString &text, const QString &title, bool okCancel)
{
    if (seams().messageBox)
        return seams().messageBox(text, title, okCancel);
    std::fprintf(stderr, "%s: %s\n", qPrintable(title), qPrintable(text));
    return true;
}

void Sleep(int ms)
{
    if (seams().sleep)
        seams().sleep(ms);
    else if (ms > 0)
        QThread::msleep(ulong(ms));
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
