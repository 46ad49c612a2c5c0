#pragma once
// Every window keeps the list of its controls in creation order, and every
// control carries its name (the object name), its index in a control array
// (-1 when it is not a member of one) and its kind. Language files address
// controls by name and index, and the template writer walks the list in this
// order, so both see one fixed order of controls.
//
// Captions, tool tips and tags are reached through Qt properties, so this
// works on widgets without the core library linking the widget module.

#include <QList>
#include <QObject>
#include <QString>

namespace qx {

enum class ControlKind {
    Window,
    Label,         // lab..., and the value labels txt... that are labels
    Frame,         // frame...
    CheckBox,      // chk...
    CommandButton, // cmd...
    OptionButton,  // opt...
    Image,         // an image control (pictPREVIEW)
    PictureBox,    // picture boxes and the panels used as tab buttons
    Menu,          // menu items
    TextBox,       // txt... edit boxes
    ListBox,       // lst...
    ComboBox,      // combo...
    Timer,
    Shape,     // box...
    Component, // link and picker components
};

// Names `control`, records its index and kind, and appends it to `window`'s
// list of controls. A window registers itself first (kind Window).
void RegisterControl(QObject *window, QObject *control, const QString &name, ControlKind kind, int index = -1);

QList<QObject *> WindowControls(const QObject *window);
QString ControlName(const QObject *control);
int ControlIndex(const QObject *control); // -1 when not in a control array
ControlKind Kind(const QObject *control);

// The control of `window` with this name and index (index -1: not an array member).
QObject *FindControl(const QObject *window, const QString &name, int index = -1);
template <typename T> T *Control(const QObject *window, const QString &name, int index = -1)
{
    return qobject_cast<T *>(FindControl(window, name, index));
}

// Caption: a window's title, a frame's title, a label's or button's text.
// Controls without a caption report "" and ignore a new one.
bool HasCaption(const QObject *control);
QString Caption(const QObject *control);
void SetCaption(QObject *control, const QString &text);
QString ToolTip(const QObject *control);
void SetToolTip(QObject *control, const QString &text);
QString Tag(const QObject *control);
void SetTag(QObject *control, const QString &text);

} // namespace qx
