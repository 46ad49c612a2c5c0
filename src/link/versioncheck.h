#pragma once
// The firmware check made before every bank upload.

#include <QString>

namespace qx {

class CommandExchange;

// Asks "#VERSION?" and returns "major.minor" of the reply ("." when none).
QString QueryVersion(CommandExchange &exchange);

// Whether a "major.minor" version is recent enough for bank uploads (2.12 on),
// and when not, whether the device told an old one or no usable one.
enum class VersionVerdict { Accepted, Old, NoReply };
VersionVerdict JudgeVersion(const QString &version);

// Queries and judges the version; a refusal stops the exchange. The caller
// tells the operator.
VersionVerdict CheckVersion(CommandExchange &exchange);

} // namespace qx
