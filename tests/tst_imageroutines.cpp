// Conversion of captured pixels into the bank image format.

#include "banks/imageroutines.h"

#include <QtTest>
#include <cmath>

using namespace qx;

namespace {

quint32 bgr(int r, int g, int b)
{
    return quint32(r) | quint32(g) << 8 | quint32(b) << 16;
}

QByteArray bytes(std::initializer_list<int> values)
{
    QByteArray out;
    for (int v : values)
        out.append(char(v));
    return out;
}

} // namespace

class TestImageRoutines : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // Two pairs in the second row of a 512 x 2 picture of green, so a wrong index or pair order shows up: red then
    // blue (Cb, Y, Cr of the first), then a colour that cannot be read (white) and black. Given 513 wide: an odd
    // width is taken even, in the header too (low byte first).
    void pairSamples()
    {
        QVector<quint32> pixels(1026, bgr(0, 255, 0));
        pixels[514] = bgr(255, 0, 0);
        pixels[515] = bgr(0, 0, 255);
        pixels[516] = 0xFFFFFFFFu;
        pixels[517] = bgr(0, 0, 0);
        const QByteArray image = ConvertPixels(pixels, 513, 2);
        QCOMPARE(image.size(), 8 + 2 * 1024);
        QCOMPARE(image.left(8), bytes({0xA5, 0, 0, 0, 0x00, 0x02, 0x02, 0x00}));
        QCOMPARE(image.mid(8 + 2 * 514, 8), bytes({90, 81, 240, 41, 128, 235, 128, 16}));
        QCOMPARE(image.mid(8, 4), bytes({54, 145, 34, 145}));
    }

    void everyColourMatchesFormula()
    {
        // The device's formula exactly as written: each product divided by 256 on its
        // own, terms added left to right, double precision, halves to even.
        const auto samples = [](quint32 c) {
            const double r = c & 0xFF, g = (c >> 8) & 0xFF, b = (c >> 16) & 0xFF;
            const double cb = 128 - 37.945 * r / 256 - 74.494 * g / 256 + 112.439 * b / 256;
            const double y = 65.738 * r / 256 + 16 + 129.057 * g / 256 + 25.064 * b / 256;
            const double cr = 112.439 * r / 256 + 128 - 94.154 * g / 256 - 18.285 * b / 256;
            return std::array<int, 3>{int(std::nearbyint(cb)), int(std::nearbyint(y)), int(std::nearbyint(cr))};
        };
        // All 16,777,216 colours, one red value per run: each colour is the first
        // pixel of a pair (Cb, Y, Cr) and the second pixel of the next pair (Y1).
        constexpr int kWidth = 2 * 65536 + 2;
        QVector<quint32> pixels(kWidth);
        for (int r = 0; r < 256; ++r) {
            pixels[0] = bgr(r, 0, 0);
            for (int gb = 0; gb < 65536; ++gb)
                pixels[2 * gb + 1] = pixels[2 * gb + 2] = quint32(r) | quint32(gb) << 8;
            pixels[kWidth - 1] = 0;
            const QByteArray image = ConvertPixels(pixels, kWidth, 1);
            const auto *s = reinterpret_cast<const quint8 *>(image.constData()) + 8;
            for (int gb = 0; gb < 65536; ++gb) {
                const quint32 c = quint32(r) | quint32(gb) << 8;
                const auto want = samples(c);
                const quint8 *own = s + 4 * (gb + 1); // (c, next): Cb, Y, Cr of c; Y1 of c ends the pair before
                if (own[0] != want[0] || own[1] != want[1] || own[2] != want[2] || own[-1] != want[1])
                    QFAIL(qPrintable(QStringLiteral("colour %1").arg(c, 6, 16, QLatin1Char('0'))));
            }
        }
    }
};

QTEST_GUILESS_MAIN(TestImageRoutines)
#include "tst_imageroutines.moc"
