#include "commandexchange.h"

#include "commlog.h"
#include "devicelink.h"
#include "util/seams.h"
#include "util/textutil.h"

#include <QEventLoop>
#include <algorithm>

namespace qx {

CommandExchange::CommandExchange(DeviceLink &link, CommLog &log, QObject *parent)
    : QObject(parent), m_link(link), m_log(log)
{
    Timer1.setInterval(10);
    connect(&Timer1, &QTimer::timeout, this, &CommandExchange::ReceivePoll);
    Timer_time.setInterval(100);
    connect(&Timer_time, &QTimer::timeout, this, [this] {
        // The mask wraps the counter from 16,777,215 to 0.
        TimeTicks = (TimeTicks + 1) & 0x10FFFFFF;
    });
    Timer_time.start();
    connect(&m_link, &DeviceLink::serialDataArrived, this, &CommandExchange::ReceivePoll);
    connect(&m_link, &DeviceLink::socketDataArrived, this, [this] {
        TcpRxBuffer += m_link.readSocketData();
        ReceivePoll();
    });
}

void CommandExchange::SendCommand(const QByteArray &text)
{
    m_log.LogLine(QStringLiteral("(sent %1) ").arg(text.size()) + HexDump(text), CommLog::Sent);
    m_link.write(text);
}

bool CommandExchange::stopped() const
{
    return StopRequested || TerminationRequested();
}

void CommandExchange::ClearReceive()
{
    RxBuffer.clear();
    RxLine.clear();
    TcpRxBuffer.clear();
}

LinkOpenResult CommandExchange::OpenLink()
{
    ClearReceive();
    return m_link.OpenLink();
}

void CommandExchange::ReceivePoll()
{
    if (m_link.isTcp()) {
        RxBuffer += TcpRxBuffer;
        TcpRxBuffer.clear();
    } else {
        RxBuffer += m_link.readSerialInput();
    }
    // Text that never ends its line must not fill the memory, whether or not
    // lines wait before it: past the limit the unfinished end of the buffer is
    // dropped (and logged); finished lines keep their place.
    if (RxBuffer.size() > kRxLimit) {
        const qsizetype lastEnd = std::max(RxBuffer.lastIndexOf('\r'), RxBuffer.lastIndexOf('|'));
        const qsizetype unfinished = RxBuffer.size() - (lastEnd + 1);
        if (unfinished > kRxLimit) {
            m_log.LogLine(QStringLiteral("RECEIVE OVERFLOW: %1 bytes without a line end dropped").arg(unfinished),
                          CommLog::Received);
            RxBuffer.truncate(lastEnd + 1);
        }
    }
    if (!RxLine.isEmpty())
        return; // the waiting line has not been taken yet
    if (!RxBuffer.contains('\r') && !RxBuffer.contains('|'))
        return; // no line is complete
    m_log.LogLine(FromBytes(RxBuffer), CommLog::Received);
    RxBuffer.replace('\r', '|');
    RxBuffer.replace('\n', '|');
    RxBuffer.replace('\0', '|');
    RxBuffer.replace("||", "|");
    RxBuffer.replace("||", "|");
    const int bar = int(RxBuffer.indexOf('|'));
    if (bar >= 0) {
        RxLine = RxBuffer.left(bar);
        RxBuffer.remove(0, bar + 1);
        if (!RxLine.isEmpty())
            Q_EMIT lineCut();
    }
}

void CommandExchange::pollOnce()
{
    // One poll: process events for the poll length, but end the moment a line
    // has been cut, so a reply is taken as soon as it is there.
    QEventLoop loop;
    QTimer timer;
    timer.setTimerType(Qt::PreciseTimer);
    timer.setSingleShot(true);
    connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    connect(this, &CommandExchange::lineCut, &loop, &QEventLoop::quit);
    connect(&m_link, &DeviceLink::lost, &loop, &QEventLoop::quit);
    timer.start(m_pollMs);
    loop.exec();
}

void CommandExchange::WaitReply(const QString &prefix)
{
    ReplyText.clear();
    bool found = false;
    int lines = kLineBudget;
    const QByteArray wanted = ToBytes(prefix);
    while (!found && lines >= 1) {
        int polls = kPollBudget;
        while (RxLine.isEmpty() && polls >= 1) {
            pollOnce();
            --polls;
            if (stopped() || m_link.linkLost())
                break;
        }
        if (!RxLine.isEmpty()) {
            if (wanted.isEmpty() || RxLine.startsWith(wanted)) {
                found = true;
                ReplyText = TrimBlanks(FromBytes(RxLine));
            }
            RxLine.clear();
        }
        --lines;
        if (stopped() || m_link.linkLost())
            break;
    }
    if (!found)
        m_log.LogLine(QStringLiteral("TIMEOUT ERROR"), CommLog::Received);
}

} // namespace qx
