#pragma once
// Small helpers the windows share: the design unit (twips, 1/1440 inch, laid
// out at 15 twips per pixel), back colours, and factories that create a
// control, name it and register it with its window in creation order.

#include "util/controls.h"

#include <QColor>
#include <QRect>
#include <QString>

#include <cmath>

class QCheckBox;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QRadioButton;
class QWidget;

namespace qx {

constexpr int kTwipsPerPixel = 15;
// Twips to the nearest pixel, halves away from zero alike on both sides of 0:
// a position stored in twips comes back to the same pixel at every start.
inline int tw(double twips)
{
    return int(std::lround(twips / kTwipsPerPixel));
}
// Pixels to twips; exact, so tw(PixelsToTwips(p)) is p again.
inline qint32 PixelsToTwips(int pixels)
{
    return qint32(pixels) * kTwipsPerPixel;
}
inline QRect twRect(int left, int top, int width, int height)
{
    return QRect(tw(left), tw(top), tw(width), tw(height));
}

// Colours of the device world are 00BBGGRR values.
inline QColor ColorFromBgr(quint32 bgr)
{
    return QColor(int(bgr & 0xFF), int((bgr >> 8) & 0xFF), int((bgr >> 16) & 0xFF));
}

// The windows were designed for an 8-point interface font; with it the
// captions fit the designed places. Disabled captions are drawn dark grey, so
// a locked control stays readable on the light and the dark panels alike.
// Its style (PanelStyle) scales the style's own sizes with the window's layout.
void UseDesignLook(QWidget *window);
constexpr quint32 kDisabledTextBgr = 0x00303030;

// Back colour of a control: painted through its palette and remembered as a
// property so that it can be read back exactly. A command button shows it
// flat, as a plain coloured face inside a raised border.
void SetBackColor(QWidget *w, const QColor &color);
QColor BackColor(const QWidget *w);

// The mark of the preset last recalled on its button: a wide dark bar at its
// left edge, whatever state (focus, pressed) the button is in.
void SetTallyMark(QPushButton *button, bool marked);

// Caption made of a name the operator typed: shown as it is, so an "&" in it
// is a plain character and no keyboard mnemonic. Captions from language files
// go through SetCaption and keep their mnemonics.
void SetNameCaption(QObject *control, const QString &name);

// Factories: parent widget, window to register with, name, caption, place in twips, array index.
QLabel *MakeLabel(QWidget *window, QWidget *parent, const QString &name, const QString &caption, const QRect &twips,
                  int index = -1);
QPushButton *MakeButton(QWidget *window, QWidget *parent, const QString &name, const QString &caption,
                        const QRect &twips, int index = -1);
QCheckBox *MakeCheckBox(QWidget *window, QWidget *parent, const QString &name, const QString &caption,
                        const QRect &twips, int index = -1);
QRadioButton *MakeOption(QWidget *window, QWidget *parent, const QString &name, const QString &caption,
                         const QRect &twips, int index = -1);
QGroupBox *MakeFrame(QWidget *window, QWidget *parent, const QString &name, const QString &caption, const QRect &twips,
                     int index = -1);
QLineEdit *MakeTextBox(QWidget *window, QWidget *parent, const QString &name, const QString &text, const QRect &twips,
                       int index = -1);
QListWidget *MakeList(QWidget *window, QWidget *parent, const QString &name, const QRect &twips, int index = -1);
// A plain coloured panel (tab buttons, the About panel): a picture box.
QFrame *MakePanel(QWidget *window, QWidget *parent, const QString &name, const QRect &twips, int index = -1);

} // namespace qx
