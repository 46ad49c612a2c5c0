#pragma once
// The main window at any size. Its controls stand where they were designed,
// in pixels at 15 twips each; this scales the whole layout (places, sizes and
// fonts alike) by one factor, so the window fits a small or scaled screen at
// start and follows the operator's resizing with its proportions kept. Code
// keeps placing controls in designed pixels: a control moved or resized by
// its page takes that as its new design and is scaled at once.

#include <QHash>
#include <QObject>
#include <QPointer>
#include <QRect>
#include <QSize>
#include <vector>

class QWidget;

namespace qx {

class WindowScaler : public QObject {
    Q_OBJECT
public:
    // Takes the registered controls of `window`, their places and fonts as
    // they are now, as the design of a window of `design` size.
    WindowScaler(QWidget *window, const QSize &design);

    // The design grew (the diagnostic column); the window keeps its factor.
    void setDesignSize(const QSize &design);
    QSize designSize() const { return m_design; }
    // Start-up: the designed size where it fits the room of the screen the
    // window stands on, else the layout scaled down to fit; and the window
    // moved inside that room where it would reach beyond it.
    void fitToScreen();
    double scale() const { return m_scale; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    struct Place {
        QPointer<QWidget> widget;
        QRect design;
        QRect applied;
    };
    struct Font {
        QPointer<QWidget> widget;
        qreal points;
    };
    void apply(double scale);
    void place(Place &p);
    QRect room() const;

    QWidget *m_window;
    QSize m_design;
    double m_scale = 1.0;
    bool m_applying = false;
    std::vector<Place> m_places;
    QHash<const QObject *, size_t> m_placeOf;
    std::vector<Font> m_fonts; // the window's first
};

} // namespace qx
