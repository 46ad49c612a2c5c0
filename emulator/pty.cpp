#include "pty.h"

#include <QFile>
#include <QFileInfo>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <fcntl.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>
#endif

namespace qx7emu::detail {

#ifdef Q_OS_UNIX

int openPtyMaster(QString *slavePath)
{
    const int fd = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (fd < 0)
        return -1;
    const char *name = nullptr;
    if (::grantpt(fd) != 0 || ::unlockpt(fd) != 0 || !(name = ::ptsname(fd))) {
        ::close(fd);
        return -1;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    termios mode{};
    if (::tcgetattr(fd, &mode) == 0) {
        ::cfmakeraw(&mode);
        ::tcsetattr(fd, TCSANOW, &mode);
    }
    if (slavePath)
        *slavePath = QString::fromLocal8Bit(name);
    return fd;
}

qint64 readPty(int fd, char *buffer, qint64 size, bool *hangup)
{
    *hangup = false;
    for (;;) {
        const ssize_t n = ::read(fd, buffer, size_t(size));
        if (n > 0)
            return n;
        if (n < 0 && errno == EINTR)
            continue;
        // EIO (or end of file) while no process has the slave side open
        if (n == 0 || errno == EIO)
            *hangup = true;
        return 0;
    }
}

qint64 writePty(int fd, const char *data, qint64 size)
{
    for (;;) {
        const ssize_t n = ::write(fd, data, size_t(size));
        if (n >= 0)
            return n;
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            return 0;
        return -1;
    }
}

void closePty(int fd)
{
    if (fd >= 0)
        ::close(fd);
}

#else

int openPtyMaster(QString *)
{
    return -1;
}
qint64 readPty(int, char *, qint64, bool *hangup)
{
    *hangup = true;
    return 0;
}
qint64 writePty(int, const char *, qint64)
{
    return -1;
}
void closePty(int)
{
}

#endif

bool makeSymlink(const QString &target, const QString &linkPath)
{
    const QFileInfo existing(linkPath);
    if (existing.isSymLink()) {
        if (!QFile::remove(linkPath))
            return false;
    } else if (existing.exists()) {
        return false;
    }
    return QFile::link(target, linkPath);
}

} // namespace qx7emu::detail
