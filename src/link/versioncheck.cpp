#include "versioncheck.h"

#include "commandexchange.h"
#include "util/textutil.h"

namespace qx {

QString QueryVersion(CommandExchange &exchange)
{
    exchange.SendCommand(QByteArray("#VERSION?\r"));
    QString rest = exchange.WaitReply(QStringLiteral("~01@VERSION ")).mid(12, 100);
    QString major, minor;
    SplitFirst(rest, major, QStringLiteral("."));
    SplitFirst(rest, minor, QStringLiteral("."));
    return major + QLatin1Char('.') + minor;
}

VersionVerdict JudgeVersion(const QString &version)
{
    QString minor = version;
    QString major;
    SplitFirst(minor, major, QStringLiteral("."));
    if (major.isEmpty() || minor.isEmpty())
        return VersionVerdict::NoReply;
    // Compared as a version number: a newer major version is accepted whatever
    // its minor part (3.0 and 10.11 are newer than 2.12).
    const double ma = NumericValue(major);
    const double mi = NumericValue(minor);
    const bool accepted = ma > 2 || (ma == 2 && mi >= 12);
    return accepted ? VersionVerdict::Accepted : VersionVerdict::Old;
}

VersionVerdict CheckVersion(CommandExchange &exchange)
{
    const VersionVerdict verdict = JudgeVersion(QueryVersion(exchange));
    if (verdict != VersionVerdict::Accepted)
        exchange.stop();
    return verdict;
}

} // namespace qx
