#pragma once
// frmWARNING: the warning window of a command-line request that cannot be
// carried out, and the application's About box. Its link opens the maker's
// product page.

#include <QDialog>
#include <QStringList>

class QLabel;
class QPushButton;

namespace qx {

class MessageTable;

// The maker's product page and the text of the link that opens it.
inline const char *kProductUrl = "https://www.norvel.example/qx-7";
inline const char *kProductUrlText = "norvel.example/qx-7";

class WarningWindow : public QDialog {
    Q_OBJECT
public:
    WarningWindow(const MessageTable &msg, QWidget *owner = nullptr);

    // Puts MSG(30) and MSG(20) ("|" shown as line breaks) into the labels,
    // MSG(29) into the title, and shows the folder in use under them.
    void FillAboutTexts();
    // Remembers the current texts as the design state (after the language of
    // the run has been applied) and goes back to it when OK closes the window.
    void captureDesign();
    void ResetToDesign();

    // The reason a command-line request cannot be carried out (labWARNING),
    // and the text below it (labTEXT).
    void setWarning(const QString &text);
    QString warning() const;
    void setUsage(const QString &text);

    // Places the controls: the two text labels keep their designed places but
    // grow downwards when their texts need more room (a longer translation, a
    // larger system font), and the link and the buttons move down with them.
    void FitToTexts();

protected:
    void showEvent(QShowEvent *event) override;

private:
    QLabel *labWARNING = nullptr;
    QLabel *labTEXT = nullptr;
    QLabel *labURL = nullptr;
    QPushButton *cmdABOUT = nullptr;
    QPushButton *cmdOK = nullptr;
    // The About box only: its caption, then the folder where the program keeps
    // its files (beside itself, or the user's configuration folder).
    QLabel *labFOLDER = nullptr;
    const MessageTable &m_msg;
    QStringList m_design;
};

} // namespace qx
