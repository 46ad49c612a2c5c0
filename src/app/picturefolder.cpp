#include "picturefolder.h"

#include "banks/picture.h"
#include "state/appstate.h"
#include "util/seams.h"
#include "util/textutil.h"
#include "widgets.h"

#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPixmap>
#include <QPushButton>
#include <QStyle>

namespace qx {

PictureFolderBox::PictureFolderBox(QWidget *window, QWidget *frame, AppState &state) : QObject(window), m_state(state)
{
    QWidget *w = window;
    labDIR = MakeLabel(w, frame, QStringLiteral("labDIR"), QStringLiteral("Folder:"), QRect(120, 330, 720, 255));
    txtDIR = MakeTextBox(w, frame, QStringLiteral("txtDIR"), QString(), QRect(840, 300, 5520, 315));
    txtDIR->setToolTip(QStringLiteral("Folder with BMP, GIF, or JPG graphical files"));
    SetBackColor(txtDIR, QColor(224, 224, 224));
    QPalette p = txtDIR->palette();
    p.setColor(QPalette::Base, QColor(224, 224, 224));
    txtDIR->setPalette(p);
    cmdDIR =
        MakeButton(w, frame, QStringLiteral("cmdDIR"), QStringLiteral("Select folder"), QRect(6480, 270, 1455, 375));
    cmdDIR->setToolTip(QStringLiteral("Select another folder with image files"));
    cmdREFRESH = MakeButton(w, frame, QStringLiteral("cmdREFRESH"), QString(), QRect(8040, 270, 495, 375));
    cmdREFRESH->setIcon(cmdREFRESH->style()->standardIcon(QStyle::SP_BrowserReload));
    cmdREFRESH->setToolTip(QStringLiteral("Refresh current folder contents"));
    lstFILES = MakeList(w, frame, QStringLiteral("lstFILES"), QRect(120, 720, 3015, 3480));
    // No sorting of its own: the widget would sort with regard to case, the
    // names come sorted without.
    lstFILES->setToolTip(QStringLiteral("Click to view a graphical file and to load it"));
    labPREVIEW = MakeLabel(w, frame, QStringLiteral("labPREVIEW"), QStringLiteral("Preview image:"),
                           QRect(3240, 720, 2400, 255));
    pictPREVIEW = new QLabel(frame);
    RegisterControl(w, pictPREVIEW, QStringLiteral("pictPREVIEW"), ControlKind::Image);
    pictPREVIEW->setGeometry(twRect(3240, 1000, m_previewWidth, m_previewHeight));
    pictPREVIEW->setFrameShape(QFrame::Box);
    pictPREVIEW->setScaledContents(true);
    pictPREVIEW->setTextFormat(Qt::PlainText);
    labPARAM = MakeLabel(w, frame, QStringLiteral("labPARAM"), QStringLiteral("-"), QRect(3240, 3300, 4005, 255));
    labPICTUREBAD = MakeLabel(w, frame, QStringLiteral("labPICTUREBAD"), QStringLiteral("Picture size is invalid"),
                              QRect(3240, 3560, 4005, 315));
    labPICTUREERROR = MakeLabel(w, frame, QStringLiteral("labPICTUREERROR"), QStringLiteral("Error loading picture"),
                                QRect(3240, 3900, 4005, 600));
    for (QLabel *l : {labPICTUREBAD, labPICTUREERROR}) {
        QFont f = l->font();
        f.setBold(true);
        f.setPointSize(12);
        l->setFont(f);
        l->setAlignment(Qt::AlignCenter);
    }

    connect(cmdDIR, &QPushButton::clicked, this, &PictureFolderBox::cmdDIR_Click);
    connect(cmdREFRESH, &QPushButton::clicked, this, &PictureFolderBox::ListImageFiles);
    // The selection, not the current row: a list that gets the focus by Tab
    // marks its first entry current, which the operator has not chosen.
    connect(lstFILES, &QListWidget::itemSelectionChanged, this, &PictureFolderBox::lstFILES_Click);
}

void PictureFolderBox::setUpDesign(const QColor &back)
{
    SetBackColor(cmdDIR, back);
    SetBackColor(cmdREFRESH, back);
    labPICTUREERROR->hide();
    labPICTUREBAD->hide();
}

void PictureFolderBox::setLocked(bool locked)
{
    for (QWidget *w : std::initializer_list<QWidget *>{cmdDIR, cmdREFRESH, lstFILES})
        w->setEnabled(!locked);
}

void PictureFolderBox::showFolder()
{
    txtDIR->setText(m_state.settings.FolderSelected);
    ListImageFiles();
}

void PictureFolderBox::cmdDIR_Click()
{
    const QString folder = PickFolder(m_state.settings.FolderSelected);
    txtDIR->setText(folder);
    m_state.settings.FolderSelected = folder;
    ListImageFiles();
}

void PictureFolderBox::ListImageFiles()
{
    // A large folder must not freeze the window while it is read.
    const QStringList names = qx::ListImageFiles(m_state.settings.FolderSelected, true);
    lstFILES->blockSignals(true);
    lstFILES->clear();
    lstFILES->addItems(names);
    lstFILES->setCurrentRow(-1);
    lstFILES->clearSelection();
    lstFILES->blockSignals(false);
    Q_EMIT loadableChanged(false);
}

void PictureFolderBox::lstFILES_Click()
{
    const QListWidgetItem *item = lstFILES->currentItem();
    if (!item)
        return;
    PreviewPicture(JoinPath(m_state.settings.FolderSelected, item->text()));
}

bool PictureFolderBox::PreviewPicture(const QString &file)
{
    m_previewedFile = file;
    const PreviewResult result = qx::PreviewPicture(m_previewedFile);
    PreviewFrame frame;
    frame.PreviewWidth = m_previewWidth;
    frame.PreviewHeight = m_previewHeight;
    frame.PreviewRatio = m_previewRatio;

    PreviewDisplay display;
    display.errorVisible = !labPICTUREERROR->isHidden();
    display.errorText = labPICTUREERROR->text();
    display.badVisible = !labPICTUREBAD->isHidden();
    display.param = labPARAM->text();
    display.previewWidth = pictPREVIEW->property("qxTwipsWidth").isValid()
                               ? pictPREVIEW->property("qxTwipsWidth").toFloat()
                               : float(m_previewWidth);
    display.previewHeight = pictPREVIEW->property("qxTwipsHeight").isValid()
                                ? pictPREVIEW->property("qxTwipsHeight").toFloat()
                                : float(m_previewHeight);
    ApplyPreview(display, result, frame);

    labPICTUREERROR->setText(display.errorText);
    labPICTUREERROR->setVisible(display.errorVisible);
    labPICTUREBAD->setVisible(display.badVisible);
    labPARAM->setText(display.param);
    Q_EMIT loadableChanged(display.loadEnabled);
    // The preview keeps its top-left corner; its size is kept in twips as computed.
    pictPREVIEW->setProperty("qxTwipsWidth", display.previewWidth);
    pictPREVIEW->setProperty("qxTwipsHeight", display.previewHeight);
    pictPREVIEW->resize(tw(display.previewWidth), tw(display.previewHeight));
    if (display.pictureShown)
        pictPREVIEW->setPixmap(QPixmap::fromImage(result.Picture1));
    else
        pictPREVIEW->clear();

    m_imageWidth = result.ImageWidth;
    m_imageHeight = result.ImageHeight;
    m_picture = result.accepted() ? result.Picture1 : QImage();
    m_refusal = result.reason();
    return result.accepted();
}

} // namespace qx
