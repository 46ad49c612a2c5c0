// The line splitter (ReceivePoll) fed arbitrary text in arbitrary pieces over
// the TCP path.
//
// Input: records of [control][length][length bytes]. Control bits 0-2 repeat
// the piece 2^k times, or with k = 7 until it passes the receive limit, bits 3-4
// add up to three empty polls after it (the 10 ms timer), bit 7 has a waiting
// reader take each presented line at once (else lines stay presented, as they
// do while no exchange runs).
//
// Checked against a plain model of the splitter that normalises and logs the
// whole buffer on every cut (the exchange does the same work incrementally):
// the same line, the same buffer and the same log lines after every poll, up
// to the first time the exchange drops unread lines (the model keeps them).
// Checked throughout: a presented line is never empty and never holds CR, LF,
// NUL or "|"; the received text is conserved (what the lines, the dropped
// text and the rest of the buffer hold, without line ends, is what came in);
// only an unfinished line past the limit, or the oldest unread lines, are
// dropped; the buffer never holds more than the limit after a poll.

#include "fuzzsupport.h"

#include "link/commandexchange.h"
#include "link/commlog.h"
#include "link/devicelink.h"
#include "settings/settings.h"

using namespace qx;

namespace {

constexpr qsizetype kInputCap = 3 << 20; // bytes fed per input, repetitions included (the limit is 1 MiB)
// The model rescans the whole buffer on every poll, so many queued lines in a
// large buffer cost buffer size x lines; an input stops once this much was
// scanned (or polled, see kPollCost).
constexpr qsizetype kScanCap = 8 << 20;
// What a poll costs besides the buffer: its log line and the checks. Counted
// too, so that an input that queues a million one-byte lines also stops.
constexpr qsizetype kPollCost = 256;
const QString kUnfinishedTag = QStringLiteral("RECEIVE OVERFLOW: ");
const QString kUnfinishedEnd = QStringLiteral(" bytes without a line end dropped");
const QString kUnreadEnd = QStringLiteral(" bytes of unread lines dropped");

bool isLineEnd(char c)
{
    return c == '\r' || c == '\n' || c == '\0' || c == '|';
}

// Kept out of the fuzzer's coverage: over megabytes of text, a traced byte
// loop would cost more than the code under test.
__attribute__((no_sanitize("coverage"))) QByteArray withoutLineEnds(const QByteArray &text)
{
    QByteArray out(text.size(), Qt::Uninitialized);
    char *to = out.data();
    qsizetype n = 0;
    for (const char c : text) {
        to[n] = c;
        n += !isLineEnd(c);
    }
    out.truncate(n);
    return out;
}

// The splitter written the plain way: the whole buffer is searched, logged
// and normalised with replace() on every cut.
struct Model {
    QByteArray buffer;
    QByteArray line;
    QStringList logged;

    __attribute__((no_sanitize("coverage"))) void poll(const QByteArray &chunk)
    {
        buffer += chunk;
        if (buffer.size() > CommandExchange::kRxLimit) {
            const qsizetype lastEnd = std::max(buffer.lastIndexOf('\r'), buffer.lastIndexOf('|'));
            const qsizetype unfinished = buffer.size() - (lastEnd + 1);
            if (unfinished > CommandExchange::kRxLimit) {
                logged << kUnfinishedTag + QString::number(unfinished) + kUnfinishedEnd;
                buffer.truncate(lastEnd + 1);
            }
        }
        if (!line.isEmpty() || (!buffer.contains('\r') && !buffer.contains('|')))
            return;
        QString shown = QString::fromLatin1(buffer.left(CommandExchange::kLogShown));
        if (buffer.size() > CommandExchange::kLogShown)
            shown += QChar(0x2026) + QStringLiteral(" (%1 bytes)").arg(buffer.size());
        logged << shown;
        buffer.replace('\r', '|').replace('\n', '|').replace('\0', '|');
        buffer.replace("||", "|").replace("||", "|");
        const qsizetype bar = buffer.indexOf('|');
        line = buffer.left(bar);
        buffer.remove(0, bar + 1);
    }
};

struct Rig {
    LinkSettings settings;
    CommLog log;
    DeviceLink link{settings};
    CommandExchange exchange{link, log};
    Rig() { settings.ComPort = 0; } // TCP settings; the socket is never opened, ReceivePoll takes TcpRxBuffer
};

// The byte count of an overflow log line with the given ending, or -1.
qsizetype droppedBytes(const QString &text, const QString &ending)
{
    if (!text.startsWith(kUnfinishedTag) || !text.endsWith(ending))
        return -1;
    return text.mid(kUnfinishedTag.size(), text.size() - kUnfinishedTag.size() - ending.size()).toLongLong();
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzz::startApp(false);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static Rig rig;
    static QStringList logged; // the received lines logged by the last poll
    static int cuts = 0;       // lineCut signals of the last poll
    static const bool hooked = [] {
        rig.log.setShowLog(true);
        QObject::connect(&rig.log, &CommLog::receivedChanged, [](const QString &text) { logged << text; });
        QObject::connect(&rig.exchange, &CommandExchange::lineCut, [] { ++cuts; });
        return true;
    }();
    (void)hooked;
    CommandExchange &ex = rig.exchange;
    ex.ClearReceive();
    Model model;
    bool inStep = true; // the model still holds what the exchange holds

    QByteArray fedText; // everything fed, without line ends
    QByteArray outText; // the presented lines and the dropped unread lines, in order
    // Unfinished text dropped behind lines still queued; it is only counted,
    // and the text is then compared by length alone.
    qsizetype droppedBehind = 0;
    qsizetype fed = 0;
    qsizetype scanned = 0;

    const auto poll = [&](bool take) {
        const QByteArray arriving = ex.tcpPending();
        // Only a poll that ends above the limit drops anything; then the text
        // before it is needed to see what went.
        const bool mayDrop = ex.rxBufferSize() + arriving.size() > CommandExchange::kRxLimit;
        QByteArray all = mayDrop ? ex.rxBuffer() + arriving : QByteArray();
        scanned += all.size() + kPollCost;
        const bool hadLine = !ex.rxLine().isEmpty();
        logged.clear();
        cuts = 0;
        ex.ReceivePoll();
        QX_FUZZ_CHECK(ex.tcpPending().isEmpty());
        QX_FUZZ_CHECK(ex.rxBufferSize() <= CommandExchange::kRxLimit);
        for (const QString &text : std::as_const(logged)) {
            const qsizetype unfinished = droppedBytes(text, kUnfinishedEnd);
            const qsizetype unread = droppedBytes(text, kUnreadEnd);
            QX_FUZZ_CHECK(mayDrop || (unfinished < 0 && unread < 0));
            if (unfinished > 0) {
                // Only the unfinished end of what had arrived may go, and only past the limit.
                const QByteArray lost = all.right(unfinished);
                QX_FUZZ_CHECK(lost.size() > CommandExchange::kRxLimit && !lost.contains('\r') && !lost.contains('|'));
                droppedBehind += withoutLineEnds(lost).size();
                all.chop(unfinished);
            } else if (unread > 0) {
                // The oldest unread lines, whole, with the line ends after them.
                const QByteArray lost = all.left(unread);
                QX_FUZZ_CHECK(lost.size() <= all.size() && isLineEnd(lost.back()));
                QX_FUZZ_CHECK(lost.size() == all.size() || !isLineEnd(all[lost.size()]));
                outText += withoutLineEnds(lost);
                all.remove(0, unread);
                inStep = false;
            }
        }
        if (inStep) {
            model.poll(arriving);
            scanned += model.buffer.size();
            QX_FUZZ_CHECK(ex.rxLine() == model.line);
            // Large buffers by their size and ends: a full copy per poll would
            // cost more than the rest.
            const QByteArray buffer = ex.rxBuffer();
            QX_FUZZ_CHECK(buffer.size() == model.buffer.size());
            if (buffer.size() <= 4096)
                QX_FUZZ_CHECK(buffer == model.buffer);
            else
                QX_FUZZ_CHECK(buffer.first(2048) == model.buffer.first(2048) &&
                              buffer.last(2048) == model.buffer.last(2048));
            QX_FUZZ_CHECK(logged == model.logged);
            model.logged.clear();
        }
        QX_FUZZ_CHECK(cuts == (!hadLine && !ex.rxLine().isEmpty() ? 1 : 0));
        if (!hadLine && !ex.rxLine().isEmpty()) {
            const QByteArray line = ex.rxLine();
            QX_FUZZ_CHECK(!line.contains('\r') && !line.contains('\n') && !line.contains('\0') && !line.contains('|'));
            outText += line;
        }
        if (take) {
            ex.takeRxLine();
            model.line.clear();
        }
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
        const bool take = control & 0x80;

        ex.feedTcp(piece);
        poll(take);
        for (int k = (control >> 3) & 3; k > 0; --k)
            poll(take);
    }
    // The reader takes whatever is still queued; every poll cuts one line,
    // empty lines included, until a poll changes nothing.
    bool queued = true;
    while (queued && scanned < kScanCap) {
        ex.takeRxLine();
        model.line.clear();
        const qsizetype before = ex.rxBufferSize();
        poll(false);
        queued = !ex.rxLine().isEmpty() || ex.rxBufferSize() != before;
    }
    const QByteArray rest = withoutLineEnds(ex.rxBuffer());
    if (droppedBehind > 0)
        QX_FUZZ_CHECK(queued || outText.size() + droppedBehind + rest.size() == fedText.size());
    else if (queued)
        QX_FUZZ_CHECK(fedText.startsWith(outText));
    else
        QX_FUZZ_CHECK(outText + rest == fedText);
    return 0;
}
