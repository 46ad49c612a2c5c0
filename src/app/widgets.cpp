#include "widgets.h"

#include <QCheckBox>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPalette>
#include <QPushButton>
#include <QRadioButton>

namespace qx {

void UseDesignFont(QWidget *window)
{
    QFont f = window->font();
    f.setPointSizeF(8);
    window->setFont(f);
}

void SetBackColor(QWidget *w, const QColor &color)
{
    w->setProperty("qxBackColor", color);
    QPalette p = w->palette();
    p.setColor(QPalette::Window, color);
    p.setColor(QPalette::Button, color);
    w->setPalette(p);
    w->setAutoFillBackground(true);
}

QColor BackColor(const QWidget *w)
{
    const QVariant v = w->property("qxBackColor");
    return v.isValid() ? v.value<QColor>() : w->palette().color(QPalette::Window);
}

namespace {
template <typename T> T *place(QWidget *window, T *w, const QString &name, ControlKind kind, const QRect &twips, int index)
{
    RegisterControl(window, w, name, kind, index);
    if (!twips.isNull())
        w->setGeometry(twRect(twips.x(), twips.y(), twips.width(), twips.height()));
    return w;
}
} // namespace

QLabel *MakeLabel(QWidget *window, QWidget *parent, const QString &name, const QString &caption, const QRect &twips,
                  int index)
{
    auto *w = new QLabel(caption, parent);
    w->setTextFormat(Qt::PlainText); // names and translations are never markup
    w->setWordWrap(true);
    return place(window, w, name, ControlKind::Label, twips, index);
}

QPushButton *MakeButton(QWidget *window, QWidget *parent, const QString &name, const QString &caption,
                        const QRect &twips, int index)
{
    return place(window, new QPushButton(caption, parent), name, ControlKind::CommandButton, twips, index);
}

QCheckBox *MakeCheckBox(QWidget *window, QWidget *parent, const QString &name, const QString &caption,
                        const QRect &twips, int index)
{
    return place(window, new QCheckBox(caption, parent), name, ControlKind::CheckBox, twips, index);
}

QRadioButton *MakeOption(QWidget *window, QWidget *parent, const QString &name, const QString &caption,
                         const QRect &twips, int index)
{
    return place(window, new QRadioButton(caption, parent), name, ControlKind::OptionButton, twips, index);
}

QGroupBox *MakeFrame(QWidget *window, QWidget *parent, const QString &name, const QString &caption,
                     const QRect &twips, int index)
{
    return place(window, new QGroupBox(caption, parent), name, ControlKind::Frame, twips, index);
}

QLineEdit *MakeTextBox(QWidget *window, QWidget *parent, const QString &name, const QString &text,
                       const QRect &twips, int index)
{
    return place(window, new QLineEdit(text, parent), name, ControlKind::TextBox, twips, index);
}

QListWidget *MakeList(QWidget *window, QWidget *parent, const QString &name, const QRect &twips, int index)
{
    return place(window, new QListWidget(parent), name, ControlKind::ListBox, twips, index);
}

QFrame *MakePanel(QWidget *window, QWidget *parent, const QString &name, const QRect &twips, int index)
{
    auto *w = new QFrame(parent);
    w->setFrameShape(QFrame::Panel);
    return place(window, w, name, ControlKind::PictureBox, twips, index);
}

} // namespace qx
