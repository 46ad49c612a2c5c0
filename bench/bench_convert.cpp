// Pixel capture and conversion of a decoded 1920 x 1200 picture: the product's
// scan-line capture and table-driven conversion against the straightforward
// way (one pixel query per pixel, the formula per pair), in the same run.
// Prints both times, whether the outputs are identical, and
// convert_speedup=<straightforward / ours>. Then the decoding of the same
// picture stored as JPEG (quality 95) and as 24-bit BMP: the preview's own
// decoders against Qt's reader, whether both give the same bank image, and
// jpeg_decode_speedup / bmp_decode_speedup = <Qt / ours>.

#include "banks/imageroutines.h"
#include "banks/picture.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QImageReader>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

// A picture with gradients, noise and flat areas, stored as JPG and BMP-like
// real content would be; decoded through the same path as the preview.
QImage variedPicture(int width, int height)
{
    QImage picture(width, height, QImage::Format_RGB32);
    QRandomGenerator random(1234);
    for (int y = 0; y < height; ++y) {
        auto *line = reinterpret_cast<QRgb *>(picture.scanLine(y));
        for (int x = 0; x < width; ++x) {
            if ((x / 240 + y / 200) % 3 == 0) {
                line[x] = random.generate() | 0xFF000000u;
            } else {
                line[x] = qRgb((x * 255) / width, (y * 255) / height, ((x + y) / 4) & 0xFF);
            }
        }
    }
    return picture;
}

QVector<quint32> straightforwardCapture(const QImage &picture, int width, int height)
{
    QVector<quint32> colors(width * height);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const QRgb p = picture.pixel(x, y);
            colors[y * width + x] = quint32(qRed(p)) | quint32(qGreen(p)) << 8 | quint32(qBlue(p)) << 16;
        }
    }
    return colors;
}

QByteArray straightforwardConvert(const QVector<quint32> &colors, int width, int height)
{
    QByteArray image(8 + 2 * width * height, '\0');
    image[0] = char(0xA5);
    image[4] = char(width % 256);
    image[5] = char((width / 256) % 256);
    image[6] = char(height % 256);
    image[7] = char((height / 256) % 256);
    for (int k = 0; k <= width * height - 1; k += 2) {
        const quint32 c = colors[k], c1 = colors[k + 1];
        const double r = c & 0xFF, g = (c >> 8) & 0xFF, b = (c >> 16) & 0xFF;
        const double r1 = c1 & 0xFF, g1 = (c1 >> 8) & 0xFF, b1 = (c1 >> 16) & 0xFF;
        const int p = 8 + 2 * k;
        image[p] = char(int(std::nearbyint(128 - 37.945 * r / 256 - 74.494 * g / 256 + 112.439 * b / 256)));
        image[p + 1] = char(int(std::nearbyint(65.738 * r / 256 + 16 + 129.057 * g / 256 + 25.064 * b / 256)));
        image[p + 2] = char(int(std::nearbyint(112.439 * r / 256 + 128 - 94.154 * g / 256 - 18.285 * b / 256)));
        image[p + 3] = char(int(std::nearbyint(65.738 * r1 / 256 + 16 + 129.057 * g1 / 256 + 25.064 * b1 / 256)));
    }
    return image;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    constexpr int kRuns = 5;

    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("bench.jpg"));
    if (!dir.isValid() || !variedPicture(1920, 1200).save(file, "JPG", 95)) {
        std::fprintf(stderr, "cannot write the test picture\n");
        return 1;
    }
    const qx::PreviewResult preview = qx::PreviewPicture(file);
    if (!preview.accepted()) {
        std::fprintf(stderr, "picture refused: %s\n", qPrintable(preview.errorText));
        return 1;
    }
    const int w = preview.ImageWidth, h = preview.ImageHeight;
    std::printf("picture=%dx%d\n", w, h);

    // Best of several runs of each, alternating, so both see the same machine.
    double oursMs = 1e300, plainMs = 1e300;
    QByteArray ours, plain;
    for (int run = 0; run < kRuns; ++run) {
        QElapsedTimer clock;
        clock.start();
        ours = qx::ConvertPixels(qx::CapturePixels(preview.Picture1, w, h), w, h);
        oursMs = std::min(oursMs, clock.nsecsElapsed() / 1e6);

        clock.restart();
        plain = straightforwardConvert(straightforwardCapture(preview.Picture1, w, h), w, h);
        plainMs = std::min(plainMs, clock.nsecsElapsed() / 1e6);
    }
    std::printf("identical=%d\n", ours == plain ? 1 : 0);
    std::printf("ours_ms=%.2f\n", oursMs);
    std::printf("straightforward_ms=%.2f\n", plainMs);
    std::printf("convert_speedup=%.2f\n", plainMs / oursMs);

    // Decoding: the whole preview (open, read, decode, judge) against Qt's
    // reader alone, best of several alternating runs.
    bool decodedAlike = true;
    const QString bmpFile = dir.filePath(QStringLiteral("bench.bmp"));
    variedPicture(1920, 1200).save(bmpFile, "BMP");
    for (const auto &[name, path] : {std::pair{"jpeg", file}, std::pair{"bmp", bmpFile}}) {
        double previewMs = 1e300, qtMs = 1e300;
        QImage mine, theirs;
        for (int run = 0; run < kRuns; ++run) {
            QElapsedTimer clock;
            clock.start();
            mine = qx::PreviewPicture(path).Picture1;
            previewMs = std::min(previewMs, clock.nsecsElapsed() / 1e6);
            clock.restart();
            QImageReader reader(path);
            reader.setAutoTransform(false);
            theirs = reader.read();
            qtMs = std::min(qtMs, clock.nsecsElapsed() / 1e6);
        }
        const bool alike = qx::ConvertPixels(qx::CapturePixels(mine, w, h), w, h) ==
                           qx::ConvertPixels(qx::CapturePixels(theirs, w, h), w, h);
        decodedAlike = decodedAlike && alike;
        std::printf("%s_identical=%d\n", name, alike ? 1 : 0);
        std::printf("%s_preview_ms=%.2f\n", name, previewMs);
        std::printf("%s_qt_ms=%.2f\n", name, qtMs);
        std::printf("%s_decode_speedup=%.2f\n", name, qtMs / previewMs);
    }
    return ours == plain && decodedAlike ? 0 : 1;
}
