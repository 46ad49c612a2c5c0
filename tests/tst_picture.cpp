// The picture folder, the decoding verdict and the preview frame arithmetic.

#include "banks/imageroutines.h"
#include "banks/picture.h"

#include <QBuffer>
#include <QDataStream>
#include <QDir>
#include <QFile>
#include <QImageReader>
#include <QTemporaryDir>
#include <QtTest>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif

using namespace qx;

namespace {

// A picture of one colour, encoded in `format`.
QByteArray encoded(int width, int height, const char *format)
{
    QImage picture(width, height, QImage::Format_RGB32);
    picture.fill(qRgb(40, 90, 160));
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    picture.save(&buffer, format);
    return bytes;
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
private Q_SLOTS:
    void initTestCase();
    void splitPath_data();
    void splitPath();
    void listImageFiles();
    void verdict_data();
    void verdict();
    void previewScale_data();
    void previewScale();
    void verdictLabels();

private:
    QTemporaryDir m_dir;
    QString write(const QString &name, const QByteArray &data)
    {
        QFile f(m_dir.filePath(name));
        if (!f.open(QIODevice::WriteOnly) || f.write(data) != data.size())
            qFatal("cannot write %s", qPrintable(name));
        return f.fileName();
    }
};

void TestPicture::initTestCase()
{
    QVERIFY(m_dir.isValid());
    QVERIFY(QDir(m_dir.path()).mkpath(QStringLiteral("list/e.bmp"))); // a folder is not a picture
#ifdef Q_OS_UNIX
    // Special files named like pictures: opening them blocks or never ends.
    QVERIFY(::mkfifo(QFile::encodeName(m_dir.filePath("list/fifo.bmp")).constData(), 0600) == 0);
    QVERIFY(QFile::link(m_dir.filePath("list/fifo.bmp"), m_dir.filePath("list/fifo-link.gif")));
    QVERIFY(QFile::link(QStringLiteral("/dev/zero"), m_dir.filePath("list/zero.jpg")));
#endif
}

void TestPicture::splitPath_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("extension"); // of the name
    const auto row = [](const char *tag, const char *path, const char *folder, const char *name, const char *ext) {
        QTest::newRow(tag) << QString(path) << QString(folder) << QString(name) << QString(ext);
    };
    row("drive and folder, upper-case extension", "C:\\pics\\photo.JPG", "C:\\pics", "photo.JPG", "JPG");
    row("drive only, two dots", "C:a.b.gif", "C:", "a.b.gif", "gif");
    row("drive root, no extension", "C:\\readme", "C:", "readme", "");
    row("backslash root, trailing dot", "\\name.", "\\", "name.", "");
    row("bare hidden name", ".x.bmp", "", ".x.bmp", "bmp");
    row("unix path, jpeg", "/home/a/b.jpeg", "/home/a", "b.jpeg", "jpeg");
    row("unix root", "/b.bmp", "/", "b.bmp", "bmp");
    row("mixed separators", "C:/pics\\new/x.gif", "C:/pics\\new", "x.gif", "gif");
    row("colon in a unix name", "/tmp/a:b.bmp", "/tmp", "a:b.bmp", "bmp");
    row("trailing separator", "/tmp/dir/", "/tmp/dir", "", "");
}

void TestPicture::splitPath()
{
    QFETCH(QString, path);
    QTEST(SplitPath(path), "folder");
    QTEST(path, "name");
    QTEST(FileExtension(path), "extension");
}

void TestPicture::listImageFiles()
{
    for (const char *name : {"a.BMP", "b.jpeg", "c.gif", "d.txt", ".x.bmp", "Z.jpg", "y.JPG", "noext"})
        write(QStringLiteral("list/") + QLatin1String(name), "x");
    QCOMPARE(ListImageFiles(m_dir.filePath("list")), (QStringList{"a.BMP", "c.gif", "y.JPG", "Z.jpg"}));
    QVERIFY(ListImageFiles(m_dir.filePath(QStringLiteral("missing"))).isEmpty());
}

void TestPicture::verdict_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<int>("verdict");
    QTest::addColumn<QString>("param");
    QTest::addColumn<QVector<quint32>>("pixels"); // colours of the decoded picture, when given
    const auto row = [](const char *tag, const QString &file, PictureVerdict verdict, const char *param,
                        const QVector<quint32> &pixels = {}) {
        QTest::newRow(tag) << file << int(verdict) << QString(param) << pixels;
    };
    const auto ok = PictureVerdict::Accepted, large = PictureVerdict::TooLarge, error = PictureVerdict::Error;
    const QString data = QStringLiteral(QX_TEST_DATA_DIR "/");

    const QByteArray largest = encoded(1920, 1200, "JPG");
    row("1920 x 1200 accepted", write("max.jpg", largest), ok, "1920 x 1200");
    row("1921 wide counts as 1920", write("w1921.jpg", encoded(1921, 1200, "JPG")), ok, "1920 x 1200");
    row("1 pixel wide", write("thin.bmp", encoded(1, 50, "BMP")), ok, "0 x 50");
    row("a JPG named .bmp", write("photo.bmp", encoded(16, 8, "JPG")), ok, "16 x 8");
    row("first frame of an animated GIF", data + "two-frames.gif", ok, "6 x 3", QVector<quint32>(18, 0x0000FF));
    // A 4 x 2 RLE8 picture whose data ends after its bottom row: the top row reads as palette entry 0 (green).
    row("pixels skipped by RLE are colour 0", data + "rle8-short.bmp", ok, "4 x 2",
        {0x00FF00, 0x00FF00, 0x00FF00, 0x00FF00, 0xFF, 0xFF, 0xFF, 0xFF});
    // A JPEG whose EXIF data says "rotate by 90 degrees": APP1 "Exif", a TIFF header, orientation (0112) = 6.
    const QByteArray jpeg = encoded(8, 2, "JPG"),
                     exif = QByteArray::fromHex(
                         "FFE100224578696600004D4D002A00000008000101120003000000010006000000000000");
    const QString turned = write("turned.jpg", jpeg.left(2) + exif + jpeg.mid(2));
    QImageReader rotating(turned);
    rotating.setAutoTransform(true);
    QCOMPARE(rotating.read().size(), QSize(2, 8)); // the orientation is really there
    row("no automatic rotation", turned, ok, "8 x 2");
    // Header-only files: a refusal with the real size proves the size came from the header.
    row("1922 wide refused", write("w1922.bmp", bmpHeader(1922, 1200)), large, "1922 x 1200");
    row("1201 high refused", write("h1201.bmp", bmpHeader(1920, 1201)), large, "1920 x 1201");
    row("30000 x 30000 from the header", write("huge.bmp", bmpHeader(30000, 30000)), large, "30000 x 30000");
    row("2048 x 1536 jpg refused", write("big.jpg", encoded(2048, 1536, "JPG")), large, "2048 x 1536");
    row("empty file", write("empty.gif", QByteArray()), error, "0 x 0");
    row("missing file", m_dir.filePath("missing.jpg"), error, "0 x 0");
    row("truncated bmp", write("short.bmp", bmpHeader(64, 64) + QByteArray(100, '\x7F')), error, "0 x 0");
    row("damaged jpg", write("damaged.jpg", QByteArray::fromHex("FFD8FFDB0043") + QByteArray(40, '\xFF')), error,
        "0 x 0");
    row("a PNG is not a bank picture", write("other.bmp", encoded(4, 4, "PNG")), error, "0 x 0");
    row("jpg cut before its end marker", write("cut.jpg", largest.left(largest.size() / 3)), error, "0 x 0");
#ifdef Q_OS_UNIX
    for (const char *name : {"fifo.bmp", "fifo-link.gif", "zero.jpg"})
        row(name, m_dir.filePath(QStringLiteral("list/") + QLatin1String(name)), error, "0 x 0");
#endif

    // Colours widened to full scale (5 bits: 31 -> 255, 16 -> 132, 8 -> 66; 6 bits: 32 -> 130).
    const auto hex = [](const char *h) { return QByteArray::fromHex(h); };
    row("16-bit 555: white, black, (16, 8, 24)", write("555.bmp", bmpHeader(4, 1, 16) + hex("FF7F000018410000")), ok,
        "4 x 1", {0xFFFFFF, 0, 0xC64284, 0});
    row("16-bit 565: white, black, (16, 32, 8)",
        write("565.bmp", bmpHeader(4, 1, 16, 3, hex("00F80000E00700001F000000")) + hex("FFFF000008840000")), ok,
        "4 x 1", {0xFFFFFF, 0, 0x428284, 0});
    // Transparency is shown, and stored, over black; the fourth byte of an uncompressed BMP is not transparency.
    const QByteArray v5masks = hex("0000FF0000FF0000FF000000000000FF"); // red, green, blue, alpha
    row("32-bit uncompressed, fourth bytes 0",
        write("v5rgb.bmp", bmpHeader(2, 1, 32, 0, v5masks, 124) + hex("0000FF00FFFFFF00")), ok, "2 x 1",
        {0x0000FF, 0xFFFFFF});
    row("32-bit with an alpha mask",
        write("v5alpha.bmp", bmpHeader(2, 1, 32, 3, v5masks, 124) + hex("0000FF80FFFFFF00")), ok, "2 x 1",
        {0x000080, 0});
    // GIF89a, 2 x 1, palette red, green, blue, white; green (index 1) is transparent; pixels 0, 1.
    row("gif with a transparent index",
        write("clear.gif", hex("47494638396102000100F10000FF000000FF000000FFFFFFFF"
                               "21F90401000001002C000000000200010000"
                               "0202440A003B")),
        ok, "2 x 1", {0x0000FF, 0});
}

void TestPicture::verdict()
{
    QFETCH(QString, file);
    QFETCH(QVector<quint32>, pixels);
    const PreviewResult result = PreviewPicture(file);
    QTEST(int(result.verdict), "verdict");
    QTEST(result.paramText(), "param");
    if (result.verdict == PictureVerdict::Error)
        QVERIFY2(!result.errorText.isEmpty(), "a decoding error carries the decoder's text");
    QCOMPARE(result.Picture1.isNull(), !result.accepted());
    if (result.accepted()) {
        QVERIFY(result.Picture1.width() - result.ImageWidth <= 1);
        QCOMPARE(result.Picture1.height(), result.ImageHeight);
    }
    QVERIFY2(!result.Picture1.hasAlphaChannel(), "the preview shows what the bank takes: nothing shows through");
    if (!pixels.isEmpty())
        QCOMPARE(CapturePixels(result.Picture1, result.ImageWidth, result.ImageHeight), pixels);
}

void TestPicture::previewScale_data()
{
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::addColumn<float>("previewWidth");
    QTest::addColumn<float>("previewHeight");
    QTest::newRow("800 x 600") << 800 << 600 << 3000.0f << 2250.0f;
    QTest::newRow("1920 x 1080, just below the frame ratio") << 1920 << 1080 << 4000.0f << 2250.0f;
    QTest::newRow("1280 x 480") << 1280 << 480 << 4005.0f << 1501.875f;
    QTest::newRow("2 x 1") << 2 << 1 << 4005.0f << 2002.5f;
    QTest::newRow("one pixel wide keeps the current width") << 0 << 40 << 1234.0f << 2250.0f;
}

void TestPicture::previewScale()
{
    QFETCH(int, width);
    QFETCH(int, height);
    QFETCH(float, previewWidth);
    QFETCH(float, previewHeight);
    const PreviewSize size = PreviewScale(PreviewFrame(), width, height, 1234.0f);
    // Exact: the window stores these single-precision values as they are.
    QVERIFY2(size.width == previewWidth, qPrintable(QString::number(size.width, 'g', 10)));
    QVERIFY2(size.height == previewHeight, qPrintable(QString::number(size.height, 'g', 10)));
}

void TestPicture::verdictLabels()
{
    // Only one verdict label changes per preview.
    const PreviewResult fine = {PictureVerdict::Accepted, 800, 600, {}, {}};
    PreviewDisplay d;
    ApplyPreview(d, fine, PreviewFrame());
    QVERIFY(d.loadEnabled && d.pictureShown && !d.errorVisible && !d.badVisible);
    QVERIFY(d.previewWidth == 3000.0f);

    ApplyPreview(d, {PictureVerdict::TooLarge, 2048, 1536, {}, {}}, PreviewFrame());
    QVERIFY(d.badVisible && !d.errorVisible && !d.loadEnabled && !d.pictureShown);
    QCOMPARE(d.param, QStringLiteral("2048 x 1536"));
    QVERIFY(d.previewWidth == 4005.0f && d.previewHeight == 2250.0f); // frame back to its design

    ApplyPreview(d, {PictureVerdict::Error, 0, 0, QStringLiteral("Unsupported image format"), {}}, PreviewFrame());
    QVERIFY(d.errorVisible && d.badVisible && !d.loadEnabled);
    QCOMPARE(d.errorText, QStringLiteral("Unsupported image format"));
    QCOMPARE(d.param, QStringLiteral("0 x 0"));

    ApplyPreview(d, fine, PreviewFrame());
    QVERIFY(!d.errorVisible && !d.badVisible && d.loadEnabled);
    d.previewWidth = 3333.0f; // a one-pixel-wide picture keeps the preview's width
    d.previewHeight = 1000.0f;
    ApplyPreview(d, {PictureVerdict::Accepted, 0, 40, {}, {}}, PreviewFrame());
    QVERIFY(d.loadEnabled && d.param == QStringLiteral("0 x 40"));
    QVERIFY(d.previewWidth == 3333.0f && d.previewHeight == 2250.0f);
}

QTEST_GUILESS_MAIN(TestPicture)
#include "tst_picture.moc"
