// The picture folder, the file list and the preview of the Files and Setup page.

#include "filespage.h"

#include "banks/picture.h"
#include "mainwindow.h"
#include "util/seams.h"
#include "widgets.h"

#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPixmap>
#include <QPushButton>

namespace qx {

void FilesPage::cmdDIR_Click()
{
    const QString folder = PickFolder(m_state.settings.FolderSelected);
    txtDIR->setText(folder);
    m_state.settings.FolderSelected = folder;
    ListImageFiles();
}

void FilesPage::ListImageFiles()
{
    // A large folder must not freeze the window while it is read.
    const QStringList names = qx::ListImageFiles(m_state.settings.FolderSelected, true);
    lstFILES->blockSignals(true);
    lstFILES->clear();
    lstFILES->addItems(names);
    lstFILES->setCurrentRow(-1);
    lstFILES->clearSelection();
    lstFILES->blockSignals(false);
    cmdLOAD->setEnabled(false);
}

void FilesPage::lstFILES_Click()
{
    const QListWidgetItem *item = lstFILES->currentItem();
    if (!item)
        return;
    m_state.cmd.LoadFileRequest = JoinPath(m_state.settings.FolderSelected, item->text());
    PreviewPicture();
}

bool FilesPage::PreviewPicture()
{
    const PreviewResult result = qx::PreviewPicture(m_state.cmd.LoadFileRequest);
    PreviewFrame frame;
    frame.PreviewWidth = PreviewWidth;
    frame.PreviewHeight = PreviewHeight;
    frame.PreviewRatio = PreviewRatio;

    PreviewDisplay display;
    display.errorVisible = !labPICTUREERROR->isHidden();
    display.errorText = labPICTUREERROR->text();
    display.badVisible = !labPICTUREBAD->isHidden();
    display.param = labPARAM->text();
    display.loadEnabled = cmdLOAD->isEnabled();
    display.previewWidth = pictPREVIEW->property("qxTwipsWidth").isValid()
                               ? pictPREVIEW->property("qxTwipsWidth").toFloat() : float(PreviewWidth);
    display.previewHeight = pictPREVIEW->property("qxTwipsHeight").isValid()
                                ? pictPREVIEW->property("qxTwipsHeight").toFloat() : float(PreviewHeight);
    ApplyPreview(display, result, frame);

    labPICTUREERROR->setText(display.errorText);
    labPICTUREERROR->setVisible(display.errorVisible);
    labPICTUREBAD->setVisible(display.badVisible);
    labPARAM->setText(display.param);
    cmdLOAD->setEnabled(display.loadEnabled);
    // The preview keeps its top-left corner; its size is kept in twips as computed.
    pictPREVIEW->setProperty("qxTwipsWidth", display.previewWidth);
    pictPREVIEW->setProperty("qxTwipsHeight", display.previewHeight);
    pictPREVIEW->resize(tw(display.previewWidth), tw(display.previewHeight));
    if (display.pictureShown)
        pictPREVIEW->setPixmap(QPixmap::fromImage(result.Picture1));
    else
        pictPREVIEW->clear();

    ImageWidth = result.ImageWidth;
    ImageHeight = result.ImageHeight;
    Picture1 = result.accepted() ? result.Picture1 : QImage();
    return result.accepted();
}

} // namespace qx
