#include "decoders.h"

#include <QVector>
#include <QtEndian>
#include <algorithm>
#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <vector>

#include <jerror.h>
#include <jpeglib.h>

namespace qx {

namespace {

const QString kUnreadableData = QStringLiteral("Unable to read image data");

enum : quint32 {
    BmpRgb = 0,
    BmpRle8 = 1,
    BmpRle4 = 2,
    BmpBitfields = 3,
    BmpJpeg = 4,
    BmpPng = 5,
    BmpAlphaBitfields = 6,
    BmpCmyk = 11,
    BmpCmykRle4 = 13,
    Os2Huffman = 3,
    Os2Rle24 = 4, // the same numbers in an OS/2 header
};

// Why a BMP that the decoder does not read is refused: the kind, when it is a
// kind of BMP that exists but is not read here, else the words for damage.
QString unreadBmpKind(int bits, quint32 compression, bool os2, bool topDown)
{
    const auto notSupported = [](const QString &what) { return what + QStringLiteral(" is not supported"); };
    if (os2 && compression == Os2Huffman)
        return notSupported(QStringLiteral("OS/2 BMP with Huffman compression"));
    if (os2 && compression == Os2Rle24)
        return notSupported(QStringLiteral("OS/2 BMP with 24-bit run-length compression"));
    if (!os2 && compression == BmpJpeg)
        return notSupported(QStringLiteral("BMP holding a JPEG"));
    if (!os2 && compression == BmpPng)
        return notSupported(QStringLiteral("BMP holding a PNG"));
    if (compression >= BmpCmyk && compression <= BmpCmykRle4)
        return notSupported(QStringLiteral("CMYK BMP"));
    if (compression == BmpRgb && (bits == 2 || bits == 64))
        return notSupported(QStringLiteral("BMP with %1 bits per pixel").arg(bits));
    if ((compression == BmpRle8 || compression == BmpRle4) && topDown)
        return notSupported(QStringLiteral("Top-down BMP with run-length compression"));
    return kUnreadableData;
}

quint32 le32(const uchar *p)
{
    return qFromLittleEndian<quint32>(p);
}
quint16 le16(const uchar *p)
{
    return qFromLittleEndian<quint16>(p);
}

// A channel value of `bits` bits widened to 0..255. A narrow one repeats its
// high bits into the low ones, which keeps full scale full scale (5 bits:
// 31 -> 255, 16 -> 132), as viewers widen it; a wider one is scaled and
// rounded to the nearest step (11 bits: 1280 -> 159, where its top 8 bits
// give 160). The quotient is never a half: the divisor is odd.
int widenChannel(quint32 value, int bits)
{
    if (bits <= 0)
        return 0;
    if (bits > 8) {
        const quint64 full = (quint64(1) << bits) - 1;
        return int((quint64(value) * 255 + full / 2) / full);
    }
    quint32 wide = 0;
    int have = 0;
    for (; have < 8; have += bits)
        wide = wide << bits | value;
    return int(wide >> (have - 8));
}

// One channel of a bit-field pixel, by its mask.
struct Channel {
    quint32 mask = 0;
    int shift = 0;
    int bits = 0;
    uchar narrow[256] = {}; // the widened values of a channel of up to 8 bits

    // False for a mask whose bits are not one run.
    bool set(quint32 m)
    {
        mask = m;
        shift = m ? qCountTrailingZeroBits(m) : 0;
        const quint32 run = m >> shift;
        bits = m ? 32 - qCountLeadingZeroBits(run) : 0;
        for (int v = 0; bits <= 8 && v < (1 << bits); ++v)
            narrow[v] = uchar(widenChannel(quint32(v), bits));
        return (run & (run + 1)) == 0;
    }
    int operator()(quint32 pixel) const
    {
        const quint32 v = (pixel & mask) >> shift;
        return bits > 8 ? widenChannel(v, bits) : narrow[v];
    }
};

struct BmpReader {
    const uchar *d = nullptr;
    qint64 n = 0;
    qint32 width = 0, height = 0;
    bool topDown = false;
    int bits = 0;
    quint32 compression = BmpRgb;
    qint64 dataAt = 0;
    QVector<QRgb> palette;
    Channel channel[4]; // red, green, blue, alpha
    bool alpha = false;

    QRgb *row(QImage &image, qint64 y) const // y counted in file order
    {
        return reinterpret_cast<QRgb *>(image.scanLine(int(topDown ? y : height - 1 - y)));
    }

    // Uncompressed rows, each padded to 4 bytes.
    bool readRows(QImage &image) const
    {
        const qint64 rowBytes = (qint64(width) * bits + 31) / 32 * 4;
        if (n - dataAt < rowBytes * height)
            return false;
        for (qint64 y = 0; y < height; ++y) {
            const uchar *in = d + dataAt + y * rowBytes;
            QRgb *out = row(image, y);
            if (bits == 24 || (bits == 32 && compression == BmpRgb)) { // blue, green, red (and a byte left unused)
                for (qint64 x = 0; x < width; ++x, in += bits / 8)
                    out[x] = qRgb(in[2], in[1], in[0]);
            } else if (bits <= 8) {
                for (qint64 x = 0; x < width; ++x) {
                    const qint64 bit = x * bits;
                    const int index = in[bit / 8] >> (8 - bits - bit % 8) & ((1 << bits) - 1);
                    if (index >= palette.size())
                        return false;
                    out[x] = palette[index];
                }
            } else {
                for (qint64 x = 0; x < width; ++x) {
                    const quint32 p = bits == 16 ? le16(in + 2 * x) : le32(in + 4 * x);
                    out[x] = qRgba(channel[0](p), channel[1](p), channel[2](p), alpha ? channel[3](p) : 255);
                }
            }
        }
        return true;
    }

    // Run-length data: pairs (count, colour), or 0 and a code: 0 ends a row,
    // 1 ends the picture, 2 moves by the next two bytes, more gives that many
    // colours one by one (padded to 2 bytes).
    bool readRuns(QImage &image) const
    {
        const bool rle4 = compression == BmpRle4;
        image.fill(palette.value(0)); // what the runs skip
        qint64 x = 0, y = 0;
        const auto put = [&](int index) {
            if (x >= width || y >= height || index >= palette.size())
                return false;
            row(image, y)[x++] = palette[index];
            return true;
        };
        const uchar *p = d + dataAt;
        const uchar *end = d + n;
        for (;;) {
            if (end - p < 2)
                return false;
            const int count = p[0], code = p[1];
            p += 2;
            if (count > 0) {
                for (int i = 0; i < count; ++i)
                    if (!put(rle4 ? (i & 1 ? code & 15 : code >> 4) : code))
                        return false;
            } else if (code == 0) {
                x = 0;
                ++y;
            } else if (code == 1) {
                return true;
            } else if (code == 2) {
                if (end - p < 2)
                    return false;
                x += p[0];
                y += p[1];
                p += 2;
                if (x > width || y > height)
                    return false;
            } else {
                const qint64 bytes = rle4 ? (code + 1) / 2 : code;
                if (end - p < bytes)
                    return false;
                for (int i = 0; i < code; ++i)
                    if (!put(rle4 ? (i & 1 ? p[i / 2] & 15 : p[i / 2] >> 4) : p[i]))
                        return false;
                p += (bytes + 1) & ~qint64(1);
            }
        }
    }
};

// An alpha channel that is 0 everywhere was never meant as transparency (an
// editor wrote the mask but no alpha): the picture is taken as opaque, as
// viewers take it.
void opaqueWhenAlphaAllZero(QImage &image)
{
    for (int y = 0; y < image.height(); ++y) {
        const QRgb *line = reinterpret_cast<const QRgb *>(image.constScanLine(y));
        if (std::any_of(line, line + image.width(), [](QRgb p) { return qAlpha(p) != 0; }))
            return;
    }
    for (int y = 0; y < image.height(); ++y) {
        QRgb *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        std::for_each(line, line + image.width(), [](QRgb &p) { p |= 0xFF000000u; });
    }
    image.reinterpretAsFormat(QImage::Format_RGB32);
}

} // namespace

DecodedPicture DecodeBmp(const QByteArray &file, const SizeCheck &fits)
{
    DecodedPicture out;
    out.error = kUnreadableData;
    BmpReader bmp;
    bmp.d = reinterpret_cast<const uchar *>(file.constData());
    bmp.n = file.size();
    if (bmp.n < 18 || !file.startsWith("BM"))
        return out;
    // The info header in full, fields it is too short to hold left 0.
    const quint32 infoSize = le32(bmp.d + 14);
    uchar info[124] = {};
    const bool knownSize =
        infoSize == 12 || infoSize == 108 || infoSize == 124 || (infoSize >= 16 && infoSize <= 64 && infoSize % 4 == 0);
    if (!knownSize || bmp.n < 14 + qint64(infoSize))
        return out;
    std::memcpy(info, bmp.d + 14, std::min<size_t>(infoSize, sizeof info));
    const bool core = infoSize == 12; // the old header: 16-bit sizes, 3-byte palette entries
    qint64 height = core ? le16(info + 6) : qint32(le32(info + 8));
    bmp.width = core ? le16(info + 4) : qint32(le32(info + 4));
    bmp.topDown = height < 0;
    height = std::abs(height);
    if (bmp.width <= 0 || height <= 0 || height > std::numeric_limits<qint32>::max())
        return out;
    bmp.height = qint32(height);
    out.size = QSize(bmp.width, bmp.height);
    out.error.clear();
    if (!fits(out.size))
        return out;
    out.error = kUnreadableData;

    if (le16(info + (core ? 8 : 12)) != 1) // planes
        return out;
    bmp.bits = le16(info + (core ? 10 : 14));
    bmp.compression = core ? BmpRgb : le32(info + 16);
    const bool os2 = infoSize < 40 || infoSize == 64; // where 3 and 4 mean other compressions
    const bool fields = !os2 && (bmp.compression == BmpBitfields || bmp.compression == BmpAlphaBitfields);
    const bool indexed = bmp.bits == 1 || bmp.bits == 4 || bmp.bits == 8;
    const bool known = bmp.compression == BmpRgb    ? indexed || bmp.bits == 16 || bmp.bits == 24 || bmp.bits == 32
                       : bmp.compression == BmpRle8 ? bmp.bits == 8 && !bmp.topDown
                       : bmp.compression == BmpRle4 ? bmp.bits == 4 && !bmp.topDown
                                                    : fields && (bmp.bits == 16 || bmp.bits == 32);
    if (!known) {
        out.error = unreadBmpKind(bmp.bits, bmp.compression, os2, bmp.topDown);
        return out;
    }

    // Channel masks: those of the header (a 40-byte header is followed by
    // them), or 5 bits each for 16-bit pixels. 32-bit pixels without masks
    // are blue, green, red and a fourth byte that is not alpha.
    qint64 headersEnd = 14 + qint64(infoSize);
    quint32 masks[4] = {0x7C00, 0x03E0, 0x001F, 0};
    if (fields) {
        const int count = infoSize >= 56 || bmp.compression == BmpAlphaBitfields ? 4 : 3;
        if (infoSize == 40)
            headersEnd += 4 * count;
        if (bmp.n < 54 + 4 * count)
            return out;
        for (int i = 0; i < count; ++i)
            masks[i] = le32(bmp.d + 54 + 4 * i);
    }
    quint32 seen = 0;
    for (int i = 0; i < 4; ++i) {
        if (!bmp.channel[i].set(masks[i]) || (masks[i] & seen) || (bmp.bits == 16 && masks[i] > 0xFFFF))
            return out;
        seen |= masks[i];
    }
    bmp.alpha = masks[3] != 0;

    // The palette lies between the headers and the pixels, and holds as many
    // entries as the header says, as fit there, and as the bits can index.
    // An offset inside the headers is bogus: the pixels then follow the palette.
    const int entrySize = core ? 3 : 4;
    const quint32 declared = le32(info + 32);
    qint64 entries = indexed ? (core || declared == 0 ? 1 << bmp.bits : std::min<qint64>(declared, 1 << bmp.bits)) : 0;
    bmp.dataAt = le32(bmp.d + 10);
    if (bmp.dataAt > bmp.n)
        return out;
    if (bmp.dataAt >= headersEnd)
        entries = std::min(entries, (bmp.dataAt - headersEnd) / entrySize);
    else
        bmp.dataAt = headersEnd + entries * entrySize;
    if (headersEnd + entries * entrySize > bmp.n)
        return out;
    for (qint64 i = 0; i < entries; ++i) {
        const uchar *e = bmp.d + headersEnd + i * entrySize;
        bmp.palette.append(qRgb(e[2], e[1], e[0]));
    }

    QImage image(bmp.width, bmp.height, bmp.alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    if (image.isNull())
        return out;
    const bool runs = bmp.compression == BmpRle8 || bmp.compression == BmpRle4;
    if (!(runs ? bmp.readRuns(image) : bmp.readRows(image)))
        return out;
    if (bmp.alpha)
        opaqueWhenAlphaAllZero(image);
    out.error.clear();
    out.image = std::move(image);
    return out;
}

namespace {

constexpr int kMaxJpegScans = 500;

// Whether the stray bytes that begin at `at` follow a marker segment (before
// the first scan or a later one), where they lose nothing. A scan's data runs
// on to the next marker: bytes left over there mean the scan did not decode as
// it was written.
bool StrayAfterSegment(const QByteArray &file, qsizetype at)
{
    const auto byte = [&file](qsizetype i) { return uchar(file[i]); };
    qsizetype i = 2; // after the start marker
    while (i <= at && i + 3 < file.size()) {
        const uchar marker = byte(i + 1);
        if (byte(i) != 0xFF || marker == 0) { // stray bytes where a marker was due
            if (i == at)
                return true;
            for (i += marker == 0 && byte(i) == 0xFF ? 2 : 1; i < file.size() && byte(i) != 0xFF;)
                ++i;
        } else if (marker == 0xFF) { // a fill byte
            ++i;
        } else if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD9)) { // markers without a length
            i += 2;
        } else {
            // A scan's data after its header is walked as stray bytes: libjpeg reads it, so it never
            // reports bytes skipped from where that data begins.
            i += 2 + (byte(i + 2) << 8 | byte(i + 3));
        }
    }
    return false;
}

// libjpeg ends a failed call with a long jump back to the step that made it;
// everything those steps keep lives in this struct, not in their frames.
struct JpegReader {
    jpeg_decompress_struct info{};
    jpeg_error_mgr errors{};
    jpeg_progress_mgr progress{};
    std::jmp_buf back{};
    char why[JMSG_LENGTH_MAX] = {};
    char ended[JMSG_LENGTH_MAX] = {}; // the data ended before its end marker
    QByteArray file;

    static JpegReader &of(j_common_ptr c) { return *static_cast<JpegReader *>(c->client_data); }
    // A file that ended early is refused as cut, whatever its cut scan says then.
    [[noreturn]] static void fail(j_common_ptr c)
    {
        if (*of(c).ended)
            std::memcpy(of(c).why, of(c).ended, sizeof of(c).why);
        else
            c->err->format_message(c, of(c).why);
        std::longjmp(of(c).back, 1);
    }
    static void message(j_common_ptr c, int level)
    {
        const int code = c->err->msg_code;
        if (level >= 0)
            return;
        if (code == JWRN_JPEG_EOF)
            c->err->format_message(c, of(c).ended);
        if (JpegWarningRefuses(code, code == JWRN_EXTRANEOUS_DATA && of(c).strayAfterSegment()))
            fail(c);
    }
    bool strayAfterSegment() const
    {
        // libjpeg has read up to the marker after the bytes it skipped.
        const auto start = reinterpret_cast<std::uintptr_t>(file.constData());
        const auto marker = reinterpret_cast<std::uintptr_t>(info.src->next_input_byte);
        const long skipped = info.err->msg_parm.i[0];
        return marker >= start + std::uintptr_t(skipped) && marker <= start + std::uintptr_t(file.size()) &&
               StrayAfterSegment(file, qsizetype(marker - start) - skipped);
    }
    // Every scan the picture needs came whole: a progressive one has every
    // coefficient to its last bit. A scan cut inside its data warns of that
    // by itself; one of several sequential scans is not told from the last.
    bool scansWhole()
    {
        if (!info.progressive_mode)
            return !jpeg_has_multiple_scans(&info);
        for (int c = 0; c < info.num_components; ++c)
            for (int k = 0; k < DCTSIZE2; ++k)
                if (info.coef_bits[c][k] != 0)
                    return false;
        return true;
    }
    // A progressive picture of very many scans takes very long: refused as
    // soon as its scans pass the limit.
    static void scans(j_common_ptr c)
    {
        if (reinterpret_cast<j_decompress_ptr>(c)->input_scan_number > kMaxJpegScans) {
            std::snprintf(of(c).why, sizeof of(c).why, "Progressive JPEG image has more than %d scans", kMaxJpegScans);
            std::longjmp(of(c).back, 1);
        }
    }

    JpegReader()
    {
        info.err = jpeg_std_error(&errors);
        errors.error_exit = fail;
        errors.emit_message = message;
        progress.progress_monitor = scans;
        info.client_data = this;
    }
    ~JpegReader() { jpeg_destroy_decompress(&info); }

    // Each step returns false when libjpeg refused the file (the reason in `why`).
    bool readHeader(const QByteArray &bytes)
    {
        file = bytes;
        if (setjmp(back))
            return false;
        jpeg_create_decompress(&info);
        info.client_data = this;
        info.progress = &progress;
        jpeg_mem_src(&info, reinterpret_cast<const unsigned char *>(file.constData()),
                     static_cast<unsigned long>(file.size()));
        jpeg_read_header(&info, TRUE);
        return true;
    }
    bool readPixels(JSAMPROW *rows)
    {
        if (setjmp(back))
            return false;
        jpeg_start_decompress(&info);
        while (info.output_scanline < info.output_height)
            jpeg_read_scanlines(&info, rows + info.output_scanline, info.output_height - info.output_scanline);
        // A picture of several scans has been read to its end by now; the finish frees what tells of them.
        const bool whole = scansWhole();
        // What follows the last scan is read too: data left over there means a scan did not decode as written.
        jpeg_finish_decompress(&info);
        if (*ended && !whole) {
            std::memcpy(why, ended, sizeof why);
            return false;
        }
        return true;
    }
};

} // namespace

bool JpegWarningRefuses(int code, bool afterSegment)
{
    switch (code) {
    case JWRN_JFIF_MAJOR:     // an unknown revision of the JFIF header: the picture is read as version 1
    case JWRN_NOT_SEQUENTIAL: // scan parameters a sequential picture does not use
    case JWRN_JPEG_EOF:       // the end marker missing: judged once the scans are read
        return false;
    case JWRN_EXTRANEOUS_DATA:
        return !afterSegment;
    default: // data that ends inside a scan, corrupt or inconsistent data, colours guessed
        return true;
    }
}

DecodedPicture DecodeJpeg(const QByteArray &file, const SizeCheck &fits)
{
    DecodedPicture out;
    JpegReader jpeg;
    if (!jpeg.readHeader(file)) {
        out.error = QString::fromLocal8Bit(jpeg.why);
        return out;
    }
    const int width = int(jpeg.info.image_width), height = int(jpeg.info.image_height);
    out.size = QSize(width, height);
    if (!fits(out.size))
        return out;

    // CMYK comes out as it is stored and is scaled by its black here.
    const bool cmyk = jpeg.info.jpeg_color_space == JCS_CMYK || jpeg.info.jpeg_color_space == JCS_YCCK;
    jpeg.info.out_color_space = cmyk ? JCS_CMYK : Q_BYTE_ORDER == Q_LITTLE_ENDIAN ? JCS_EXT_BGRA : JCS_EXT_ARGB;
    QImage image(width, height, QImage::Format_RGB32);
    if (image.isNull()) {
        out.error = kUnreadableData;
        return out;
    }
    std::vector<JSAMPROW> rows(static_cast<size_t>(height));
    for (int y = 0; y < height; ++y)
        rows[size_t(y)] = image.scanLine(y);
    if (!jpeg.readPixels(rows.data())) {
        out.error = QString::fromLocal8Bit(jpeg.why);
        return out;
    }
    if (cmyk) {
        for (int y = 0; y < height; ++y) {
            auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
            const uchar *p = image.scanLine(y);
            // Rounded to nearest: k * c / 255 is never a half, 255 being odd.
            const auto scaled = [](int k, int c) { return (k * c + 127) / 255; };
            for (int x = 0; x < width; ++x, p += 4) {
                const int k = p[3];
                line[x] = qRgb(scaled(k, p[0]), scaled(k, p[1]), scaled(k, p[2]));
            }
        }
    }
    out.image = std::move(image);
    return out;
}

} // namespace qx
