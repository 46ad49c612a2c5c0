#pragma once
// One name list of the Files and Setup page with its edit box: the input and
// window names, or the preset and bank names. Clicking an entry puts its name
// into the edit box; typing there renames the entry at once.

#include "settings/names.h"

#include <QObject>

class QLabel;
class QLineEdit;
class QListWidget;
class QWidget;

namespace qx {

class NameListEditor : public QObject {
    Q_OBJECT
public:
    // The names of the controls, their captions and the left edge of the column (twips).
    struct Design {
        const char *list, *edit, *listLabel, *editLabel;
        const char *listCaption, *editCaption, *listTip;
        int left;
    };

    // Creates the list and the edit box in `frame`, registered with `window`.
    NameListEditor(QWidget *window, QWidget *frame, Settings &settings, NameList kind, const Design &design);
    // Creates the two captions. The language files and the template list
    // the captions of both lists after the lists themselves, so the window
    // makes them once both lists exist.
    void AddCaptions();
    // Fills the list from the names.
    void Fill();

Q_SIGNALS:
    // The name of `entry` (0..19) is now `name`.
    void nameEdited(int entry, const QString &name);

private:
    void list_Click();
    void edit_Change();

    QWidget *m_window;
    QWidget *m_frame;
    Settings &m_settings;
    const NameList m_kind;
    const Design m_design;
    QListWidget *m_list = nullptr;
    QLineEdit *m_edit = nullptr;
    bool m_connected = false;
};

} // namespace qx
