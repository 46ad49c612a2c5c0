#include "imageroutines.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#if defined(__SSE2__) || defined(_M_X64) || (defined(_M_IX86_FP) && _M_IX86_FP >= 2)
#include <emmintrin.h>
#define QX_HAVE_SSE2_CONVERT 1
#endif

namespace qx {

namespace {

// Nearest integer, halves to the even neighbour. The conversion instruction
// rounds in the current mode, which is round-to-nearest-even unless someone
// changed it; std::nearbyint does the same but is a library call per sample.
inline int roundHalfEven(double value)
{
#ifdef QX_HAVE_SSE2_CONVERT
    return _mm_cvtsd_si32(_mm_set_sd(value));
#else
    return int(std::nearbyint(value));
#endif
}

// The conversion terms per channel value. Every product is divided by 256 on
// its own and the first constant is added to the first term, exactly as the
// device's formula is written, so the sums below are the same double-precision
// operations in the same order, only looked up instead of recomputed:
//   Cb = 128 - 37.945 R/256 - 74.494 G/256 + 112.439 B/256
//   Y  = 65.738 R/256 + 16 + 129.057 G/256 + 25.064 B/256
//   Cr = 112.439 R/256 + 128 - 94.154 G/256 - 18.285 B/256
struct ConversionTerms {
    double cbR[256], cbG[256], cbB[256];
    double yR[256], yG[256], yB[256];
    double crR[256], crG[256], crB[256];

    ConversionTerms()
    {
        for (int v = 0; v < 256; ++v) {
            const double d = v;
            cbR[v] = 128.0 - 37.945 * d / 256.0;
            cbG[v] = 74.494 * d / 256.0;
            cbB[v] = 112.439 * d / 256.0;
            yR[v] = 65.738 * d / 256.0 + 16.0;
            yG[v] = 129.057 * d / 256.0;
            yB[v] = 25.064 * d / 256.0;
            crR[v] = 112.439 * d / 256.0 + 128.0;
            crG[v] = 94.154 * d / 256.0;
            crB[v] = 18.285 * d / 256.0;
        }
    }
};

const ConversionTerms &terms()
{
    static const ConversionTerms instance;
    return instance;
}

// 0xAARRGGBB (Qt) to 0x00BBGGRR (the device world's colour order).
inline quint32 toBgr(QRgb p)
{
    return ((p & 0xFFu) << 16) | (p & 0xFF00u) | ((p >> 16) & 0xFFu);
}

} // namespace

QImage OverBlack(const QImage &picture)
{
    if (!picture.hasAlphaChannel())
        return picture.format() == QImage::Format_RGB32 ? picture : picture.convertToFormat(QImage::Format_RGB32);
    // Premultiplied colour channels are the colour over black; only the alpha
    // byte is left to make opaque.
    QImage image = picture.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    for (int y = 0; y < image.height(); ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x)
            line[x] |= 0xFF000000u;
    }
    image.reinterpretAsFormat(QImage::Format_RGB32);
    return image;
}

QVector<quint32> CapturePixels(const QImage &picture, qint32 imageWidth, qint32 imageHeight)
{
    const qint64 w = std::max<qint32>(imageWidth, 0);
    const qint64 h = std::max<qint32>(imageHeight, 0);
    QVector<quint32> colors(w * h, 0xFFFFFFFFu);
    if (colors.isEmpty() || picture.isNull())
        return colors;

    // Read whole scan lines of a 32-bit copy instead of asking pixel by pixel.
    const QImage image = OverBlack(picture);
    if (image.isNull())
        return colors;

    const qint64 cols = std::min<qint64>(w, image.width());
    const qint64 rows = std::min<qint64>(h, image.height());
    quint32 *out = colors.data();
    for (qint64 y = 0; y < rows; ++y) {
        const auto *line = reinterpret_cast<const QRgb *>(image.constScanLine(int(y)));
        quint32 *row = out + y * w;
        for (qint64 x = 0; x < cols; ++x)
            row[x] = toBgr(line[x]);
    }
    return colors;
}

QByteArray ConvertPixels(const QVector<quint32> &pixelColors, qint32 imageWidth, qint32 imageHeight)
{
    // The width is even by contract; an odd one is taken rounded down, as the
    // preview does, so a pair never reaches past the image.
    const qint64 w = std::max<qint32>(imageWidth, 0) & ~qint64(1);
    const qint64 h = std::max<qint32>(imageHeight, 0);
    const qint64 pixels = w * h;
    // Every byte is written below, so the buffer need not be cleared first.
    QByteArray image(kBankHeaderSize + 2 * pixels, Qt::Uninitialized);
    auto *out = reinterpret_cast<quint8 *>(image.data());
    out[0] = kBankMarker;
    out[1] = out[2] = out[3] = 0;
    out[4] = quint8(w & 0xFF);
    out[5] = quint8((w >> 8) & 0xFF);
    out[6] = quint8(h & 0xFF);
    out[7] = quint8((h >> 8) & 0xFF);

    const quint32 *in = pixelColors.constData();
    QVector<quint32> padded;
    if (pixelColors.size() < pixels) {
        padded = pixelColors;
        padded.resize(pixels);
        std::fill(padded.begin() + pixelColors.size(), padded.end(), 0xFFFFFFFFu);
        in = padded.constData();
    }

    const ConversionTerms &t = terms();
    quint8 *p = out + kBankHeaderSize;
    // Pixel pairs (k, k + 1): chroma from the first pixel, luma from both.
    for (qint64 k = 0; k < pixels; k += 2, p += 4) {
        const quint32 c = in[k];
        const quint32 c1 = in[k + 1];
        const unsigned r = c & 0xFF, g = (c >> 8) & 0xFF, b = (c >> 16) & 0xFF;
        const unsigned r1 = c1 & 0xFF, g1 = (c1 >> 8) & 0xFF, b1 = (c1 >> 16) & 0xFF;
        p[0] = quint8(roundHalfEven(t.cbR[r] - t.cbG[g] + t.cbB[b]));
        p[1] = quint8(roundHalfEven(t.yR[r] + t.yG[g] + t.yB[b]));
        p[2] = quint8(roundHalfEven(t.crR[r] - t.crG[g] - t.crB[b]));
        p[3] = quint8(roundHalfEven(t.yR[r1] + t.yG[g1] + t.yB[b1]));
    }
    return image;
}

} // namespace qx
