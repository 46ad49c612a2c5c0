#include "picture.h"

#include "imageroutines.h"
#include "util/treefile.h"

#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QtAlgorithms>
#include <algorithm>
#include <cstring>
#include <limits>
#include <mutex>
#include <optional>

namespace qx {

QString FileExtension(const QString &name)
{
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    return dot < 0 ? QString() : name.mid(dot + 1);
}

QString SplitPath(QString &path)
{
    // Position (from 1) of the first ":", replaced by the last separator when
    // there is one; both separators count on every platform, as file names
    // may come from either world (the settings files, the command line).
    qsizetype p = path.indexOf(QLatin1Char(':')) + 1;
    const qsizetype separator = std::max(path.lastIndexOf(QLatin1Char('\\')), path.lastIndexOf(QLatin1Char('/')));
    if (separator >= 0)
        p = separator + 1;
    if (p == 0)
        return QString();
    QString folder = path.left(p);
    const QChar last = folder.back();
    if (last == QLatin1Char('\\') || last == QLatin1Char('/')) {
        folder.chop(1);
        if (folder.isEmpty())
            folder = last;
    }
    path = path.mid(p);
    return folder;
}

QStringList ListImageFiles(const QString &folder, bool processEvents)
{
    QStringList names;
    if (folder.isEmpty())
        return names;
    // Regular files only: no folders, hidden or system entries, and no links
    // to FIFOs or devices, which would block the preview's open().
    for (const QString &path : ListTreeFiles(folder, QStringLiteral("*"), processEvents)) {
        const QString name = path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
        const QString ext = FileExtension(name).toLower();
        if (ext == QLatin1String("jpg") || ext == QLatin1String("gif") || ext == QLatin1String("bmp"))
            names.append(name);
    }
    // The list keeps its entries sorted without regard to case; names that
    // differ only in case keep a fixed order.
    std::sort(names.begin(), names.end(), [](const QString &a, const QString &b) {
        const int c = a.compare(b, Qt::CaseInsensitive);
        return c != 0 ? c < 0 : a < b;
    });
    return names;
}

QString PreviewResult::paramText() const
{
    return QString::number(ImageWidth) + QStringLiteral(" x ") + QString::number(ImageHeight);
}

void LimitDecoderAllocation()
{
    static std::once_flag once;
    std::call_once(once, [] {
        const int current = QImageReader::allocationLimit();
        if (current == 0 || current > kDecodeLimitMB)
            QImageReader::setAllocationLimit(kDecodeLimitMB);
    });
}

namespace {

PreviewResult decodingError(const QString &text)
{
    PreviewResult result;
    result.verdict = PictureVerdict::Error;
    result.errorText = text;
    return result;
}

bool bankFormat(const QByteArray &format)
{
    const QByteArray f = format.toLower();
    return f == "bmp" || f == "dib" || f == "gif" || f == "jpeg" || f == "jpg";
}

// What the headers of a BMP file say about its pixels.
struct BmpLayout {
    qint64 dataOffset = 0;
    qint32 width = 0;
    qint32 height = 0;    // without the sign that tells the row order
    bool topDown = false; // rows from the top (negative height in the header)
    int bits = 0;
    quint32 compression = 0;
    quint32 infoSize = 0;
    bool infoHeader = false; // BITMAPINFOHEADER or later (else the old core header)
};

enum : quint32 { BmpRgb = 0, BmpRle8 = 1, BmpRle4 = 2, BmpBitfields = 3 };

quint32 le32(const uchar *p)
{
    return quint32(p[0]) | quint32(p[1]) << 8 | quint32(p[2]) << 16 | quint32(p[3]) << 24;
}
quint16 le16(const uchar *p)
{
    return quint16(p[0] | p[1] << 8);
}

// Reads the file and info headers. The decoder refuses to tell the size of
// very large pictures, and it leaves rows it could not read undefined, so the
// preview reads these few fields itself.
std::optional<BmpLayout> readBmpLayout(const QString &file)
{
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray head = f.read(30 + 4);
    if (head.size() < 26 || !head.startsWith("BM"))
        return std::nullopt;
    const auto *p = reinterpret_cast<const uchar *>(head.constData());
    BmpLayout bmp;
    const quint32 infoSize = le32(p + 14);
    bmp.infoSize = infoSize;
    // A data offset inside the headers is bogus; the rows cannot start before them.
    bmp.dataOffset = std::max<qint64>(le32(p + 10), 14 + qint64(infoSize));
    if (infoSize == 12) {
        bmp.width = le16(p + 18);
        bmp.height = le16(p + 20);
        bmp.bits = le16(p + 24);
    } else if (infoSize >= 40 && head.size() >= 34) {
        bmp.infoHeader = true;
        bmp.width = qint32(le32(p + 18));
        const qint32 height = qint32(le32(p + 22));
        if (bmp.width < 0 || height == std::numeric_limits<qint32>::min())
            return std::nullopt;
        bmp.height = height < 0 ? -height : height;
        bmp.topDown = height < 0;
        bmp.bits = le16(p + 28);
        bmp.compression = le32(p + 30);
    } else {
        return std::nullopt;
    }
    return bmp;
}

// Whether the file ends before the rows its headers announce (uncompressed
// pictures only; the length of compressed data is not known in advance).
bool bmpTruncated(const BmpLayout &bmp, qint64 fileSize)
{
    if (bmp.compression != BmpRgb && bmp.compression != BmpBitfields)
        return false;
    const qint64 rowBytes = (qint64(bmp.width) * bmp.bits + 31) / 32 * 4;
    return fileSize < bmp.dataOffset + rowBytes * bmp.height;
}

// A channel value of `bits` bits widened to 0..255 by repeating its high bits
// into the low ones, so that full scale stays full scale (5 bits: 31 -> 255,
// 16 -> 132).
int widenChannel(quint32 value, int bits)
{
    if (bits <= 0)
        return 0;
    if (bits >= 8)
        return int(value >> (bits - 8));
    quint32 wide = 0;
    int have = 0;
    for (; have < 8; have += bits)
        wide = wide << bits | value;
    return int(wide >> (have - 8));
}

// Reads a 16-bit BMP (uncompressed: 5 bits each of red, green and blue; with
// bit fields: the masks after the info header, an alpha mask only in the
// larger headers). The decoder widens 5- and 6-bit channels by a plain shift,
// which stores white as 248, 248, 248.
QImage readBmp16(const QString &file, const BmpLayout &bmp)
{
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly))
        return QImage();
    quint32 masks[4] = {0x7C00, 0x03E0, 0x001F, 0}; // red, green, blue, alpha
    if (bmp.compression == BmpBitfields) {
        const int count = bmp.infoSize >= 56 ? 4 : 3;
        if (!f.seek(14 + 40))
            return QImage();
        const QByteArray m = f.read(4 * count);
        if (m.size() != 4 * count)
            return QImage();
        for (int i = 0; i < count; ++i)
            masks[i] = le32(reinterpret_cast<const uchar *>(m.constData()) + 4 * i) & 0xFFFF;
    }
    int shift[4], bits[4];
    for (int i = 0; i < 4; ++i) {
        shift[i] = masks[i] ? qCountTrailingZeroBits(masks[i]) : 0;
        bits[i] = masks[i] ? 32 - qCountLeadingZeroBits(masks[i] >> shift[i]) : 0;
    }
    const bool alpha = masks[3] != 0;
    QVector<QRgb> colour(65536);
    for (quint32 v = 0; v < 65536; ++v) {
        int c[4];
        for (int i = 0; i < 4; ++i)
            c[i] = widenChannel((v & masks[i]) >> shift[i], bits[i]);
        colour[int(v)] = qRgba(c[0], c[1], c[2], alpha ? c[3] : 255);
    }

    QImage image(bmp.width, bmp.height, alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    const qint64 rowBytes = (qint64(bmp.width) * 16 + 31) / 32 * 4;
    if (image.isNull() || !f.seek(bmp.dataOffset))
        return QImage();
    const QByteArray data = f.read(rowBytes * bmp.height);
    if (data.size() != rowBytes * bmp.height)
        return QImage();
    for (int r = 0; r < bmp.height; ++r) {
        const auto *in = reinterpret_cast<const uchar *>(data.constData()) + r * rowBytes;
        auto *out = reinterpret_cast<QRgb *>(image.scanLine(bmp.topDown ? r : bmp.height - 1 - r));
        for (int x = 0; x < bmp.width; ++x)
            out[x] = colour[le16(in + 2 * x)];
    }
    return image;
}

// Whether JPEG data reaches its end marker (FF D9). The decoder fills the rows
// of a file that ends early with grey and reports success. Segments are
// skipped by their length (an embedded thumbnail, with its own end marker,
// lies inside one); in coded data FF 00 is a data byte and FF D0..D7 a restart.
bool jpegComplete(const QString &file)
{
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly))
        return false;
    qint64 size = f.size();
    QByteArray copy;
    const uchar *d = size > 0 ? f.map(0, size) : nullptr;
    if (!d) {
        copy = f.readAll();
        size = copy.size();
        d = reinterpret_cast<const uchar *>(copy.constData());
    }
    qint64 i = 2; // after the start marker
    while (i + 1 < size) {
        const void *ff = std::memchr(d + i, 0xFF, size_t(size - i - 1));
        if (!ff)
            break;
        i = static_cast<const uchar *>(ff) - d;
        const uchar marker = d[i + 1];
        if (marker == 0xFF) { // fill byte
            ++i;
            continue;
        }
        i += 2;
        if (marker == 0xD9)
            return true;
        if (marker == 0x00 || marker == 0x01 || (marker >= 0xD0 && marker <= 0xD8))
            continue; // no length follows
        if (i + 1 >= size)
            return false;
        i += qint64(d[i]) << 8 | d[i + 1];
    }
    return false;
}

const QString kUnreadableData = QStringLiteral("Unable to read image data");

} // namespace

PreviewResult PreviewPicture(const QString &LoadFileRequest)
{
    LimitDecoderAllocation();

    // A FIFO or a device named like a picture would block the decoder's open()
    // or never end.
    if (!IsRegularFile(LoadFileRequest))
        return decodingError(QFileInfo::exists(LoadFileRequest) ? QStringLiteral("Not a regular file")
                                                                : QStringLiteral("File not found"));

    QImageReader reader(LoadFileRequest);
    reader.setAutoTransform(false);
    // The content decides the format, not the name: a JPG named .bmp loads,
    // a text file named .bmp is refused by every decoder.
    reader.setDecideFormatFromContent(true);
    if (!reader.canRead())
        return decodingError(reader.errorString());
    if (!bankFormat(reader.format()))
        return decodingError(QStringLiteral("Unsupported image format"));

    PreviewResult result;
    // Judge the size the header gives before any pixel is decoded.
    const bool bmp = reader.format().toLower() == "bmp" || reader.format().toLower() == "dib";
    const std::optional<BmpLayout> layout = bmp ? readBmpLayout(LoadFileRequest) : std::nullopt;
    QSize header = reader.size();
    if (layout)
        header = QSize(layout->width, layout->height);
    if (header.isValid()) {
        result.ImageWidth = EvenWidth(header.width());
        result.ImageHeight = header.height();
        if (!PictureSizeAccepted(result.ImageWidth, result.ImageHeight)) {
            result.verdict = PictureVerdict::TooLarge;
            return result;
        }
    }

    if (reader.format().toLower() == "jpeg" && !jpegComplete(LoadFileRequest))
        return decodingError(kUnreadableData);

    QImage image;
    bool decoded = false;
    if (layout && layout->infoHeader) {
        if (bmpTruncated(*layout, QFileInfo(LoadFileRequest).size()))
            return decodingError(kUnreadableData);
        if (layout->bits == 16 && (layout->compression == BmpRgb || layout->compression == BmpBitfields)) {
            image = readBmp16(LoadFileRequest, *layout);
            if (image.isNull())
                return decodingError(kUnreadableData);
            decoded = true;
        }
        // Run-length data may skip pixels; the decoder fills the picture it is
        // given, so hand it one where skipped pixels are colour 0, not
        // whatever the memory held.
        if (layout->compression == BmpRle8 || layout->compression == BmpRle4) {
            image = QImage(layout->width, layout->height, QImage::Format_Indexed8);
            if (!image.isNull())
                image.fill(0);
        }
    }
    if (!decoded && (!reader.read(&image) || image.isNull())) {
        QString text = reader.errorString();
        if (text.isEmpty())
            text = kUnreadableData;
        return decodingError(text);
    }
    // In an uncompressed BMP the fourth byte of a 32-bit pixel is not alpha
    // (the decoder takes it as alpha when a larger header has an alpha mask).
    if (layout && layout->compression == BmpRgb && image.format() == QImage::Format_ARGB32)
        image = image.convertToFormat(QImage::Format_RGB32);
    // What transparency is left is shown over black, as the bank takes it.
    if (image.hasAlphaChannel())
        image = OverBlack(image);
    // The decoded size is what the capture reads; judge it again in case the
    // header did not tell it.
    result.ImageWidth = EvenWidth(image.width());
    result.ImageHeight = image.height();
    if (!PictureSizeAccepted(result.ImageWidth, result.ImageHeight)) {
        result.verdict = PictureVerdict::TooLarge;
        return result;
    }
    result.verdict = PictureVerdict::Accepted;
    result.Picture1 = std::move(image);
    return result;
}

PreviewSize PreviewScale(const PreviewFrame &frame, qint32 imageWidth, qint32 imageHeight, float currentWidth)
{
    PreviewSize size;
    if (imageHeight <= 0) {
        // No proportions to keep; the frame as designed.
        size.width = float(frame.PreviewWidth);
        size.height = float(frame.PreviewHeight);
        return size;
    }
    const double ratio = double(imageWidth) / imageHeight;
    if (ratio > frame.PreviewRatio) {
        size.width = float(frame.PreviewWidth);
        size.height = float(frame.PreviewHeight * (frame.PreviewRatio * imageHeight / imageWidth));
    } else {
        size.height = float(frame.PreviewHeight);
        // Width 0 has no finite inverse proportion: the width stays as it was.
        size.width = imageWidth == 0
                         ? currentWidth
                         : float(frame.PreviewWidth * (1.0 / (frame.PreviewRatio * imageHeight / imageWidth)));
    }
    return size;
}

void ApplyPreview(PreviewDisplay &display, const PreviewResult &result, const PreviewFrame &frame)
{
    display.param = result.paramText();
    switch (result.verdict) {
    case PictureVerdict::Error:
        display.errorVisible = true;
        display.errorText = result.errorText;
        display.pictureShown = false;
        display.loadEnabled = false;
        break;
    case PictureVerdict::TooLarge:
        display.badVisible = true;
        display.previewWidth = float(frame.PreviewWidth);
        display.previewHeight = float(frame.PreviewHeight);
        display.pictureShown = false;
        display.loadEnabled = false;
        break;
    case PictureVerdict::Accepted: {
        display.errorVisible = false;
        display.badVisible = false;
        display.loadEnabled = true;
        display.pictureShown = true;
        const PreviewSize size = PreviewScale(frame, result.ImageWidth, result.ImageHeight, display.previewWidth);
        display.previewWidth = size.width;
        display.previewHeight = size.height;
        break;
    }
    }
}

} // namespace qx
