#include "remotebox.h"

#include "language/messagetable.h"
#include "remote/panelremote.h"
#include "widgets.h"

#include <QCheckBox>
#include <QClipboard>
#include <QDir>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>

namespace qx {

namespace {
// The pairing link as a QR code, drawn with whole pixels per module (a
// smoothed code does not scan), as large as the control allows; empty while
// nothing listens.
class QrView : public QWidget {
public:
    using QWidget::QWidget;
    void setCode(const QImage &code)
    {
        m_code = code;
        update();
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        if (m_code.isNull())
            return;
        const int module = std::max(1, std::min(width(), height()) / m_code.width());
        const int side = module * m_code.width();
        QPainter p(this);
        p.drawImage(QRect((width() - side) / 2, (height() - side) / 2, side, side), m_code);
    }

private:
    QImage m_code;
};
} // namespace

RemoteBox::RemoteBox(QWidget *window, QWidget *frame, const MessageTable &msg) : QObject(window), m_msg(msg)
{
    QWidget *w = window;
    // Below the serial port list of the link settings; the note goes under the name lists.
    chkREMOTE = MakeCheckBox(w, frame, QStringLiteral("chkREMOTE"), QStringLiteral("Remote control (HTTP, OSC)"),
                             QRect(120, 7950, 2640, 315));
    chkREMOTE->setToolTip(QStringLiteral("Other programs drive the device through this program: HTTP, a web "
                                         "remote and OSC"));
    labREMOTEPORT =
        MakeLabel(w, frame, QStringLiteral("labREMOTEPORT"), QStringLiteral("Port"), QRect(2880, 7980, 600, 255));
    txtREMOTEPORT = MakeTextBox(w, frame, QStringLiteral("txtREMOTEPORT"), QString(), QRect(3480, 7950, 900, 315));
    txtREMOTEPORT->setToolTip(QStringLiteral("TCP port of the HTTP API and UDP port of OSC (5007 unless changed)"));
    chkREMOTEOTHERS = MakeCheckBox(w, frame, QStringLiteral("chkREMOTEOTHERS"), QStringLiteral("Allow other computers"),
                                   QRect(120, 8310, 2640, 315));
    chkREMOTEOTHERS->setToolTip(QStringLiteral("OFF=only programs on this computer; ON=HTTP with the token, OSC from "
                                               "the addresses listed in remote.ini"));
    txtREMOTETOKEN = MakeTextBox(w, frame, QStringLiteral("txtREMOTETOKEN"), QString(), QRect(120, 8700, 3330, 315));
    txtREMOTETOKEN->setReadOnly(true);
    txtREMOTETOKEN->setToolTip(QStringLiteral("The token other computers show: Authorization: Bearer … or ?token=…"));
    cmdREMOTECOPY = MakeButton(w, frame, QStringLiteral("cmdREMOTECOPY"), QStringLiteral("Copy address"),
                               QRect(3510, 8670, 1410, 375));
    cmdREMOTECOPY->setToolTip(QStringLiteral("Copies the web remote's address with the token"));
    labREMOTENOTE = MakeLabel(w, frame, QStringLiteral("labREMOTENOTE"), QString(), QRect(5280, 8580, 6000, 255));
    labREMOTENOTE->setTextInteractionFlags(Qt::TextSelectableByMouse);
    // Beside the language box, where the page has room for a code a camera reads.
    auto *qr = new QrView(frame);
    imgREMOTEQR = qr;
    RegisterControl(w, qr, QStringLiteral("imgREMOTEQR"), ControlKind::Image);
    qr->setGeometry(twRect(9600, 6060, 1680, 1860));
    qr->setToolTip(QStringLiteral("Scan with a tablet: it opens the web remote, paired, without the token "
                                  "(once, within 5 minutes)"));
    cmdREMOTENEWTOKEN = MakeButton(w, frame, QStringLiteral("cmdREMOTENEWTOKEN"), QStringLiteral("New token"),
                                   QRect(9600, 7980, 1680, 375));
    cmdREMOTENEWTOKEN->setToolTip(QStringLiteral("Makes a new token: every tablet and program must be paired again"));

    connect(chkREMOTE, &QCheckBox::clicked, this, &RemoteBox::changed);
    connect(chkREMOTEOTHERS, &QCheckBox::clicked, this, &RemoteBox::changed);
    connect(txtREMOTEPORT, &QLineEdit::editingFinished, this, &RemoteBox::changed);
    connect(cmdREMOTENEWTOKEN, &QPushButton::clicked, this, &RemoteBox::newToken);
    connect(cmdREMOTECOPY, &QPushButton::clicked, this, [this] {
        if (!m_remote)
            return;
        QString url = m_remote->control().pageAddress();
        if (m_remote->settings().allowOthers)
            url += QStringLiteral("?token=") + m_remote->settings().token;
        if (QClipboard *clipboard = QGuiApplication::clipboard())
            clipboard->setText(url);
    });
}

void RemoteBox::view(PanelRemote &remote)
{
    m_remote = &remote;
    connect(&remote, &PanelRemote::settingsChanged, this, &RemoteBox::showSettings);
    connect(&remote.control(), &RemoteControl::statusChanged, this, &RemoteBox::showNote);
    connect(&remote.control(), &RemoteControl::pairingChanged, this, &RemoteBox::showPairing);
    if (remote.started())
        showSettings();
}

void RemoteBox::showSettings()
{
    const RemoteSettings &settings = m_remote->settings();
    const quint16 portOverride = m_remote->portOverride();
    chkREMOTE->setChecked(settings.enabled || portOverride != 0);
    txtREMOTEPORT->setText(QString::number(portOverride ? portOverride : settings.port));
    chkREMOTEOTHERS->setChecked(settings.allowOthers);
    txtREMOTETOKEN->setText(settings.token);
    txtREMOTETOKEN->setCursorPosition(0); // its start shown, not its end, where the box is narrower than the token
    // A port given on the command line is for this run: the group shows it and leaves remote.ini alone.
    for (QWidget *c : std::initializer_list<QWidget *>{chkREMOTE, txtREMOTEPORT, chkREMOTEOTHERS})
        c->setEnabled(portOverride == 0);
    // A new token is written into remote.ini: not for a file that cannot be read, nor for a run of --control-port.
    cmdREMOTENEWTOKEN->setEnabled(portOverride == 0 && settings.unreadable.isEmpty());
    showNote();
}

void RemoteBox::newToken()
{
    if (m_remote)
        m_remote->newToken();
}

void RemoteBox::showPairing()
{
    const RemoteControl &control = m_remote->control();
    const bool on = control.status() == RemoteControl::Status::Listening;
    static_cast<QrView *>(imgREMOTEQR)->setCode(on ? QrCodeImage(control.pairingLink()) : QImage());
}

void RemoteBox::changed()
{
    if (!m_remote || !m_remote->started())
        return;
    m_remote->change(chkREMOTE->isChecked(), txtREMOTEPORT->text(), chkREMOTEOTHERS->isChecked());
    txtREMOTEPORT->setText(
        QString::number(m_remote->portOverride() ? m_remote->portOverride() : m_remote->settings().port));
}

void RemoteBox::setHandOverNote(const QString &note)
{
    m_handOverNote = note;
    showNote();
}

void RemoteBox::showNote()
{
    QStringList parts;
    if (!m_handOverNote.isEmpty())
        parts << m_handOverNote;
    if (!m_remote) {
        labREMOTENOTE->setText(parts.join(QStringLiteral(" · ")));
        return;
    }
    QString note;
    const RemoteControl &control = m_remote->control();
    switch (control.status()) {
    case RemoteControl::Status::Off:
        break;
    case RemoteControl::Status::Listening:
        note = FillIn(m_msg(70), QString::number(control.port())) + QStringLiteral(" · ") +
               FillIn(m_msg(88), control.pageAddress());
        break;
    case RemoteControl::Status::Failed:
        note = FillIn(m_msg(71), QString::number(control.port()));
        break;
    }
    if (!note.isEmpty())
        parts << note;
    parts << m_remote->findings();
    labREMOTENOTE->setText(parts.join(QStringLiteral(" · ")));
    labREMOTENOTE->setToolTip(control.error());
    showPairing();
}

} // namespace qx
