#include "httphead.h"

#include <boost/beast/http/buffer_body.hpp>
#include <boost/beast/http/parser.hpp>

#include <QStringDecoder>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <optional>

namespace qx {

namespace {

namespace http = boost::beast::http;

HttpHead refused(int status, const char *reason)
{
    HttpHead head;
    head.verdict = HttpHead::Verdict::Refused;
    head.status = status;
    head.reason = QString::fromLatin1(reason);
    return head;
}

int hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// The one path a raw path names: segments neither empty nor "." or "..",
// escapes decoded, none of them a slash, a backslash or a control character
// (nor a backslash as it is).
std::optional<QString> canonicalPath(const QByteArray &raw)
{
    if (raw == "/")
        return QStringLiteral("/");
    if (!raw.startsWith('/'))
        return std::nullopt;
    QByteArray path;
    for (const QByteArray &segment : raw.mid(1).split('/')) {
        QByteArray decoded;
        for (qsizetype i = 0; i < segment.size(); ++i) {
            char c = segment.at(i);
            if (c == '\\') // refused as it is, as when escaped
                return std::nullopt;
            if (c == '%') {
                const int high = i + 2 < segment.size() ? hexDigit(segment.at(i + 1)) : -1;
                const int low = high < 0 ? -1 : hexDigit(segment.at(i + 2));
                if (low < 0)
                    return std::nullopt;
                c = char(high * 16 + low);
                i += 2;
                if (c == '/' || c == '\\' || static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
                    return std::nullopt;
            }
            decoded += c;
        }
        if (decoded.isEmpty() || decoded == "." || decoded == "..")
            return std::nullopt;
        path += '/' + decoded;
    }
    // Bytes that are not UTF-8 would name the path only through replacement characters.
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = utf8(path);
    if (utf8.hasError())
        return std::nullopt;
    return text;
}

// Where the head ends: after the first empty line, leading empty lines skipped; -1 while none has come.
qsizetype headEnd(const QByteArray &bytes, qsizetype start)
{
    const qsizetype crlf = bytes.indexOf("\n\r\n", start);
    const qsizetype lf = bytes.indexOf("\n\n", start);
    if (crlf < 0 && lf < 0)
        return -1;
    return crlf < 0 ? lf + 2 : (lf < 0 || crlf < lf ? crlf + 3 : lf + 2);
}

} // namespace

QByteArray HttpHead::value(const QByteArray &lowerName) const
{
    for (const auto &[name, value] : fields)
        if (name == lowerName)
            return value;
    return {};
}

HttpHead ParseHttpHead(const QByteArray &bytes, qsizetype limit)
{
    // At least one empty line before a request is ignored (RFC 9112 §2.2).
    qsizetype start = 0;
    while (bytes.mid(start, 2) == "\r\n")
        start += 2;
    const qsizetype end = headEnd(bytes, start);
    if (end < 0 || end - start > limit)
        return bytes.size() - start >= limit ? refused(431, "the request's headers are too long") : HttpHead();

    // The body is read by the connection, not here.
    http::request_parser<http::buffer_body> parser;
    parser.eager(false);
    parser.header_limit(std::uint32_t(limit));
    parser.body_limit(std::numeric_limits<std::uint64_t>::max()); // each route has its own
    boost::beast::error_code error;
    parser.put(boost::asio::const_buffer(bytes.constData() + start, size_t(end - start)), error);
    if (error == http::error::header_limit)
        return refused(431, "the request's headers are too long");
    if (error == http::error::bad_transfer_encoding)
        return refused(411, "a body needs its Content-Length");
    if (error || !parser.is_header_done())
        return refused(400, "not an HTTP/1.1 request");
    const auto &message = parser.get();

    HttpHead head;
    int hosts = 0;
    int lengths = 0;
    for (const auto &field : message) {
        const QByteArray name = QByteArray(field.name_string().data(), qsizetype(field.name_string().size())).toLower();
        const QByteArray value(field.value().data(), qsizetype(field.value().size()));
        hosts += name == "host";
        lengths += name == "content-length";
        if (name == "transfer-encoding")
            return refused(411, "a body needs its Content-Length");
        head.fields.append({name, value});
    }
    if (hosts > 1 || (hosts == 0 && message.version() == 11))
        return refused(400, "a request names its host once");
    if (lengths > 1)
        return refused(400, "a request gives its Content-Length once");

    QByteArray target(message.target().data(), qsizetype(message.target().size()));
    head.host = head.value("host");
    // The absolute form names the host itself, and that name counts (RFC 9112 §3.2.2).
    if (target.size() >= 7 && target.left(7).toLower() == "http://") {
        const qsizetype slash = target.indexOf('/', 7);
        const qsizetype question = target.indexOf('?', 7);
        const qsizetype pathAt =
            slash < 0 ? (question < 0 ? target.size() : question) : (question < 0 ? slash : std::min(slash, question));
        head.host = target.mid(7, pathAt - 7);
        target = pathAt < target.size() && target.at(pathAt) == '/' ? target.mid(pathAt) : '/' + target.mid(pathAt);
        if (head.host.isEmpty() || head.host.contains('@'))
            return refused(400, "not a target this server knows");
    }
    if (target.contains('#'))
        return refused(400, "not a target this server knows");
    const qsizetype question = target.indexOf('?');
    const std::optional<QString> path = canonicalPath(question < 0 ? target : target.left(question));
    if (!path)
        return refused(400, "not a plain path: no empty segments, dots or encoded slashes");

    head.verdict = HttpHead::Verdict::Complete;
    head.size = end;
    head.method = QByteArray(message.method_string().data(), qsizetype(message.method_string().size()));
    head.path = *path;
    head.query = question < 0 ? QByteArray() : target.mid(question + 1);
    // Past what a qint64 holds, it is past every route's limit all the same.
    head.contentLength = qint64(std::min<std::uint64_t>(parser.content_length().value_or(0), INT64_MAX));
    head.keepAlive = parser.keep_alive();
    head.upgrade = head.value("upgrade").compare("websocket", Qt::CaseInsensitive) == 0;
    return head;
}

} // namespace qx
