#include "access.h"

#include "state/forwarding.h"
#include "util/seams.h"

#include <QFile>
#include <algorithm>

namespace qx {

namespace {
// A port of a "hex address:hex port" field of the socket table.
int tablePort(const QByteArray &field)
{
    const qsizetype colon = field.lastIndexOf(':');
    bool ok = false;
    const int port = colon < 0 ? -1 : field.mid(colon + 1).toInt(&ok, 16);
    return ok ? port : -1;
}
} // namespace

QHostAddress PlainAddress(const QHostAddress &a)
{
    bool v4 = false;
    const quint32 ip = a.toIPv4Address(&v4);
    return v4 ? QHostAddress(ip) : a;
}

Entry AccessOf(const AccessRule &rule, const QHostAddress &peer, std::optional<uint> peerUser, uint ownUser,
               bool carriesToken)
{
    const QHostAddress from = PlainAddress(peer);
    const bool here = from.isLoopback();
    if (here && peerUser && *peerUser == ownUser)
        return carriesToken && rule.allowOthers ? Entry::WithToken : Entry::Open;
    if (!here && !rule.allowOthers)
        return Entry::Closed;
    if (carriesToken)
        return Entry::WithToken;
    // OSC shows no token: only the senders the operator listed are heard.
    const bool listed = std::any_of(rule.oscAllowed.cbegin(), rule.oscAllowed.cend(), [&](const QHostAddress &a) {
        const QHostAddress allowed = PlainAddress(a);
        return allowed == from || (here && allowed.isLoopback());
    });
    return listed ? Entry::Open : Entry::Closed;
}

uint OwnUser()
{
    return uint(CurrentUser());
}

std::optional<uint> SocketTableUid(const QByteArray &table, SocketKind kind, quint16 localPort, quint16 remotePort)
{
    std::optional<uint> uid;
    for (const QByteArray &line : table.split('\n')) {
        const QList<QByteArray> f = line.simplified().split(' ');
        if (f.size() < 8 || tablePort(f.at(1)) != localPort)
            continue;
        const int remote = tablePort(f.at(2));
        if (remote != remotePort && !(kind == SocketKind::Udp && remote == 0))
            continue;
        bool ok = false;
        const uint owner = f.at(7).toUInt(&ok);
        if (!ok || (uid && *uid != owner))
            return std::nullopt;
        uid = owner;
    }
    return uid;
}

std::optional<uint> LoopbackPeerUser(SocketKind kind, quint16 ownPort, quint16 peerPort)
{
    if (seams().peerUser)
        return seams().peerUser(ownPort, peerPort);
#ifdef Q_OS_LINUX
    // The peer's own socket: its local port is the peer's, its remote port ours.
    const bool udp = kind == SocketKind::Udp;
    for (const char *path : {udp ? "/proc/net/udp" : "/proc/net/tcp", udp ? "/proc/net/udp6" : "/proc/net/tcp6"}) {
        QFile file(QString::fromLatin1(path));
        if (!file.open(QIODevice::ReadOnly))
            continue;
        if (const auto uid = SocketTableUid(file.readAll(), kind, peerPort, ownPort))
            return uid;
    }
#else
    Q_UNUSED(kind);
    Q_UNUSED(ownPort);
    Q_UNUSED(peerPort);
#endif
    return std::nullopt;
}

} // namespace qx
