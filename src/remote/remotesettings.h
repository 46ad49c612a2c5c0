#pragma once
// The settings of the remote control, kept in a file of their own beside the
// two settings files, "remote.ini": one "key=value" line each, CR LF line
// ends. Lines this program does not know (comments, keys of a later version)
// are kept as they are and written back in their place, so a hand-edited file
// keeps its notes.
//
//   Enabled=0                 the listeners run (1) or not (0)
//   Port=5007                 HTTP on this TCP port, OSC on this UDP port
//   AllowOtherComputers=0     0: both listen on 127.0.0.1 only
//   Token=<32 hex digits>     what HTTP clients must show when other computers are allowed
//                             (one set by hand is kept as it is, whatever it holds)
//   OscAllowed=192.0.2.7, …   senders OSC is taken from when other computers are allowed
//   OscFeedback=127.0.0.1:9000, …  where every reply and state change is sent as well
//   ReadBackSeconds=0         read the switching state back this often while somebody watches it (0: never)
//   QuestionWaitSeconds=5     a request behind the operator's open question waits this long, then is refused
//
// The token is made once, from the system's random source, when the file has none.
// The file is read as the other settings files are (NUL bytes left out, the
// encoding kept); one that cannot be read is never written over.

#include "remote/remotegateway.h"
#include "util/textfile.h"

#include <QHostAddress>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

namespace qx {

constexpr quint16 kDefaultRemotePort = 5007;
// At most this many entries of each address list are used; a longer list is refused whole.
constexpr int kMaxRemoteAddresses = 32;
// The longest period of ReadBackSeconds (a day); a longer one keeps the default, 0.
constexpr int kMaxReadBackSeconds = 86400;
// The longest wait of QuestionWaitSeconds; a longer one keeps the default.
constexpr int kMaxQuestionWaitSeconds = 60;
// A token shorter than this is easy to guess; it is kept, and the operator told.
constexpr int kShortRemoteToken = 16;
// A larger file is no settings file a person keeps; it is not read (and never written over).
constexpr qint64 kMaxRemoteFileBytes = 16 * 1024 * 1024;

struct RemoteSettings {
    bool enabled = false;
    quint16 port = kDefaultRemotePort;
    bool allowOthers = false;
    QString token;
    QList<QHostAddress> oscAllowed;
    QList<QPair<QHostAddress, quint16>> oscFeedback;
    int readBackSeconds = 0;
    int questionWaitSeconds = kDefaultQuestionWaitSeconds;

    // Lines of the file as read, each with its key ("" for a line without
    // one); known keys are rewritten in place, unknown lines kept.
    QStringList lines;
    TextEncoding encoding = TextEncoding::Utf8; // the file's, kept when it is written

    // What reading found, for the operator's note.
    QString unreadable;        // why a file that is there could not be read; "" when read or missing
    bool nulsLeftOut = false;  // NUL bytes were left out of its text
    bool openToOthers = false; // its mode lets other users at it (the token with it)
    bool tokenShort() const { return token.size() < kShortRemoteToken; }
};

// "remote.ini" in `folder`.
QString RemoteSettingsPath(const QString &folder);

// Reads the file; a missing or unreadable file gives the defaults. Only a
// regular file is opened, without waiting (a FIFO never blocks the start).
// Values that do not read (a port of 0 or above 65535, an address that is
// none, a list that is too long) keep their defaults. `tokenMade` is set
// when the file had no token and one was made for it.
RemoteSettings LoadRemoteSettings(const QString &path, bool *tokenMade = nullptr);
// Writes the file whole (CR LF, in the encoding it was read in); the token is
// a secret, so the file is the owner's only (0600), also while it is
// written. False when it could not be written, and always for a file that
// could not be read: that one is left as it is.
bool SaveRemoteSettings(const QString &path, RemoteSettings &settings);
// What a start does: reads the file and writes it at once only when a token
// had to be made, so a file that has one is left byte for byte.
RemoteSettings StartRemoteSettings(const QString &path);

// A new token: 32 hexadecimal digits from the system's random source.
QString MakeRemoteToken();

// Both texts the same, compared in a time that does not depend on where they differ.
bool SameSecret(const QByteArray &a, const QByteArray &b);

} // namespace qx
