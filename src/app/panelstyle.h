#pragma once
// The look of the main window at any scale. The window's layout is scaled as
// a whole (WindowScaler), but a style measures check marks, scroll bars,
// frames and icons in fixed pixels: scaled down, they would outgrow the
// controls they belong to and reach the frame lines. This style scales those
// sizes with the layout of the window a control stands in, and draws frames
// from their caption's font: the caption on the frame's top line, the inside
// below it, so a control designed below the caption stays clear of it.

#include <QProxyStyle>

class QWidget;

namespace qx {

class PanelStyle : public QProxyStyle {
    Q_OBJECT
public:
    PanelStyle();
    int pixelMetric(PixelMetric metric, const QStyleOption *option, const QWidget *widget) const override;
    QRect subControlRect(ComplexControl control, const QStyleOptionComplex *option, SubControl sub,
                         const QWidget *widget) const override;
    void drawPrimitive(PrimitiveElement element, const QStyleOption *option, QPainter *painter,
                       const QWidget *widget) const override;
    void drawComplexControl(ComplexControl control, const QStyleOptionComplex *option, QPainter *painter,
                            const QWidget *widget) const override;
    // A wrapped text taller than its place (a long refusal, a translation) is
    // drawn smaller, whole.
    void drawItemText(QPainter *painter, const QRect &rect, int flags, const QPalette &palette, bool enabled,
                      const QString &text, QPalette::ColorRole role) const override;

private:
    // At a fractional device pixel ratio (1.5) a control's edge can fall on half a device pixel, and the base
    // style drew that edge's line on the pixel outside the control's clip, or under its contents: a list lost
    // its top or left line there, its right one under its entries. The primitive is drawn 1:1 on the outermost
    // pixels the control covers instead; false where its edges lie on whole pixels (at 1 and 2 always).
    bool drawOnWholePixels(PrimitiveElement element, const QStyleOption *option, QPainter *painter,
                           const QWidget *widget) const;
};

// Makes PanelStyle the application's style (once), over the style in use.
void UsePanelStyle();

// The factor the layout of `window` is drawn at (1 as designed); a control's
// sizes follow the factor of its window.
void SetLayoutScale(QWidget *window, double scale);
double LayoutScale(const QWidget *control);
// A designed size in pixels at the factor of `control`'s window; never 0.
int ScaledPixels(int pixels, const QWidget *control);

} // namespace qx
