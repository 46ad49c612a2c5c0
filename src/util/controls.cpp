#include "controls.h"

#include <QVariant>

namespace qx {

namespace {
const char kControls[] = "qxControls";
const char kIndex[] = "qxIndex";
const char kKind[] = "qxKind";
const char kTag[] = "qxTag";

const char *captionProperty(const QObject *control)
{
    switch (Kind(control)) {
    case ControlKind::Window:
        return "windowTitle";
    case ControlKind::Frame:
        return "title";
    case ControlKind::Label:
    case ControlKind::CheckBox:
    case ControlKind::CommandButton:
    case ControlKind::OptionButton:
    case ControlKind::Menu:
        return "text";
    default:
        return nullptr;
    }
}
} // namespace

void RegisterControl(QObject *window, QObject *control, const QString &name, ControlKind kind, int index)
{
    control->setObjectName(name);
    control->setProperty(kIndex, index);
    control->setProperty(kKind, int(kind));
    QList<QObject *> list = WindowControls(window);
    list.append(control);
    window->setProperty(kControls, QVariant::fromValue(list));
}

QList<QObject *> WindowControls(const QObject *window)
{
    return window->property(kControls).value<QList<QObject *>>();
}

QString ControlName(const QObject *control)
{
    return control->objectName();
}

int ControlIndex(const QObject *control)
{
    const QVariant v = control->property(kIndex);
    return v.isValid() ? v.toInt() : -1;
}

ControlKind Kind(const QObject *control)
{
    const QVariant v = control->property(kKind);
    return v.isValid() ? ControlKind(v.toInt()) : ControlKind::Component;
}

QObject *FindControl(const QObject *window, const QString &name, int index)
{
    if (window->objectName() == name && index < 0)
        return const_cast<QObject *>(window);
    for (QObject *c : WindowControls(window))
        if (c->objectName() == name && ControlIndex(c) == index)
            return c;
    return nullptr;
}

bool HasCaption(const QObject *control)
{
    return captionProperty(control) != nullptr;
}

QString Caption(const QObject *control)
{
    const char *p = captionProperty(control);
    return p ? control->property(p).toString() : QString();
}

void SetCaption(QObject *control, const QString &text)
{
    if (const char *p = captionProperty(control))
        control->setProperty(p, text);
}

QString ToolTip(const QObject *control)
{
    return control->property("toolTip").toString();
}

void SetToolTip(QObject *control, const QString &text)
{
    if (control->metaObject()->indexOfProperty("toolTip") >= 0)
        control->setProperty("toolTip", text);
}

QString Tag(const QObject *control)
{
    return control->property(kTag).toString();
}
void SetTag(QObject *control, const QString &text)
{
    control->setProperty(kTag, text);
}

} // namespace qx
