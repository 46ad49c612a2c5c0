#include "pagekeys.h"

#include <QKeySequence>
#include <QShortcut>
#include <QWidget>
#include <utility>

namespace qx {

PageKeys::PageKeys(QWidget *window, const QList<Page> &pages, std::function<int()> shown, std::function<void(int)> open)
    : QObject(window), m_pages(pages), m_shown(std::move(shown)), m_open(std::move(open))
{
    const auto bind = [this, window](const QKeySequence &key, std::function<void()> action) {
        auto *shortcut = new QShortcut(key, window);
        shortcut->setContext(Qt::WindowShortcut);
        shortcut->setAutoRepeat(false);
        connect(shortcut, &QShortcut::activated, this, std::move(action));
    };
    // Shift+Tab arrives as Backtab.
    for (const QKeyCombination key :
         {QKeyCombination(Qt::ControlModifier, Qt::Key_Tab), QKeyCombination(Qt::ControlModifier, Qt::Key_PageDown)})
        bind(QKeySequence(key), [this] { step(+1); });
    for (const QKeyCombination key : {QKeyCombination(Qt::ControlModifier | Qt::ShiftModifier, Qt::Key_Backtab),
                                      QKeyCombination(Qt::ControlModifier | Qt::ShiftModifier, Qt::Key_Tab),
                                      QKeyCombination(Qt::ControlModifier, Qt::Key_PageUp)})
        bind(QKeySequence(key), [this] { step(-1); });
    const std::pair<Qt::Key, int> direct[] = {{Qt::Key_1, 1}, {Qt::Key_2, 2}, {Qt::Key_3, 9}};
    for (const auto &[key, tab] : direct)
        bind(QKeySequence(QKeyCombination(Qt::ControlModifier, key)), [this, tab = tab] { openPage(tab); });
}

int PageKeys::position() const
{
    const int shown = m_shown();
    for (int i = 0; i < m_pages.size(); ++i)
        if (m_pages[i].tab == shown)
            return i;
    return 0;
}

void PageKeys::step(int direction)
{
    const int n = int(m_pages.size());
    int at = position();
    for (int tried = 1; tried < n; ++tried) {
        at = ((at + direction) % n + n) % n;
        if (m_pages[at].panel->isEnabled()) {
            openPage(m_pages[at].tab);
            return;
        }
    }
}

void PageKeys::openPage(int tab)
{
    for (const Page &p : std::as_const(m_pages)) {
        if (p.tab != tab || !p.panel->isEnabled())
            continue;
        m_open(tab);
        return;
    }
}

} // namespace qx
