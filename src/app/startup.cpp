// The main window's part of the start-up and the shutdown, which the core's
// Startup runs in its one order of steps: the window shows each step.

#include "bankloader.h"
#include "language/languagefile.h"
#include "language/messagetable.h"
#include "languagebox.h"
#include "linksettings.h"
#include "mainwindow.h"
#include "outcomes.h"
#include "picturefolder.h"
#include "platform.h"
#include "settings/settingsfile.h"
#include "state/forwarding.h"
#include "switchingpage.h"
#include "util/seams.h"
#include "util/textutil.h"
#include "util/treefile.h"
#include "waitwindow.h"
#include "warningwindow.h"
#include "widgets.h"
#include "windowscaler.h"

#include <QCheckBox>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <cstdio>
#include <optional>

namespace qx {

void MainWindow::prepare()
{
    // 1. Design values.
    NormalBackColor = BackColor(btnPRESETS);
    MarkBackColor = BackColor(btnFILES);
    m_presetCaption = cmdPRESET[1]->text();
    // (The preview frame's design size is the picture folder's own.)

    // 2. Colours and the hidden verdicts.
    for (QWidget *w : std::initializer_list<QWidget *>{framePRESETS, frameFILES, frameSWITCH})
        SetBackColor(w, NormalBackColor);
    m_pictures->setUpDesign(NormalBackColor);
    m_banks->setUpDesign(NormalBackColor);
    m_linkSettings->setUpDesign(NormalBackColor);

    // 3. Flags (every request of the runner starts with its own clear).
    m_switching->SwitchBusy = false;
}

void MainWindow::settingsRead()
{
    // 6. The languages to choose from.
    m_language->FillLanguageBox();
}

QList<QObject *> MainWindow::languageTargets()
{
    return {this, m_wait.get(), m_warning.get()};
}

void MainWindow::languageApplied()
{
    m_warning->captureDesign();
}

void MainWindow::showSettings()
{
    // 8. Window position (twips).
    move(tw(m_state.settings.MainX), tw(m_state.settings.MainY));

    // 9. Link settings boxes.
    m_linkSettings->setUpLinkSettings();

    // 10. Names and the captions that show them.
    SetUpNames();

    // 11. Window frames.
    m_switching->CaptionFrames();

    // 12. Picture folder.
    m_pictures->showFolder();

    // 13. Files and Setup page.
    ShowTab(TabFiles);

    // 14. Diagnostic column.
    if (m_state.settings.ShowLog) {
        // (The layout is still at its designed scale here.) The column ends
        // as far from the window's edge as the pages do.
        const QSize design = m_scaler->designSize();
        const int margin = design.width() - (frameFILES->geometry().right() + 1);
        m_scaler->setDesignSize(QSize(lstLOG->geometry().right() + 1 + margin, design.height()));
        lstLOG->clear();
        m_log.clearList();
        showLogColumn(true);
    }
    // The window as designed where it fits its screen, else scaled down to fit.
    m_scaler->fitToScreen();
}

void MainWindow::showLinkOutcome(LinkOpenResult result, const QString &attempted)
{
    // 15, 16.
    m_tally.reset();
    ShowLinkOutcome(result, attempted, m_state.msg);
}

void MainWindow::preview(const Request &load, bool attended)
{
    // 18.1, 18.4: the load's bank selected and its picture previewed as the
    // operator would pick them; an attended load shows the window.
    m_banks->selectBank(load.bank - 1);
    if (attended)
        show();
    if (IsRegularFile(load.file))
        m_pictures->PreviewPicture(load.file);
}

std::optional<QPoint> MainWindow::place() const
{
    const QPoint at = pos();
    return QPoint(PixelsToTwips(at.x()), PixelsToTwips(at.y()));
}

void MainWindow::closeDialogs()
{
    CloseOpenDialogs();
}

void MainWindow::hideWindows()
{
    m_wait->hide();
    m_warning->hide();
    hide();
}

void MainWindow::showFailure(const Request &request, const RequestOutcome &outcome)
{
    // Told already (the load's own boxes), or cut short by the end.
    if (outcome.shown || outcome.reason == RequestOutcome::Reason::Terminated)
        return;
    // The reason and the file; why a picture was refused goes to standard error only.
    m_warning->setWarning(
        outcome.message.section(QLatin1Char('\n'), 0, 1).replace(QLatin1Char('\n'), QStringLiteral("\r\n")));
    // A command over a link that is down: the link's own message has said so.
    if (request.kind != RequestKind::Load && outcome.reason == RequestOutcome::Reason::LinkDown)
        return;
    m_warning->setUsage(ExpandBars(m_state.msg(20)));
    showWarningModal();
}

} // namespace qx
