#pragma once
// The serial ports the system reports, for the operator to pick from: each
// under its stable name (on Linux the /dev/serial/by-id/ link, which follows
// an adapter whatever number the system gave it this time), with the program
// folder's com<n> entries that lead to it. Picking one for port number n
// makes the program folder's com<n> entry a link to it (on Windows COM<n> is
// the port itself); the settings file keeps "Com Port=n" as it is.

#include <QFileSystemWatcher>
#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>

namespace qx {

struct SerialPortListing {
    QString stableName; // the by-id link, or the device where it has none
    QString device;     // "/dev/ttyUSB0", "COM3"
    QString description;
    QString manufacturer;
    QString serialNumber;
    QString comEntries; // "com1", "com1,com3": the program folder's entries leading to it
    // The system tells nothing of it (no description, manufacturer or serial
    // number): a port of the computer itself, such as /dev/ttyS0, which
    // usually has nothing wired to it.
    bool builtIn = false;
    bool operator==(const SerialPortListing &o) const
    {
        return stableName == o.stableName && device == o.device && description == o.description &&
               manufacturer == o.manufacturer && serialNumber == o.serialNumber && comEntries == o.comEntries &&
               builtIn == o.builtIn;
    }
};

// Every port the system reports (through the seam): the adapters in the
// system's order, then the built-in ports. The com<n> entries are those of
// com1 to com255 (the numbers the settings take), by their exact names.
QList<SerialPortListing> ListSerialPorts();

// What the system tells of a port (description, manufacturer, serial number,
// each once), or `builtInText` for a built-in port: never empty.
QString SerialPortAbout(const SerialPortListing &port, const QString &builtInText);

// One line a port for --list-ports: stable name, device, what the system
// tells of it (SerialPortAbout) and the com<n> entries, separated by tabs.
// Names are shown as the file system has them: a backslash, a tab, a line
// end or another control character in a field is written as an escape
// ("\\", "\t", "\n", "\r", "\x1b"), so a field is never cut or changed.
QString SerialPortLines(const QList<SerialPortListing> &ports);
// --list-ports: prints the lines on standard output; the exit status (0).
int PrintSerialPorts();

// The text the port list shows for a port.
QString SerialPortCaption(const SerialPortListing &port, const QString &builtInText);

enum class PortChoice {
    Linked,   // com<n> now leads to the port (Windows: the port number is the choice)
    NotALink, // com<n> is a file, a folder or anything but a link: left as it is
    Failed,   // the link could not be made (the folder cannot be written)
};
// Makes the program folder's entry com<n> a link to `port`'s stable name,
// replacing a link that was there; no other file is touched.
PortChoice ChooseSerialPort(int n, const SerialPortListing &port);
// The port number a port is on Windows (COM<n>); 0 elsewhere.
int PlatformPortNumber(const SerialPortListing &port);
// The program folder's entry for serial port n.
QString SerialEntryPath(int n);

// Lists the ports again whenever an adapter is plugged in or out: the
// folders where device nodes and their stable names appear are watched (a
// timer stands in where there are none), and a change settles briefly first.
class SerialPortWatcher : public QObject {
    Q_OBJECT
public:
    explicit SerialPortWatcher(QObject *parent = nullptr);
    const QList<SerialPortListing> &ports() const { return m_ports; }
    // Lists again now; changed() when the list differs.
    void refresh();

Q_SIGNALS:
    void changed();

private:
    void watchFolders();

    QList<SerialPortListing> m_ports;
    QFileSystemWatcher m_watcher;
    QTimer m_settle;
};

} // namespace qx
