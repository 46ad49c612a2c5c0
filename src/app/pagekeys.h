#pragma once
// The keys that change the page, so a keyboard alone reaches every page:
// Ctrl+Tab and Ctrl+PgDn step forward through Presets, Switching and Files
// and Setup, round from the last to the first, Ctrl+Shift+Tab and Ctrl+PgUp
// back, always from the page shown; Ctrl+1, Ctrl+2 and Ctrl+3 open Presets,
// Switching and Files and Setup. A key does what a click on the page's panel
// does; a locked panel is passed over (and its own key does nothing). About
// is no page: a step never opens its box (its panel takes the focus and
// Space or Enter like a tab panel).

#include <QList>
#include <QObject>
#include <functional>

class QWidget;

namespace qx {

class PageKeys : public QObject {
    Q_OBJECT
public:
    struct Page {
        int tab; // 1, 2 or 9
        QWidget *panel;
    };
    // `pages` in stepping order; `shown` tells the tab shown now, `open` does
    // what a click on the page's panel does.
    PageKeys(QWidget *window, const QList<Page> &pages, std::function<int()> shown, std::function<void(int)> open);

    void step(int direction); // +1 forward, -1 back
    void openPage(int tab);

private:
    int position() const; // index in m_pages of the page shown

    QList<Page> m_pages;
    std::function<int()> m_shown;
    std::function<void(int)> m_open;
};

} // namespace qx
