#include "remotebox.h"

#include "language/messagetable.h"
#include "remote/panelremote.h"
#include "widgets.h"

#include <QCheckBox>
#include <QClipboard>
#include <QDir>
#include <QGuiApplication>
#include <QHostInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace qx {

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

    connect(chkREMOTE, &QCheckBox::clicked, this, &RemoteBox::changed);
    connect(chkREMOTEOTHERS, &QCheckBox::clicked, this, &RemoteBox::changed);
    connect(txtREMOTEPORT, &QLineEdit::editingFinished, this, &RemoteBox::changed);
    connect(cmdREMOTECOPY, &QPushButton::clicked, this, [this] {
        // Other computers reach this one by its name on the network.
        if (!m_remote)
            return;
        const RemoteSettings &settings = m_remote->settings();
        const QString host = settings.allowOthers ? QHostInfo::localHostName() : QStringLiteral("127.0.0.1");
        const quint16 port = m_remote->portOverride() ? m_remote->portOverride() : settings.port;
        QString url = QStringLiteral("http://%1:%2/").arg(host).arg(port);
        if (settings.allowOthers)
            url += QStringLiteral("?token=") + settings.token;
        if (QClipboard *clipboard = QGuiApplication::clipboard())
            clipboard->setText(url);
    });
}

void RemoteBox::view(PanelRemote &remote)
{
    m_remote = &remote;
    connect(&remote, &PanelRemote::settingsChanged, this, &RemoteBox::showSettings);
    connect(&remote.control(), &RemoteControl::statusChanged, this, &RemoteBox::showNote);
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
    // A port given on the command line is for this run: the group shows it and leaves remote.ini alone.
    for (QWidget *c : std::initializer_list<QWidget *>{chkREMOTE, txtREMOTEPORT, chkREMOTEOTHERS})
        c->setEnabled(portOverride == 0);
    showNote();
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
        note = FillIn(m_msg(70), QString::number(control.port()));
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
}

} // namespace qx
