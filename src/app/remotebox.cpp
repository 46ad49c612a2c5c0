#include "remotebox.h"

#include "language/messagetable.h"
#include "remote/remotecontrol.h"
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
        QString url = m_remote ? m_remote->pageAddress() : QString();
        if (m_settings.allowOthers)
            url += QStringLiteral("?token=") + m_settings.token;
        if (QClipboard *clipboard = QGuiApplication::clipboard())
            clipboard->setText(url);
    });
}

void RemoteBox::start(RemoteControl &remote, const QString &folder, quint16 portOverride)
{
    m_remote = &remote;
    m_override = portOverride;
    m_path = RemoteSettingsPath(folder);
    m_settings = StartRemoteSettings(m_path);
    // Told once, in the note, for as long as the program runs.
    const QString shown = QDir::toNativeSeparators(m_path);
    if (!m_settings.unreadable.isEmpty())
        m_findings << FillIn(m_msg(76), shown) + QStringLiteral(" (") + m_settings.unreadable + QLatin1Char(')');
    if (m_settings.nulsLeftOut)
        m_findings << FillIn(m_msg(65), shown);
    if (m_settings.openToOthers)
        m_findings << FillIn(m_msg(77), shown);
    if (m_settings.tokenShort())
        m_findings << FillIn(m_msg(78), QString::number(kShortRemoteToken));
    chkREMOTE->setChecked(m_settings.enabled || portOverride != 0);
    txtREMOTEPORT->setText(QString::number(portOverride ? portOverride : m_settings.port));
    chkREMOTEOTHERS->setChecked(m_settings.allowOthers);
    txtREMOTETOKEN->setText(m_settings.token);
    // A port given on the command line is for this run: the group shows it and leaves remote.ini alone.
    for (QWidget *c : std::initializer_list<QWidget *>{chkREMOTE, txtREMOTEPORT, chkREMOTEOTHERS})
        c->setEnabled(portOverride == 0);
    // A new token is written into remote.ini: not for a file that cannot be read, nor for a run of --control-port.
    cmdREMOTENEWTOKEN->setEnabled(portOverride == 0 && m_settings.unreadable.isEmpty());
    connect(&remote, &RemoteControl::statusChanged, this, &RemoteBox::showNote);
    connect(&remote, &RemoteControl::pairingChanged, this, &RemoteBox::showPairing);
    remote.apply(m_settings, portOverride);
    showNote();
}

void RemoteBox::newToken()
{
    if (!m_remote || m_override)
        return;
    RemoteSettings next = m_settings;
    next.token = MakeRemoteToken();
    // A token the next start would not find would lock the tablets out then: the old one stays.
    if (!SaveRemoteSettings(m_path, next)) {
        m_findings << FillIn(m_msg(89), QDir::toNativeSeparators(m_path));
        showNote();
        return;
    }
    m_settings = next;
    txtREMOTETOKEN->setText(m_settings.token);
    m_remote->apply(m_settings);
}

void RemoteBox::showPairing()
{
    const bool on = m_remote->status() == RemoteControl::Status::Listening;
    static_cast<QrView *>(imgREMOTEQR)->setCode(on ? QrCodeImage(m_remote->pairingLink()) : QImage());
}

void RemoteBox::changed()
{
    if (!m_remote || m_override)
        return;
    bool ok = false;
    const uint port = txtREMOTEPORT->text().trimmed().toUInt(&ok);
    if (ok && port >= 1 && port <= 65535)
        m_settings.port = quint16(port);
    txtREMOTEPORT->setText(QString::number(m_settings.port));
    m_settings.enabled = chkREMOTE->isChecked();
    m_settings.allowOthers = chkREMOTEOTHERS->isChecked();
    save();
    m_remote->apply(m_settings);
}

void RemoteBox::save()
{
    // Nothing to tell when the folder cannot be written: the start-up has said
    // so already; a file that could not be read is in the note.
    SaveRemoteSettings(m_path, m_settings);
}

void RemoteBox::showNote()
{
    QString note;
    switch (m_remote->status()) {
    case RemoteControl::Status::Off:
        break;
    case RemoteControl::Status::Listening:
        note = FillIn(m_msg(70), QString::number(m_remote->port())) + QStringLiteral(" · ") +
               FillIn(m_msg(88), m_remote->pageAddress());
        break;
    case RemoteControl::Status::Failed:
        note = FillIn(m_msg(71), QString::number(m_remote->port()));
        break;
    }
    QStringList parts = m_findings;
    if (!note.isEmpty())
        parts.prepend(note);
    labREMOTENOTE->setText(parts.join(QStringLiteral(" · ")));
    labREMOTENOTE->setToolTip(m_remote->error());
    showPairing();
}

} // namespace qx
