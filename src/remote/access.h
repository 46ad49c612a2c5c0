#pragma once
// Who may use the remote control, decided here once for every listener
// (HTTP, WebSocket and OSC); the listeners only find out who is calling (the
// address, and on this computer the user) and ask. The rule:
// - a program of the operator's own user on this computer gets in without
//   a token, unless other computers are allowed: then HTTP and WebSocket
//   ask the token of everybody, OSC (which carries none) still hears it;
// - another user of this computer, or a caller on this computer whose user
//   cannot be told, is treated as another computer: HTTP and WebSocket ask
//   the token, OSC is refused, unless `oscAllowed` lists a loopback address
//   (the operator lets every user of this computer send OSC);
// - another computer: nothing while other computers are not allowed; with
//   them allowed, HTTP and WebSocket with the token, OSC only from the
//   addresses listed in `oscAllowed`.

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <optional>

namespace qx {

struct AccessRule {
    bool allowOthers = false;       // "Allow other computers"
    QList<QHostAddress> oscAllowed; // OscAllowed: senders heard without being the operator
};

enum class Entry {
    Open,      // in, nothing more asked
    WithToken, // in when it shows the token (HTTP, WebSocket)
    Closed,    // not heard
};

// The address as IPv4 when it is one (a dual-stack socket reports IPv4
// callers as ::ffff:a.b.c.d).
QHostAddress PlainAddress(const QHostAddress &address);

// What a caller at `peer`, found to run as `peerUser` (none: not found, or
// not on this computer), gets from `rule` when this program runs as
// `ownUser`; `carriesToken` tells whether its transport can show a token.
Entry AccessOf(const AccessRule &rule, const QHostAddress &peer, std::optional<uint> peerUser, uint ownUser,
               bool carriesToken);

// The user this program runs as (0 where the system has no such notion).
uint OwnUser();

enum class SocketKind { Tcp, Udp };
// The user id that owns the socket bound to `localPort` and talking to
// `remotePort`, from a table in the form of Linux's /proc/net/tcp (or udp):
// none when no entry, or entries of different users, match. A UDP socket
// that sends without being connected lists remote port 0, which matches too.
std::optional<uint> SocketTableUid(const QByteArray &table, SocketKind kind, quint16 localPort, quint16 remotePort);
// The user of the program on this computer that sends from `peerPort` to
// this program's `ownPort`, where the system tells (the socket tables of
// Linux; the seam `peerUser` when a test sets it); none elsewhere.
std::optional<uint> LoopbackPeerUser(SocketKind kind, quint16 ownPort, quint16 peerPort);

} // namespace qx
