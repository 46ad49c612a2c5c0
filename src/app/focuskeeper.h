#pragma once
// Keyboard focus the operator can see and keep.

#include <QObject>
#include <QPointer>

class QFrame;
class QWidget;

namespace qx {

// A panel or label that takes the focus draws a dark frame around itself
// while it has it (the style draws none on them).
void ShowFocusFrame(QFrame *control);

// Keeps the focus where the operator had it across a lock of a page: a
// locked control loses the focus to the next one in the tab order, and
// once the page is usable again the focus goes back to it, unless the
// operator has moved it meanwhile.
class FocusKeeper {
public:
    // Before `page` is locked: remembers the control of `page` with the
    // focus, or `sender`, the control whose command locks it, when the focus
    // is on another control of its group: an arrow key clicks the next
    // button of a group before it moves the focus there.
    void beforeLock(const QWidget *page, QWidget *sender);
    // After the lock: the control the toolkit gave the focus to instead.
    void afterLock();
    // The page is usable again.
    void restore();

private:
    QPointer<QWidget> m_had;
    QPointer<QWidget> m_gotInstead;
    bool m_held = false;
};

} // namespace qx
