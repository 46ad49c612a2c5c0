#include "treefile.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QRegularExpression>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace qx {

namespace {

bool isSeparator(QChar c)
{
    return c == QLatin1Char('/') || c == QLatin1Char('\\');
}

void pumpEvents(bool enabled)
{
    if (enabled && QCoreApplication::instance())
        QCoreApplication::processEvents();
}

// Only "*" and "?" are wildcards; everything else (brackets included) is literal,
// as the file search of the platforms this program came from treats it.
QRegularExpression patternExpression(const QString &pattern)
{
    QString expr;
    expr.reserve(pattern.size() * 2 + 4);
    QString literal;
    auto flush = [&] {
        expr += QRegularExpression::escape(literal);
        literal.clear();
    };
    for (QChar c : pattern) {
        if (c == QLatin1Char('*')) {
            flush();
            expr += QLatin1String(".*");
        } else if (c == QLatin1Char('?')) {
            flush();
            expr += QLatin1Char('.');
        } else {
            literal += c;
        }
    }
    flush();
    return QRegularExpression(QRegularExpression::anchoredPattern(expr),
                              QRegularExpression::CaseInsensitiveOption |
                                  QRegularExpression::DotMatchesEverythingOption);
}

} // namespace

bool IsRegularFile(const QString &path)
{
    // QFileInfo follows links, and on Unix it calls only a regular file a file.
    return QFileInfo(path).isFile();
}

bool OpenRegularFile(QFile &file, const QString &path, QString &why)
{
#ifdef Q_OS_UNIX
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        why = errno == ENOENT ? QStringLiteral("File not found") : qt_error_string(errno);
        return false;
    }
    struct stat status;
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        ::close(fd);
        why = QStringLiteral("Not a regular file");
        return false;
    }
    if (file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle))
        return true;
    ::close(fd);
#else
    if (!IsRegularFile(path)) {
        why = QFileInfo::exists(path) ? QStringLiteral("Not a regular file") : QStringLiteral("File not found");
        return false;
    }
    file.setFileName(path);
    if (file.open(QIODevice::ReadOnly))
        return true;
#endif
    why = file.errorString();
    return false;
}

QStringList ListTreeFiles(const QString &folder, const QString &pattern, bool processEvents)
{
    QStringList paths;
    if (folder.isEmpty())
        return paths; // never the process's current folder by accident

    QString base = folder;
    while (!base.isEmpty() && isSeparator(base.back()))
        base.chop(1);
    // The root folder ("/") becomes "" here; listing base + "/" still finds it.
    const QString listed = base + QLatin1Char('/');
    const QRegularExpression match = patternExpression(pattern);

    QStringList names;
    QDirIterator it(listed, QDir::Files | QDir::NoDotAndDotDot);
    while (it.hasNext()) {
        it.next();
        const QFileInfo info = it.fileInfo();
        // Check again: a link to a folder, a FIFO or a device must not pass as a file.
        if (IsRegularFile(info.filePath()) && !info.isHidden() && match.match(info.fileName()).hasMatch())
            names.append(info.fileName());
        pumpEvents(processEvents);
    }
    for (const QString &name : qAsConst(names)) {
        paths.append(listed + name);
        pumpEvents(processEvents);
    }
    return paths;
}

} // namespace qx
