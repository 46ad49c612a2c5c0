#include "linksettings.h"

#include "link/commandexchange.h"
#include "settings/settings.h"
#include "util/textutil.h"
#include "widgets.h"

#include <QCheckBox>
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

void LinkSettingsBox::setUpDesign(const QColor &back)
{
    for (QWidget *w : std::initializer_list<QWidget *>{cmdRECONNECT, cmdCOMDEFAULTS, chkCOM})
        SetBackColor(w, back);
}

void LinkSettingsBox::setLocked(bool locked)
{
    cmdRECONNECT->setEnabled(!locked);
    cmdCOMDEFAULTS->setEnabled(!locked);
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
}

void LinkSettingsBox::txtCOMPORT_Change()
{
    const double value = RoundHalfEven(NumericValue(txtCOMPORT->text()));
    m_settings.ComPort = qint32(std::max(1.0, std::min(100.0, value)));
}

void LinkSettingsBox::cmdCOMDEFAULTS_Click()
{
    m_settings.ComPortSettings = kDefaultComSettings;
    m_settings.TcpSettings = kDefaultTcpSettings;
    txtCOMSETTINGS->setText(m_settings.ComPortSettings);
    txtTCPSETTINGS->setText(m_settings.TcpSettings);
}

} // namespace qx
