#include "textfile.h"

#include <QSaveFile>
#include <QStringDecoder>
#include <QStringEncoder>
#include <algorithm>

namespace qx {

namespace {

// Windows-1252 in 0x80..0x9F; elsewhere it equals Latin-1. The five bytes the
// code page leaves undefined keep their Latin-1 control characters, so every
// byte reads as a character and is written back as the same byte.
constexpr char16_t kHighControls[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

QString fromWindows1252(const QByteArray &bytes)
{
    QString text(bytes.size(), Qt::Uninitialized);
    QChar *out = text.data();
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        *out++ = (byte >= 0x80 && byte < 0xA0) ? QChar(kHighControls[byte - 0x80]) : QChar(byte);
    }
    return text;
}

// False when a character has no place in the code page.
bool toWindows1252(const QString &text, QByteArray &bytes)
{
    bytes.resize(text.size());
    char *out = bytes.data();
    for (const QChar ch : text) {
        const char16_t u = ch.unicode();
        if (u < 0x80 || (u >= 0xA0 && u <= 0xFF)) {
            *out++ = char(u);
            continue;
        }
        int at = 0;
        while (at < 32 && kHighControls[at] != u)
            ++at;
        if (at == 32)
            return false;
        *out++ = char(0x80 + at);
    }
    return true;
}

} // namespace

// Whether a reader would take these bytes for UTF-8 text beyond ASCII.
static bool readsAsUtf8(const QByteArray &bytes)
{
    const bool beyondAscii = std::any_of(bytes.cbegin(), bytes.cend(), [](char c) { return uchar(c) >= 0x80; });
    if (!beyondAscii)
        return false;
    QStringDecoder decoder(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
    const QString ignored = decoder(bytes);
    return !decoder.hasError();
}

// Whether a text holds a control character that no text file has; line ends,
// tabs, form feeds and the old end-of-file mark are text.
static bool holdsBinaryControls(const QString &text)
{
    return std::any_of(text.cbegin(), text.cend(), [](QChar ch) {
        const char16_t u = ch.unicode();
        return u < 0x20 && u != u'\t' && u != u'\n' && u != u'\r' && u != u'\f' && u != u'\v' && u != 0x1A;
    });
}

QString DecodeFileText(const QByteArray &bytes, TextEncoding *encoding, bool *nulsLeftOut)
{
    TextEncoding used = TextEncoding::Utf8;
    QString text;
    // Outside UTF-16 a NUL byte is left out before the bytes are decoded, so a
    // character whose bytes it split reads whole again.
    const bool utf16 = bytes.startsWith("\xFF\xFE") || bytes.startsWith("\xFE\xFF");
    const QByteArray kept = utf16 ? bytes : QByteArray(bytes).replace('\0', QByteArray());
    const auto decode = [&](QStringConverter::Encoding as, qsizetype skip) {
        QStringDecoder decoder(as, QStringConverter::Flag::Stateless);
        text = decoder(kept.mid(skip));
        return !decoder.hasError();
    };
    if (utf16) {
        used = bytes.at(0) == '\xFF' ? TextEncoding::Utf16LE : TextEncoding::Utf16BE;
        if (!decode(used == TextEncoding::Utf16LE ? QStringConverter::Utf16LE : QStringConverter::Utf16BE, 2))
            used = TextEncoding::NotText;
    } else if (kept.startsWith("\xEF\xBB\xBF") && decode(QStringConverter::Utf8, 3)) {
        used = TextEncoding::Utf8Marked;
    } else if (!decode(QStringConverter::Utf8, 0)) {
        used = TextEncoding::Windows1252;
        text = fromWindows1252(kept);
    }
    const qsizetype before = text.size();
    text.remove(QChar(0));
    const bool dropped = kept.size() != bytes.size() || text.size() != before;
    // A file whose NULs were among other control bytes is binary; one without
    // NULs is text whatever it holds, as it always was.
    if (dropped && holdsBinaryControls(text))
        used = TextEncoding::NotText;
    if (used == TextEncoding::NotText)
        text.clear();
    if (encoding)
        *encoding = used;
    if (nulsLeftOut)
        *nulsLeftOut = dropped && used != TextEncoding::NotText;
    return text;
}

QByteArray EncodeFileText(const QString &text, TextEncoding encoding)
{
    QByteArray bytes;
    switch (encoding) {
    case TextEncoding::Windows1252:
        // Bytes that happen to form UTF-8 would be read back as UTF-8 and
        // change their meaning: such a text is written in UTF-8 instead, as
        // one Windows-1252 cannot hold.
        if (toWindows1252(text, bytes) && !readsAsUtf8(bytes))
            return bytes;
        return text.toUtf8();
    case TextEncoding::Utf8Marked:
        return "\xEF\xBB\xBF" + text.toUtf8();
    case TextEncoding::Utf16LE:
    case TextEncoding::Utf16BE: {
        QStringEncoder encoder(encoding == TextEncoding::Utf16LE ? QStringConverter::Utf16LE
                                                                 : QStringConverter::Utf16BE,
                               QStringConverter::Flag::WriteBom);
        return encoder(text);
    }
    default:
        return text.toUtf8();
    }
}

bool WriteWholeFile(const QString &path, const QByteArray &bytes, QFileDevice::Permissions permissions)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    if (permissions && !file.setPermissions(permissions)) {
        file.cancelWriting();
        return false;
    }
    // The writes land in a buffer; a full disk shows only when it is flushed.
    // commit() would move even an incomplete temporary file over the old one.
    if (file.write(bytes) != bytes.size() || !file.flush()) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

} // namespace qx
