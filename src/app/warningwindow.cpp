#include "warningwindow.h"

#include "language/messagetable.h"
#include "util/seams.h"
#include "widgets.h"

#include <QDir>
#include <QEvent>
#include <QLabel>
#include <QPushButton>
#include <algorithm>

namespace qx {

namespace {
// Designed places, in twips.
constexpr int kWidth = 6135, kHeight = 4740;
const QRect kWarningPlace(180, 180, 5715, 1815);
const QRect kTextPlace(180, 2040, 5655, 2055);
const QRect kUrlPlace(120, 4200, 2595, 315);
const QRect kAboutPlace(2820, 4080, 1515, 435);
const QRect kOkPlace(4440, 4080, 1515, 435);

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
    UseDesignLook(this);
    setFixedSize(tw(kWidth), tw(kHeight));
    labWARNING = MakeLabel(this, this, QStringLiteral("labWARNING"), QString(), kWarningPlace);
    labTEXT = MakeLabel(this, this, QStringLiteral("labTEXT"), QString(), kTextPlace);
    labURL = MakeLabel(this, this, QStringLiteral("labURL"), QString(), kUrlPlace);
    labURL->setWordWrap(false); // an address broken over two lines would be cut off
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
    cmdABOUT = MakeButton(this, this, QStringLiteral("cmdABOUT"), QStringLiteral("About"), kAboutPlace);
    cmdOK = MakeButton(this, this, QStringLiteral("cmdOK"), QStringLiteral("OK"), kOkPlace);
    // Created last, so the language files keep the order of the other controls.
    labFOLDER = MakeLabel(this, this, QStringLiteral("labFOLDER"), QStringLiteral("Settings folder:"), kTextPlace);
    labFOLDER->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    labFOLDER->hide();
    labWARNING->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    labTEXT->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    connect(cmdABOUT, &QPushButton::clicked, this, &WarningWindow::FillAboutTexts);
    connect(cmdOK, &QPushButton::clicked, this, &QDialog::accept);
    connect(this, &QDialog::finished, this, &WarningWindow::ResetToDesign);
    setWindowTitle(QStringLiteral("Warning"));
    labWARNING->setText(QStringLiteral("-"));
    labTEXT->setText(QStringLiteral("-"));
    labURL->setText(QString::fromLatin1(kProductUrlText));
    captureDesign();
}

void WarningWindow::captureDesign()
{
    m_design = {windowTitle(), labWARNING->text(), labTEXT->text(), labURL->text(), labFOLDER->text()};
}

void WarningWindow::ResetToDesign()
{
    setWindowTitle(m_design.value(0));
    labWARNING->setText(m_design.value(1));
    labTEXT->setText(m_design.value(2));
    labURL->setText(m_design.value(3));
    labFOLDER->setText(m_design.value(4));
    labFOLDER->hide();
    FitToTexts();
}

void WarningWindow::setWarning(const QString &text)
{
    labWARNING->setText(text);
}
QString WarningWindow::warning() const
{
    return labWARNING->text();
}
void WarningWindow::setUsage(const QString &text)
{
    labTEXT->setText(text);
}

void WarningWindow::FillAboutTexts()
{
    // The description wraps as the window needs, not where it was typed.
    labWARNING->setText(JoinWrappedLines(ExpandBars(m_msg(30))));
    labTEXT->setText(ExpandBars(m_msg(20)));
    setWindowTitle(m_msg(29));
    labFOLDER->setText(m_design.value(4) + QLatin1Char(' ') + QDir::toNativeSeparators(ProgramFolder()));
    labFOLDER->show();
    FitToTexts();
}

void WarningWindow::FitToTexts()
{
    const auto heightFor = [](QLabel *label, const QRect &place) {
        return std::max(tw(place.height()), label->heightForWidth(tw(place.width())));
    };
    const int warningHeight = heightFor(labWARNING, kWarningPlace);
    labWARNING->setGeometry(tw(kWarningPlace.x()), tw(kWarningPlace.y()), tw(kWarningPlace.width()), warningHeight);
    // A main text longer than its place pushes the second one down, which
    // keeps a blank line's gap below it.
    const int warningNeeded = labWARNING->heightForWidth(tw(kWarningPlace.width()));
    const int textTop =
        std::max(tw(kTextPlace.y()), tw(kWarningPlace.y()) + warningNeeded + labWARNING->fontMetrics().lineSpacing());
    int shift = textTop - tw(kTextPlace.y());
    const int textNeeded = labTEXT->heightForWidth(tw(kTextPlace.width()));
    labTEXT->setGeometry(tw(kTextPlace.x()), textTop, tw(kTextPlace.width()), heightFor(labTEXT, kTextPlace));
    // The controls below move only as far as the text itself reaches.
    shift = std::max(shift, textTop + textNeeded - tw(kAboutPlace.y()));
    if (!labFOLDER->isHidden()) {
        const int folderTop = tw(kAboutPlace.y()) + shift;
        const int folderHeight = labFOLDER->heightForWidth(tw(kTextPlace.width()));
        labFOLDER->setGeometry(tw(kTextPlace.x()), folderTop, tw(kTextPlace.width()), folderHeight);
        shift += folderHeight + tw(120);
    }

    // The link may take the room up to the About button.
    const int urlRoom = tw(kAboutPlace.x() - kUrlPlace.x() - 60);
    const int urlWidth = std::max(tw(kUrlPlace.width()), std::min(labURL->sizeHint().width(), urlRoom));
    labURL->setGeometry(tw(kUrlPlace.x()), tw(kUrlPlace.y()) + shift, urlWidth, tw(kUrlPlace.height()));
    cmdABOUT->move(tw(kAboutPlace.x()), tw(kAboutPlace.y()) + shift);
    cmdOK->move(tw(kOkPlace.x()), tw(kOkPlace.y()) + shift);
    setFixedSize(tw(kWidth), tw(kHeight) + shift);
}

void WarningWindow::showEvent(QShowEvent *event)
{
    // The start-up warning sets the labels directly before showing the window.
    FitToTexts();
    QDialog::showEvent(event);
}

} // namespace qx
