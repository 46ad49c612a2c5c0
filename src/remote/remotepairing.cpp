#include "remotepairing.h"

#include "remotesettings.h"

#include <QHostInfo>
#include <QNetworkInterface>
#include <QRandomGenerator>

#include <qrencode.h>

namespace qx {

RemotePairing::RemotePairing(int lifetimeMs, QObject *parent) : QObject(parent), m_lifetimeMs(lifetimeMs)
{
    m_expiry.setSingleShot(true);
    connect(&m_expiry, &QTimer::timeout, this, &RemotePairing::renew);
    renew();
}

void RemotePairing::renew()
{
    // No letters that read alike (0/O, 1/I/L): the code may be read off the screen.
    static const char kAlphabet[] = "ABCDEFGHJKMNPQRSTUVWXYZ23456789";
    QString code;
    for (int i = 0; i < kPairingCodeLength; ++i)
        code += QLatin1Char(kAlphabet[QRandomGenerator::system()->bounded(int(sizeof kAlphabet - 1))]);
    m_code = code;
    m_expiry.start(m_lifetimeMs);
    Q_EMIT changed();
}

bool RemotePairing::valid(const QString &code) const
{
    return SameSecret(code.toUtf8(), m_code.toUtf8());
}

bool RemotePairing::redeem(const QString &code)
{
    const bool ok = valid(code);
    if (ok)
        renew();
    return ok;
}

QString RemotePageAddress(bool allowOthers, quint16 port, const QList<QHostAddress> &candidates)
{
    QString host = QStringLiteral("127.0.0.1");
    if (allowOthers) {
        const auto usable = [](const QHostAddress &a) { return !a.isLoopback() && !a.isLinkLocal() && !a.isNull(); };
        const auto pick = [&](QAbstractSocket::NetworkLayerProtocol protocol) {
            for (const QHostAddress &a : candidates)
                if (usable(a) && a.protocol() == protocol)
                    return a;
            return QHostAddress();
        };
        QHostAddress chosen = pick(QAbstractSocket::IPv4Protocol);
        if (chosen.isNull())
            chosen = pick(QAbstractSocket::IPv6Protocol);
        if (chosen.isNull())
            host = QHostInfo::localHostName();
        else if (chosen.protocol() == QAbstractSocket::IPv6Protocol)
            host = QLatin1Char('[') + chosen.toString() + QLatin1Char(']');
        else
            host = chosen.toString();
    }
    return QStringLiteral("http://%1:%2/").arg(host).arg(port);
}

QList<QHostAddress> LocalNetworkAddresses()
{
    QList<QHostAddress> out;
    for (const QNetworkInterface &i : QNetworkInterface::allInterfaces()) {
        const auto flags = i.flags();
        if (!flags.testFlag(QNetworkInterface::IsUp) || !flags.testFlag(QNetworkInterface::IsRunning) ||
            flags.testFlag(QNetworkInterface::IsLoopBack))
            continue;
        for (const QNetworkAddressEntry &e : i.addressEntries())
            out << e.ip();
    }
    return out;
}

QImage QrCodeImage(const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    QRcode *code = QRcode_encodeString8bit(bytes.constData(), 0, QR_ECLEVEL_L);
    if (!code)
        return {};
    constexpr int kQuiet = 4;
    const int size = code->width + 2 * kQuiet;
    QImage image(size, size, QImage::Format_Mono);
    image.setColor(0, qRgb(255, 255, 255));
    image.setColor(1, qRgb(0, 0, 0));
    image.fill(0);
    // Bit 0 of each module's byte is its colour: 1 dark.
    for (int y = 0; y < code->width; ++y)
        for (int x = 0; x < code->width; ++x)
            if (code->data[y * code->width + x] & 1)
                image.setPixel(x + kQuiet, y + kQuiet, 1);
    QRcode_free(code);
    return image;
}

} // namespace qx
