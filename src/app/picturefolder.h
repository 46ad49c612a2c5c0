#pragma once
// The picture folder of the Files and Setup page: the folder box with its
// picker and refresh buttons, the list of picture files, and the preview with
// its size line and its two verdicts (bad size, unreadable picture).

#include <QImage>
#include <QObject>

class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QWidget;

namespace qx {

struct AppState;

class PictureFolderBox : public QObject {
    Q_OBJECT
public:
    // Creates labDIR, txtDIR, cmdDIR, cmdREFRESH, lstFILES, labPREVIEW,
    // pictPREVIEW, labPARAM, labPICTUREBAD and labPICTUREERROR in `frame`,
    // registered with `window` in this order.
    PictureFolderBox(QWidget *window, QWidget *frame, AppState &state);

    // Start-up: the buttons in the window's back colour, the verdicts hidden.
    void setUpDesign(const QColor &back);
    // Shows FolderSelected in the folder box and lists its picture files.
    void showFolder();
    void ListImageFiles();
    // Decodes `file`, checks its size and shows it; true when the picture
    // can be loaded. `file` becomes the previewed file.
    bool PreviewPicture(const QString &file);
    // The file the preview shows: the operator's pick in the list or the
    // command line's picture; the load job loads it.
    const QString &previewedFile() const { return m_previewedFile; }
    // The decoded picture of the last accepted preview, and the size to load
    // (the width rounded down to even).
    const QImage &picture() const { return m_picture; }
    qint32 imageWidth() const { return m_imageWidth; }
    qint32 imageHeight() const { return m_imageHeight; }
    // Why the last preview was refused (PreviewResult::reason).
    const QString &refusal() const { return m_refusal; }
    // A running load job keeps the folder and the selection as they are.
    void setLocked(bool locked);

Q_SIGNALS:
    // Whether the picture on show can be loaded; a new listing clears it.
    void loadableChanged(bool loadable);

private:
    void cmdDIR_Click();
    void lstFILES_Click();

    AppState &m_state;
    QLabel *labDIR = nullptr;
    QLineEdit *txtDIR = nullptr;
    QPushButton *cmdDIR = nullptr;
    QPushButton *cmdREFRESH = nullptr;
    QListWidget *lstFILES = nullptr;
    QLabel *labPREVIEW = nullptr;
    QLabel *pictPREVIEW = nullptr;
    QLabel *labPARAM = nullptr;
    QLabel *labPICTUREBAD = nullptr;
    QLabel *labPICTUREERROR = nullptr;

    // The frame into which previews are fitted: pictPREVIEW's designed size in twips.
    int m_previewWidth = 4005;
    int m_previewHeight = 2250;
    double m_previewRatio = 4005.0 / 2250.0;
    qint32 m_imageWidth = 0; // even
    qint32 m_imageHeight = 0;
    QImage m_picture;
    QString m_refusal;
    QString m_previewedFile;
};

} // namespace qx
