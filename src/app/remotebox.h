#pragma once
// The "Remote control" group of the Files and Setup page: the check box that
// turns the HTTP and OSC listeners on, their port, "Allow other computers",
// the token other computers must show (with a button that copies the web
// remote's address with it), a button that makes a new token, a note of what
// runs with the address a tablet opens, and that address as a QR code with a
// one-time pairing code (the remote control's): a view of the panel's remote
// control, which keeps remote.ini and applies every change at once.

#include <QObject>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QWidget;

namespace qx {

class MessageTable;
class PanelRemote;

class RemoteBox : public QObject {
    Q_OBJECT
public:
    // Creates chkREMOTE, labREMOTEPORT, txtREMOTEPORT, chkREMOTEOTHERS,
    // txtREMOTETOKEN, cmdREMOTECOPY, labREMOTENOTE, imgREMOTEQR and
    // cmdREMOTENEWTOKEN in `frame`, registered with `window` in this order.
    RemoteBox(QWidget *window, QWidget *frame, const MessageTable &msg);

    // Shows `remote` from now on: its settings once it has started, the
    // note of what runs and what reading remote.ini found; the operator's
    // changes go to it.
    void view(PanelRemote &remote);
    // Why later starts cannot hand their requests over, shown with the note
    // for as long as the program runs.
    void setHandOverNote(const QString &note);

private:
    void changed();
    void showSettings();
    void showNote();
    void showPairing();
    void newToken();

    const MessageTable &m_msg;
    PanelRemote *m_remote = nullptr;
    QString m_handOverNote;

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
