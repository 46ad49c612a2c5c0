#include "commlog.h"

namespace qx {

CommLog::CommLog(QObject *parent) : QObject(parent)
{
}

void CommLog::LogLine(const QString &text, int kind)
{
    // The mask keeps the count within 16 bits: 65,535 wraps to 0.
    m_count = (m_count + 1) & 0x10FFFF;
    m_countText = QString::number(m_count);
    Q_EMIT countChanged(m_countText);
    if (!m_showLog)
        return;
    m_diagCountText = m_countText;
    Q_EMIT diagnosticCountChanged(m_diagCountText);
    show(text, kind);
}

void CommLog::LogNote(const QString &text, int kind)
{
    if (m_showLog)
        show(text, kind);
}

void CommLog::show(const QString &text, int kind)
{
    if (m_feedToList) {
        m_entries.append(text);
        Q_EMIT entryAdded(text);
        if (m_entries.size() > kListLimit)
            clearList();
    }
    if (kind == Sent) {
        m_lastSent = text;
        Q_EMIT sentChanged(text);
    } else if (kind == Received) {
        m_lastReceived = text;
        Q_EMIT receivedChanged(text);
    }
}

void CommLog::resetCount()
{
    m_count = 0;
}

void CommLog::clearList()
{
    m_entries.clear();
    Q_EMIT listCleared();
}

} // namespace qx
