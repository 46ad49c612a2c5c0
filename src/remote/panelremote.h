#pragma once
// The remote control of a running panel: the door to the request runner, the
// listeners, and remote.ini with what reading it found. The start-up starts
// it and the shutdown answers what still waits (`RemoteStarter`); the
// window's Remote control group only shows it and passes the operator's
// changes on.

#include "remotecontrol.h"
#include "remotesettings.h"
#include "runnergateway.h"
#include "state/startup.h"

#include <QObject>
#include <QStringList>

namespace qx {

struct AppCore;

class PanelRemote : public QObject, public RemoteStarter {
    Q_OBJECT
public:
    explicit PanelRemote(AppCore &core, QObject *parent = nullptr);

    // Reads remote.ini from `folder` (writing it only when a token had to be
    // made; a file that cannot be read is never written) and starts what it
    // says; `portOverride` (--control-port) turns the listeners on for this
    // run on that port, and remote.ini is then left alone.
    void start(const QString &folder, quint16 portOverride) override;
    void answerWaiting() override { m_control.answerWaiting(); }

    // The operator's change: kept in remote.ini and applied at once. A port
    // text that is no port (1 to 65535) leaves the port before. Nothing
    // changes while a port of the command line is in use.
    void change(bool enabled, const QString &port, bool allowOthers);
    // A new token, kept in remote.ini first: a token the next start would
    // not find would lock the tablets out then, so when it cannot be written
    // the old one stays (and the findings say so). Not while a port of the
    // command line is in use.
    bool newToken();

    bool started() const { return !m_path.isEmpty(); }
    const RemoteSettings &settings() const { return m_settings; }
    quint16 portOverride() const { return m_override; }
    // What reading remote.ini found (unreadable, NUL bytes left out, a mode
    // open to others, a short token), in the run's language.
    const QStringList &findings() const { return m_findings; }
    RemoteControl &control() { return m_control; }

Q_SIGNALS:
    // Started, or the settings changed.
    void settingsChanged();

private:
    AppCore &m_core;
    RunnerGateway m_gateway;
    RemoteControl m_control;
    RemoteSettings m_settings;
    QString m_path;
    QStringList m_findings;
    quint16 m_override = 0;
};

} // namespace qx
