#include "windowscaler.h"

#include "panelstyle.h"
#include "util/controls.h"
#include "util/layoutfit.h"
#include "util/seams.h"
#include "widgets.h"

#include <QEvent>
#include <QGuiApplication>
#include <QPushButton>
#include <QScreen>
#include <QStyleOption>
#include <QWidget>
#include <cmath>
#include <utility>

namespace qx {

namespace {
// Room kept for the window manager's title bar and borders, which the window
// does not know before it is shown.
constexpr int kFrameAllowanceWidth = 16;
constexpr int kFrameAllowanceHeight = 48;

// The caption's width, icon included, and the room the button's face leaves it.
bool CaptionFits(const QPushButton *button)
{
    QStyleOptionButton o;
    o.initFrom(button);
    const QRect room = button->style()->subElementRect(QStyle::SE_PushButtonContents, &o, button);
    const int icon = button->icon().isNull() ? 0 : button->iconSize().width() + 4;
    return button->fontMetrics().size(Qt::TextShowMnemonic, button->text()).width() + icon <= room.width();
}

QSize scaled(const QSize &size, double scale)
{
    return {int(std::lround(size.width() * scale)), int(std::lround(size.height() * scale))};
}
} // namespace

WindowScaler::WindowScaler(QWidget *window, const QSize &design) : QObject(window), m_window(window), m_design(design)
{
    m_fonts.push_back({window, window->font().pointSizeF()});
    for (QObject *c : WindowControls(window)) {
        auto *w = qobject_cast<QWidget *>(c);
        if (!w || w == window || w->isWindow())
            continue;
        m_placeOf.insert(w, m_places.size());
        m_places.push_back({w, w->geometry(), w->geometry()});
        // Every control gets its font set: one drawn through a style sheet
        // (the command buttons) would not follow its window's font.
        m_fonts.push_back({w, w->font().pointSizeF()});
        w->installEventFilter(this);
    }
    window->installEventFilter(this);
    window->setMinimumSize(scaled(m_design, kLeastLayoutScale));
}

void WindowScaler::setDesignSize(const QSize &design)
{
    m_design = design;
    m_window->setMinimumSize(scaled(m_design, kLeastLayoutScale));
    m_window->resize(scaled(m_design, m_scale));
}

QRect WindowScaler::room() const
{
    const QPoint at = m_window->geometry().center();
    if (seams().availableArea)
        return seams().availableArea(at);
    QScreen *screen = QGuiApplication::screenAt(at);
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    return screen ? screen->availableGeometry() : QRect();
}

void WindowScaler::fitToScreen()
{
    const QRect area = room();
    const QSize inner(area.width() - kFrameAllowanceWidth, area.height() - kFrameAllowanceHeight);
    apply(area.isEmpty() ? 1.0 : FitScale(m_design, inner));
    m_window->resize(scaled(m_design, m_scale));
    if (!area.isEmpty()) {
        const QSize outer = m_window->size() + QSize(kFrameAllowanceWidth, kFrameAllowanceHeight);
        const QPoint corner = KeepInside(QRect(m_window->pos(), outer), area);
        if (corner != m_window->pos())
            m_window->move(corner);
    }
}

void WindowScaler::apply(double scale)
{
    m_scale = scale;
    // The style's own sizes (indicators, scroll bars, frames, icons) follow.
    SetLayoutScale(m_window, scale);
    const bool wasApplying = std::exchange(m_applying, true);
    for (const Font &f : m_fonts) {
        if (!f.widget)
            continue;
        QFont font = f.widget->font();
        font.setPointSizeF(f.points * scale);
        f.widget->setFont(font);
    }
    for (Place &p : m_places) {
        place(p);
        // A style sheet's borders are in pixels: they are written anew.
        if (auto *button = qobject_cast<QPushButton *>(p.widget.data());
            button && button->property("qxBackColor").isValid())
            SetBackColor(button, BackColor(button));
    }
    // A caption wider than its button (a translation longer than the design's
    // English) is drawn smaller, whole.
    for (const Font &f : m_fonts) {
        auto *button = qobject_cast<QPushButton *>(f.widget.data());
        if (!button)
            continue;
        QFont font = button->font();
        while (!CaptionFits(button) && font.pointSizeF() > f.points * scale / 2) {
            font.setPointSizeF(font.pointSizeF() - 0.25 * scale);
            button->setFont(font);
        }
    }
    m_applying = wasApplying;
}

void WindowScaler::place(Place &p)
{
    if (!p.widget)
        return;
    p.applied = ScaledRect(p.design, m_scale);
    const bool wasApplying = std::exchange(m_applying, true);
    if (p.widget->geometry() != p.applied)
        p.widget->setGeometry(p.applied);
    m_applying = wasApplying;
}

bool WindowScaler::eventFilter(QObject *watched, QEvent *event)
{
    if (m_applying || (event->type() != QEvent::Resize && event->type() != QEvent::Move))
        return false;
    if (watched == m_window) {
        // The operator resized the window: the layout follows, proportions kept.
        if (event->type() == QEvent::Resize && m_window->size() != scaled(m_design, m_scale))
            apply(ScaleForSize(m_design, m_window->size()));
        return false;
    }
    const auto at = m_placeOf.constFind(watched);
    if (at == m_placeOf.constEnd())
        return false;
    Place &p = m_places[*at];
    if (!p.widget)
        return false;
    // A page placed its control anew, in designed pixels.
    const QRect now = p.widget->geometry();
    if (event->type() == QEvent::Resize && now.size() != p.applied.size())
        p.design.setSize(now.size());
    else if (event->type() == QEvent::Move && now.topLeft() != p.applied.topLeft())
        p.design.moveTopLeft(now.topLeft());
    else
        return false;
    place(p);
    return false;
}

} // namespace qx
