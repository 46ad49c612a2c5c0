#include "textutil.h"

#include <cmath>
#include <limits>

namespace qx {

void SplitFirst(QString &rest, QString &head, const QString &delimiter)
{
    if (!delimiter.isEmpty() && rest.startsWith(delimiter))
        rest.remove(0, delimiter.size());
    const int at = delimiter.isEmpty() ? -1 : int(rest.indexOf(delimiter));
    if (at < 0) {
        head = rest;
        rest.clear();
        return;
    }
    head = rest.left(at);
    rest = TrimLeadingBlanks(rest.mid(at + delimiter.size()));
}

qint64 Clamp(qint64 value, qint64 low, qint64 high)
{
    return std::max(low, std::min(high, value));
}

QString HexDump(const QByteArray &bytes)
{
    static const char digits[] = "0123456789ABCDEF";
    QString out;
    out.resize(bytes.size() * 3);
    QChar *p = out.data();
    for (unsigned char c : bytes) {
        *p++ = QLatin1Char(digits[c >> 4]);
        *p++ = QLatin1Char(digits[c & 15]);
        *p++ = QLatin1Char(' ');
    }
    return out;
}

QString TrimLeadingBlanks(const QString &text)
{
    int start = 0;
    while (start < text.size() && text.at(start) == QLatin1Char(' '))
        ++start;
    return text.mid(start);
}

QString TrimBlanks(const QString &text)
{
    int start = 0, end = int(text.size());
    while (start < end && text.at(start) == QLatin1Char(' '))
        ++start;
    while (end > start && text.at(end - 1) == QLatin1Char(' '))
        --end;
    return text.mid(start, end - start);
}

namespace {

// Length of the leading number of `text` from `pos`; 0 when none.
int scanNumber(const QString &text, int pos)
{
    const int begin = pos;
    const auto isDigit = [&](int i) { return i < text.size() && text.at(i).isDigit() && text.at(i).unicode() < 128; };
    if (pos < text.size() && (text.at(pos) == QLatin1Char('+') || text.at(pos) == QLatin1Char('-')))
        ++pos;
    int digits = 0;
    while (isDigit(pos)) {
        ++pos;
        ++digits;
    }
    if (pos < text.size() && text.at(pos) == QLatin1Char('.')) {
        int fraction = 0;
        int p = pos + 1;
        while (isDigit(p)) {
            ++p;
            ++fraction;
        }
        if (digits + fraction > 0) {
            pos = p;
            digits += fraction;
        }
    }
    if (digits == 0)
        return 0;
    if (pos < text.size() && (text.at(pos) == QLatin1Char('e') || text.at(pos) == QLatin1Char('E'))) {
        int p = pos + 1;
        if (p < text.size() && (text.at(p) == QLatin1Char('+') || text.at(p) == QLatin1Char('-')))
            ++p;
        if (isDigit(p)) {
            while (isDigit(p))
                ++p;
            pos = p;
        }
    }
    return pos - begin;
}

} // namespace

QString OneLine(const QString &text)
{
    QString line = text;
    return line.replace(QLatin1Char('\r'), QLatin1Char(' ')).replace(QLatin1Char('\n'), QLatin1Char(' '));
}

double NumericValue(const QString &text)
{
    int pos = 0;
    while (pos < text.size() && text.at(pos) == QLatin1Char(' '))
        ++pos;
    const int len = scanNumber(text, pos);
    if (len == 0)
        return 0.0;
    bool ok = false;
    const double value = text.mid(pos, len).toDouble(&ok);
    return ok && std::isfinite(value) ? value : 0.0;
}

double RoundHalfEven(double value)
{
    return std::nearbyint(value); // the default rounding mode rounds halves to even
}

std::optional<qint32> ToInteger(const QString &text)
{
    const QString trimmed = TrimBlanks(text);
    if (trimmed.isEmpty() || scanNumber(trimmed, 0) != trimmed.size())
        return std::nullopt;
    bool ok = false;
    const double value = trimmed.toDouble(&ok);
    if (!ok || !std::isfinite(value))
        return std::nullopt;
    const double rounded = RoundHalfEven(value);
    if (rounded < double(std::numeric_limits<qint32>::min()) || rounded > double(std::numeric_limits<qint32>::max()))
        return std::nullopt;
    return qint32(rounded);
}

QString PrintedNumber(qint64 value)
{
    const QString digits = QString::number(value < 0 ? -value : value);
    return (value < 0 ? QStringLiteral("-") : QStringLiteral(" ")) + digits + QLatin1Char(' ');
}

QString VersionText()
{
    return QStringLiteral(QX_VERSION_TEXT);
}

} // namespace qx
