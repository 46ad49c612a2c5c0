#pragma once
// The head of one HTTP/1.1 request (request line and header fields) as a
// plain function of the bytes a connection has read. The grammar is
// Boost.Beast's request parser (RFC 9112: tokens, field values without
// control characters, the message length); what this program adds on top is
// its own stricter reading: one Host, at most one Content-Length, no
// Transfer-Encoding (a body needs its length), and the target reduced to one
// canonical path (no empty or dot segments, no encoded slash) whether it came
// in origin form ("/api/v1/state") or absolute form ("http://host/api/v1/state").

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>

namespace qx {

struct HttpHead {
    enum class Verdict {
        Incomplete, // the head has not ended yet
        Complete,
        Refused, // answer `status` with `reason` and close
    };
    Verdict verdict = Verdict::Incomplete;
    int status = 0;
    QString reason;
    qsizetype size = 0; // of the head with any empty lines before it: the body starts there
    QByteArray method;
    QString path;                                // canonical and decoded: "/api/v1/preset/4"
    QByteArray query;                            // as sent, without the "?"
    QByteArray host;                             // the Host field, or the authority of an absolute-form target
    QList<QPair<QByteArray, QByteArray>> fields; // names in lower case
    qint64 contentLength = 0;
    bool keepAlive = true;
    bool upgrade = false; // asks for a WebSocket

    QByteArray value(const QByteArray &lowerName) const;
};

// The head at the start of `bytes`, at most `limit` bytes long (431 past it).
HttpHead ParseHttpHead(const QByteArray &bytes, qsizetype limit);

} // namespace qx
