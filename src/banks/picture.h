#pragma once
// The picture folder and the preview of the Files and Setup tab, as plain
// functions and structs: the window lists the folder with ListImageFiles,
// decodes the selected file with PreviewPicture, and copies what ApplyPreview
// computes into its controls (verdict labels, size text, preview frame, load
// button).

#include <QImage>
#include <QString>
#include <QStringList>

namespace qx {

// The largest picture a bank holds.
constexpr qint32 kMaxImageWidth = 1920;
constexpr qint32 kMaxImageHeight = 1200;

// The characters after the last "." of name; "" when there is none.
// "photo.JPG" -> "JPG", "a.b.gif" -> "gif", "readme" -> "".
QString FileExtension(const QString &name);

// Returns the folder part of path and leaves the file-name part in path.
// Both "/" and "\" separate folders; without a separator the part up to a
// first ":" is the folder ("C:x.bmp" -> "C:" + "x.bmp"). A path without either
// returns "" and stays as it is. A folder that would end with its separator
// loses it, except the root itself ("/b.bmp" -> "/" + "b.bmp").
QString SplitPath(QString &path);

// The names of the regular files of folder (not hidden, not folders, no links
// to special files) whose extension in lower case is jpg, gif or bmp, sorted
// without regard to case (the file list keeps this order). An empty or
// unreadable folder gives none. "Without regard to case" follows the user's
// collation (QCollator of the default locale). With processEvents the interface's pending
// events are processed after each directory entry (see ListTreeFiles).
QStringList ListImageFiles(const QString &folder, bool processEvents = false);

// Width of a picture as the bank takes it: rounded down to an even number.
inline qint32 EvenWidth(qint32 pixels)
{
    return pixels & ~qint32(1);
}

// Whether a picture of this size (width already even) fits a bank.
inline bool PictureSizeAccepted(qint32 imageWidth, qint32 imageHeight)
{
    return imageWidth <= kMaxImageWidth && imageHeight <= kMaxImageHeight;
}

enum class PictureVerdict {
    Accepted, // decoded and small enough: can be loaded
    TooLarge, // "Picture size is invalid"
    Error,    // the decoder's error text
};

struct PreviewResult {
    PictureVerdict verdict = PictureVerdict::Error;
    qint32 ImageWidth = 0;  // even; 0 after an error
    qint32 fileWidth = 0;   // the width as the file gives it
    qint32 ImageHeight = 0; // 0 after an error
    QString errorText;      // the decoder's description (verdict Error)
    QImage Picture1;        // the decoded picture (verdict Accepted only)

    bool accepted() const { return verdict == PictureVerdict::Accepted; }
    // labPARAM: "800 x 600"; a picture refused for its size with its true
    // width ("2049 x 1536", where the bank would take 2048).
    QString paramText() const;
    // Why the picture is refused: the decoder's text, or the size rule
    // ("1922 x 1200 is larger than 1920 x 1200"); "" when it is accepted.
    QString reason() const;
};

// Decodes the picture file (BMP, GIF or JPG by content; the first frame of an
// animated GIF; no automatic rotation) and judges it. BMP and JPEG go through
// the program's own decoders (decoders.h), GIF through Qt's reader. The size is
// read from the file's header first: a picture over the limits is refused with
// its real size without its pixels being decoded. A file that cannot be
// decoded gives verdict Error, size 0 x 0 and the decoder's error text; so does
// anything but a regular file (never read), a damaged file, and a BMP or JPEG
// file over 64 MiB. Picture1 is opaque: transparency is shown over black
// (OverBlack).
PreviewResult PreviewPicture(const QString &LoadFileRequest);

// Caps what one decoded picture may allocate (process-wide; done once, on the
// first PreviewPicture). Far above what 1920 x 1200 pixels need.
constexpr int kDecodeLimitMB = 64;
void LimitDecoderAllocation();

// pictPREVIEW as designed, in twips; captured once at start-up.
struct PreviewFrame {
    qint32 PreviewWidth = 4005;
    qint32 PreviewHeight = 2250;
    double PreviewRatio = 4005.0 / 2250.0;
};

// The size of the preview for an accepted picture: the picture's proportions,
// filling the designed frame in one direction without leaving it in the other.
// Computed in double precision and kept, as the control keeps it, in single
// precision. A picture of width 0 (one pixel wide) gets the designed height and
// keeps currentWidth.
struct PreviewSize {
    float width = 0;
    float height = 0;
};
PreviewSize PreviewScale(const PreviewFrame &frame, qint32 imageWidth, qint32 imageHeight, float currentWidth);

// What the Files and Setup tab shows of the preview; the window mirrors it in
// its controls. The defaults are the controls' design state.
struct PreviewDisplay {
    bool errorVisible = false;                                   // labPICTUREERROR
    QString errorText = QStringLiteral("Error loading picture"); // its caption
    bool badVisible = false;                                     // labPICTUREBAD
    QString param = QStringLiteral("-");                         // labPARAM
    bool loadEnabled = false;                                    // cmdLOAD
    bool pictureShown = false;                                   // pictPREVIEW shows the picture (else it is empty)
    float previewWidth = 4005;                                   // pictPREVIEW size in twips
    float previewHeight = 2250;
};

// Applies a preview's verdict. Only one verdict label changes per preview: an
// error leaves labPICTUREBAD as it was, a size refusal leaves labPICTUREERROR.
void ApplyPreview(PreviewDisplay &display, const PreviewResult &result, const PreviewFrame &frame);

} // namespace qx
