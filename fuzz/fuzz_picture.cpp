// The picture preview: arbitrary bytes saved as .bmp, .gif and .jpg.
//
// Checked: no crash; an accepted picture is decoded, at most 1920 (1921
// before rounding) x 1200 pixels, and its size is the decoded one; a refused
// one has size 0 x 0 after an error; the decoder's allocation limit is in
// force (the run's -malloc_limit_mb catches any single larger allocation);
// the name's extension does not change the verdict (the content decides).

#include "fuzzsupport.h"

#include "banks/picture.h"

#include <QImageReader>

using namespace qx;

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzz::startApp(false);
    // Loads the image plugins once, so their set-up does not count as a leak
    // of the first input.
    const QString warmUp = JoinPath(fuzz::programFolder(), QStringLiteral("warm.gif"));
    fuzz::writeFile(warmUp, QByteArray::fromBase64("R0lGODlhAQABAIAAAP///wAAACH5BAEAAAAALAAAAAABAAEAAAICRAEAOw=="));
    PreviewPicture(warmUp);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    PreviewResult first;
    for (const char *ext : {"bmp", "gif", "jpg"}) {
        const QString path = JoinPath(fuzz::programFolder(), QStringLiteral("picture.") + QLatin1String(ext));
        fuzz::writeFile(path, bytes);
        const PreviewResult r = PreviewPicture(path);
        QX_FUZZ_CHECK(QImageReader::allocationLimit() > 0 && QImageReader::allocationLimit() <= kDecodeLimitMB);
        switch (r.verdict) {
        case PictureVerdict::Accepted:
            QX_FUZZ_CHECK(!r.Picture1.isNull());
            QX_FUZZ_CHECK(r.ImageWidth == EvenWidth(r.Picture1.width()) && r.ImageHeight == r.Picture1.height());
            QX_FUZZ_CHECK(r.ImageWidth <= kMaxImageWidth && r.ImageHeight <= kMaxImageHeight);
            break;
        case PictureVerdict::TooLarge:
            QX_FUZZ_CHECK(r.ImageWidth > kMaxImageWidth || r.ImageHeight > kMaxImageHeight);
            break;
        case PictureVerdict::Error:
            QX_FUZZ_CHECK(r.ImageWidth == 0 && r.ImageHeight == 0 && r.Picture1.isNull());
            break;
        }
        if (ext[0] == 'b') {
            first = r;
        } else {
            QX_FUZZ_CHECK(r.verdict == first.verdict && r.ImageWidth == first.ImageWidth &&
                          r.ImageHeight == first.ImageHeight);
        }
    }
    return 0;
}
