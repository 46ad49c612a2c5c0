#pragma once
// The language box of the Files and Setup page: the language files found
// beside the program; the choice takes effect at the next start.

#include <QObject>

class QComboBox;
class QLabel;
class QWidget;

namespace qx {

struct Settings;

class LanguageBox : public QObject {
    Q_OBJECT
public:
    // Creates comboLANG and labLANG in `frame`, registered with `window` in this order.
    LanguageBox(QWidget *window, QWidget *frame, Settings &settings);
    // Lists the language files and selects the one of Tongue; choosing an entry sets Tongue.
    void FillLanguageBox();

Q_SIGNALS:
    // The operator chose a language (not the start-up's selection); `pending`:
    // another than the language of this run, which applies at the next start.
    void languageChosen(bool pending);

private:
    Settings &m_settings;
    QString m_running; // the language of this run: Tongue at the first filling
    QComboBox *comboLANG = nullptr;
    QLabel *labLANG = nullptr;
    bool m_filled = false;
};

} // namespace qx
