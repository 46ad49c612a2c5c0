#pragma once
// What the operator is told of the link's outcome. The link only returns how
// its opening ended; the message box is shown here (the upload's outcomes are
// the request runner's to tell).

#include <QString>

namespace qx {

class MessageTable;
enum class LinkOpenResult;

// A serial port that would not open: MSG(3) and, on a second line, what was
// tried (`attempted`: "com1 → /dev/ttyS0"), titled MSG(4); an unusable TCP
// address: MSG(5) " - " the address tried, titled MSG(4). Both end with a line that says
// where the port or TCP/IP is chosen (MSG(72)): at a first start nothing
// else tells it. Returns whether the link opened.
bool ShowLinkOutcome(LinkOpenResult result, const QString &attempted, const MessageTable &msg);

} // namespace qx
