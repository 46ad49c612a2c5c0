#pragma once
// ImageRoutines: the decoded picture's pixels become the device's bank image.
// CapturePixels reads the colours of the picture (00BBGGRR, row by row) and
// ConvertPixels turns them into the header plus YCbCr 4:2:2 samples in the
// order Cb, Y, Cr, Y that the QX-7 stores in a bank.

#include <QByteArray>
#include <QImage>
#include <QVector>

namespace qx {

constexpr int kBankHeaderSize = 8;
constexpr quint8 kBankMarker = 0xA5;

// The picture as it is shown over black: opaque (Format_RGB32), each colour
// blended over black by its transparency. The preview shows this and
// CapturePixels reads it, so the bank holds what the preview shows.
QImage OverBlack(const QImage &picture);

// The colour of every pixel (x, y) with x < imageWidth and y < imageHeight at
// index y * imageWidth + x, as 0x00BBGGRR (red in the low byte). Pixels of a
// transparent picture are taken as shown over black (OverBlack). Pixels outside the
// picture (a size larger than the picture) read as the invalid colour
// 0xFFFFFFFF, which converts as white.
QVector<quint32> CapturePixels(const QImage &picture, qint32 imageWidth, qint32 imageHeight);

// The bank image of 2 * imageWidth * imageHeight + 8 bytes: marker 0xA5, three
// zero bytes, width and height little-endian, then per pixel pair (k, k + 1)
// Cb, Y, Cr of pixel k and Y of pixel k + 1. imageWidth is even (an odd one is
// taken rounded down); pixelColors holds imageWidth * imageHeight colours
// (missing ones convert as white).
QByteArray ConvertPixels(const QVector<quint32> &pixelColors, qint32 imageWidth, qint32 imageHeight);

} // namespace qx
