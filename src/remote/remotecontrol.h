#pragma once
// The remote control as a whole: the HTTP and OSC listeners on the port the
// settings (or --control-port) name, bound to 127.0.0.1 unless other
// computers are allowed, started and stopped as the settings change. A port
// that cannot be opened is reported in the note, never more.

#include "remotepairing.h"
#include "remotesettings.h"

#include <QObject>
#include <memory>

namespace qx {

class HttpRemote;
class OscRemote;
class RemoteGateway;

// Where the listeners are bound: 127.0.0.1, or every address of this computer.
QHostAddress RemoteBindAddress(bool allowOthers);

class RemoteControl : public QObject {
    Q_OBJECT
public:
    explicit RemoteControl(RemoteGateway &gateway, QObject *parent = nullptr);
    ~RemoteControl() override;

    // Starts, restarts or stops the listeners for `settings`; `portOverride`
    // (from --control-port, 0 none) turns them on for this run on that port.
    void apply(const RemoteSettings &settings, quint16 portOverride = 0);
    void stop();
    // The program is ending: every HTTP request still waiting is answered
    // 503 at once and its answer handed to the system, and nothing new is taken.
    void answerWaiting();

    bool listening() const;
    quint16 port() const { return m_port; }
    HttpRemote *http() const { return m_http.get(); }
    OscRemote *osc() const { return m_osc.get(); }
    enum class Status { Off, Listening, Failed };
    Status status() const { return m_status; }
    // Why the port could not be opened (Failed).
    QString error() const { return m_error; }
    // The web remote's address as a tablet opens it, and the one-time link
    // that pairs it ("…/?pair=<code>"); it changes when used or expired (pairingChanged).
    QString pageAddress() const;
    QString pairingLink() const;
    RemotePairing &pairing() { return m_pairing; }

Q_SIGNALS:
    void statusChanged();
    void pairingChanged();

private:
    void setStatus(Status status, const QString &error = {});

    RemoteGateway &m_gateway;
    std::unique_ptr<HttpRemote> m_http;
    std::unique_ptr<OscRemote> m_osc;
    quint16 m_port = 0; // the port in use or tried
    Status m_status = Status::Off;
    QString m_error;
    bool m_allowOthers = false;
    RemotePairing m_pairing;
};

} // namespace qx
