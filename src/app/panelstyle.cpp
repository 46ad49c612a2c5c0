#include "panelstyle.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QImage>
#include <QPainter>
#include <QStyleOption>
#include <QWidget>
#include <algorithm>
#include <cmath>
#include <qdrawutil.h>

namespace qx {

namespace {
constexpr char kScaleProperty[] = "qxLayoutScale";
constexpr int kCaptionIndent = 6; // designed pixels from the frame's left edge

int scaledBy(int pixels, double scale)
{
    // Rounded down: what a control holds (an icon inside borders) still fits.
    return pixels <= 0 ? pixels : std::max(1, int(std::floor(pixels * scale + 1e-9)));
}
} // namespace

PanelStyle::PanelStyle() : QProxyStyle(QApplication::style()->name())
{
}

void UsePanelStyle()
{
    if (!qobject_cast<PanelStyle *>(QApplication::style()))
        QApplication::setStyle(new PanelStyle);
}

void SetLayoutScale(QWidget *window, double scale)
{
    window->setProperty(kScaleProperty, scale);
}

double LayoutScale(const QWidget *control)
{
    const QVariant v = control ? control->window()->property(kScaleProperty) : QVariant();
    return v.isValid() ? v.toDouble() : 1.0;
}

int ScaledPixels(int pixels, const QWidget *control)
{
    return scaledBy(pixels, LayoutScale(control));
}

int PanelStyle::pixelMetric(PixelMetric metric, const QStyleOption *option, const QWidget *widget) const
{
    // Every size of the style is in designed pixels: the indicators, scroll
    // bars, margins, frame widths and icon sizes all follow the layout.
    return scaledBy(QProxyStyle::pixelMetric(metric, option, widget), LayoutScale(widget));
}

QRect PanelStyle::subControlRect(ComplexControl control, const QStyleOptionComplex *option, SubControl sub,
                                 const QWidget *widget) const
{
    const auto *box = qstyleoption_cast<const QStyleOptionGroupBox *>(option);
    if (control != CC_GroupBox || !box || (box->subControls & SC_GroupBoxCheckBox))
        return QProxyStyle::subControlRect(control, option, sub, widget);
    const QRect r = box->rect;
    const int line = 2 * ScaledPixels(1, widget); // an etched line: a dark and a light one
    const int indent = ScaledPixels(kCaptionIndent, widget);
    QRect caption;
    if (!box->text.isEmpty()) {
        const QSize text = box->fontMetrics.size(Qt::TextShowMnemonic, box->text);
        caption =
            QRect(r.left() + indent, r.top(), std::min(text.width() + 2 * line, r.width() - 2 * indent), text.height());
    }
    switch (sub) {
    case SC_GroupBoxLabel:
        return caption;
    case SC_GroupBoxFrame:
        // The top line runs through the middle of the caption.
        return r.adjusted(0, caption.height() / 2, 0, 0);
    case SC_GroupBoxContents:
        return r.adjusted(line, std::max(caption.height(), line), -line, -line);
    default:
        return {};
    }
}

void PanelStyle::drawPrimitive(PrimitiveElement element, const QStyleOption *option, QPainter *painter,
                               const QWidget *widget) const
{
    if (element == PE_IndicatorCheckBox && (option->state & State_On)) {
        // The style draws its tick with a pen as wide as a small box's inside:
        // a box scaled down would show a blob. The tick is drawn here in lines
        // an eighth of the box wide.
        QStyleOptionButton empty;
        if (const auto *button = qstyleoption_cast<const QStyleOptionButton *>(option))
            empty = *button;
        else
            static_cast<QStyleOption &>(empty) = *option;
        empty.state = (option->state & ~State_On) | State_Off;
        QProxyStyle::drawPrimitive(element, &empty, painter, widget);
        const QRectF box(option->rect);
        const qreal pen = std::max(1.0, box.width() / 8), inset = box.width() / 4;
        const QRectF r = box.adjusted(inset, inset, -inset, -inset);
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing);
        painter->setPen(QPen(option->palette.text().color(), pen, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        const QPointF tick[] = {{r.left(), r.center().y()}, {r.left() + r.width() * 0.4, r.bottom()}, r.topRight()};
        painter->drawPolyline(tick, 3);
        painter->restore();
        return;
    }
    // A list's frame keeps its lines where its edges fall on half a device pixel.
    const bool list = qobject_cast<const QAbstractItemView *>(widget);
    if (element != PE_Frame || !list || !drawOnWholePixels(element, option, painter, widget))
        QProxyStyle::drawPrimitive(element, option, painter, widget);
    // A list shows its focus on its frame, also when it has no current entry.
    if (element == PE_Frame && (option->state & State_HasFocus) && list) {
        const int width = ScaledPixels(2, widget);
        painter->save();
        painter->setPen(QPen(option->palette.color(QPalette::Highlight), width));
        painter->setBrush(Qt::NoBrush);
        painter->drawRect(QRectF(option->rect).adjusted(width / 2.0, width / 2.0, -width / 2.0, -width / 2.0));
        painter->restore();
    }
}

bool PanelStyle::drawOnWholePixels(PrimitiveElement element, const QStyleOption *option, QPainter *painter,
                                   const QWidget *widget) const
{
    const QRectF device = painter->deviceTransform().mapRect(QRectF(option->rect));
    const auto pixel = [](qreal edge) { return int(std::floor(edge + 0.5)); }; // as the widget's clip rounds
    const QRect covered(QPoint(pixel(device.left()), pixel(device.top())),
                        QPoint(pixel(device.right()) - 1, pixel(device.bottom()) - 1));
    if (QRectF(covered) == device || covered.isEmpty())
        return false;
    QImage image(covered.size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QStyleOptionFrame onImage;
    if (const auto *frame = qstyleoption_cast<const QStyleOptionFrame *>(option))
        onImage = *frame;
    else
        static_cast<QStyleOption &>(onImage) = *option;
    onImage.rect = image.rect();
    QPainter imagePainter(&image);
    QProxyStyle::drawPrimitive(element, &onImage, &imagePainter, widget);
    imagePainter.end();
    painter->drawImage(painter->deviceTransform().inverted().mapRect(QRectF(covered)), image);
    return true;
}

void PanelStyle::drawComplexControl(ComplexControl control, const QStyleOptionComplex *option, QPainter *painter,
                                    const QWidget *widget) const
{
    const auto *box = qstyleoption_cast<const QStyleOptionGroupBox *>(option);
    if (control != CC_GroupBox || !box || (box->subControls & SC_GroupBoxCheckBox)) {
        QProxyStyle::drawComplexControl(control, option, painter, widget);
        return;
    }
    const QRect caption = subControlRect(control, option, SC_GroupBoxLabel, widget);
    painter->save();
    painter->setClipRegion(QRegion(box->rect).subtracted(caption));
    const QRect frame = subControlRect(control, option, SC_GroupBoxFrame, widget);
    qDrawShadeRect(painter, frame, box->palette, true, ScaledPixels(1, widget), 0);
    painter->restore();
    drawItemText(painter, caption, Qt::AlignCenter | Qt::TextShowMnemonic, box->palette, box->state & State_Enabled,
                 box->text, QPalette::WindowText);
}

void PanelStyle::drawItemText(QPainter *painter, const QRect &rect, int flags, const QPalette &palette, bool enabled,
                              const QString &text, QPalette::ColorRole role) const
{
    QFont font = painter->font();
    const auto tall = [&] { return QFontMetrics(font, painter->device()).boundingRect(rect, flags, text).height(); };
    if ((flags & Qt::TextWordWrap) == 0 || text.isEmpty() || tall() <= rect.height()) {
        QProxyStyle::drawItemText(painter, rect, flags, palette, enabled, text, role);
        return;
    }
    const qreal least = font.pointSizeF() / 2;
    while (tall() > rect.height() && font.pointSizeF() > least)
        font.setPointSizeF(font.pointSizeF() * 0.95);
    painter->save();
    painter->setFont(font);
    QProxyStyle::drawItemText(painter, rect, flags, palette, enabled, text, role);
    painter->restore();
}

} // namespace qx
