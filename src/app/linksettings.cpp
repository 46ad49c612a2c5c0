#include "linksettings.h"

#include "language/messagetable.h"
#include "link/commandexchange.h"
#include "link/serialports.h"
#include "settings/settings.h"
#include "util/seams.h"
#include "util/textutil.h"
#include "widgets.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <algorithm>

namespace qx {

LinkSettingsBox::LinkSettingsBox(QWidget *window, QWidget *frame, Settings &settings)
    : QObject(window), m_settings(settings)
{
    QWidget *w = window;
    labSETTINGS = MakeLabel(w, frame, QStringLiteral("labSETTINGS"), QStringLiteral("Communication settings:"),
                            QRect(120, 4620, 4800, 255));
    chkCOM = MakeCheckBox(w, frame, QStringLiteral("chkCOM"), QStringLiteral("Enable TCP/IP (disable com port)"),
                          QRect(120, 4920, 4800, 315));
    chkCOM->setToolTip(QStringLiteral("OFF=use com port; ON=use TCP/IP LAN connection"));
    labCOMPORT = MakeLabel(w, frame, QStringLiteral("labCOMPORT"), QStringLiteral("com port number (1...100)"),
                           QRect(120, 5340, 2400, 255));
    txtCOMPORT = MakeTextBox(w, frame, QStringLiteral("txtCOMPORT"), QString(), QRect(2640, 5310, 900, 315));
    labCOMSETTINGS = MakeLabel(w, frame, QStringLiteral("labCOMSETTINGS"), QStringLiteral("com port settings"),
                               QRect(120, 5760, 2400, 255));
    txtCOMSETTINGS = MakeTextBox(w, frame, QStringLiteral("txtCOMSETTINGS"), QString(), QRect(2640, 5730, 2280, 315));
    labTCPSETTINGS = MakeLabel(w, frame, QStringLiteral("labTCPSETTINGS"), QStringLiteral("TCP/IP settings"),
                               QRect(120, 6180, 2400, 255));
    txtTCPSETTINGS = MakeTextBox(w, frame, QStringLiteral("txtTCPSETTINGS"), QString(), QRect(2640, 6150, 2280, 315));
    cmdCOMDEFAULTS = MakeButton(w, frame, QStringLiteral("cmdCOMDEFAULTS"), QStringLiteral("Restore defaults"),
                                QRect(120, 6660, 2280, 435));
    cmdRECONNECT = MakeButton(w, frame, QStringLiteral("cmdRECONNECT"), QStringLiteral("Reconnect to QX-7"),
                              QRect(2640, 6660, 2280, 435));

    connect(chkCOM, &QCheckBox::clicked, this, &LinkSettingsBox::chkCOM_Click);
    connect(txtCOMPORT, &QLineEdit::textChanged, this, &LinkSettingsBox::txtCOMPORT_Change);
    connect(txtCOMSETTINGS, &QLineEdit::textChanged, this,
            [this](const QString &text) { m_settings.ComPortSettings = TrimBlanks(text); });
    connect(txtTCPSETTINGS, &QLineEdit::textChanged, this,
            [this](const QString &text) { m_settings.TcpSettings = TrimBlanks(text); });
    connect(cmdCOMDEFAULTS, &QPushButton::clicked, this, &LinkSettingsBox::cmdCOMDEFAULTS_Click);
    connect(cmdRECONNECT, &QPushButton::clicked, this, &LinkSettingsBox::reconnectRequested);
}

void LinkSettingsBox::buildPortList(QWidget *window, QWidget *frame, const MessageTable &msg)
{
    m_msg = &msg;
    labPORTS = MakeLabel(window, frame, QStringLiteral("labPORTS"), QStringLiteral("Serial ports found:"),
                         QRect(120, 7260, 4800, 255));
    comboPORTS = new QComboBox(frame);
    RegisterControl(window, comboPORTS, QStringLiteral("comboPORTS"), ControlKind::ComboBox);
    comboPORTS->setGeometry(twRect(120, 7560, 4800, 315));
    comboPORTS->setToolTip(QStringLiteral("Links the com port number above to the chosen port; "
                                          "press Reconnect to QX-7 to use it"));
    m_ports = new SerialPortWatcher(this);
    connect(m_ports, &SerialPortWatcher::changed, this, &LinkSettingsBox::showPorts);
    // Only the operator's choice writes the link, never a refill.
    connect(comboPORTS, &QComboBox::activated, this, &LinkSettingsBox::comboPORTS_Click);
    showPorts();
}

void LinkSettingsBox::showPorts()
{
    if (!comboPORTS)
        return;
    const QList<SerialPortListing> &ports = m_ports->ports();
    const QString entry = QStringLiteral("com%1").arg(m_settings.ComPort);
    // With TCP/IP no serial port is in use: none is shown as chosen.
    const bool tcp = chkCOM->isChecked();
    comboPORTS->clear();
    int chosen = -1;
    for (const SerialPortListing &p : tcp ? QList<SerialPortListing>() : ports) {
        comboPORTS->addItem(SerialPortCaption(p, (*m_msg)(73)));
        comboPORTS->setItemData(comboPORTS->count() - 1,
                                QDir::toNativeSeparators(p.stableName) + QLatin1Char('\n') + p.device, Qt::ToolTipRole);
        const bool leadsHere =
            p.comEntries.split(QLatin1Char(',')).contains(entry) || PlatformPortNumber(p) == m_settings.ComPort;
        if (chosen < 0 && leadsHere)
            chosen = comboPORTS->count() - 1;
    }
    comboPORTS->setPlaceholderText((*m_msg)(tcp ? 74 : ports.isEmpty() ? 63 : 64));
    comboPORTS->setCurrentIndex(chosen);
    comboPORTS->setEnabled(!tcp && cmdRECONNECT->isEnabled() && !ports.isEmpty());
}

void LinkSettingsBox::comboPORTS_Click(int index)
{
    const QList<SerialPortListing> &ports = m_ports->ports();
    if (index < 0 || index >= ports.size())
        return;
    const SerialPortListing port = ports[index];
    if (const int n = PlatformPortNumber(port)) {
        txtCOMPORT->setText(QString::number(n)); // Windows: the port is the choice
    } else {
        const QString entry = QDir::toNativeSeparators(SerialEntryPath(m_settings.ComPort));
        switch (ChooseSerialPort(m_settings.ComPort, port)) {
        case PortChoice::Linked:
            break;
        case PortChoice::NotALink:
            MessageBox(FillIn((*m_msg)(60), entry), (*m_msg)(61));
            break;
        case PortChoice::Failed:
            MessageBox(FillIn((*m_msg)(62), entry), (*m_msg)(61));
            break;
        }
    }
    m_ports->refresh(); // the com<n> entries changed
    showPorts();
}

void LinkSettingsBox::setUpDesign(const QColor &back)
{
    for (QWidget *w : std::initializer_list<QWidget *>{cmdRECONNECT, cmdCOMDEFAULTS, chkCOM})
        SetBackColor(w, back);
}

void LinkSettingsBox::setLocked(bool locked)
{
    cmdRECONNECT->setEnabled(!locked);
    cmdCOMDEFAULTS->setEnabled(!locked);
    showPorts();
}

void LinkSettingsBox::setUpLinkSettings()
{
    chkCOM->setChecked(m_settings.ComPort == 0);
    chkCOM_Click();
}

void LinkSettingsBox::chkCOM_Click()
{
    Settings &s = m_settings;
    if (chkCOM->isChecked()) {
        txtCOMPORT->setEnabled(false);
        txtCOMSETTINGS->setEnabled(false);
        txtTCPSETTINGS->setEnabled(true);
        txtCOMPORT->setText(QStringLiteral("0"));
        s.ComPort = 0;
    } else {
        txtCOMPORT->setEnabled(true);
        txtCOMSETTINGS->setEnabled(true);
        txtTCPSETTINGS->setEnabled(false);
        const QString port = QString::number(Clamp(s.ComPort, 1, 100));
        if (txtCOMPORT->text() == port)
            txtCOMPORT_Change(); // no change event for the same text, but the value must follow it
        else
            txtCOMPORT->setText(port);
    }
    txtCOMSETTINGS->setText(s.ComPortSettings);
    txtTCPSETTINGS->setText(s.TcpSettings);
    showPorts();
}

void LinkSettingsBox::txtCOMPORT_Change()
{
    const double value = RoundHalfEven(NumericValue(txtCOMPORT->text()));
    m_settings.ComPort = qint32(std::max(1.0, std::min(100.0, value)));
    showPorts(); // the port the new number's entry leads to
}

void LinkSettingsBox::cmdCOMDEFAULTS_Click()
{
    m_settings.ComPortSettings = kDefaultComSettings;
    m_settings.TcpSettings = kDefaultTcpSettings;
    txtCOMSETTINGS->setText(m_settings.ComPortSettings);
    txtTCPSETTINGS->setText(m_settings.TcpSettings);
}

} // namespace qx
