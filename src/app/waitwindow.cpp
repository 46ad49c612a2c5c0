#include "waitwindow.h"

#include "widgets.h"

#include <QLabel>
#include <QPushButton>
#include <QShowEvent>

namespace qx {

WaitWindow::WaitWindow(QWidget *owner) : QWidget(owner, Qt::Dialog)
{
    RegisterControl(this, this, QStringLiteral("frmWAIT"), ControlKind::Window);
    setWindowTitle(QStringLiteral("Wait"));
    UseDesignLook(this);
    setFixedSize(tw(4200), tw(1500));
    labWAIT = MakeLabel(this, this, QStringLiteral("labWAIT"),
                        QStringLiteral("Finishing the operation. Please wait..."), QRect(240, 180, 3720, 495));
    labWAIT->setAlignment(Qt::AlignCenter);
    cmdCANCEL =
        MakeButton(this, this, QStringLiteral("cmdCANCEL"), QStringLiteral("Cancel"), QRect(1440, 780, 1335, 435));
    connect(cmdCANCEL, &QPushButton::clicked, this, [this] {
        if (m_cancel)
            m_cancel();
    });
}

void WaitWindow::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (event->spontaneous() || !parentWidget())
        return;
    const QRect frame = frameGeometry();
    move(parentWidget()->window()->frameGeometry().center() - QPoint(frame.width() / 2, frame.height() / 2));
}

} // namespace qx
