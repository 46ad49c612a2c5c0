#pragma once
// Small text and number routines shared by every layer: field splitting,
// hexadecimal dumps, and the numeric conversions used by the settings and
// language files, the command line and the device replies.

#include "util/version.h"

#include <QByteArray>
#include <QString>
#include <optional>

namespace qx {

// Splits off the first field of `rest` at `delimiter`. A leading delimiter of
// `rest` is dropped first. Without a further delimiter, `head` takes all of
// `rest` and `rest` becomes empty; otherwise `head` is the text before the
// delimiter and `rest` the text after it with leading blanks removed.
void SplitFirst(QString &rest, QString &head, const QString &delimiter);

// `value` limited to low..high (the greater of low and the smaller of high and value).
qint64 Clamp(qint64 value, qint64 low, qint64 high);

// Every byte as two upper-case hex digits followed by one blank: "AB" -> "41 42 ".
QString HexDump(const QByteArray &bytes);

// Removes leading and trailing blanks (space characters only, as the files and
// replies use them; tabs and line ends are kept).
QString TrimBlanks(const QString &text);
QString TrimLeadingBlanks(const QString &text);

// `text` with every CR and LF replaced by a blank: a value of a one-line box
// or of one line of a settings file.
QString OneLine(const QString &text);

// The number formed by the leading part of `text` (after leading blanks): an
// optional sign, digits, an optional decimal point with digits and an optional
// exponent. 0 when the text does not begin with a number ("12px" -> 12, "abc" -> 0).
double NumericValue(const QString &text);

// Rounds to the nearest integer, halves to the even neighbour (2.5 -> 2, 3.5 -> 4).
double RoundHalfEven(double value);

// Converts a whole text to a 32-bit integer: blanks around the number are
// allowed, a decimal fraction is rounded half to even. Returns nothing when the
// text is not a number or the result does not fit in 32 bits.
std::optional<qint32> ToInteger(const QString &text);

// The settings files' printed-number form: a sign character (blank or "-"),
// the digits and one trailing blank. 1200 -> " 1200 ", -45 -> "-45 ".
QString PrintedNumber(qint64 value);

// Program version, as written into the files' first lines.
constexpr int kVersionMajor = QX_VERSION_MAJOR;
constexpr int kVersionMinor = QX_VERSION_MINOR;
constexpr int kVersionRevision = QX_VERSION_REVISION;
inline const char *kProductName = "QX-7alt";
QString VersionText(); // QX_VERSION_TEXT, e.g. "1.0.7"

// One byte per character, both ways (the link and the files of the device
// world carry 8-bit characters).
inline QByteArray ToBytes(const QString &text)
{
    return text.toLatin1();
}
inline QString FromBytes(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes);
}

} // namespace qx
