#include "focuskeeper.h"

#include <QEvent>
#include <QFrame>
#include <utility>

namespace qx {

namespace {
class FocusFrame : public QObject {
public:
    explicit FocusFrame(QFrame *control) : QObject(control) {}
    bool eventFilter(QObject *watched, QEvent *e) override
    {
        // A control being destroyed loses the focus once it is no longer a
        // frame: then there is nothing to redraw.
        auto *control = qobject_cast<QFrame *>(watched);
        if (control == nullptr)
            return false;
        if (e->type() == QEvent::FocusIn) {
            m_style = control->frameStyle();
            m_width = control->lineWidth();
            control->setFrameStyle(QFrame::Box | QFrame::Plain);
            control->setLineWidth(3);
        } else if (e->type() == QEvent::FocusOut) {
            control->setFrameStyle(m_style);
            control->setLineWidth(m_width);
        }
        return false;
    }

private:
    int m_style = 0;
    int m_width = 1;
};
} // namespace

void ShowFocusFrame(QFrame *control)
{
    control->installEventFilter(new FocusFrame(control));
}

void FocusKeeper::beforeLock(const QWidget *page, QWidget *sender)
{
    if (m_held)
        return; // a second command before the read-back: the first one's focus counts
    // The window's own focus widget: the wait window may be the active one.
    QWidget *focus = page->window()->focusWidget();
    if (focus && sender && focus->parentWidget() == sender->parentWidget())
        focus = sender;
    m_had = focus && page->isAncestorOf(focus) ? focus : nullptr;
    m_held = m_had != nullptr;
}

void FocusKeeper::afterLock()
{
    if (m_held && !m_gotInstead)
        m_gotInstead = m_had->window()->focusWidget();
}

void FocusKeeper::restore()
{
    if (!std::exchange(m_held, false))
        return;
    QWidget *now = m_had ? m_had->window()->focusWidget() : nullptr;
    if (m_had && m_had->isEnabled() && m_had->isVisible() && (now == nullptr || now == m_gotInstead))
        m_had->setFocus(Qt::OtherFocusReason);
    m_had = nullptr;
    m_gotInstead = nullptr;
}

} // namespace qx
