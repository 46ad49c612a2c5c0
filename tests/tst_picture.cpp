// The picture folder and the decoding verdict.

#include "banks/imageroutines.h"
#include "banks/picture.h"

#include <QImageReader>
#include <QImageWriter>
#include <QtTest>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif

using namespace qx;
Q_DECLARE_METATYPE(qx::PreviewResult)

namespace {

const auto hex = [](const char *h) { return QByteArray::fromHex(h); };

// A JPEG of varied colours.
QByteArray jpeg(int width, int height, bool progressive = false)
{
    QImage picture(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            picture.setPixel(x, y, qRgb(x * 40, y * 90, (x ^ y) * 20));
    QByteArray bytes;
    QBuffer buffer(&bytes);
    QImageWriter writer(&buffer, "JPG");
    writer.setProgressiveScanWrite(progressive);
    writer.write(picture);
    return bytes;
}

// A flat 8 x 8 CMYK JPEG (no Adobe marker: the values as stored) of C 224, M 255, Y 193, K 218. Each block holds
// only its DC coefficient (quantised by 8, so exact), coded with one-symbol tables: category 7, then end of block.
// In one scan, or sequential in four, one a component.
QByteArray cmykJpeg(bool fourScans = false)
{
    return hex("FFD8FFDB004300") + QByteArray(64, 8) + hex("FFC00014080008000804011100021100031100041100") +
           hex("FFC400140001") + QByteArray(15, 0) + hex("07FFC400141001") + QByteArray(15, 0) +
           (fourScans ? hex("00FFDA0008010100003F00607FFFDA0008010200003F007F7FFFDA0008010300003F00417F"
                            "FFDA0008010400003F005A7FFFD9")
                      : hex("00FFDA000E040100020003000400003F00603F904B4FFFD9"));
}

// What Qt's own reader makes of a picture, as the bank takes it.
QVector<quint32> qtPixels(const QString &file)
{
    QImageReader reader(file);
    reader.setAutoTransform(false);
    const QImage picture = reader.read();
    return CapturePixels(picture, picture.width() & ~1, picture.height());
}

// A progressive 8 x 8 grey JPEG of 64 x `bits` scans (896 by default), each sound: every coefficient comes in a
// first scan of its top bit and a refinement for each other bit. Both tables hold one code, "0", for symbol 0, the
// scans' data.
QByteArray scanBomb(char bits = 14)
{
    QByteArray j = hex("FFD8FFDB004300") + QByteArray(64, 1) + hex("FFC2000B080008000801011100");
    for (const char *table : {"00", "10"})
        j += hex("FFC40014") + hex(table) + QByteArray(1, 1) + QByteArray(16, 0);
    for (char k = 0; k < 64; ++k)
        for (char bit = bits - 1; bit >= 0; --bit)
            j += hex("FFDA0008010100") + k + k + char((bit == bits - 1 ? 0 : bit + 1) << 4 | bit) + '\x7F';
    return j + hex("FFD9");
}

// The headers of a BMP of width x height without its pixels (only a header check can tell the size of
// such a file). The colour masks follow a 40-byte info header or fill a larger one.
QByteArray bmpHeader(int width, int height, int bits = 24, quint32 compression = 0, QByteArray masks = {},
                     int infoSize = 40)
{
    const quint32 offset = 14 + qMax(infoSize, 40 + int(masks.size()));
    masks.resize(offset - 54, '\0');
    QByteArray b;
    QDataStream s(&b, QIODevice::WriteOnly);
    s.setByteOrder(QDataStream::LittleEndian);
    s.writeRawData("BM", 2);
    s << quint32(54) << quint32(0) << offset << quint32(infoSize) << qint32(width) << qint32(height) << quint16(1)
      << quint16(bits) << compression << quint32(0) << qint32(2835) << qint32(2835) << quint32(0) << quint32(0);
    return b + masks;
}

} // namespace

class TestPicture : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;
    QString write(const QString &name, const QByteArray &data)
    {
        QFile f(m_dir.filePath(name));
        if (!f.open(QIODevice::WriteOnly) || f.write(data) != data.size())
            qFatal("cannot write %s", qPrintable(name));
        return f.fileName();
    }

private Q_SLOTS:

    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        QVERIFY(QDir(m_dir.path()).mkpath(QStringLiteral("list/e.bmp"))); // a folder is not a picture
#ifdef Q_OS_UNIX
        // A special file named like a picture: opening it blocks.
        QVERIFY(::mkfifo(QFile::encodeName(m_dir.filePath("list/fifo.bmp")).constData(), 0600) == 0);
#endif
    }

    void listImageFiles()
    {
        for (const char *name :
             {"a.BMP", "b.jpeg", "c.gif", "d.txt", ".x.bmp", "Z.jpg", "y.JPG", "noext", "Ärger.bmp", "_x.gif", "1.jpg"})
            write(QStringLiteral("list/") + QString::fromUtf8(name), "x");
        QLocale::setDefault(QLocale(QLocale::German)); // the operator's alphabet
        QCOMPARE(ListImageFiles(m_dir.filePath("list")),
                 (QStringList{"_x.gif", "1.jpg", "a.BMP", "Ärger.bmp", "c.gif", "y.JPG", "Z.jpg"}));
        QVERIFY(ListImageFiles(m_dir.filePath(QStringLiteral("missing"))).isEmpty());
    }

    void verdict_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<int>("verdict");
        QTest::addColumn<QString>("param");           // the size shown, or for a refusal its reason
        QTest::addColumn<QVector<quint32>>("pixels"); // colours of the decoded picture, when given
        const auto row = [](const char *tag, const QString &file, PictureVerdict verdict, const char *param,
                            const QVector<quint32> &pixels = {}) {
            QTest::newRow(tag) << file << int(verdict) << QString(param) << pixels;
        };
        const auto ok = PictureVerdict::Accepted, large = PictureVerdict::TooLarge, error = PictureVerdict::Error;
        const char *unreadable = "Unable to read image data";
        const QString data = QStringLiteral(QX_TEST_DATA_DIR "/");

        // JPEGs decode exactly as Qt's reader decodes them; CMYK scaled by black, rounded to nearest, the
        // nearest to a half too (218 x 224 / 255 = 191.498, 218 x 193 / 255 = 164.996).
        row("cmyk jpg", write("cmyk.jpg", cmykJpeg()), ok, "8 x 8", QVector<quint32>(64, 0xA5DABF));
        row("cmyk jpg in four scans", write("cmyk4.jpg", cmykJpeg(true)), ok, "8 x 8", QVector<quint32>(64, 0xA5DABF));
        // Which scans of a sequential picture came is not known: one cut before its last scan is refused.
        row("cmyk jpg in four scans, cut before its last", write("cmyk3.jpg", cmykJpeg(true).chopped(14)), error,
            "Premature end of JPEG file");
        // Adobe's YCCK is taken as CMYK is.
        row("ycck jpg", write("ycck.jpg", cmykJpeg().insert(2, hex("FFEE000E41646F626500640000000002"))), ok, "8 x 8");
        row("jpg with chroma sampled 2x1 and 1x1", data + "odd-sampling.jpg", ok, "16 x 16",
            qtPixels(data + "odd-sampling.jpg"));
        // Header-only files: a refusal with the real size proves the size came from the header.
        row("widest bmp refused", write("wmax.bmp", bmpHeader(INT_MAX, 1)), large,
            "2147483647 x 1 is larger than 1920 x 1200");
        row("truncated bmp", write("short.bmp", bmpHeader(64, 64) + QByteArray(100, '\x7F')), error, unreadable);
        row("bmp file over 64 MiB: refused, never cut and used",
            write("long.bmp", bmpHeader(2, 1) + QByteArray(64 << 20, 0)), error, "File too large");
        // The JPEG library's warnings: one that loses nothing gives the clean picture's pixels, one that means
        // lost or damaged data refuses the file. Each file is the clean one with a few bytes changed.
        const QByteArray clean = jpeg(64, 48);
        const qsizetype sos = clean.indexOf("\xFF\xDA"), end = clean.size() - 2;
        const qsizetype mid = (sos + end) / 2 + (clean[(sos + end) / 2 - 1] == '\xFF'); // not inside FF 00
        const auto edit = [&](qsizetype at, qsizetype n, const QByteArray &put) {
            return QByteArray(clean).replace(at, n, put);
        };
        const QVector<quint32> same = qtPixels(write("clean.jpg", clean));
        for (const auto &[tag, bytes, refusal] :
             {std::tuple{"unknown JFIF revision", edit(11, 1, "\x02"), ""},
              {"scan parameters left 0", edit(sos + 11, 3, QByteArray(3, 0)), ""},
              {"bytes after the scan", edit(end, 0, QByteArray(16, 0x12)),
               "Corrupt JPEG data: 12 extraneous bytes before marker 0xd9"},
              {"bad code in the scan", edit(mid, 0, hex("FF00").repeated(5)), "Corrupt JPEG data: bad Huffman code"},
              {"unknown colour transform", edit(2, 18, hex("FFEE000E41646F626500640000000003")),
               "Unknown Adobe color transform code 3"},
              {"end marker missing", clean.left(end), ""},
              {"cut short", clean.left(mid), "Premature end of JPEG file"},
              {"cut, end marker added", edit(mid, end - mid, {}), "Corrupt JPEG data: premature end of data segment"}})
            row(tag, write(QString(tag) + ".jpg", bytes), *refusal ? error : ok, *refusal ? refusal : "64 x 48",
                *refusal ? QVector<quint32>() : same);
        // Stray bytes after the tables of a progressive picture's second scan lose nothing; cut before that
        // scan, it lacks the rest of its coefficients.
        const QByteArray progressive = jpeg(64, 48, true);
        const qsizetype second = progressive.indexOf("\xFF\xDA", progressive.indexOf("\xFF\xDA") + 2);
        row("progressive, 2 bytes before its second scan",
            write("p2.jpg", QByteArray(progressive).insert(second, "\x12\x34")), ok, "64 x 48",
            qtPixels(write("progressive.jpg", progressive)));
        row("progressive, cut before its second scan", write("pcut.jpg", progressive.left(second)), error,
            "Premature end of JPEG file");
        // Each coefficient whole in a scan of its own, cut after the first: its 128 bytes of tables and 11 of scan.
        row("progressive, only its first coefficient came", write("p1.jpg", scanBomb(1).left(139)), error,
            "Premature end of JPEG file");
        row("progressive jpg of 896 scans", write("scans.jpg", scanBomb()), error,
            "Progressive JPEG image has more than 500 scans");
#ifdef Q_OS_UNIX
        row("fifo.bmp", m_dir.filePath(QStringLiteral("list/fifo.bmp")), error, "Not a regular file");
#endif

        // Colours widened to full scale (5 bits: 31 -> 255, 16 -> 132, 8 -> 66; 6 bits: 32 -> 130).
        row("16-bit 555: white, black, (16, 8, 24)", write("555.bmp", bmpHeader(4, 1, 16) + hex("FF7F000018410000")),
            ok, "4 x 1", {0xFFFFFF, 0, 0xC64284, 0});
        row("16-bit 565: white, black, (16, 32, 8)",
            write("565.bmp", bmpHeader(4, 1, 16, 3, hex("00F80000E00700001F000000")) + hex("FFFF000008840000")), ok,
            "4 x 1", {0xFFFFFF, 0, 0x428284, 0});
        // Transparency is shown, and stored, over black. Masks: red, green, blue, alpha.
        row("32-bit with an alpha mask",
            write("v5alpha.bmp",
                  bmpHeader(2, 1, 32, 3, hex("0000FF0000FF0000FF000000000000FF"), 124) + hex("0000FF80FFFFFF00")),
            ok, "2 x 1", {0x000080, 0});
        // An alpha channel that is 0 everywhere is no transparency: the colours show as they are.
        row("32-bit with an alpha mask, alpha 0 everywhere",
            write("v5alpha0.bmp",
                  bmpHeader(2, 1, 32, 3, hex("0000FF0000FF0000FF000000000000FF"), 124) + hex("0000FF00FFFFFF00")),
            ok, "2 x 1", {0x0000FF, 0xFFFFFF});
        // Channels of any width come to 8 bits, wider ones rounded to nearest: 11-11-10 bits (1280, 720, 160 ->
        // 159, 90, 40); 6-17-5 bits with 4 of alpha (32, 65536, 16, 8 -> 130, 128, 132, 136) shown over black.
        row("32-bit 11-11-10",
            write("111110.bmp", bmpHeader(2, 1, 32, 3, hex("0000E0FF00FC1F00FF030000")) + hex("FFFFFFFFA0400BA0")), ok,
            "2 x 1", {0xFFFFFF, 0x285A9F});
        row("32-bit 6-17-5, 4 alpha bits",
            write("61754.bmp",
                  bmpHeader(2, 1, 32, 3, hex("0000C00FE0FF3F001F000000000000F0"), 124) + hex("FFFFFFFF10002088")),
            ok, "2 x 1", {0xFFFFFF, 0x464445});
        // The pixels start where the file header says: an old-style header, 8 bits, a palette of 2 entries.
        row("short palette of the old header",
            write("os2.bmp", hex("424D2400000000000000200000000C000000040001000100080000FF000000FF00010100")), ok,
            "4 x 1", {0x00FF00, 0xFF, 0xFF, 0x00FF00});
        // Run-length pictures 4 (RLE4: 6) x 2, a palette of 2 colours (green, red); damage is refused.
        const auto rle = [&](const char *name, int width, int bits, const char *runs) {
            QByteArray b = bmpHeader(width, 2, bits, bits == 8 ? 1 : 2, hex("00FF00000000FF00")) + hex(runs);
            return write(name, b.replace(46, 1, "\x02"));
        };
        row("rle4 runs and single colours", rle("rle4.bmp", 6, 4, "0310000301000001"), ok, "6 x 2",
            QVector<quint32>(6, 0x00FF00) + QVector<quint32>{0xFF, 0x00FF00, 0xFF, 0x00FF00, 0xFF, 0x00FF00});
        row("rle past the row end", rle("rle-row.bmp", 4, 8, "05010001"), error, unreadable);
        row("rle past the top row", rle("rle-top.bmp", 4, 8, "040100000401000004010001"), error, unreadable);
        row("rle colour beyond the palette", rle("rle-colour.bmp", 4, 8, "04020001"), error, unreadable);
        row("rle without its end code", rle("rle-end.bmp", 4, 8, "0401"), error, unreadable);
        // Masks are single runs of bits that do not overlap; a pixel names a colour of the palette.
        row("split channel mask",
            write("split.bmp", bmpHeader(2, 1, 16, 3, hex("00F40000E00300001F000000")) + hex("FFFF0000")), error,
            unreadable);
        row("overlapping masks",
            write("overlap.bmp", bmpHeader(2, 1, 16, 3, hex("00F80000E00F00001F000000")) + hex("FFFF0000")), error,
            unreadable);
        row("palette index beyond the palette",
            write("index.bmp", bmpHeader(4, 1, 8, 0, hex("00FF00000000FF00")) + hex("00010200")), error, unreadable);
        // Kinds of BMP that exist but are not read say so, apart from damage.
        for (const auto &[kind, bits, compression, infoSize, height] :
             {std::tuple{"BMP with 2 bits per pixel", 2, 0, 40, 1},
              {"BMP with 64 bits per pixel", 64, 0, 40, 1},
              {"BMP holding a JPEG", 0, 4, 40, 1},
              {"BMP holding a PNG", 0, 5, 40, 1},
              {"CMYK BMP", 32, 11, 40, 1},
              {"OS/2 BMP with Huffman compression", 1, 3, 64, 1},
              {"OS/2 BMP with 24-bit run-length compression", 24, 4, 64, 1},
              {"Top-down BMP with run-length compression", 8, 1, 40, -1}})
            row(kind,
                write(QString(kind).remove(QLatin1Char('/')) + ".bmp",
                      bmpHeader(4, height, bits, quint32(compression), {}, infoSize)),
                error, qPrintable(kind + QStringLiteral(" is not supported")));
    }

    void verdict()
    {
        QFETCH(QString, file);
        QFETCH(QVector<quint32>, pixels);
        const PreviewResult result = PreviewPicture(file);
        QTEST(int(result.verdict), "verdict");
        QTEST(result.accepted() ? result.paramText() : result.reason(), "param");
        if (result.verdict == PictureVerdict::Error)
            QCOMPARE(result.paramText(), QStringLiteral("0 x 0"));
        QCOMPARE(result.Picture1.isNull(), !result.accepted());
        if (result.accepted())
            QVERIFY(result.Picture1.width() - result.ImageWidth <= 1 && result.Picture1.height() == result.ImageHeight);
        QVERIFY2(!result.Picture1.hasAlphaChannel(), "the preview shows what the bank takes: nothing shows through");
        if (!pixels.isEmpty())
            QCOMPARE(CapturePixels(result.Picture1, result.ImageWidth, result.ImageHeight), pixels);
    }
};

QTEST_GUILESS_MAIN(TestPicture)
#include "tst_picture.moc"
