#pragma once
// Shared pieces of the fuzz targets: the Qt application object, a scratch
// program folder, input slicing and the failure report.

#include "util/seams.h"

#include <QApplication>
#include <QByteArray>
#include <QFile>
#include <QFileInfo>
#include <QList>
#include <QTemporaryDir>
#include <cstdio>
#include <cstdlib>
#include <memory>

namespace qx::fuzz {

// A broken invariant is a finding: print it and abort, so that libFuzzer
// keeps the input.
#define QX_FUZZ_CHECK(cond)                                                                                            \
    do {                                                                                                               \
        if (!(cond)) {                                                                                                 \
            std::fprintf(stderr, "invariant broken: %s (%s:%d)\n", #cond, __FILE__, __LINE__);                         \
            std::abort();                                                                                              \
        }                                                                                                              \
    } while (0)

// One application object for the whole run; widgets need the GUI one, which
// runs on the offscreen platform.
inline void startApp(bool widgets)
{
    static int argc = 1;
    static char name[] = "qx7-fuzz";
    static char *argv[] = {name, nullptr};
    if (QCoreApplication::instance())
        return;
    if (widgets) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        qputenv("QT_LOGGING_RULES", "qt.qpa.*=false");
        new QApplication(argc, argv);
    } else {
        new QCoreApplication(argc, argv);
    }
}

// A temporary program folder for the whole run (seams().programFolder). In
// memory where the system offers it: the settings files are written safely
// (synced to disk), which would otherwise cost most of the run.
inline QString programFolder()
{
    static std::unique_ptr<QTemporaryDir> dir;
    if (!dir) {
        const QString shm = QStringLiteral("/dev/shm");
        const bool inMemory = QFileInfo(shm).isDir() && QFileInfo(shm).isWritable();
        dir = inMemory ? std::make_unique<QTemporaryDir>(shm + QStringLiteral("/qx7-fuzz-XXXXXX"))
                       : std::make_unique<QTemporaryDir>();
        seams().programFolder = dir->path();
    }
    return dir->path();
}

inline void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    if (f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        f.write(bytes);
}

// Cuts the input into chunks: each chunk is one length byte followed by that
// many bytes (fewer at the end of the input).
inline QList<QByteArray> lengthPrefixedChunks(const uint8_t *data, size_t size)
{
    QList<QByteArray> chunks;
    size_t pos = 0;
    while (pos < size) {
        const size_t length = data[pos++];
        const size_t n = std::min(length, size - pos);
        chunks.append(QByteArray(reinterpret_cast<const char *>(data + pos), qsizetype(n)));
        pos += n;
    }
    return chunks;
}

} // namespace qx::fuzz
