#include "indicatornote.h"

namespace qx {

IndicatorNote::IndicatorNote(QObject *parent) : QObject(parent)
{
    m_timer.setSingleShot(true);
    m_timer.setTimerType(Qt::PreciseTimer); // a coarse timer may end it up to 5 % early
    m_timer.setInterval(kShownMs);
    connect(&m_timer, &QTimer::timeout, this, &IndicatorNote::changed);
}

void IndicatorNote::show(const QString &text)
{
    m_text = text;
    m_timer.start();
    Q_EMIT changed();
}

} // namespace qx
