#pragma once
// How a window designed at one size fits a screen: the factor that scales
// its whole layout (places, sizes and fonts alike), and where it stands.

#include <QRect>
#include <QSize>

namespace qx {

// The smallest factor the layout is drawn at; below it no caption is legible.
constexpr double kLeastLayoutScale = 0.35;

// The factor at which `design` fits into `room`: 1 where it fits (the
// designed size is the default), else the largest factor that keeps the
// proportions and fits, never below kLeastLayoutScale. An empty room is
// no screen known: the design size.
double FitScale(const QSize &design, const QSize &room);

// The factor for a window the operator resized to `size`: the proportions
// are kept, so the smaller of the two ratios decides.
double ScaleForSize(const QSize &design, const QSize &size);

// A designed rectangle at `scale`: its edges are scaled and rounded, so
// controls that touch at design touch at every scale.
QRect ScaledRect(const QRect &design, double scale);

// The top-left corner that keeps `frame` inside `area` where it fits there;
// a frame larger than the area keeps its top-left corner inside it.
QPoint KeepInside(const QRect &frame, const QRect &area);

} // namespace qx
