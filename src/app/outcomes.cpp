#include "outcomes.h"

#include "language/messagetable.h"
#include "link/devicelink.h"
#include "util/seams.h"

namespace qx {

bool ShowLinkOutcome(LinkOpenResult result, const QString &attempted, const MessageTable &msg)
{
    switch (result) {
    case LinkOpenResult::Opened:
        return true;
    case LinkOpenResult::SerialFailed:
        MessageBox(msg(3) + QStringLiteral("\r\n") + attempted + QStringLiteral("\r\n") + msg(72), msg(4));
        break;
    case LinkOpenResult::TcpFailed:
        MessageBox(msg(5) + QStringLiteral(" - ") + attempted + QStringLiteral("\r\n") + msg(72), msg(4));
        break;
    }
    return false;
}

} // namespace qx
