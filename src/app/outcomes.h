#pragma once
// What the operator is told of the link's and the upload's outcomes. The
// link and the upload only return how they ended; the window shows the
// message box here, one place for each kind of outcome.

namespace qx {

class DeviceLink;
class MessageTable;
enum class LinkOpenResult;
enum class UploadOutcome;

// A serial port that would not open: MSG(3) and, on a second line, what was
// tried ("com1 → /dev/ttyS0"), titled MSG(4); an unusable TCP address:
// MSG(5) " - " TcpSettings titled MSG(4). Both end with a line that says
// where the port or TCP/IP is chosen (MSG(72)): at a first start nothing
// else tells it. Returns whether the link opened.
bool ShowLinkOutcome(LinkOpenResult result, const DeviceLink &link, const MessageTable &msg);

// Old firmware: MSG(16) titled MSG(17); no usable version reply or a dead link
// during the upload: MSG(22) titled MSG(4). Nothing for a finished or stopped upload.
void ShowUploadOutcome(UploadOutcome outcome, const MessageTable &msg);

} // namespace qx
