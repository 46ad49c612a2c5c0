#include "picture.h"

#include "decoders.h"
#include "imageroutines.h"
#include "util/treefile.h"

#include <QCollator>
#include <QFile>
#include <QImageReader>
#include <algorithm>
#include <mutex>

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
    // The list keeps its entries in the user's alphabetical order without
    // regard to case ("Ärger" beside "Arbeit", not after "z"); names that
    // differ only in case keep a fixed order.
    QCollator collator;
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    std::sort(names.begin(), names.end(), [&collator](const QString &a, const QString &b) {
        const int c = collator.compare(a, b);
        return c != 0 ? c < 0 : a < b;
    });
    return names;
}

QString PreviewResult::paramText() const
{
    const qint32 width = verdict == PictureVerdict::TooLarge ? fileWidth : ImageWidth;
    return QString::number(width) + QStringLiteral(" x ") + QString::number(ImageHeight);
}

QString PreviewResult::reason() const
{
    if (verdict == PictureVerdict::TooLarge)
        return paramText() + QStringLiteral(" is larger than %1 x %2").arg(kMaxImageWidth).arg(kMaxImageHeight);
    return verdict == PictureVerdict::Error ? errorText : QString();
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

// BMP and JPEG files are read whole; no picture a bank takes needs more.
constexpr qint64 kMaxPictureFileBytes = qint64(kDecodeLimitMB) << 20;

} // namespace

PreviewResult PreviewPicture(const QString &LoadFileRequest)
{
    LimitDecoderAllocation();
    QFile file;
    QString why;
    if (!OpenRegularFile(file, LoadFileRequest, why))
        return decodingError(why);

    // Every decoder judges the size its headers give before any pixel is
    // decoded; a picture over the limits is refused with its real size.
    PreviewResult result;
    const auto fits = [&result](const QSize &size) {
        result.fileWidth = size.width();
        result.ImageWidth = EvenWidth(size.width());
        result.ImageHeight = size.height();
        return PictureSizeAccepted(result.ImageWidth, result.ImageHeight);
    };
    const auto tooLarge = [&result] {
        result.verdict = PictureVerdict::TooLarge;
        return result;
    };
    QImage image;
    // The content decides the format, not the name: a JPG named .bmp loads,
    // a text file named .bmp is refused.
    const QByteArray magic = file.peek(2);
    if (magic == "BM" || magic == "\xFF\xD8") {
        // Asked for no more than the file holds (a buffer of the whole limit
        // would be taken and faulted in for every picture), and for the rest
        // should it have grown meanwhile.
        QByteArray data = file.read(std::min(file.size(), kMaxPictureFileBytes) + 1);
        if (data.size() > file.size() && data.size() <= kMaxPictureFileBytes)
            data += file.read(kMaxPictureFileBytes + 1 - data.size());
        const bool whole = data.size() <= kMaxPictureFileBytes;
        const SizeCheck fitsWhole = [&](const QSize &size) { return fits(size) && whole; };
        DecodedPicture decoded = magic == "BM" ? DecodeBmp(data, fitsWhole) : DecodeJpeg(data, fitsWhole);
        if (!decoded.error.isEmpty())
            return decodingError(decoded.error);
        if (decoded.image.isNull())
            return PictureSizeAccepted(result.ImageWidth, result.ImageHeight)
                       ? decodingError(QStringLiteral("File too large"))
                       : tooLarge();
        image = std::move(decoded.image);
    } else {
        // GIF (the first frame of an animation) through Qt's reader.
        QImageReader reader(&file);
        reader.setAutoTransform(false);
        reader.setDecideFormatFromContent(true);
        if (!reader.canRead())
            return decodingError(reader.errorString());
        if (reader.format().toLower() != "gif")
            return decodingError(QStringLiteral("Unsupported image format"));
        if (reader.size().isValid() && !fits(reader.size()))
            return tooLarge();
        if (!reader.read(&image) || image.isNull())
            return decodingError(reader.errorString().isEmpty() ? QStringLiteral("Unable to read image data")
                                                                : reader.errorString());
    }
    // Transparency is shown over black, as the bank takes it.
    if (image.hasAlphaChannel())
        image = OverBlack(image);
    // The decoded size is what the capture reads; judge it again in case the
    // header did not tell it.
    if (!fits(image.size()))
        return tooLarge();
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
