#include "treefile.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QRegularExpression>

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
                              QRegularExpression::CaseInsensitiveOption
                                  | QRegularExpression::DotMatchesEverythingOption);
}

} // namespace

bool IsRegularFile(const QString &path)
{
    // QFileInfo follows links, and on Unix it calls only a regular file a file.
    return QFileInfo(path).isFile();
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
