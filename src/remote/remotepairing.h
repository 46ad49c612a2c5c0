#pragma once
// Pairing a tablet without typing the token: the panel shows a link with a
// one-time code ("/?pair=<code>", also as a QR code); the browser that opens
// it first gets the token as its cookie, as "?token=" gives it. A code is
// used up by that first browser and lasts kPairingSeconds at most; either
// way a new one takes its place at once (changed()), so the link the panel
// shows is always one that works. A wrong code changes nothing.

#include <QHostAddress>
#include <QImage>
#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>

namespace qx {

// How long a pairing code lasts when nobody uses it (five minutes).
constexpr int kPairingSeconds = 300;
// Letters and digits of a code: about 80 bits, far beyond guessing in its lifetime.
constexpr int kPairingCodeLength = 16;

class RemotePairing : public QObject {
    Q_OBJECT
public:
    explicit RemotePairing(int lifetimeMs = kPairingSeconds * 1000, QObject *parent = nullptr);

    QString code() const { return m_code; }
    // Whether `code` is the current code (an expired one has been replaced); it stays usable.
    bool valid(const QString &code) const;
    // Uses `code` up: true once, for the current code within its lifetime.
    bool redeem(const QString &code);
    // A new code now (the old one no longer pairs).
    void renew();

Q_SIGNALS:
    void changed();

private:
    int m_lifetimeMs;
    QString m_code;
    QTimer m_expiry;
};

// The address a tablet opens to reach the web remote on `port`: with other
// computers allowed, this computer's address on its network (an IPv4 address
// first; loopback and link-local ones are never chosen) from `candidates`,
// else its host name; without, 127.0.0.1. "http://192.0.2.10:5007/".
QString RemotePageAddress(bool allowOthers, quint16 port, const QList<QHostAddress> &candidates);
// The addresses of this computer's network interfaces that are up.
QList<QHostAddress> LocalNetworkAddresses();

// `text` as a QR code: one pixel per module, black on white, with a quiet
// zone of four modules; a null image when it does not fit a QR code. The
// lowest error correction: a screen is not smudged, and fewer modules are
// larger on it.
QImage QrCodeImage(const QString &text);

} // namespace qx
