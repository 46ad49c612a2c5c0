#pragma once
// The settings and language files: how a file is replaced as a whole.

#include <QByteArray>
#include <QString>

namespace qx {

// Replaces the file at `path` with `bytes` through a temporary file beside it.
// Every write and the final flush are checked: a write that cannot be
// completed (a full disk, a missing folder) leaves the old file exactly as it
// was and returns false.
bool WriteWholeFile(const QString &path, const QByteArray &bytes);

} // namespace qx
