// The name lists and the language box of the Files and Setup page.

#include "filespage.h"

#include "language/languagefile.h"
#include "mainwindow.h"
#include "settings/names.h"
#include "widgets.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>

namespace qx {

void FilesPage::SetUpNames()
{
    Settings &s = m_state.settings;
    FillDefaultNames(s, m_window.PresetCaption, m_state.msg(10));

    lstINPUTNAMES->clear();
    lstINPUTNAMES->addItems(NameEntries(s, NameList::InputsAndWindows));
    lstPRESETNAMES->clear();
    lstPRESETNAMES->addItems(NameEntries(s, NameList::PresetsAndBanks));
    for (int n = 1; n <= kPresets; ++n) {
        SetNameCaption(m_window.cmdPRESET[size_t(n)], s.PresetName[size_t(n)]);
        SetBackColor(m_window.cmdPRESET[size_t(n)], m_window.NormalBackColor);
    }
    for (int n = 1; n <= kBanks; ++n) {
        SetBackColor(optBANK[size_t(n - 1)], m_window.NormalBackColor);
        txtLOADED[size_t(n - 1)]->setText(s.BankFileLoaded[size_t(n)]);
        SetNameCaption(optBANK[size_t(n - 1)], s.BankName[size_t(n)]);
    }

    // Connected once, after the lists are filled: editing follows the selection.
    static const char kConnected[] = "qxNamesConnected";
    if (property(kConnected).toBool())
        return;
    setProperty(kConnected, true);
    connect(lstINPUTNAMES, &QListWidget::currentRowChanged, this, &FilesPage::lstINPUTNAMES_Click);
    connect(lstPRESETNAMES, &QListWidget::currentRowChanged, this, &FilesPage::lstPRESETNAMES_Click);
    connect(lstINPUTNAMES, &QListWidget::itemClicked, this, &FilesPage::lstINPUTNAMES_Click);
    connect(lstPRESETNAMES, &QListWidget::itemClicked, this, &FilesPage::lstPRESETNAMES_Click);
    // textChanged also fires when the text is set from code, as the list click relies on.
    connect(txtEDITINPUTNAME, &QLineEdit::textChanged, this, &FilesPage::txtEDITINPUTNAME_Change);
    connect(txtEDITPRESETNAME, &QLineEdit::textChanged, this, &FilesPage::txtEDITPRESETNAME_Change);
}

void FilesPage::lstINPUTNAMES_Click()
{
    const int e = lstINPUTNAMES->currentRow();
    if (e < 0)
        return;
    txtEDITINPUTNAME->setEnabled(true);
    txtEDITINPUTNAME->setText(NameAt(m_state.settings, NameList::InputsAndWindows, e));
}

void FilesPage::lstPRESETNAMES_Click()
{
    const int e = lstPRESETNAMES->currentRow();
    if (e < 0)
        return;
    txtEDITPRESETNAME->setEnabled(true);
    txtEDITPRESETNAME->setText(NameAt(m_state.settings, NameList::PresetsAndBanks, e));
}

void FilesPage::txtEDITINPUTNAME_Change()
{
    const int e = lstINPUTNAMES->currentRow();
    if (e < 0)
        return;
    const QString entry = SetNameAt(m_state.settings, NameList::InputsAndWindows, e, txtEDITINPUTNAME->text());
    if (QListWidgetItem *item = lstINPUTNAMES->item(e))
        item->setText(entry);
}

void FilesPage::txtEDITPRESETNAME_Change()
{
    const int e = lstPRESETNAMES->currentRow();
    if (e < 0)
        return;
    const QString text = txtEDITPRESETNAME->text();
    const QString entry = SetNameAt(m_state.settings, NameList::PresetsAndBanks, e, text);
    if (QListWidgetItem *item = lstPRESETNAMES->item(e))
        item->setText(entry);
    const int bank = BankButtonOfEntry(NameList::PresetsAndBanks, e);
    if (bank >= 0)
        SetNameCaption(optBANK[size_t(bank)], text);
}

void FilesPage::FillLanguageBox()
{
    const LanguageBoxFill fill = qx::FillLanguageBox(DiscoverLanguages(), m_state.settings.Tongue);
    comboLANG->blockSignals(true);
    comboLANG->clear();
    comboLANG->addItems(fill.items);
    comboLANG->setCurrentIndex(-1);
    comboLANG->blockSignals(false);
    static const char kConnected[] = "qxLangConnected";
    if (!property(kConnected).toBool()) {
        setProperty(kConnected, true);
        connect(comboLANG, &QComboBox::currentIndexChanged, this, [this](int index) {
            if (index >= 0)
                comboLANG_Click();
        });
    }
    if (fill.selected >= 0)
        comboLANG->setCurrentIndex(fill.selected);
}

void FilesPage::comboLANG_Click()
{
    m_state.settings.Tongue = LanguageFromItem(comboLANG->currentText());
}

} // namespace qx
