#include "commandexchange.h"

#include "commlog.h"
#include "devicelink.h"
#include "util/seams.h"
#include "util/textutil.h"

#include <QEventLoop>
#include <QScopeGuard>
#include <algorithm>
#include <cstring>

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

bool CommandExchange::SendCommand(const QByteArray &text)
{
    const bool written = m_link.write(text);
    m_log.LogLine((written ? QStringLiteral("(sent %1) ") : QStringLiteral("(not sent %1) ")).arg(text.size()) +
                      HexDump(text),
                  CommLog::Sent);
    return written;
}

bool CommandExchange::stopped() const
{
    return m_stopRequested || TerminationRequested();
}

void CommandExchange::ClearReceive()
{
    m_rx.clear();
    m_rxHead = 0;
    m_lastEnd = -1;
    m_normFrom = 0;
    RxLine.clear();
    TcpRxBuffer.clear();
}

LinkOpenResult CommandExchange::OpenLink(bool reopen)
{
    ClearReceive();
    return reopen ? m_link.reopen() : m_link.OpenLink();
}

namespace {

// The characters that normalisation turns into "|".
inline bool isLineEnd(char c)
{
    return c == '\r' || c == '\n' || c == '\0' || c == '|';
}

// The characters that complete a line by themselves; LF and NUL only count
// once one of these is there too.
inline bool completesLine(char c)
{
    return c == '\r' || c == '|';
}

} // namespace

void CommandExchange::ReceivePoll()
{
    // Only the channel in use is open: the other one gives nothing.
    appendReceived(TcpRxBuffer);
    TcpRxBuffer.clear();
    appendReceived(m_link.readSerialInput());
    limitReceived();
    if (!RxLine.isEmpty())
        return; // the waiting line has not been taken yet
    if (m_lastEnd < m_rxHead)
        return; // no CR or "|": no line is complete
    logReceived();
    normalise();
    cutLine();
}

void CommandExchange::appendReceived(const QByteArray &chunk)
{
    if (chunk.isEmpty())
        return;
    // The text before m_rxHead is moved out once it is at least half of the
    // buffer: every byte is moved a bounded number of times.
    if (m_rxHead > 0 && m_rxHead >= m_rx.size() / 2) {
        m_rx.remove(0, m_rxHead);
        m_lastEnd = std::max<qsizetype>(-1, m_lastEnd - m_rxHead);
        m_normFrom -= m_rxHead;
        m_rxHead = 0;
    }
    const qsizetype from = m_rx.size();
    m_rx.append(chunk);
    const char *d = m_rx.constData();
    for (qsizetype i = m_rx.size() - 1; i >= from; --i) {
        if (completesLine(d[i])) {
            m_lastEnd = i;
            break;
        }
    }
}

void CommandExchange::limitReceived()
{
    // Text that never ends its line must not fill the memory, whether or not
    // lines wait before it: past the limit the unfinished end of the buffer is
    // dropped (and logged); finished lines keep their place.
    const qsizetype finished = m_lastEnd >= m_rxHead ? m_lastEnd + 1 : m_rxHead;
    const qsizetype unfinished = m_rx.size() - finished;
    if (unfinished > kRxLimit) {
        m_log.LogLine(QStringLiteral("RECEIVE OVERFLOW: %1 bytes without a line end dropped").arg(unfinished),
                      CommLog::Received);
        m_rx.truncate(finished);
        // What is left before m_normFrom stays normalised; the last line end
        // is a run of its own there, so normalisation may start at it.
        if (m_normFrom > m_rx.size())
            m_normFrom = std::max(m_rxHead, m_lastEnd);
    }
    // Lines that come faster than they are taken (nobody waits, or a device
    // floods the link) must not fill it either: past the limit the oldest
    // unread lines go, down to half the limit, so that this happens rarely.
    const qsizetype size = m_rx.size() - m_rxHead;
    if (size <= kRxLimit || m_lastEnd < m_rxHead)
        return;
    const char *d = m_rx.constData();
    qsizetype cut = std::min(m_rxHead + (size - kRxLimit / 2), m_lastEnd + 1);
    while (!completesLine(d[cut - 1]))
        ++cut; // on to the end of that line (m_lastEnd at the latest)
    while (cut < m_rx.size() && isLineEnd(d[cut]))
        ++cut; // and the line ends that follow it, so no empty line is left in front
    m_log.LogLine(QStringLiteral("RECEIVE OVERFLOW: %1 bytes of unread lines dropped").arg(cut - m_rxHead),
                  CommLog::Received);
    m_rxHead = cut;
    m_normFrom = std::max(m_normFrom, m_rxHead);
}

void CommandExchange::logReceived()
{
    // The buffer as it is, before normalisation; a long one only by its start.
    const qsizetype size = m_rx.size() - m_rxHead;
    const QByteArray shown = QByteArray::fromRawData(m_rx.constData() + m_rxHead, std::min<qsizetype>(size, kLogShown));
    QString text = FromBytes(shown);
    if (size > kLogShown)
        text += QChar(0x2026) + QStringLiteral(" (%1 bytes)").arg(size);
    m_log.LogLine(text, CommLog::Received);
}

void CommandExchange::normalise()
{
    // Every CR, LF and NUL becomes "|", then "||" becomes "|" twice over, left
    // to right: a run of k line ends becomes (k + 3) / 4 of them. Only the text
    // from m_normFrom on can change, so only that is looked at.
    char *d = m_rx.data();
    const qsizetype end = m_rx.size();
    qsizetype r = m_normFrom;
    qsizetype w = m_normFrom;
    qsizetype next = -1; // where the next normalisation has to start
    qsizetype lastBar = -1;
    while (r < end) {
        const qsizetype start = r;
        if (!isLineEnd(d[r])) {
            while (r < end && !isLineEnd(d[r]))
                ++r;
            if (w != start)
                std::memmove(d + w, d + start, size_t(r - start));
            w += r - start;
            continue;
        }
        while (r < end && isLineEnd(d[r]))
            ++r;
        const qsizetype bars = (r - start + 3) / 4;
        // A run left longer than one shrinks again next time, and a run at the
        // end may grow with the next chunk.
        if (next < 0 && (bars > 1 || r == end))
            next = w;
        std::memset(d + w, '|', size_t(bars));
        w += bars;
        lastBar = w - 1;
    }
    m_rx.truncate(w);
    m_normFrom = next >= 0 ? next : w;
    if (lastBar >= 0)
        m_lastEnd = lastBar;
}

void CommandExchange::cutLine()
{
    const char *d = m_rx.constData();
    const auto *bar = static_cast<const char *>(std::memchr(d + m_rxHead, '|', size_t(m_rx.size() - m_rxHead)));
    if (!bar)
        return;
    const qsizetype at = bar - d;
    RxLine = QByteArray(d + m_rxHead, at - m_rxHead);
    m_rxHead = at + 1;
    m_normFrom = std::max(m_normFrom, m_rxHead);
    if (!RxLine.isEmpty())
        Q_EMIT lineCut();
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

bool CommandExchange::flush()
{
    return m_link.flush();
}

bool CommandExchange::linkLost() const
{
    return m_link.linkLost();
}

qint64 CommandExchange::pendingBytes() const
{
    return m_link.pendingBytes();
}

QString CommandExchange::WaitReply(const QString &prefix)
{
    if (++m_waiting == 1)
        Q_EMIT waitingChanged(true);
    const auto done = qScopeGuard([this] {
        if (--m_waiting == 0)
            Q_EMIT waitingChanged(false);
    });
    ReplyText.clear();
    m_lastWaitPolls = 0;
    bool found = false;
    int lines = kLineBudget;
    const QByteArray wanted = ToBytes(prefix);
    // Nothing can come over a link that is down: the wait ends at once, as a
    // time-out, instead of after its whole budget.
    const auto down = [this] { return !m_link.isConnected(); };
    while (!found && lines >= 1) {
        int polls = m_pollBudget;
        while (RxLine.isEmpty() && polls >= 1 && !down()) {
            pollOnce();
            ++m_lastWaitPolls;
            --polls;
            if (stopped())
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
        if (stopped() || down())
            break;
    }
    if (!found) {
        m_log.LogLine(QStringLiteral("TIMEOUT ERROR"), CommLog::Received);
        if (!stopped() && !down())
            Q_EMIT replyMissed();
    }
    return ReplyText;
}

} // namespace qx
