#include "languagebox.h"

#include "language/languagefile.h"
#include "settings/settings.h"
#include "widgets.h"

#include <QComboBox>
#include <QLabel>
#include <utility>

namespace qx {

LanguageBox::LanguageBox(QWidget *window, QWidget *frame, Settings &settings) : QObject(window), m_settings(settings)
{
    comboLANG = new QComboBox(frame);
    RegisterControl(window, comboLANG, QStringLiteral("comboLANG"), ControlKind::ComboBox);
    comboLANG->setGeometry(twRect(9600, 4920, 1680, 315));
    comboLANG->setToolTip(QStringLiteral("RESTART! Language setting will take effect after the application restart"));
    labLANG = MakeLabel(window, frame, QStringLiteral("labLANG"), QStringLiteral("Select language:"),
                        QRect(9600, 4620, 1680, 255));
}

void LanguageBox::FillLanguageBox()
{
    const LanguageBoxFill fill = qx::FillLanguageBox(DiscoverLanguages(), m_settings.Tongue);
    comboLANG->blockSignals(true);
    comboLANG->clear();
    comboLANG->addItems(fill.items);
    comboLANG->setCurrentIndex(-1);
    comboLANG->blockSignals(false);
    if (!std::exchange(m_filled, true)) {
        m_running = m_settings.Tongue;
        connect(comboLANG, &QComboBox::currentIndexChanged, this, [this](int index) {
            if (index >= 0)
                m_settings.Tongue = LanguageFromItem(comboLANG->currentText());
        });
        // The file of a code is found without regard to case.
        connect(comboLANG, &QComboBox::activated, this, [this](int index) {
            Q_EMIT languageChosen(
                LanguageFromItem(comboLANG->itemText(index)).compare(m_running, Qt::CaseInsensitive) != 0);
        });
    }
    if (fill.selected >= 0)
        comboLANG->setCurrentIndex(fill.selected);
}

} // namespace qx
