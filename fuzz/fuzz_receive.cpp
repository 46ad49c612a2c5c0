// The line splitter (ReceivePoll) fed arbitrary text in arbitrary pieces over
// the TCP path.
//
// Input: records of [control][length][length bytes]. Control bits 0-2 repeat
// the piece 2^k times, or with k = 7 until it passes the receive limit, bits 3-4
// add up to three empty polls after it (the 10 ms timer), bit 7 has a waiting
// reader take each presented line at once (else lines stay presented, as they
// do while no exchange runs).
//
// Checked: a presented line is never empty and never holds CR, LF, NUL or
// "|"; the received text is conserved (what the lines, the overflow drops and
// the rest of the buffer hold, without line ends, is what came in); only an
// unfinished line past the limit is ever dropped; the buffer's unfinished
// line never grows past the limit plus one piece.

#include "fuzzsupport.h"

#include "link/commandexchange.h"
#include "link/commlog.h"
#include "link/devicelink.h"
#include "settings/settings.h"

using namespace qx;

namespace {

constexpr qsizetype kInputCap = 3 << 20; // bytes fed per input, repetitions included (the limit is 1 MiB)
// Every poll rescans the whole buffer, so many queued lines in a large buffer
// cost buffer size x lines; an input stops once its polls have scanned this much.
constexpr qsizetype kScanCap = 8 << 20;

// Kept out of the fuzzer's coverage: over megabytes of text, a traced byte
// loop would cost more than the code under test.
__attribute__((no_sanitize("coverage"))) QByteArray withoutLineEnds(const QByteArray &text)
{
    QByteArray out(text.size(), Qt::Uninitialized);
    char *to = out.data();
    qsizetype n = 0;
    for (const char c : text) {
        to[n] = c;
        n += c != '\r' && c != '\n' && c != '\0' && c != '|';
    }
    out.truncate(n);
    return out;
}

// Length of the text after the last CR or "|": the line still being received.
qsizetype unfinishedLength(const QByteArray &buffer)
{
    const qsizetype end = std::max(buffer.lastIndexOf('\r'), buffer.lastIndexOf('|'));
    return buffer.size() - (end + 1);
}

struct Rig {
    LinkSettings settings;
    CommLog log;
    DeviceLink link{settings};
    CommandExchange exchange{link, log};
    Rig() { settings.ComPort = 0; } // TCP: ReceivePoll takes TcpRxBuffer; the socket is never opened
};

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzz::startApp(false);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static Rig rig;
    static qsizetype overflow = 0; // bytes the last poll dropped, from its log line
    static const bool hooked = [] {
        rig.log.setShowLog(true);
        QObject::connect(&rig.log, &CommLog::receivedChanged, [](const QString &text) {
            static const QString tag = QStringLiteral("RECEIVE OVERFLOW: ");
            if (text.startsWith(tag))
                overflow += text.mid(tag.size()).section(QLatin1Char(' '), 0, 0).toLongLong();
        });
        return true;
    }();
    (void)hooked;
    CommandExchange &ex = rig.exchange;
    ex.ClearReceive();

    QByteArray fedText; // everything fed, without line ends
    QByteArray outText; // the presented lines and the dropped text, in order
    // Dropped text may lie behind lines still queued; it is only counted, and
    // the text is then compared by length alone.
    qsizetype droppedBehind = 0;
    qsizetype fed = 0;
    qsizetype lastPiece = 0;
    qsizetype scanned = 0;

    const auto poll = [&](bool take) {
        // Shallow copies: the text is only looked at when it vanished.
        const QByteArray before = ex.RxBuffer;
        const QByteArray arriving = ex.TcpRxBuffer;
        scanned += before.size() + arriving.size();
        const bool hadLine = !ex.RxLine.isEmpty();
        overflow = 0;
        ex.ReceivePoll();
        QX_FUZZ_CHECK(ex.TcpRxBuffer.isEmpty());
        if (overflow > 0) {
            // Only the unfinished end of what had arrived may go, and only past the limit.
            const QByteArray all = before + arriving;
            const QByteArray lost = all.right(overflow);
            QX_FUZZ_CHECK(lost.size() > CommandExchange::kRxLimit && !lost.contains('\r') && !lost.contains('|'));
            droppedBehind += withoutLineEnds(lost).size();
        }
        if (!hadLine && !ex.RxLine.isEmpty()) {
            const QByteArray &line = ex.RxLine;
            QX_FUZZ_CHECK(!line.contains('\r') && !line.contains('\n') && !line.contains('\0') && !line.contains('|'));
            outText += line;
        }
        QX_FUZZ_CHECK(unfinishedLength(ex.RxBuffer) <= CommandExchange::kRxLimit + lastPiece);
        if (take)
            ex.RxLine.clear();
    };

    size_t pos = 0;
    while (pos + 1 < size && fed < kInputCap && scanned < kScanCap) {
        const uint8_t control = data[pos];
        const size_t n = std::min<size_t>(data[pos + 1], size - pos - 2);
        const QByteArray original(reinterpret_cast<const char *>(data + pos + 2), qsizetype(n));
        pos += 2 + n;
        // 1 to 64 copies, or (7) as many as pass the receive limit.
        const qsizetype copies = (control & 7) == 7 ? CommandExchange::kRxLimit / std::max<qsizetype>(1, n) + 1
                                                    : qsizetype(1) << (control & 7);
        const qsizetype times = std::min(copies, (kInputCap - fed) / std::max<qsizetype>(1, n) + 1);
        const QByteArray piece = original.repeated(times);
        fedText += withoutLineEnds(original).repeated(times);
        fed += piece.size();
        if (!piece.isEmpty())
            lastPiece = piece.size();
        const bool take = control & 0x80;

        ex.TcpRxBuffer += piece;
        poll(take);
        for (int k = (control >> 3) & 3; k > 0; --k)
            poll(take);
    }
    // The reader takes whatever is still queued; every poll cuts one line,
    // empty lines included.
    const auto queued = [&] { return !ex.RxLine.isEmpty() || ex.RxBuffer.contains('\r') || ex.RxBuffer.contains('|'); };
    while (queued() && scanned < kScanCap) {
        ex.RxLine.clear();
        poll(false);
    }
    const QByteArray rest = withoutLineEnds(ex.RxBuffer);
    if (droppedBehind > 0)
        QX_FUZZ_CHECK(queued() || outText.size() + droppedBehind + rest.size() == fedText.size());
    else if (queued())
        QX_FUZZ_CHECK(fedText.startsWith(outText));
    else
        QX_FUZZ_CHECK(outText + rest == fedText);
    return 0;
}
