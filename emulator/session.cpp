// The device's side of one conversation: commands in, replies out, and the
// packets of a bank upload.

#include "emulator_p.h"

#include <cstring>

namespace qx7emu::detail {

namespace {

constexpr int kMaxCommandLength = 256; // longer lines are answered with an error
constexpr int kMaxPacketData = 144;
constexpr int kFragmentSize = 3; // bytes per piece with the fragment option
constexpr int kFragmentPauseMs = 1;
constexpr int kStreamChunk = 64 * 1024; // text of the stream-no-eol option per tick
constexpr int kStreamTickMs = 10;
constexpr qint64 kStreamBacklog = 256 * 1024; // no more while this much is still waiting to go out
constexpr int kFloodTickMs = 1;
constexpr qint64 kFloodBacklog = 1024 * 1024; // flood lines are topped up to this much waiting output
constexpr int kDeafTickMs = 1;
constexpr qint64 kDeafBacklog = 4096; // no acknowledgement while this much is still waiting to go out

// Printable text without CR, LF, NUL or "|", which a receiver could take as a line end.
const QByteArray &streamChunk()
{
    static const QByteArray chunk = [] {
        static const char pattern[] = "STREAM WITHOUT LINE END 0123456789 ";
        QByteArray text;
        text.reserve(kStreamChunk);
        while (text.size() < kStreamChunk)
            text.append(pattern, int(sizeof pattern - 1));
        text.truncate(kStreamChunk);
        return text;
    }();
    return chunk;
}

void appendNumber(QByteArray &out, qint64 value)
{
    char digits[24];
    int n = 0;
    quint64 v = value < 0 ? quint64(-value) : quint64(value);
    do {
        digits[n++] = char('0' + v % 10);
        v /= 10;
    } while (v);
    if (value < 0)
        out.append('-');
    while (n)
        out.append(digits[--n]);
}

// A plain decimal number (blanks around it allowed); -1 when the field is not one.
qint64 fieldValue(const QByteArray &field)
{
    const QByteArray text = field.trimmed();
    if (text.isEmpty() || text.size() > 9)
        return -1;
    qint64 value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return -1;
        value = value * 10 + (c - '0');
    }
    return value;
}

} // namespace

Session::Session(Worker &worker, QObject *parent) : QObject(parent), m_worker(worker)
{
    m_line.reserve(kMaxCommandLength + 1);
    m_packet.reserve(4 + kMaxPacketData + 2);
    m_out.reserve(128);
    m_outputTimer.setSingleShot(true);
    m_outputTimer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&m_outputTimer, &QTimer::timeout, this, [this] { pumpOutput(); });
    m_streamTimer.setInterval(kStreamTickMs);
    QObject::connect(&m_streamTimer, &QTimer::timeout, this, [this] { streamTick(); });
    m_floodTimer.setInterval(kFloodTickMs);
    QObject::connect(&m_floodTimer, &QTimer::timeout, this, [this] { floodTick(); });
    m_deafTimer.setInterval(kDeafTickMs);
    QObject::connect(&m_deafTimer, &QTimer::timeout, this, [this] { deafTick(); });
}

Session::~Session()
{
    if (m_flooding)
        m_worker.floodRunning(false);
}

void Session::resetParser()
{
    abandonUpload();
    m_terminator = Terminator::None;
    m_lastCommand = -1;
    m_sessionPackets = 0;
    m_sessionCommands = 0;
    m_muted = false;
    m_queue.clear();
    m_outputTimer.stop();
    m_streaming = false;
    m_streamTimer.stop();
    if (m_flooding)
        stopFlood();
    m_floodSent = 0; // a new client is flooded again after its first command
    m_deafTimer.stop();
}

void Session::feed(const char *data, qint64 size)
{
    m_worker.options(); // picks up options changed since the last read
    qint64 pos = 0;
    while (pos < size && !m_closing && !m_deaf) {
        const char c = data[pos];
        // The end of the previous command may continue here: CR, then LF, then NUL.
        if (m_terminator == Terminator::AfterCr && c == '\n') {
            m_worker.appendToRaw(m_lastCommand, c);
            m_terminator = Terminator::AfterLf;
            ++pos;
            continue;
        }
        if (m_terminator == Terminator::AfterLf && c == '\0') {
            m_worker.appendToRaw(m_lastCommand, c);
            m_terminator = Terminator::None;
            ++pos;
            continue;
        }
        m_terminator = Terminator::None;
        pos = m_mode == Mode::Command ? feedCommand(data, pos, size) : feedPacket(data, pos, size);
    }
}

qint64 Session::feedCommand(const char *data, qint64 pos, qint64 size)
{
    if (!m_inLine) {
        // The parser synchronises on '#': line ends, NULs and stray bytes before a command are dropped.
        const void *hash = std::memchr(data + pos, '#', size_t(size - pos));
        if (!hash)
            return size;
        pos = static_cast<const char *>(hash) - data;
        m_inLine = true;
        m_lineTooLong = false;
        m_line.resize(0);
    }
    const void *cr = std::memchr(data + pos, '\r', size_t(size - pos));
    const qint64 end = cr ? static_cast<const char *>(cr) - data : size;
    if (!m_lineTooLong) {
        if (m_line.size() + (end - pos) > kMaxCommandLength)
            m_lineTooLong = true;
        else
            m_line.append(data + pos, end - pos);
    }
    if (!cr)
        return size;

    // The command ends with CR; an LF and then a NUL may follow. Take them now
    // when they came with it, so the recorded command is complete before it is answered.
    QByteArray raw = m_line;
    raw.append('\r');
    qint64 next = end + 1;
    m_terminator = Terminator::AfterCr;
    if (next < size) {
        m_terminator = Terminator::None;
        if (data[next] == '\n') {
            raw.append('\n');
            ++next;
            m_terminator = Terminator::AfterLf;
            if (next < size) {
                m_terminator = Terminator::None;
                if (data[next] == '\0') {
                    raw.append('\0');
                    ++next;
                }
            }
        }
    }
    m_inLine = false;
    m_lastCommand = m_worker.recordCommand(m_line, raw);
    if (m_lineTooLong)
        error("command too long");
    else
        dispatch(m_line);
    const int dropAfter = m_worker.options().dropAfterCommands;
    if (dropAfter > 0 && ++m_sessionCommands >= dropAfter && !m_closing) {
        if (m_worker.logging())
            m_worker.log("conn", "dropped after the set number of commands");
        dropConnection();
        return size;
    }
    if (m_worker.options().streamNoEol && !m_streaming)
        startStream();
    if (m_worker.options().flood && !m_flooding && m_floodSent == 0)
        startFlood();
    return next;
}

void Session::dispatch(const QByteArray &line)
{
    const QByteArray body = line.mid(1); // after '#'
    const int space = body.indexOf(' ');
    const QByteArray word = (space < 0 ? body : body.left(space)).toUpper();
    const QByteArray args = space < 0 ? QByteArray() : body.mid(space + 1).trimmed();
    const QList<QByteArray> fields = args.isEmpty() ? QList<QByteArray>() : args.split(',');

    if (word.isEmpty()) {
        if (args.isEmpty())
            reply(QByteArrayLiteral("~01@ OK"));
        else
            error("unknown command");
    } else if (word == "VERSION?") {
        if (args.isEmpty())
            reply("~01@VERSION " + m_worker.options().version.toLatin1());
        else
            error("unexpected parameters");
    } else if (word == "Y" && m_worker.options().readings.contains(line)) {
        if (!m_worker.options().readings.value(line).isEmpty()) // "": never answered
            reply("~01@Y 1," + fields.value(1) + ',' + m_worker.options().readings.value(line));
    } else if (word == "Y") {
        handleY(fields);
    } else if (word == "PRST-RCL") {
        const qint64 preset = fields.size() == 1 ? fieldValue(fields[0]) : -1;
        if (preset < 1 || preset > 16)
            return error("preset out of range");
        {
            QMutexLocker lock(&m_worker.shared().mutex);
            DeviceState &state = m_worker.shared().state;
            const int param204 = state.param204;
            state = presetLayout(int(preset));
            state.param204 = param204;
        }
        QByteArray answer = QByteArrayLiteral("~01@PRST-RCL ");
        appendNumber(answer, preset);
        reply(answer);
    } else if (word == "LDIM") {
        handleLdim(fields);
    } else {
        error("unknown command");
    }
}

void Session::handleY(const QList<QByteArray> &fields)
{
    if (fields.size() < 2)
        return error("missing parameters");
    const qint64 access = fieldValue(fields[0]); // 1 reads, 0 writes
    const qint64 param = fieldValue(fields[1]);
    if (access != 0 && access != 1)
        return error("bad access");
    QList<qint64> values;
    for (int i = 2; i < fields.size(); ++i) {
        const qint64 v = fieldValue(fields[i]);
        if (v < 0)
            return error("bad number");
        values.append(v);
    }

    QByteArray answer = QByteArrayLiteral("~01@Y ");
    appendNumber(answer, access);
    answer.append(',');
    appendNumber(answer, param);
    {
        QMutexLocker lock(&m_worker.shared().mutex);
        DeviceState &s = m_worker.shared().state;
        if (access == 1) {
            // A read answers the value, then the window number when one was given.
            qint64 value = 0;
            switch (param) {
            case 201: // full screen and parameter 204 are one value for the device
            case 204:
                if (values.size() > 1 || (values.size() == 1 && values[0] > 3))
                    return error("bad window");
                value = param == 201 ? s.fullScreen : s.param204;
                break;
            case 300:
            case 302:
                if (values.size() != 1)
                    return error("missing window");
                if (values[0] > 3)
                    return error("window out of range");
                value = param == 300 ? s.windows[values[0]].input : (s.windows[values[0]].enabled ? 1 : 0);
                break;
            case 337:
            case 338:
                if (values.size() != 1)
                    return error("missing window");
                if (values[0] > 4)
                    return error("window out of range");
                value = values[0] == 4 ? s.backgroundBank : s.windows[values[0]].bank;
                break;
            default:
                return error("unknown parameter");
            }
            answer.append(',');
            appendNumber(answer, value);
        } else {
            // A write gives the value, then the window number.
            switch (param) {
            case 201:
            case 204:
                if (values.isEmpty() || values.size() > 2 || (values.size() == 2 && values[1] > 3))
                    return error("bad parameters");
                if (values[0] > 1)
                    return error("value out of range");
                (param == 201 ? s.fullScreen : s.param204) = int(values[0]);
                break;
            case 300:
            case 302:
                if (values.size() != 2)
                    return error("bad parameters");
                if (values[1] > 3)
                    return error("window out of range");
                if (values[0] > (param == 300 ? 15 : 1))
                    return error("value out of range");
                if (param == 300)
                    s.windows[values[1]].input = int(values[0]);
                else
                    s.windows[values[1]].enabled = values[0] != 0;
                break;
            case 337:
                if (values.size() != 2)
                    return error("bad parameters");
                if (values[1] > 4)
                    return error("window out of range");
                if (values[0] > 4)
                    return error("value out of range");
                (values[1] == 4 ? s.backgroundBank : s.windows[values[1]].bank) = int(values[0]);
                break;
            default:
                return error("unknown parameter");
            }
        }
    }
    for (const qint64 v : values) {
        answer.append(',');
        appendNumber(answer, v);
    }
    reply(answer);
}

void Session::handleLdim(const QList<QByteArray> &fields)
{
    if (fields.size() != 2)
        return error("bad parameters");
    const qint64 size = fieldValue(fields[0]);
    const qint64 bank = fieldValue(fields[1]);
    if (size < 8 || size > kMaxBankImageBytes)
        return error("image size out of range");
    if (bank < 0 || bank > 3)
        return error("bank out of range");

    m_mode = Mode::Packets;
    m_uploadSize = size;
    m_uploadBank = int(bank);
    m_expectedNumber = 1;
    m_packet.resize(0);
    m_packetLength = 0;
    m_image = QByteArray();
    m_image.reserve(size);

    if (m_worker.options().noLdimReply) {
        if (m_worker.logging())
            m_worker.log("rep", "(left unanswered)");
        return;
    }
    QByteArray answer = QByteArrayLiteral("~01@LDIM ");
    appendNumber(answer, size);
    answer.append(',');
    appendNumber(answer, bank);
    reply(answer);
}

qint64 Session::feedPacket(const char *data, qint64 pos, qint64 size)
{
    if (m_packet.isEmpty() && data[pos] == '#' && (m_expectedNumber >> 8) != '#') {
        // Not the packet expected but a command: the sender has given up the
        // upload (a stopped load resynchronises with "# "). The '#' is read again
        // as the start of that command.
        if (m_worker.logging())
            m_worker.log("pkt", "command instead of a packet");
        abandonUpload();
        error("upload abandoned");
        return pos;
    }
    if (m_packet.size() < 4) {
        const qint64 take = qMin<qint64>(4 - m_packet.size(), size - pos);
        m_packet.append(data + pos, take);
        pos += take;
        if (m_packet.size() < 4)
            return pos;
        const auto *h = reinterpret_cast<const uchar *>(m_packet.constData());
        m_packetLength = (h[2] << 8) | h[3];
        if (m_worker.logging()) {
            QByteArray text = QByteArrayLiteral("number ");
            appendNumber(text, (h[0] << 8) | h[1]);
            text.append(" length ");
            appendNumber(text, m_packetLength);
            m_worker.log("pkt", text);
        }
        if (m_packetLength < 3 || m_packetLength > kMaxPacketData + 2) {
            // Without a believable length the end of the packet cannot be found: give up at once.
            abandonUpload();
            packetDone("~01@ERR bad packet length");
            return pos;
        }
    }
    const qint64 total = 4 + m_packetLength; // header, data, two trailer bytes
    const qint64 take = qMin<qint64>(total - m_packet.size(), size - pos);
    m_packet.append(data + pos, take);
    pos += take;
    if (m_packet.size() == total)
        judgePacket();
    return pos;
}

void Session::judgePacket()
{
    const auto *p = reinterpret_cast<const uchar *>(m_packet.constData());
    const int number = (p[0] << 8) | p[1];
    const int dataSize = m_packetLength - 2;

    const char *fault = nullptr;
    if (number != m_expectedNumber)
        fault = "~01@ERR packet out of sequence";
    else if (dataSize > m_uploadSize - m_image.size())
        fault = "~01@ERR too much data";
    else if (p[4 + dataSize] != 0 || p[5 + dataSize] != 0)
        fault = "~01@ERR bad packet trailer";
    if (fault) {
        abandonUpload();
        return packetDone(fault);
    }

    m_image.append(m_packet.constData() + 4, dataSize);
    m_packet.resize(0);
    ++m_expectedNumber;

    QByteArray answer;
    if (m_image.size() == m_uploadSize) {
        int width = 0;
        int height = 0;
        if (parseBankHeader(m_image, &width, &height)) {
            m_worker.storeBank(m_uploadBank, m_image, width, height);
        } else {
            answer = QByteArrayLiteral("~01@ERR bad image header");
        }
        abandonUpload(); // the upload is over either way
    }
    if (answer.isEmpty() && number != m_worker.options().dropAck) {
        answer = QByteArrayLiteral("~01@ACK ");
        appendNumber(answer, number);
    }
    packetDone(answer);
}

void Session::packetDone(const QByteArray &answer)
{
    m_worker.countPacket();
    ++m_sessionPackets;
    const int limit = m_worker.options().disconnectAfterPackets;
    if (limit > 0 && m_sessionPackets >= limit) {
        if (m_worker.logging())
            m_worker.log("conn", "dropped after the set number of packets");
        dropConnection();
        return;
    }
    if (!answer.isEmpty())
        reply(answer);
    const int deaf = m_worker.options().deafAfterPackets;
    if (deaf > 0 && m_sessionPackets >= deaf && !m_deaf)
        startDeaf();
}

void Session::abandonUpload()
{
    m_mode = Mode::Command;
    m_inLine = false;
    m_packet.resize(0);
    m_packetLength = 0;
    m_image = QByteArray();
}

void Session::error(const char *reason)
{
    reply(QByteArrayLiteral("~01@ERR ") + reason);
}

void Session::reply(const QByteArray &text)
{
    const Options &o = m_worker.options();
    // A streaming device sends no line end at all, so no reply either.
    const bool quiet = o.silent || m_muted || m_closing || m_streaming;
    if (m_worker.logging())
        m_worker.log(quiet ? "rep (not sent)" : "rep", text);
    if (quiet)
        return;

    m_out.resize(0);
    if (o.garbage > 0)
        appendGarbage(m_out, o.garbage);
    for (int k = 0; k < o.noise; ++k) {
        const qint64 start = m_out.size();
        m_out.append("~01@NOISE ");
        appendNumber(m_out, m_worker.nextNoise());
        if (m_worker.logging())
            m_worker.log("rep", m_out.mid(start));
        m_out.append("\r\n");
    }
    m_out.append(text);
    m_out.append("\r\n");

    if (!o.fragment && o.replyDelayMs <= 0 && m_queue.empty()) {
        writeBytes(m_out.constData(), m_out.size());
        return;
    }
    m_queue.push_back({m_worker.elapsedMs() + qMax(0, o.replyDelayMs), m_out, 0});
    if (!m_outputTimer.isActive())
        pumpOutput();
}

void Session::pumpOutput()
{
    while (!m_queue.empty() && !m_closing) {
        Pending &next = m_queue.front();
        const qint64 wait = next.due - m_worker.elapsedMs();
        if (wait > 0) {
            m_outputTimer.start(int(wait));
            return;
        }
        if (m_worker.options().fragment) {
            // One small piece now, the rest after a short pause.
            const qint64 n = qMin<qint64>(kFragmentSize, next.bytes.size() - next.offset);
            writeBytes(next.bytes.constData() + next.offset, n);
            next.offset += n;
            if (next.offset >= next.bytes.size())
                m_queue.pop_front();
            if (!m_queue.empty())
                m_outputTimer.start(kFragmentPauseMs);
            return;
        }
        writeBytes(next.bytes.constData() + next.offset, next.bytes.size() - next.offset);
        m_queue.pop_front();
    }
}

void Session::appendGarbage(QByteArray &out, int size)
{
    const qint64 start = out.size();
    out.resize(start + size);
    auto *junk = reinterpret_cast<uchar *>(out.data() + start);
    for (int i = 0; i < size; ++i)
        junk[i] = uchar(m_random.bounded(256));
    // The bytes a receiver is most likely to trip over are always there.
    if (size >= 4) {
        const int third = (size - 1) / 3;
        junk[m_random.bounded(third)] = 0x00;
        junk[third + m_random.bounded(third)] = 0xFF;
        junk[2 * third + m_random.bounded(size - 1 - 2 * third)] = '\n';
    }
    junk[size - 1] = '\r';
    if (m_worker.logging())
        m_worker.log("rep", out.mid(start));
}

void Session::startStream()
{
    m_streaming = true;
    if (m_worker.logging())
        m_worker.log("conn", "streaming text without line ends");
    m_streamTimer.start();
}

void Session::streamTick()
{
    if (m_closing || !m_streaming) {
        m_streamTimer.stop();
        return;
    }
    // Only as fast as the client reads, so the device's own memory stays small.
    if (outputBacklog() < kStreamBacklog)
        writeBytes(streamChunk().constData(), streamChunk().size());
}

void Session::startFlood()
{
    m_flooding = true;
    m_floodSent = 0;
    m_floodClock.start();
    m_worker.floodRunning(true);
    if (m_worker.logging())
        m_worker.log("conn", "flood of lines started");
    m_floodTimer.start();
    floodTick();
}

void Session::floodTick()
{
    const Options &o = m_worker.options();
    const qint64 elapsed = m_floodClock.elapsed();
    if (m_closing || !o.flood || (o.floodSeconds > 0 && elapsed >= qint64(o.floodSeconds) * 1000)) {
        stopFlood();
        return;
    }
    // Only as fast as the client reads (and no faster than the rate), so the
    // device's own memory stays small.
    qint64 due = o.floodRate > 0 ? elapsed * o.floodRate / 1000 + 1 - m_floodSent : kFloodBacklog;
    const qint64 room = kFloodBacklog - outputBacklog();
    m_floodOut.resize(0);
    qint64 lines = 0;
    for (; lines < due && m_floodOut.size() < room; ++lines) {
        m_floodOut.append("~01@FLOOD ");
        appendNumber(m_floodOut, ++m_floodSent);
        m_floodOut.append("\r\n");
    }
    if (lines == 0)
        return;
    writeBytes(m_floodOut.constData(), m_floodOut.size());
    m_worker.countFloodLines(lines);
}

void Session::stopFlood()
{
    m_flooding = false;
    m_floodTimer.stop();
    m_worker.floodRunning(false);
    if (m_worker.logging()) {
        QByteArray text = QByteArrayLiteral("flood of lines ended after ");
        appendNumber(text, m_floodSent);
        m_worker.log("conn", text + " lines");
    }
}

void Session::startDeaf()
{
    m_deaf = true;
    stopReading();
    if (m_worker.logging())
        m_worker.log("conn", "deaf after the set number of packets: nothing more is read");
    m_deafTimer.start();
}

void Session::deafTick()
{
    static const QByteArray ack = QByteArrayLiteral("~01@ OK\r\n");
    if (!m_closing && !m_muted && outputBacklog() < kDeafBacklog)
        writeBytes(ack.constData(), ack.size());
}

} // namespace qx7emu::detail
