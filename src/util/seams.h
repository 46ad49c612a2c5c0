#pragma once
// The few places where the program meets the operator or the clock in a way a
// test cannot sit through: message boxes, the pauses of the upload, the
// folder picker, the web-page opener, the program folder and the users of
// this computer. The GUI installs the real ones; tests install scripted ones.

#include <QList>
#include <QObject>
#include <QRect>
#include <QString>
#include <QUrl>
#include <functional>
#include <optional>

namespace qx {

// A serial port as the system reports it.
struct SystemSerialPort {
    QString device;       // "/dev/ttyUSB0", "COM3"
    QString description;  // "FT232R USB UART"
    QString manufacturer; // "FTDI"
    QString serialNumber;
};

struct Seams {
    // Shows `text` with `title`; OK only, or OK and Cancel when `okCancel`.
    // Returns true for the answer OK.
    std::function<bool(const QString &text, const QString &title, bool okCancel)> messageBox;
    // The length of a pause designed as `ms` milliseconds. Tests shorten the
    // pauses; the pause itself stays real.
    std::function<int(int ms)> pauseLength;
    // Asks for a folder, starting at `start`; returns the folder the picker reports.
    std::function<QString(const QString &start)> pickFolder;
    // Opens a web address in the default browser.
    std::function<void(const QUrl &url)> openUrl;
    // Shows a window modally and returns when it is closed (the About box and
    // the warning window). Tests record the window instead.
    std::function<void(QObject *window)> showModal;
    // Ends the running application with `status` (the event loop returns;
    // no shutdown handler runs).
    std::function<void(int status)> exitProcess;
    // The room a window at `at` has on its screen (the screen's available
    // area, in the toolkit's scaled pixels); unset: the real screen's. Tests
    // give a screen of the size they need.
    std::function<QRect(const QPoint &at)> availableArea;
    // The folder where the program keeps its files; empty means the one
    // ProgramFolder() decides on.
    QString programFolder;
    // The folder of the files an installation shares (language files); empty
    // means the one beside the installed executable, if any.
    QString sharedFolder;
    // The serial ports the system reports; tests give their own list, so no
    // test enumerates the machine's ports.
    std::function<QList<SystemSerialPort>()> serialPorts;
    // The folder of stable serial port names; empty means /dev/serial/by-id.
    QString serialByIdFolder;
    // The user id of the program on this computer that talks from `peerPort`
    // to a remote listener's `ownPort` (TCP or UDP); unset: what the system's
    // socket tables say. Tests play another user of the computer.
    std::function<std::optional<uint>(quint16 ownPort, quint16 peerPort)> peerUser;
};

Seams &seams();

// The dialogs the operator has open now: every MessageBox and the folder
// picker count themselves, and the window counts its modal windows with a
// DialogOpen. Requests of other
// senders wait until none is open.
class DialogWatch : public QObject {
    Q_OBJECT
public:
    int open() const { return m_open; }
    void add(int delta);

Q_SIGNALS:
    void changed(int open);

private:
    int m_open = 0;
};
DialogWatch &dialogs();
class [[nodiscard]] DialogOpen {
public:
    DialogOpen() { dialogs().add(1); }
    ~DialogOpen() { dialogs().add(-1); }
    DialogOpen(const DialogOpen &) = delete;
    DialogOpen &operator=(const DialogOpen &) = delete;
};

// Convenience wrappers that fall back to harmless defaults when no seam is
// installed (no GUI): a message box prints to standard error and answers OK.
// Once the program has been asked to end, no box is shown and the answer is
// not OK.
bool MessageBox(const QString &text, const QString &title, bool okCancel = false);
// Pauses the caller for the pause designed as `ms` milliseconds (see
// pauseLength) while events are processed, as a wait for a reply does: the
// program goes on listening, and whoever holds the link keeps it (the
// operator's window stays locked by the sequence that pauses). Ends early when
// the program is asked to end.
void Sleep(int ms);
QString PickFolder(const QString &start);
void OpenUrl(const QUrl &url);
// The folder where the program keeps its files (settings, language files,
// com<n> links): the executable's own folder, as a copied program keeps them
// beside itself; but the user's configuration folder (created when needed)
// when the executable sits in an installed layout (<exe dir>/../share/qx-7alt
// exists) or its folder cannot be written.
QString ProgramFolder();
// Whether the program keeps its files in the user's configuration folder
// (installed), not beside its executable (copied).
bool KeptInConfigFolder();
// Whether the program folder is a folder that files can be written in (the
// configuration folder may be a file, a dangling link, or under a read-only
// home).
bool ProgramFolderUsable();
// The installed shared files folder <exe dir>/../share/qx-7alt; "" when the
// executable is not installed.
QString SharedFolder();
void ExitProcess(int status);

// Set once the program is asked to end (its window closed, a termination
// signal): waits and pauses end at their next check, no box is shown. Safe to
// call from a signal handler. Clearing is for tests only.
void RequestTermination();
bool TerminationRequested();
void ClearTerminationRequest();

// folder + separator + name, never doubling the separator.
QString JoinPath(const QString &folder, const QString &name);

} // namespace qx
