// Bank image helpers and the stored preset layouts.

#include "emulator.h"

#include <QImage>
#include <algorithm>
#include <cmath>

namespace qx7emu {

DeviceState presetLayout(int preset)
{
    DeviceState layout;
    if (preset < 1 || preset > 16)
        return layout;
    const int mask = preset == 16 ? 0xF : preset;
    for (int w = 0; w < 4; ++w) {
        layout.windows[w].enabled = (mask >> w) & 1;
        layout.windows[w].input = (preset - 1 + w) % 16;
        layout.windows[w].bank = 0;
    }
    layout.backgroundBank = (preset - 1) % 5;
    layout.fullScreen = 0;
    return layout;
}

bool parseBankHeader(const QByteArray &image, int *width, int *height)
{
    if (image.size() < 8)
        return false;
    const auto *b = reinterpret_cast<const uchar *>(image.constData());
    if (b[0] != 0xA5 || b[1] != 0 || b[2] != 0 || b[3] != 0)
        return false;
    const int w = b[4] | (b[5] << 8);
    const int h = b[6] | (b[7] << 8);
    if (image.size() != 2LL * w * h + 8)
        return false;
    if (width)
        *width = w;
    if (height)
        *height = h;
    return true;
}

QImage bankToRgbImage(const QByteArray &image)
{
    int w = 0;
    int h = 0;
    if (!parseBankHeader(image, &w, &h) || w < 1 || h < 1)
        return {};
    QImage rgb(w, h, QImage::Format_RGB32);
    const auto *src = reinterpret_cast<const uchar *>(image.constData()) + 8;
    const auto channel = [](double v) { return std::clamp(int(std::lround(v)), 0, 255); };
    const qint64 pixels = qint64(w) * h;
    // The pixels, rows from the top, go in pairs Cb, Y0, Cr, Y1 (UYVY); both
    // pixels of a pair share the pair's Cb and Cr.
    for (qint64 k = 0; k < pixels; k += 2, src += 4) {
        const double cb = src[0] - 128.0;
        // An odd pixel count leaves the last pair with only Cb and Y.
        const double cr = k + 1 < pixels ? src[2] - 128.0 : 0.0;
        for (qint64 i = k; i < k + 2 && i < pixels; ++i) {
            const double luma = 1.164383 * (src[1 + 2 * (i - k)] - 16.0);
            auto *line = reinterpret_cast<QRgb *>(rgb.scanLine(int(i / w)));
            line[i % w] = qRgb(channel(luma + 1.596027 * cr), channel(luma - 0.391762 * cb - 0.812968 * cr),
                               channel(luma + 2.017232 * cb));
        }
    }
    return rgb;
}

} // namespace qx7emu
