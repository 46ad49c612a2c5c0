#pragma once
// Figures of benchmarks that measure the application and a plain client in
// alternating rounds: on a shared machine one round can be slowed down by
// anything else that runs, so the median of the rounds' ratios is printed.

#include <QList>
#include <QString>
#include <algorithm>

#ifdef Q_OS_UNIX
#include <sys/resource.h>
#endif

namespace qxbench {

// Rounds of the benchmarks whose runs take seconds; quick ones run more.
constexpr int kRounds = 5;
constexpr int kQuickRounds = 9;

inline double median(QList<double> values)
{
    if (values.isEmpty())
        return 0;
    std::sort(values.begin(), values.end());
    const qsizetype mid = values.size() / 2;
    return values.size() % 2 ? values[mid] : (values[mid - 1] + values[mid]) / 2;
}

// "1.21 1.18 1.30": the rounds' values, for the record.
inline QByteArray listed(const QList<double> &values)
{
    QStringList parts;
    for (const double v : values)
        parts << QString::number(v, 'f', 2);
    return parts.join(QLatin1Char(' ')).toLatin1();
}

// The process's peak resident memory in MB; -1 where the platform does not tell.
inline double peakResidentMb()
{
#ifdef Q_OS_UNIX
    rusage usage{};
    if (getrusage(RUSAGE_SELF, &usage) == 0)
        return usage.ru_maxrss / 1024.0; // kilobytes on Linux
#endif
    return -1;
}

} // namespace qxbench
