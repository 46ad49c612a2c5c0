#pragma once
// The bank upload: after the firmware check, "# " resynchronises the device's
// parser, "#LDIM size,bank" announces the image, and the bank image follows in
// numbered packets of 144 data bytes, each answered by one line. The display
// (job text, progress, time and rate) is reached through callbacks that the
// window supplies.

#include <QByteArray>
#include <QString>
#include <functional>

namespace qx {

class CommandExchange;
class MessageTable;

constexpr int kPacketData = 144;   // data bytes of a full packet
constexpr int kPacketOverhead = 6; // number, length, two trailer bytes
constexpr int kPacketSize = kPacketData + kPacketOverhead;

// Image size S, number of full packets P and length R of the final short
// packet (none when 0), from the picture size.
struct PacketPlan {
    qint32 S = 0;
    qint32 P = 0;
    qint32 R = 0;
};
PacketPlan PlanPackets(qint32 imageWidth, qint32 imageHeight);

// "#LDIM " S "," bank CR LF NUL.
QByteArray LdimCommand(qint32 imageSize, qint32 bank);

// Fills `packet` with packet `number` carrying `length` bytes of `image` from
// `offset`: number and length + 2 big-endian, the data, two zero bytes. The
// buffer is resized, not reallocated, so one buffer serves a whole upload.
// Bytes past the end of `image` go out as 0.
void BuildPacket(QByteArray &packet, qint32 number, const QByteArray &image, qint64 offset, int length);

// n / P * 100, rounded to the nearest integer, halves to even.
int ProgressPercent(qint32 n, qint32 packets);
// The bar of ShowProgress: (frame width rounded) div 100 * percent.
int ProgressBarWidth(double framingWidth, int percent);
// "42%".
QString ProgressText(int percent);
// Whether the time and rate text is due at tick t (last shown at t0): t AND 7 = 7
// and t differs from t0.
inline bool RateDue(qint32 t, qint32 t0)
{
    return (t & 7) == 7 && t != t0;
}
// "m:ss" CR LF "r.rr kBps" for n packets in t ticks (t div 10 >= 1), with the
// system locale's decimal separator; "" when t is below 10 ticks.
QString RateText(qint32 t, qint32 n);
// "maxpacket: " and P in upper-case hexadecimal.
QString MaxPacketText(qint32 packets);

// How an upload ended.
enum class UploadOutcome {
    Done,           // every byte went out and was acknowledged
    Stopped,        // the operator stopped it
    OldFirmware,    // refused before anything reached the bank
    NoVersionReply, // refused before anything reached the bank
    LinkFailed,     // a packet was not acknowledged in time, or the link closed
};

// The window's side of the upload. Unset callbacks are skipped.
struct UploadDisplay {
    std::function<void(const QString &)> txtJOB;
    // Bar width (ProgressBarWidth) and percent text (ProgressText); the
    // upload processes pending events once after each call.
    std::function<void(int percent)> ShowProgress;
    std::function<void(const QString &)> labTECHINFO;
    std::function<void(const QString &)> lab;
};

// Uploads BankImage (ConvertPixels of an ImageWidth x ImageHeight picture) into
// bank LoadBankRequest (0..3). Runs on the interface thread, processing events
// in its waits; exchange.stop() stops it at the next wait. Every outcome
// but Done leaves the exchange stopped. The caller tells the operator of a
// refusal or a link failure, clears LoadRunning and records the bank only on Done.
UploadOutcome UploadImage(CommandExchange &exchange, const MessageTable &msg, const QByteArray &BankImage,
                          qint32 ImageWidth, qint32 ImageHeight, qint32 LoadBankRequest,
                          const UploadDisplay &display = {});

} // namespace qx
