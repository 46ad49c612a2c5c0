#pragma once
// The "Remote control" group of the Files and Setup page: the check box that
// turns the HTTP and OSC listeners on, their port, "Allow other computers",
// the token other computers must show (with a button that copies the web
// remote's address with it), a button that makes a new token, a note of what
// runs with the address a tablet opens, and that address as a QR code with a
// one-time pairing code (the remote control's). Its settings are remote.ini's;
// every change is written there at once and applied.

#include "remote/remotesettings.h"

#include <QObject>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QWidget;

namespace qx {

class MessageTable;
class RemoteControl;

class RemoteBox : public QObject {
    Q_OBJECT
public:
    // Creates chkREMOTE, labREMOTEPORT, txtREMOTEPORT, chkREMOTEOTHERS,
    // txtREMOTETOKEN, cmdREMOTECOPY, labREMOTENOTE, imgREMOTEQR and
    // cmdREMOTENEWTOKEN in `frame`, registered with `window` in this order.
    RemoteBox(QWidget *window, QWidget *frame, const MessageTable &msg);

    // Reads remote.ini from `folder` (writing it only when a token had to be
    // made; a file that cannot be read is never written) and starts what it
    // says; what reading found (the file unreadable, NUL bytes left out, a
    // mode open to others, a short token) joins the note; `portOverride` (--control-port) turns the
    // listeners on for this run on that port, and the group then only shows it.
    void start(RemoteControl &remote, const QString &folder, quint16 portOverride);
    const RemoteSettings &settings() const { return m_settings; }

private:
    void changed();
    void showNote();
    void showPairing();
    void newToken();
    void save();

    const MessageTable &m_msg;
    RemoteControl *m_remote = nullptr;
    RemoteSettings m_settings;
    QString m_path;
    QStringList m_findings; // what reading remote.ini found for the operator
    quint16 m_override = 0;

    QCheckBox *chkREMOTE = nullptr;
    QLabel *labREMOTEPORT = nullptr;
    QLineEdit *txtREMOTEPORT = nullptr;
    QCheckBox *chkREMOTEOTHERS = nullptr;
    QLineEdit *txtREMOTETOKEN = nullptr;
    QPushButton *cmdREMOTECOPY = nullptr;
    QLabel *labREMOTENOTE = nullptr;
    QWidget *imgREMOTEQR = nullptr;
    QPushButton *cmdREMOTENEWTOKEN = nullptr;
};

} // namespace qx
