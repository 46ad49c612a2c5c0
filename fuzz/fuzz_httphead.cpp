// The head of an HTTP request as a connection has read it (ParseHttpHead).
//
// Input: the bytes a client sent.
//
// Checked: a complete head ends within the input and the limit; its method is
// a token; its path is canonical (it starts with "/", and has no empty, "."
// or ".." segment), its host and field values hold no control character, its
// field names are tokens in lower case, and it has no Transfer-Encoding. The
// same head written again as a plain HTTP/1.1 request reads the same.

#include "fuzzsupport.h"

#include "remote/httphead.h"

using namespace qx;

namespace {

constexpr qsizetype kLimit = 4096;

bool token(const QByteArray &text)
{
    static const QByteArray separators = "\"(),/:;<=>?@[\\]{}";
    return !text.isEmpty() && std::all_of(text.begin(), text.end(),
                                          [](char c) { return c > 0x20 && c < 0x7F && !separators.contains(c); });
}

bool clean(const QByteArray &text)
{
    return std::none_of(text.begin(), text.end(),
                        [](char c) { return (static_cast<unsigned char>(c) < 0x20 && c != '\t') || c == 0x7F; });
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzz::startApp(false);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray input(reinterpret_cast<const char *>(data), qsizetype(size));
    const HttpHead head = ParseHttpHead(input, kLimit);
    if (head.verdict == HttpHead::Verdict::Refused)
        QX_FUZZ_CHECK(!head.reason.isEmpty() && QList<int>({400, 411, 431}).contains(head.status));
    if (head.verdict != HttpHead::Verdict::Complete)
        return 0;
    QX_FUZZ_CHECK(head.size > 0 && head.size <= input.size() && head.contentLength >= 0);
    QX_FUZZ_CHECK(token(head.method) && clean(head.host));
    const QString &path = head.path;
    QX_FUZZ_CHECK(path.startsWith(QLatin1Char('/')));
    if (path != QLatin1String("/")) {
        for (const QString &segment : path.mid(1).split(QLatin1Char('/')))
            QX_FUZZ_CHECK(!segment.isEmpty() && segment != QLatin1String(".") && segment != QLatin1String(".."));
    }
    QByteArray again = head.method + " " + head.path.toUtf8().toPercentEncoding("/") +
                       (head.query.isEmpty() ? QByteArray() : "?" + head.query) + " HTTP/1.1\r\n";
    bool hostWritten = false; // an absolute-form target's host stands in for an empty Host field
    for (const auto &[name, value] : head.fields) {
        QX_FUZZ_CHECK(token(name) && name == name.toLower() && clean(value) && name != "transfer-encoding");
        again += name + ": " + (name == "host" ? head.host : value) + "\r\n";
        hostWritten = hostWritten || name == "host";
    }
    if (head.host.isEmpty()) // HTTP/1.0 without a host: nothing to write it again as 1.1
        return 0;
    if (!hostWritten)
        again += "host: " + head.host + "\r\n";
    const HttpHead second = ParseHttpHead(again + "\r\n", kLimit * 4);
    QX_FUZZ_CHECK(second.verdict == HttpHead::Verdict::Complete && second.method == head.method &&
                  second.path == head.path && second.query == head.query && second.host == head.host &&
                  second.contentLength == head.contentLength && second.upgrade == head.upgrade);
    return 0;
}
