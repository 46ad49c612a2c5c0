#pragma once
// The program's own BMP and JPEG decoders. Both work on the whole file held in
// memory, read the size from the headers first and decode the pixels only when
// the caller accepts that size, and refuse a damaged file with a reason rather
// than return a picture that is partly made up.

#include <QByteArray>
#include <QImage>
#include <QSize>
#include <QString>
#include <functional>

namespace qx {

struct DecodedPicture {
    QSize size;    // from the headers; invalid when they could not be read
    QImage image;  // RGB32, or ARGB32 when the file has real transparency
    QString error; // why the file could not be decoded ("" otherwise)
};

// Called with the size from the headers; false leaves the pixels undecoded.
using SizeCheck = std::function<bool(const QSize &)>;

// Every BMP kind: the old core header and the info headers of every length;
// 1, 4 and 8 bits with a palette (uncompressed or run-length), 16 and 32 bits
// with any channel masks (each channel widened to 8 bits), 24 bits. The pixels
// start where the file header says. Run-length data that writes outside the
// picture, ends inside a code or without its end code, or names a colour the
// palette lacks is refused; pixels it skips are colour 0.
DecodedPicture DecodeBmp(const QByteArray &file, const SizeCheck &fits);

// JPEG through libjpeg(-turbo), refusing at the library's first warning that
// means lost or damaged data (see JpegWarningRefuses) and a progressive
// picture of more than 500 scans. Grey pictures come out grey, CMYK ones as
// black-scaled RGB (rounded to nearest), with no rotation applied.
DecodedPicture DecodeJpeg(const QByteArray &file, const SizeCheck &fits);

// Whether libjpeg's warning `code` (a JWRN_ value of jerror.h) refuses the
// picture at once: it does unless the warning loses nothing (bytes skipped
// where `afterSegment` says they follow a marker segment, not a scan's data;
// an unknown JFIF revision; scan parameters a sequential picture ignores) or
// is judged once the scans are read (the data ending before its end marker:
// the picture is taken when every scan it needs came whole).
bool JpegWarningRefuses(int code, bool afterSegment);

} // namespace qx
