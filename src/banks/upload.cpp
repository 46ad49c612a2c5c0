#include "upload.h"

#include "language/messagetable.h"
#include "link/commandexchange.h"
#include "link/devicelink.h"
#include "link/versioncheck.h"
#include "util/seams.h"
#include "util/textutil.h"

#include <QCoreApplication>
#include <QLocale>
#include <algorithm>
#include <cstring>

namespace qx {

PacketPlan PlanPackets(qint32 imageWidth, qint32 imageHeight)
{
    PacketPlan plan;
    plan.S = qint32(qint64(imageWidth) * (qint64(imageHeight) + imageHeight) + 8);
    plan.P = plan.S / kPacketData;
    plan.R = plan.S % kPacketData;
    return plan;
}

QByteArray LdimCommand(qint32 imageSize, qint32 bank)
{
    QByteArray command = "#LDIM " + QByteArray::number(imageSize) + ',' + QByteArray::number(bank) + "\r\n";
    command.append('\0');
    return command;
}

void BuildPacket(QByteArray &packet, qint32 number, const QByteArray &image, qint64 offset, int length)
{
    packet.resize(kPacketOverhead + length);
    auto *p = reinterpret_cast<quint8 *>(packet.data());
    const int field = length + 2; // data and trailer
    p[0] = quint8((number >> 8) & 0xFF);
    p[1] = quint8(number & 0xFF);
    p[2] = quint8((field >> 8) & 0xFF);
    p[3] = quint8(field & 0xFF);
    const qint64 have = std::clamp<qint64>(image.size() - offset, 0, length);
    if (have > 0)
        std::memcpy(p + 4, image.constData() + offset, size_t(have));
    std::memset(p + 4 + have, 0, size_t(length - have + 2));
}

int ProgressPercent(qint32 n, qint32 packets)
{
    if (packets <= 0)
        return 100;
    return int(RoundHalfEven(double(n) / double(packets) * 100.0));
}

int ProgressBarWidth(double framingWidth, int percent)
{
    return int(RoundHalfEven(framingWidth)) / 100 * percent;
}

QString ProgressText(int percent)
{
    return QString::number(percent) + QLatin1Char('%');
}

QString RateText(qint32 t, qint32 n)
{
    const qint32 seconds = t / 10;
    if (seconds < 1)
        return QString();
    const double rate = double(n) * kPacketData / seconds / 1024.0;
    // Plain digits with the system's decimal separator, never a group separator.
    QString rateText = QString::number(rate, 'f', 2);
    rateText.replace(QLatin1Char('.'), QLocale::system().decimalPoint());
    return QString::number(t / 600) + QLatin1Char(':') +
           QStringLiteral("%1").arg((t % 600) / 10, 2, 10, QLatin1Char('0')) + QStringLiteral("\r\n") + rateText +
           QStringLiteral(" kBps");
}

QString MaxPacketText(qint32 packets)
{
    return QStringLiteral("maxpacket: ") + QString::number(quint32(packets), 16).toUpper();
}

namespace {

// Unsent bytes allowed to queue up while packets are acknowledged.
constexpr qint64 kMaxBacklog = 64 * 1024;

// One upload's walk through the protocol. Kept as a class so that the waits,
// the display and the failure ending share their state without globals.
class Uploader {
public:
    Uploader(CommandExchange &exchange, const MessageTable &msg, const UploadDisplay &display)
        : m_ex(exchange), m_msg(msg), m_display(display)
    {
        // Counts the lines the exchange cuts out, so that an acknowledgement is
        // recognised even when its text is blank (ReplyText is then empty).
        m_cutCounter = QObject::connect(&m_ex, &CommandExchange::lineCut, [this] { ++m_linesCut; });
    }
    ~Uploader() { QObject::disconnect(m_cutCounter); }

    UploadOutcome run(const QByteArray &image, qint32 width, qint32 height, qint32 bank);

private:
    void job(const QString &text)
    {
        if (m_display.txtJOB)
            m_display.txtJOB(text);
        QCoreApplication::processEvents();
    }
    void showProgress(int percent)
    {
        if (m_display.ShowProgress)
            m_display.ShowProgress(percent);
        QCoreApplication::processEvents();
    }
    void techInfo(const QString &text)
    {
        if (m_display.labTECHINFO)
            m_display.labTECHINFO(text);
    }
    // What was sent must have left before the device is given its pause, and
    // before the upload counts as done; a device that stops taking bytes is
    // a link failure, not a success.
    bool sent() { return m_ex.flush(); }
    // Sends one packet and waits for any line; true when one came.
    bool sendAcknowledged(const QByteArray &packet)
    {
        const bool lineWaiting = !m_ex.rxLine().isEmpty();
        m_linesCut = 0;
        m_ex.SendCommand(packet);
        m_ex.WaitReply(QString());
        return lineWaiting || m_linesCut > 0 || !m_ex.replyText().isEmpty();
    }
    // A dead link: stop, rather than stream the rest of the image into nothing.
    UploadOutcome linkFailed()
    {
        techInfo(QString());
        m_ex.stop();
        return UploadOutcome::LinkFailed;
    }

    CommandExchange &m_ex;
    const MessageTable &m_msg;
    const UploadDisplay &m_display;
    QMetaObject::Connection m_cutCounter;
    int m_linesCut = 0;
};

UploadOutcome Uploader::run(const QByteArray &image, qint32 width, qint32 height, qint32 bank)
{
    m_ex.ClearReceive();
    job(m_msg(6));

    switch (CheckVersion(m_ex)) {
    case VersionVerdict::Accepted:
        break;
    case VersionVerdict::Old:
        return UploadOutcome::OldFirmware;
    case VersionVerdict::NoReply:
        return UploadOutcome::NoVersionReply;
    }

    // Resynchronise the device's command parser; its answer is not examined.
    static const QByteArray resync("# \r\n\0", 5);
    m_ex.SendCommand(resync);
    if (!sent())
        return linkFailed();
    Sleep(500);
    m_ex.WaitReply(QString());
    if (m_ex.stopped())
        return UploadOutcome::Stopped;
    if (m_ex.linkLost())
        return linkFailed();

    // Announce the size; a missing answer is only logged by the wait.
    const PacketPlan plan = PlanPackets(width, height);
    // The device prepares its bank memory during the pause.
    m_ex.SendCommand(LdimCommand(plan.S, bank));
    if (!sent())
        return linkFailed();
    Sleep(5000);
    m_ex.WaitReply(QStringLiteral("~01@LDIM"));
    if (m_ex.stopped())
        return UploadOutcome::Stopped;
    if (m_ex.linkLost())
        return linkFailed();

    showProgress(0);
    job(m_msg(2));
    if (m_display.lab)
        m_display.lab(MaxPacketText(plan.P));
    m_ex.resetTimeTicks();
    qint32 t0 = 0;

    QByteArray packet;
    packet.reserve(kPacketSize);
    for (qint32 n = 1; n <= plan.P; ++n) {
        showProgress(ProgressPercent(n, plan.P));
        const qint32 t = m_ex.timeTicks();
        if (RateDue(t, t0)) {
            if (t / 10 >= 1)
                techInfo(RateText(t, n));
            t0 = t;
        }
        BuildPacket(packet, n, image, qint64(n - 1) * kPacketData, kPacketData);
        const bool acknowledged = sendAcknowledged(packet);
        if (m_ex.stopped())
            break;
        if (!acknowledged || m_ex.linkLost())
            return linkFailed();
        // Lines that acknowledge packets the device never took would let the
        // unsent bytes pile up in the program.
        if (m_ex.pendingBytes() > kMaxBacklog && !sent())
            return linkFailed();
    }
    techInfo(QString());
    if (m_ex.stopped())
        return UploadOutcome::Stopped;

    showProgress(100);
    if (plan.R > 0) {
        BuildPacket(packet, plan.P + 1, image, qint64(plan.P) * kPacketData, plan.R);
        const bool acknowledged = sendAcknowledged(packet);
        if (m_ex.stopped())
            return UploadOutcome::Stopped;
        if (!acknowledged)
            return linkFailed();
    }
    if (!sent() || m_ex.linkLost())
        return linkFailed();
    return UploadOutcome::Done;
}

} // namespace

UploadOutcome UploadImage(CommandExchange &exchange, const MessageTable &msg, const QByteArray &BankImage,
                          qint32 ImageWidth, qint32 ImageHeight, qint32 LoadBankRequest, const UploadDisplay &display)
{
    Uploader uploader(exchange, msg, display);
    return uploader.run(BankImage, ImageWidth, ImageHeight, LoadBankRequest);
}

} // namespace qx
