#include "panelremote.h"

#include "language/messagetable.h"
#include "state/appcore.h"
#include "util/textutil.h"

#include <QDir>

namespace qx {

PanelRemote::PanelRemote(AppCore &core, QObject *parent)
    : QObject(parent), m_core(core), m_gateway(core), m_control(m_gateway)
{
}

void PanelRemote::start(const QString &folder, quint16 portOverride)
{
    const MessageTable &msg = m_core.state.msg;
    m_override = portOverride;
    m_path = RemoteSettingsPath(folder);
    m_settings = StartRemoteSettings(m_path);
    // Told once, in the note, for as long as the program runs.
    const QString shown = QDir::toNativeSeparators(m_path);
    if (!m_settings.unreadable.isEmpty())
        m_findings << FillIn(msg(76), shown) + QStringLiteral(" (") + m_settings.unreadable + QLatin1Char(')');
    if (m_settings.nulsLeftOut)
        m_findings << FillIn(msg(65), shown);
    if (m_settings.openToOthers)
        m_findings << FillIn(msg(77), shown);
    if (m_settings.tokenShort())
        m_findings << FillIn(msg(78), QString::number(kShortRemoteToken));
    m_control.apply(m_settings, portOverride);
    Q_EMIT settingsChanged();
}

void PanelRemote::change(bool enabled, const QString &port, bool allowOthers)
{
    if (!started() || m_override)
        return;
    bool ok = false;
    const uint number = port.trimmed().toUInt(&ok);
    if (ok && number >= 1 && number <= 65535)
        m_settings.port = quint16(number);
    m_settings.enabled = enabled;
    m_settings.allowOthers = allowOthers;
    // Nothing to tell when the folder cannot be written: the start-up has said
    // so already; a file that could not be read is in the note.
    SaveRemoteSettings(m_path, m_settings);
    m_control.apply(m_settings);
    Q_EMIT settingsChanged();
}

bool PanelRemote::newToken()
{
    if (!started() || m_override)
        return false;
    RemoteSettings next = m_settings;
    next.token = MakeRemoteToken();
    if (!SaveRemoteSettings(m_path, next)) {
        m_findings << FillIn(m_core.state.msg(89), QDir::toNativeSeparators(m_path));
        Q_EMIT settingsChanged();
        return false;
    }
    m_settings = next;
    m_control.apply(m_settings);
    Q_EMIT settingsChanged();
    return true;
}

} // namespace qx
