#include "namelisteditor.h"

#include "widgets.h"

#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <utility>

namespace qx {

NameListEditor::NameListEditor(QWidget *window, QWidget *frame, Settings &settings, NameList kind, const Design &design)
    : QObject(window), m_window(window), m_frame(frame), m_settings(settings), m_kind(kind), m_design(design)
{
    const int left = design.left;
    m_list = MakeList(window, frame, QString::fromLatin1(design.list), QRect(left, 4920, 2040, 2640));
    m_list->setToolTip(QString::fromLatin1(design.listTip));
    m_edit = MakeTextBox(window, frame, QString::fromLatin1(design.edit), QString(), QRect(left, 8100, 2040, 315));
    m_edit->setEnabled(false);
}

void NameListEditor::AddCaptions()
{
    const int left = m_design.left;
    QLabel *above = MakeLabel(m_window, m_frame, QString::fromLatin1(m_design.listLabel),
                              QString::fromLatin1(m_design.listCaption), QRect(left, 4380, 2040, 510));
    QLabel *edit = MakeLabel(m_window, m_frame, QString::fromLatin1(m_design.editLabel),
                             QString::fromLatin1(m_design.editCaption), QRect(left, 7590, 2040, 480));
    for (QLabel *l : {above, edit})
        l->setAlignment(Qt::AlignLeft | Qt::AlignBottom);
}

void NameListEditor::Fill()
{
    m_list->clear();
    m_list->addItems(NameEntries(m_settings, m_kind));

    // Connected once, after the list is filled: editing follows the selection.
    if (std::exchange(m_connected, true))
        return;
    // The selection, not the current row: a list that gets the focus by Tab
    // marks its first entry current, which the operator has not chosen.
    connect(m_list, &QListWidget::itemSelectionChanged, this, &NameListEditor::list_Click);
    connect(m_list, &QListWidget::itemClicked, this, &NameListEditor::list_Click);
    // textChanged also fires when the text is set from code, as the list click relies on.
    connect(m_edit, &QLineEdit::textChanged, this, &NameListEditor::edit_Change);
}

void NameListEditor::list_Click()
{
    const int e = m_list->currentRow();
    if (e < 0)
        return;
    m_edit->setEnabled(true);
    m_edit->setText(NameAt(m_settings, m_kind, e));
}

void NameListEditor::edit_Change()
{
    const int e = m_list->currentRow();
    if (e < 0)
        return;
    const QString text = m_edit->text();
    const QString entry = SetNameAt(m_settings, m_kind, e, text);
    if (QListWidgetItem *item = m_list->item(e))
        item->setText(entry);
    Q_EMIT nameEdited(e, text);
}

} // namespace qx
