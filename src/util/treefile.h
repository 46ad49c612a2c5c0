#pragma once
// Lists the files of one folder whose names match a wildcard pattern. The
// language discovery uses it to find the language files beside the program.

#include <QFile>
#include <QString>
#include <QStringList>

namespace qx {

// The full paths (folder + "/" + name) of the regular files directly in
// `folder` (never in its subfolders; folders, hidden and system entries, and
// links to anything but a regular file are left out) whose names match
// `pattern`, in the order in which the directory search returns them. In the pattern "*" stands for any run of
// characters (also none) and "?" for exactly one; every other character stands for itself, and the match ignores case.
// Trailing separators of `folder` are removed, so the paths never hold a doubled separator. An empty folder name, a
// missing folder or no match give an empty list.
//
// With `processEvents` the pending events of the user interface are processed
// after each directory entry and after each collected path, so that the window
// stays responsive while a long folder is listed. Callers that are not ready
// to be re-entered leave it off.
QStringList ListTreeFiles(const QString &folder, const QString &pattern, bool processEvents = false);

// Whether path names a regular file, or a link whose target is one. A folder,
// a FIFO or a device never counts: opening a FIFO without a writer blocks, and
// a device such as /dev/zero never ends.
bool IsRegularFile(const QString &path);

// Opens path for reading when it is a regular file (or a link to one). The
// open never waits (a FIFO without a writer would block it) and it is the open
// file that is checked, so a path swapped for a special file after an earlier
// check is refused all the same. On failure file stays closed and why says
// "File not found", "Not a regular file" or the system's reason.
bool OpenRegularFile(QFile &file, const QString &path, QString &why);

} // namespace qx
