#pragma once
// frmMAIN: the operator's only working window. A column of tab panels on the
// left, one page per tab on the right (Presets, Switching, Files and Setup),
// and, beyond the design width, the diagnostic column of the communication log.
// It is a view over the core that main() makes (state, log, session, request
// runner): it shows the session's state in the link indicator and hands the
// operator's clicks and keys to the runner as requests. The start-up and the
// shutdown are the core's (`Startup`); the window shows their steps.

#include "state/appcore.h"
#include "state/indicatornote.h"
#include "state/startup.h"
#include "switching/presettally.h"
#include "tabs.h"

#include <QColor>
#include <QWidget>
#include <array>
#include <functional>
#include <memory>
#include <optional>

class QCheckBox;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;

namespace qx {

class BankLoader;
class LanguageBox;
class LinkSettingsBox;
class NameListEditor;
class PictureFolderBox;
class RemoteBox;
class PanelRemote;
class SwitchingPage;
class WaitWindow;
class WarningWindow;
class WindowScaler;

class MainWindow : public QWidget, public StartupView {
    Q_OBJECT
public:
    explicit MainWindow(AppCore &core);
    ~MainWindow() override;

    void ShowTab(int tab);

    // (Re)opens the link (start-up and the Reconnect button) and tells the
    // operator of a failure.
    void OpenLink();

    // The window closed by the operator or the window manager: the core's
    // shutdown (`onClose`, set by whoever made the start-up).
    void requestClose();
    void setCloseHandler(std::function<void()> onClose) { m_onClose = std::move(onClose); }

    // A second start without requests: the window comes to the front, with
    // the About window for a help request.
    void bringToFront(bool about = false);

    WaitWindow &waitWindow();
    WarningWindow &warningWindow();
    SwitchingPage &switching() { return *m_switching; }
    // The remote control the start-up starts, shown in the Remote control group.
    void showRemote(PanelRemote &remote);
    // Why later starts cannot hand over to this panel, in the Remote control group's note.
    void showHandOverNote(const QString &note);
    // The preset this program last recalled, marked on its button.
    PresetTally &tally() { return m_tally; }
    // The note shown in the link indicator for a while.
    IndicatorNote &note() { return m_note; }
    WindowScaler &scaler() { return *m_scaler; }

    // The names lists and the captions that show names: the preset buttons,
    // the bank buttons and the files the banks hold (start-up step).
    void SetUpNames();
    // Enables or disables the tab panels of Presets and Switching (the load job locks them).
    void setTabsEnabled(bool enabled);

protected:
    void closeEvent(QCloseEvent *event) override;

    // The steps of the start-up the window shows (StartupView).
    void prepare() override;
    void settingsRead() override;
    QList<QObject *> languageTargets() override;
    void languageApplied() override;
    void showSettings() override;
    void showLinkOutcome(LinkOpenResult result, const QString &attempted) override;
    void preview(const Request &load, bool attended) override;
    // A request of an attended start that did not succeed, in the warning
    // window with the usage (a command over a link that is down: the link's
    // own message has said so).
    void showFailure(const Request &request, const RequestOutcome &outcome) override;
    void showHelp() override { pictABOUT_Click(); }
    std::optional<QPoint> place() const override;
    void closeDialogs() override;
    void hideWindows() override;

private:
    void buildTabStrip();
    void buildPresetsPage();
    void buildFilesPage();
    void buildLogColumn();
    void showLogColumn(bool shown);
    // The link indicator in the left column, seen whatever page is shown.
    void buildLinkIndicator();
    void showLinkState();
    // The keys that change the page, the focus frames, the tally's mark and
    // the note of the language box (created after every designed control).
    void buildKeyboardAndMarks();
    void markTally(int current, int previous);
    // The tab whose page is shown.
    int shownTab() const;
    void onTabClicked(int tab);
    void cmdPRESET_Click(int index);
    // Every preset recall, whoever asked: sent, it is the tally's; not sent, the indicator says so.
    // A request the operator made that did not go out: a note in the indicator.
    void showNotSent(const RequestOutcome &outcome);
    void presetKey(int index);
    void pictABOUT_Click();
    void cmdTONGUE_Click();
    // Shows frmWARNING modally, owned by this window.
    void showWarningModal();

    AppState &m_state;
    CommLog &m_log;
    DeviceSession &m_session;
    RequestRunner &m_runner;

    QColor NormalBackColor;
    QColor MarkBackColor;
    QString m_presetCaption; // design caption of cmdPRESET(1)

    // Tab strip and pages.
    QFrame *btnPRESETS = nullptr, *btnSWITCH = nullptr, *btnFILES = nullptr, *pictABOUT = nullptr;
    QLabel *labPRESETS = nullptr, *labSWITCH = nullptr, *labFILES = nullptr, *labABOUT = nullptr;
    QGroupBox *framePRESETS = nullptr, *frameSWITCH = nullptr, *frameFILES = nullptr;
    std::array<QPushButton *, 17> cmdPRESET{}; // 1..16
    // The Files and Setup page holds these groups and the message counter.
    std::unique_ptr<PictureFolderBox> m_pictures;
    std::unique_ptr<BankLoader> m_banks;
    std::unique_ptr<LinkSettingsBox> m_linkSettings;
    std::unique_ptr<NameListEditor> m_inputNames;
    std::unique_ptr<NameListEditor> m_presetNames;
    std::unique_ptr<LanguageBox> m_language;
    QLabel *labNN = nullptr;
    // Diagnostic column.
    QListWidget *lstLOG = nullptr;
    QCheckBox *chkLOGLIST = nullptr;
    QLabel *Label1 = nullptr, *labN = nullptr, *lab = nullptr, *lab2 = nullptr, *lab3 = nullptr;
    QPushButton *cmdTONGUE = nullptr;
    // Link indicator: a coloured mark and a short text.
    QLabel *labLINKMARK = nullptr, *labLINK = nullptr;
    QLabel *labLANGNOTE = nullptr; // "applies at the next start", once a language is chosen
    PresetTally m_tally;
    IndicatorNote m_note;
    std::unique_ptr<WindowScaler> m_scaler;

    std::unique_ptr<SwitchingPage> m_switching;
    std::unique_ptr<RemoteBox> m_remoteBox;
    std::unique_ptr<WaitWindow> m_wait;
    std::unique_ptr<WarningWindow> m_warning;
    std::function<void()> m_onClose;
};

} // namespace qx
