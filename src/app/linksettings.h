#pragma once
// The communication settings of the Files and Setup page: serial port or
// TCP/IP, the port number and the settings texts of both, the button that
// restores the default settings and the one that opens the link again.

#include <QObject>

class QCheckBox;
class QColor;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QWidget;

namespace qx {

class MessageTable;
class SerialPortWatcher;
struct Settings;
class LinkSettingsBox : public QObject {
    Q_OBJECT
public:
    // Creates labSETTINGS, chkCOM, labCOMPORT, txtCOMPORT, labCOMSETTINGS,
    // txtCOMSETTINGS, labTCPSETTINGS, txtTCPSETTINGS, cmdCOMDEFAULTS and
    // cmdRECONNECT in `frame`, registered with `window` in this order. The
    // boxes edit `settings`; cmdRECONNECT asks for the link to be opened again.
    LinkSettingsBox(QWidget *window, QWidget *frame, Settings &settings);

    // Creates labPORTS and comboPORTS, the serial ports the system reports,
    // after the window's designed controls. Choosing one links the program
    // folder's com<n> entry (n: the port number box) to it. With TCP/IP ticked
    // the box lists nothing and says that TCP/IP is in use.
    void buildPortList(QWidget *window, QWidget *frame, const MessageTable &msg);

    // Start-up: the buttons and the check box in the window's back colour.
    void setUpDesign(const QColor &back);
    // Start-up: tick chkCOM for TCP and fill the boxes through its handler.
    void setUpLinkSettings();
    // A running load job keeps the link as it is.
    void setLocked(bool locked);

Q_SIGNALS:
    void reconnectRequested();

private:
    void chkCOM_Click();
    void txtCOMPORT_Change();
    void cmdCOMDEFAULTS_Click();
    void showPorts(); // fills comboPORTS, the port com<n> leads to chosen
    void comboPORTS_Click(int index);

    Settings &m_settings;
    QLabel *labSETTINGS = nullptr;
    QCheckBox *chkCOM = nullptr;
    QLabel *labCOMPORT = nullptr;
    QLineEdit *txtCOMPORT = nullptr;
    QLabel *labCOMSETTINGS = nullptr;
    QLineEdit *txtCOMSETTINGS = nullptr;
    QLabel *labTCPSETTINGS = nullptr;
    QLineEdit *txtTCPSETTINGS = nullptr;
    QPushButton *cmdCOMDEFAULTS = nullptr;
    QPushButton *cmdRECONNECT = nullptr;
    QLabel *labPORTS = nullptr;
    QComboBox *comboPORTS = nullptr;
    SerialPortWatcher *m_ports = nullptr;
    const MessageTable *m_msg = nullptr;
};

} // namespace qx
