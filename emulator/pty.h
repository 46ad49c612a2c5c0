#pragma once
// The few platform calls behind the emulator's pseudo-terminal. On platforms
// without pseudo-terminals openPtyMaster fails and the rest does nothing.

#include <QString>

namespace qx7emu::detail {

// Opens the master side of a new pseudo-terminal, non-blocking and in raw mode
// (which on this platform also puts the slave side in raw mode). Returns the
// descriptor and the slave's path, or -1.
int openPtyMaster(QString *slavePath);

// Reads what is there: the byte count, 0 when nothing is waiting. `hangup` is
// set when no client has the slave side open.
qint64 readPty(int fd, char *buffer, qint64 size, bool *hangup);

// Writes what the terminal takes now: the byte count (0 when it would block),
// or -1 when the bytes cannot be delivered at all.
qint64 writePty(int fd, const char *data, qint64 size);

void closePty(int fd);

// Makes `linkPath` a symbolic link to `target`, replacing an existing link
// (never a regular file). False on failure.
bool makeSymlink(const QString &target, const QString &linkPath);

} // namespace qx7emu::detail
