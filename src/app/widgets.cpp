#include "widgets.h"

#include "panelstyle.h"
#include "util/textutil.h"

#include <QCheckBox>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPalette>
#include <QPushButton>
#include <QRadioButton>
#include <QValidator>

#include <limits>

namespace qx {

void UseDesignLook(QWidget *window)
{
    QFont f = window->font();
    f.setPointSizeF(8);
    window->setFont(f);
    // The toolkit's disabled text is a light grey that vanishes on the grey
    // panels; the controls inherit this from their window.
    QPalette p = window->palette();
    for (QPalette::ColorRole role : {QPalette::WindowText, QPalette::ButtonText, QPalette::Text})
        p.setColor(QPalette::Disabled, role, ColorFromBgr(kDisabledTextBgr));
    window->setPalette(p);
    UsePanelStyle();
}

void SetBackColor(QWidget *w, const QColor &color)
{
    w->setProperty("qxBackColor", color);
    QPalette p = w->palette();
    p.setColor(QPalette::Window, color);
    p.setColor(QPalette::Button, color);
    w->setPalette(p);
    w->setAutoFillBackground(true);
    // The style draws push buttons with its own shaded face whatever the
    // palette says; a style sheet gives the face the back colour itself. A
    // style sheet replaces the inherited palette, so it names the disabled
    // text colour again.
    if (qobject_cast<QPushButton *>(w)) {
        // A raised face: light top and left edges, dark bottom and right ones;
        // pressed, the other way round; with the focus, a dark outline. The
        // tally's bar is the left edge, wide and black in every state. Widths
        // follow the window's scale like the rest of the layout.
        const QString light = color.lighter(150).name(), dark = color.darker(200).name();
        const bool marked = w->property("qxTallyMark").toBool();
        const QString black = QStringLiteral("#000000");
        const auto px = [w](int pixels) { return QString::number(ScaledPixels(pixels, w)) + QStringLiteral("px"); };
        w->setStyleSheet(QStringLiteral("QPushButton { background-color: %1; border: %2 solid; padding: %2;"
                                        " border-left-width: %3; border-color: %4 %5 %5 %6; }"
                                        "QPushButton:focus { border-color: #000000; }"
                                        "QPushButton:pressed { border-color: %5 %4 %4 %7; }"
                                        "QPushButton:disabled { color: %8; }")
                             .arg(color.name(), px(2), px(marked ? 8 : 2), light, dark, marked ? black : light,
                                  marked ? black : dark, ColorFromBgr(kDisabledTextBgr).name()));
    }
}

void SetTallyMark(QPushButton *button, bool marked)
{
    button->setProperty("qxTallyMark", marked);
    SetBackColor(button, BackColor(button));
}

void SetNameCaption(QObject *control, const QString &name)
{
    SetCaption(control, QString(name).replace(QLatin1Char('&'), QStringLiteral("&&")));
}

QColor BackColor(const QWidget *w)
{
    const QVariant v = w->property("qxBackColor");
    return v.isValid() ? v.value<QColor>() : w->palette().color(QPalette::Window);
}

namespace {
template <typename T>
T *place(QWidget *window, T *w, const QString &name, ControlKind kind, const QRect &twips, int index)
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

QGroupBox *MakeFrame(QWidget *window, QWidget *parent, const QString &name, const QString &caption, const QRect &twips,
                     int index)
{
    return place(window, new QGroupBox(caption, parent), name, ControlKind::Frame, twips, index);
}

namespace {
// A text box holds one line: a line break that is pasted, typed or set from
// code becomes a blank before anyone sees the text, so no value carries one
// into a settings file.
class OneLineValidator : public QValidator {
public:
    using QValidator::QValidator;
    State validate(QString &input, int &) const override
    {
        input = OneLine(input);
        return Acceptable;
    }
};
} // namespace

QLineEdit *MakeTextBox(QWidget *window, QWidget *parent, const QString &name, const QString &text, const QRect &twips,
                       int index)
{
    auto *w = new QLineEdit(parent);
    w->setValidator(new OneLineValidator(w));
    w->setMaxLength(std::numeric_limits<int>::max()); // names have no length limit
    w->setText(text);
    return place(window, w, name, ControlKind::TextBox, twips, index);
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
