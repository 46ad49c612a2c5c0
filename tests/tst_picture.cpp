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

using namespace qx;

namespace {

bool writeFile(const QString &path, const QByteArray &data)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(data) == data.size();
}

// The 54-byte header of a 24-bit BMP claiming width x height, with no pixel
// data behind it: decoding it fails, so only a header check can report its size.
QByteArray bmpHeaderOnly(int width, int height)
{
    QByteArray b;
    QDataStream s(&b, QIODevice::WriteOnly);
    s.setByteOrder(QDataStream::LittleEndian);
    s.writeRawData("BM", 2);
    s << quint32(54) << quint32(0) << quint32(54) << quint32(40) << qint32(width) << qint32(height) << quint16(1)
      << quint16(24) << quint32(0) << quint32(0) << qint32(2835) << qint32(2835) << quint32(0) << quint32(0);
    return b;
}

QString data(const char *name)
{
    return QStringLiteral(QX_TEST_DATA_DIR "/") + QLatin1String(name);
}

// A JPEG whose EXIF data says "rotate by 90 degrees" (orientation 6).
QByteArray jpegWithOrientation(int width, int height)
{
    QImage picture(width, height, QImage::Format_RGB32);
    picture.fill(Qt::green);
    QByteArray jpeg;
    QBuffer buffer(&jpeg);
    buffer.open(QIODevice::WriteOnly);
    picture.save(&buffer, "JPG");
    const QByteArray tiff = QByteArray::fromHex("4D4D002A00000008"
                                                "0001"
                                                "011200030000000100060000"
                                                "00000000");
    QByteArray app1 = QByteArray::fromHex("FFE1");
    const int length = 2 + 6 + int(tiff.size());
    app1.append(char(length >> 8)).append(char(length & 0xFF)).append("Exif\0\0", 6).append(tiff);
    return jpeg.left(2) + app1 + jpeg.mid(2);
}

bool savePicture(const QString &path, int width, int height, const char *format)
{
    QImage picture(width, height, QImage::Format_RGB32);
    picture.fill(qRgb(40, 90, 160));
    return picture.save(path, format);
}

} // namespace

class TestPicture : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void fileExtension_data();
    void fileExtension();
    void splitPath_data();
    void splitPath();
    void listImageFiles();
    void verdict_data();
    void verdict();
    void firstFrameOfAnimatedGif();
    void runLengthSkippedPixelsAreColourZero();
    void noAutomaticRotation();
    void previewScale_data();
    void previewScale();
    void onePixelWideKeepsPreviewWidth();
    void verdictLabels();

private:
    QTemporaryDir m_dir;
    QString path(const QString &name) const { return m_dir.filePath(name); }
};

void TestPicture::initTestCase()
{
    QVERIFY(m_dir.isValid());
}

void TestPicture::fileExtension_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("extension");
    QTest::newRow("upper case") << "photo.JPG"
                                << "JPG";
    QTest::newRow("two dots") << "a.b.gif"
                              << "gif";
    QTest::newRow("none") << "readme"
                          << "";
    QTest::newRow("trailing dot") << "name."
                                  << "";
    QTest::newRow("hidden file") << ".x.bmp"
                                 << "bmp";
    QTest::newRow("jpeg") << "b.jpeg"
                          << "jpeg";
}

void TestPicture::fileExtension()
{
    QFETCH(QString, name);
    QFETCH(QString, extension);
    QCOMPARE(FileExtension(name), extension);
}

void TestPicture::splitPath_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("name");
    QTest::newRow("drive and folder") << "C:\\pics\\sunset.bmp"
                                      << "C:\\pics"
                                      << "sunset.bmp";
    QTest::newRow("drive only") << "C:sunset.bmp"
                                << "C:"
                                << "sunset.bmp";
    QTest::newRow("drive root") << "C:\\sunset.bmp"
                                << "C:"
                                << "sunset.bmp";
    QTest::newRow("backslash root") << "\\sunset.bmp"
                                    << "\\"
                                    << "sunset.bmp";
    QTest::newRow("bare name") << "sunset.bmp"
                               << ""
                               << "sunset.bmp";
    QTest::newRow("unix path") << "/home/a/b.bmp"
                               << "/home/a"
                               << "b.bmp";
    QTest::newRow("unix root") << "/b.bmp"
                               << "/"
                               << "b.bmp";
    QTest::newRow("mixed separators") << "C:/pics\\new/x.gif"
                                      << "C:/pics\\new"
                                      << "x.gif";
    QTest::newRow("colon in a unix name") << "/tmp/a:b.bmp"
                                          << "/tmp"
                                          << "a:b.bmp";
    QTest::newRow("trailing separator") << "/tmp/dir/"
                                        << "/tmp/dir"
                                        << "";
}

void TestPicture::splitPath()
{
    QFETCH(QString, path);
    QFETCH(QString, folder);
    QFETCH(QString, name);
    QString rest = path;
    QCOMPARE(SplitPath(rest), folder);
    QCOMPARE(rest, name);
}

void TestPicture::listImageFiles()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    for (const char *name : {"a.BMP", "b.jpeg", "c.gif", "d.txt", ".x.bmp", "Z.jpg", "y.JPG", "noext"})
        QVERIFY(writeFile(dir.filePath(QLatin1String(name)), "x"));
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("e.bmp")));
    QCOMPARE(ListImageFiles(dir.path()), (QStringList{"a.BMP", "c.gif", "y.JPG", "Z.jpg"}));
    QVERIFY(ListImageFiles(dir.filePath(QStringLiteral("missing"))).isEmpty());
}

void TestPicture::verdict_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<int>("verdict");
    QTest::addColumn<QString>("param");

    const auto ok = int(PictureVerdict::Accepted);
    const auto large = int(PictureVerdict::TooLarge);
    const auto error = int(PictureVerdict::Error);

    QVERIFY(savePicture(path("max.jpg"), 1920, 1200, "JPG"));
    QTest::newRow("1920 x 1200 accepted") << path("max.jpg") << ok << "1920 x 1200";
    QVERIFY(savePicture(path("w1921.jpg"), 1921, 1200, "JPG"));
    QTest::newRow("1921 wide counts as 1920") << path("w1921.jpg") << ok << "1920 x 1200";
    QVERIFY(savePicture(path("w801.bmp"), 801, 600, "BMP"));
    QTest::newRow("801 wide shown as 800") << path("w801.bmp") << ok << "800 x 600";
    QVERIFY(savePicture(path("thin.bmp"), 1, 50, "BMP"));
    QTest::newRow("1 pixel wide") << path("thin.bmp") << ok << "0 x 50";
    QVERIFY(savePicture(path("photo.bmp"), 16, 8, "JPG"));
    QTest::newRow("a JPG named .bmp") << path("photo.bmp") << ok << "16 x 8";

    // Header-only files: a refusal with the real size proves that the size came
    // from the header, since decoding them would fail.
    QVERIFY(writeFile(path("w1922.bmp"), bmpHeaderOnly(1922, 1200)));
    QTest::newRow("1922 wide refused") << path("w1922.bmp") << large << "1922 x 1200";
    QVERIFY(writeFile(path("h1201.bmp"), bmpHeaderOnly(1920, 1201)));
    QTest::newRow("1201 high refused") << path("h1201.bmp") << large << "1920 x 1201";
    QVERIFY(writeFile(path("huge.bmp"), bmpHeaderOnly(30000, 30000)));
    QTest::newRow("30000 x 30000 from the header") << path("huge.bmp") << large << "30000 x 30000";
    QVERIFY(savePicture(path("big.jpg"), 2048, 1536, "JPG"));
    QTest::newRow("2048 x 1536 jpg refused") << path("big.jpg") << large << "2048 x 1536";

    QVERIFY(writeFile(path("text.bmp"), "This is not a picture.\r\n"));
    QTest::newRow("text file named .bmp") << path("text.bmp") << error << "0 x 0";
    QVERIFY(writeFile(path("empty.gif"), QByteArray()));
    QTest::newRow("empty file") << path("empty.gif") << error << "0 x 0";
    QTest::newRow("missing file") << path("missing.jpg") << error << "0 x 0";
    QVERIFY(writeFile(path("short.bmp"), bmpHeaderOnly(64, 64) + QByteArray(100, '\x7F')));
    QTest::newRow("truncated bmp") << path("short.bmp") << error << "0 x 0";
    QVERIFY(writeFile(path("damaged.jpg"), QByteArray::fromHex("FFD8FFDB0043") + QByteArray(40, '\xFF')));
    QTest::newRow("damaged jpg") << path("damaged.jpg") << error << "0 x 0";
    QVERIFY(savePicture(path("other.bmp"), 4, 4, "PNG"));
    QTest::newRow("a PNG is not a bank picture") << path("other.bmp") << error << "0 x 0";
}

void TestPicture::verdict()
{
    QFETCH(QString, file);
    QFETCH(int, verdict);
    QFETCH(QString, param);
    const PreviewResult result = PreviewPicture(file);
    QCOMPARE(int(result.verdict), verdict);
    QCOMPARE(result.paramText(), param);
    if (result.verdict == PictureVerdict::Error)
        QVERIFY2(!result.errorText.isEmpty(), "a decoding error carries the decoder's text");
    QCOMPARE(result.Picture1.isNull(), !result.accepted());
    if (result.accepted()) {
        QVERIFY(result.Picture1.width() - result.ImageWidth <= 1);
        QCOMPARE(result.Picture1.height(), result.ImageHeight);
    }
}

void TestPicture::firstFrameOfAnimatedGif()
{
    // 6 x 3, a red frame then a blue one.
    QCOMPARE(QImageReader(data("two-frames.gif")).imageCount(), 2);
    const PreviewResult result = PreviewPicture(data("two-frames.gif"));
    QVERIFY(result.accepted());
    QCOMPARE(result.paramText(), QStringLiteral("6 x 3"));
    const QVector<quint32> pixels = CapturePixels(result.Picture1, result.ImageWidth, result.ImageHeight);
    QCOMPARE(pixels, QVector<quint32>(18, 0x0000FFu));
}

void TestPicture::runLengthSkippedPixelsAreColourZero()
{
    // A 4 x 2 RLE8 picture (palette green, red) whose data ends after its
    // bottom row: the top row is never written and must read as palette entry
    // 0, not as whatever the memory held.
    const PreviewResult result = PreviewPicture(data("rle8-short.bmp"));
    QVERIFY(result.accepted());
    const QVector<quint32> pixels = CapturePixels(result.Picture1, 4, 2);
    QCOMPARE(pixels, (QVector<quint32>{0x00FF00, 0x00FF00, 0x00FF00, 0x00FF00, 0xFF, 0xFF, 0xFF, 0xFF}));
}

void TestPicture::noAutomaticRotation()
{
    QVERIFY(writeFile(path("turned.jpg"), jpegWithOrientation(8, 2)));
    QImageReader rotating(path("turned.jpg"));
    rotating.setAutoTransform(true);
    QCOMPARE(rotating.read().size(), QSize(2, 8)); // the orientation is really there

    const PreviewResult result = PreviewPicture(path("turned.jpg"));
    QVERIFY(result.accepted());
    QCOMPARE(result.paramText(), QStringLiteral("8 x 2"));
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
    QTest::newRow("600 x 800") << 600 << 800 << 1687.5f << 2250.0f;
    QTest::newRow("1920 x 1200") << 1920 << 1200 << 3600.0f << 2250.0f;
    QTest::newRow("2 x 1") << 2 << 1 << 4005.0f << 2002.5f;
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

void TestPicture::onePixelWideKeepsPreviewWidth()
{
    QVERIFY(savePicture(path("line.bmp"), 1, 40, "BMP"));
    PreviewDisplay display;
    display.previewWidth = 3000.0f;
    display.previewHeight = 1000.0f;
    ApplyPreview(display, PreviewPicture(path("line.bmp")), PreviewFrame());
    QVERIFY(display.loadEnabled);
    QCOMPARE(display.param, QStringLiteral("0 x 40"));
    QVERIFY(display.previewWidth == 3000.0f);
    QVERIFY(display.previewHeight == 2250.0f);
}

void TestPicture::verdictLabels()
{
    // Only one verdict label changes per preview.
    PreviewResult error;
    error.errorText = QStringLiteral("Unsupported image format");
    PreviewResult large;
    large.verdict = PictureVerdict::TooLarge;
    large.ImageWidth = 2048;
    large.ImageHeight = 1536;
    PreviewResult fine;
    fine.verdict = PictureVerdict::Accepted;
    fine.ImageWidth = 800;
    fine.ImageHeight = 600;

    PreviewDisplay d;
    ApplyPreview(d, fine, PreviewFrame());
    QVERIFY(d.loadEnabled && d.pictureShown && !d.errorVisible && !d.badVisible);
    QVERIFY(d.previewWidth == 3000.0f);

    ApplyPreview(d, large, PreviewFrame());
    QVERIFY(d.badVisible && !d.errorVisible && !d.loadEnabled && !d.pictureShown);
    QCOMPARE(d.param, QStringLiteral("2048 x 1536"));
    QVERIFY(d.previewWidth == 4005.0f && d.previewHeight == 2250.0f); // frame back to its design

    ApplyPreview(d, error, PreviewFrame());
    QVERIFY(d.errorVisible && d.badVisible && !d.loadEnabled);
    QCOMPARE(d.errorText, QStringLiteral("Unsupported image format"));
    QCOMPARE(d.param, QStringLiteral("0 x 0"));

    ApplyPreview(d, fine, PreviewFrame());
    QVERIFY(!d.errorVisible && !d.badVisible && d.loadEnabled);
}

QTEST_GUILESS_MAIN(TestPicture)
#include "tst_picture.moc"
