#pragma once
// The firmware check made before every bank upload.

#include <QString>

namespace qx {

class CommandExchange;
class MessageTable;

// Asks "#VERSION?" and returns "major.minor" of the reply ("." when none).
QString QueryVersion(CommandExchange &exchange);

// Whether a "major.minor" version is recent enough for bank uploads (2.12 on).
bool VersionAccepted(const QString &version);

enum class VersionVerdict { Accepted, Old, NoReply };
VersionVerdict JudgeVersion(const QString &version);

// Queries and judges the version. On refusal shows the message (old firmware:
// MSG(16)/MSG(17); no usable reply: MSG(22)/MSG(4)) and sets StopRequested.
VersionVerdict CheckVersion(CommandExchange &exchange, const MessageTable &msg);

} // namespace qx
