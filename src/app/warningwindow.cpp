#include "warningwindow.h"

#include "language/messagetable.h"
#include "util/seams.h"
#include "widgets.h"

#include <QEvent>
#include <QLabel>
#include <QPushButton>

namespace qx {

namespace {
// Opens the product page when the link label is clicked.
class LinkClick : public QObject {
public:
    using QObject::QObject;
    bool eventFilter(QObject *, QEvent *e) override
    {
        if (e->type() == QEvent::MouseButtonRelease)
            OpenUrl(QUrl(QString::fromLatin1(kProductUrl)));
        return false;
    }
};
} // namespace

WarningWindow::WarningWindow(const MessageTable &msg, QWidget *owner) : QDialog(owner), m_msg(msg)
{
    RegisterControl(this, this, QStringLiteral("frmWARNING"), ControlKind::Window);
    setFixedSize(tw(6135), tw(4740));
    labWARNING = MakeLabel(this, this, QStringLiteral("labWARNING"), QString(), QRect(180, 180, 5715, 1815));
    labTEXT = MakeLabel(this, this, QStringLiteral("labTEXT"), QString(), QRect(180, 2040, 5655, 2055));
    labURL = MakeLabel(this, this, QStringLiteral("labURL"), QString(), QRect(120, 4200, 2595, 315));
    QFont f = labURL->font();
    f.setBold(true);
    f.setUnderline(true);
    f.setPointSizeF(9.75);
    labURL->setFont(f);
    QPalette p = labURL->palette();
    p.setColor(QPalette::WindowText, ColorFromBgr(0x00800000));
    labURL->setPalette(p);
    labURL->setCursor(Qt::PointingHandCursor);
    labURL->installEventFilter(new LinkClick(labURL));
    cmdABOUT = MakeButton(this, this, QStringLiteral("cmdABOUT"), QStringLiteral("About"), QRect(2820, 4080, 1515, 435));
    cmdOK = MakeButton(this, this, QStringLiteral("cmdOK"), QStringLiteral("OK"), QRect(4440, 4080, 1515, 435));
    labWARNING->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    labTEXT->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    connect(cmdABOUT, &QPushButton::clicked, this, &WarningWindow::FillAboutTexts);
    connect(cmdOK, &QPushButton::clicked, this, &QDialog::accept);
    connect(this, &QDialog::finished, this, &WarningWindow::ResetToDesign);
    setWindowTitle(QStringLiteral("Warning"));
    labWARNING->setText(QStringLiteral("-"));
    labTEXT->setText(QStringLiteral("-"));
    labURL->setText(QString::fromLatin1(kProductUrlText));
    CaptureDesign();
}

void WarningWindow::CaptureDesign()
{
    m_design = {windowTitle(), labWARNING->text(), labTEXT->text(), labURL->text()};
}

void WarningWindow::ResetToDesign()
{
    setWindowTitle(m_design.value(0));
    labWARNING->setText(m_design.value(1));
    labTEXT->setText(m_design.value(2));
    labURL->setText(m_design.value(3));
}

void WarningWindow::FillAboutTexts()
{
    labWARNING->setText(ExpandBars(m_msg(30)));
    labTEXT->setText(ExpandBars(m_msg(20)));
    setWindowTitle(m_msg(29));
}

} // namespace qx
