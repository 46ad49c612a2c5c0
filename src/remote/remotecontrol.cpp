#include "remotecontrol.h"

#include "httpremote.h"
#include "oscremote.h"
#include "remotegateway.h"

namespace qx {

QHostAddress RemoteBindAddress(bool allowOthers)
{
    return allowOthers ? QHostAddress(QHostAddress::Any) : QHostAddress(QHostAddress::LocalHost);
}

RemoteControl::RemoteControl(RemoteGateway &gateway, QObject *parent) : QObject(parent), m_gateway(gateway)
{
    connect(&m_pairing, &RemotePairing::changed, this, &RemoteControl::pairingChanged);
}

RemoteControl::~RemoteControl() = default;

void RemoteControl::stop()
{
    m_http.reset();
    m_osc.reset();
}

void RemoteControl::answerWaiting()
{
    if (m_http)
        m_http->answerWaiting();
}

bool RemoteControl::listening() const
{
    return m_http && m_osc;
}

void RemoteControl::apply(const RemoteSettings &s, quint16 portOverride)
{
    stop();
    // The page on the desk watches too, with the listeners off.
    m_gateway.setReadBackSeconds(s.readBackSeconds);
    m_gateway.setQuestionWaitSeconds(s.questionWaitSeconds);
    const quint16 port = portOverride != 0 ? portOverride : s.port;
    m_port = port;
    m_allowOthers = s.allowOthers;
    const bool on = s.enabled || portOverride != 0;
    if (!on) {
        setStatus(Status::Off);
        return;
    }
    // A new token or address: the link shown before pairs no more.
    m_pairing.renew();
    const QHostAddress address = RemoteBindAddress(s.allowOthers);
    HttpRemote::Access access;
    access.loopbackOnly = !s.allowOthers;
    access.tokenRequired = s.allowOthers;
    access.token = s.token.toUtf8();
    auto http = std::make_unique<HttpRemote>(m_gateway, access);
    http->setPairing(&m_pairing);
    auto osc = std::make_unique<OscRemote>(m_gateway, s.allowOthers, s.oscAllowed, s.oscFeedback);
    QString httpError, oscError;
    const bool httpUp = http->start(address, port, &httpError);
    const bool oscUp = osc->start(address, port, &oscError);
    if (!httpUp || !oscUp) {
        // Half a remote control would be a surprise: both run, or neither.
        setStatus(Status::Failed, !httpUp ? QStringLiteral("TCP: ") + httpError : QStringLiteral("UDP: ") + oscError);
        return;
    }
    m_http = std::move(http);
    m_osc = std::move(osc);
    setStatus(Status::Listening);
}

QString RemoteControl::pageAddress() const
{
    const quint16 port = m_http ? m_http->boundPort() : m_port;
    return RemotePageAddress(m_allowOthers, port, m_allowOthers ? LocalNetworkAddresses() : QList<QHostAddress>());
}

QString RemoteControl::pairingLink() const
{
    return pageAddress() + QStringLiteral("?pair=") + m_pairing.code();
}

void RemoteControl::setStatus(Status status, const QString &error)
{
    m_status = status;
    m_error = error;
    Q_EMIT statusChanged();
}

} // namespace qx
