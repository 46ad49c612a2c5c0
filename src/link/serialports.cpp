#include "serialports.h"

#include "devicelink.h"
#include "language/messagetable.h"
#include "util/seams.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QRegularExpression>
#include <QSerialPortInfo>
#include <QStringList>
#include <algorithm>
#include <cstdio>

namespace qx {

namespace {

// The highest port number the settings take.
constexpr int kMaxComPort = 255;

// A plugged adapter's node and its stable name appear a moment apart.
constexpr int kSettleMs = 300;
#ifdef Q_OS_WIN
constexpr int kPollMs = 3000; // no folder to watch
#endif

QString byIdFolder()
{
    return seams().serialByIdFolder.isEmpty() ? QStringLiteral("/dev/serial/by-id") : seams().serialByIdFolder;
}

QList<SystemSerialPort> systemPorts()
{
    if (seams().serialPorts)
        return seams().serialPorts();
    QList<SystemSerialPort> ports;
    for (const QSerialPortInfo &info : QSerialPortInfo::availablePorts())
        ports.append({info.systemLocation(), info.description(), info.manufacturer(), info.serialNumber()});
    return ports;
}

// The device a path leads to, or the path itself where it leads nowhere.
QString canonical(const QString &path)
{
    const QString target = QFileInfo(path).canonicalFilePath();
    return target.isEmpty() ? path : target;
}

// Each device with a stable name, keyed by the device it leads to.
QHash<QString, QString> stableNames()
{
    QHash<QString, QString> names;
    const QDir folder(byIdFolder());
    for (const QFileInfo &entry : folder.entryInfoList(QDir::System | QDir::Files | QDir::NoDotAndDotDot, QDir::Name)) {
        if (entry.isSymLink() && !entry.canonicalFilePath().isEmpty())
            names.insert(entry.canonicalFilePath(), entry.absoluteFilePath());
    }
    return names;
}

// The program folder's com<n> links, keyed by the device each leads to.
QHash<QString, QStringList> comEntries()
{
    // The whole name: "com12\n" is not com12 ("$" would also match before a final line end).
    static const QRegularExpression name(QRegularExpression::anchoredPattern(QStringLiteral("com([1-9][0-9]{0,2})")));
    QList<QPair<int, QFileInfo>> links;
    const QDir folder(ProgramFolder());
    for (const QFileInfo &entry : folder.entryInfoList(QDir::System | QDir::Files | QDir::NoDotAndDotDot)) {
        const auto match = name.match(entry.fileName());
        const int n = match.captured(1).toInt();
        if (match.hasMatch() && n <= kMaxComPort && entry.isSymLink() && !entry.canonicalFilePath().isEmpty())
            links.append({n, entry});
    }
    std::sort(links.begin(), links.end(), [](const auto &a, const auto &b) { return a.first < b.first; });
    QHash<QString, QStringList> byDevice;
    for (const auto &[n, entry] : links)
        byDevice[entry.canonicalFilePath()].append(entry.fileName());
    return byDevice;
}

} // namespace

QList<SerialPortListing> ListSerialPorts()
{
    const QHash<QString, QString> stable = stableNames();
    const QHash<QString, QStringList> entries = comEntries();
    QList<SerialPortListing> ports;
    for (const SystemSerialPort &p : systemPorts()) {
        const QString device = canonical(p.device);
        const bool builtIn = p.description.isEmpty() && p.manufacturer.isEmpty() && p.serialNumber.isEmpty();
        ports.append({stable.value(device, p.device), p.device, p.description, p.manufacturer, p.serialNumber,
                      entries.value(device).join(QLatin1Char(',')), builtIn});
    }
    // An adapter the operator plugged in is what is wanted, not a port that is merely there.
    std::stable_partition(ports.begin(), ports.end(), [](const SerialPortListing &p) { return !p.builtIn; });
    return ports;
}

QString SerialPortAbout(const SerialPortListing &port, const QString &builtInText)
{
    QStringList about;
    for (const QString &part : {port.description, port.manufacturer, port.serialNumber}) {
        if (!part.isEmpty() && !about.contains(part))
            about << part;
    }
    return about.isEmpty() ? builtInText : about.join(QStringLiteral(", "));
}

namespace {
// A field of a --list-ports line, escaped so that it stays one field whatever the name holds.
QString escapedField(const QString &field)
{
    QString out;
    for (const QChar c : field) {
        if (c == QLatin1Char('\\'))
            out += QStringLiteral("\\\\");
        else if (c == QLatin1Char('\t'))
            out += QStringLiteral("\\t");
        else if (c == QLatin1Char('\n'))
            out += QStringLiteral("\\n");
        else if (c == QLatin1Char('\r'))
            out += QStringLiteral("\\r");
        else if (c.unicode() < 0x20 || c.unicode() == 0x7F)
            out += QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'));
        else
            out += c;
    }
    return out;
}
} // namespace

QString SerialPortLines(const QList<SerialPortListing> &ports)
{
    QString text;
    for (const SerialPortListing &p : ports) {
        QStringList fields{p.stableName, p.device, SerialPortAbout(p, MessageTable::defaultText(73)), p.comEntries};
        for (QString &f : fields)
            f = escapedField(f);
        text += fields.join(QLatin1Char('\t')) + QLatin1Char('\n');
    }
    return text;
}

int PrintSerialPorts()
{
    std::fputs(SerialPortLines(ListSerialPorts()).toLocal8Bit().constData(), stdout);
    std::fflush(stdout);
    return 0;
}

QString SerialPortCaption(const SerialPortListing &port, const QString &builtInText)
{
    // A stable name's folder is the same for every port; a device is shown whole.
    QString caption = port.stableName == port.device ? port.device : QFileInfo(port.stableName).fileName();
    if (port.stableName != port.device)
        caption += QStringLiteral(" (") + QFileInfo(port.device).fileName() + QLatin1Char(')');
    return caption + QStringLiteral(" \u2013 ") + SerialPortAbout(port, builtInText);
}

QString SerialEntryPath(int n)
{
    return JoinPath(ProgramFolder(), QStringLiteral("com%1").arg(n));
}

int PlatformPortNumber(const SerialPortListing &port)
{
#ifdef Q_OS_WIN
    static const QRegularExpression name(QStringLiteral("^COM([0-9]+)$"), QRegularExpression::CaseInsensitiveOption);
    const auto match = name.match(QFileInfo(port.device).fileName());
    return match.hasMatch() ? match.captured(1).toInt() : 0;
#else
    Q_UNUSED(port);
    return 0;
#endif
}

PortChoice ChooseSerialPort(int n, const SerialPortListing &port)
{
#ifdef Q_OS_WIN
    // The port's own name is the choice; nothing is written.
    return PlatformPortNumber(port) > 0 ? PortChoice::Linked : PortChoice::Failed;
#else
    const QString entry = SerialEntryPath(n);
    const QFileInfo info(entry);
    // Only a link is ours to replace; a file or a folder of that name is the operator's.
    if (!info.isSymLink() && info.exists())
        return PortChoice::NotALink;
    if (info.isSymLink() && !QFile::remove(entry))
        return PortChoice::Failed;
    return QFile::link(port.stableName, entry) ? PortChoice::Linked : PortChoice::Failed;
#endif
}

SerialPortWatcher::SerialPortWatcher(QObject *parent) : QObject(parent)
{
    m_settle.setSingleShot(true);
    m_settle.setInterval(kSettleMs);
    connect(&m_settle, &QTimer::timeout, this, &SerialPortWatcher::refresh);
    connect(&m_watcher, &QFileSystemWatcher::directoryChanged, &m_settle, qOverload<>(&QTimer::start));
#ifdef Q_OS_WIN
    m_settle.setSingleShot(false);
    m_settle.start(kPollMs);
#endif
    m_ports = ListSerialPorts();
    watchFolders();
}

void SerialPortWatcher::watchFolders()
{
    // The stable names' folder, and the folders above it where it and the
    // device nodes appear (on Linux /dev/serial/by-id, /dev/serial, /dev).
    QStringList folders;
    QString f = byIdFolder();
    for (int level = 0; level < 3 && f.size() > 1; ++level, f = QFileInfo(f).path()) {
        if (QFileInfo(f).isDir())
            folders << f;
    }
    if (!m_watcher.directories().isEmpty())
        m_watcher.removePaths(m_watcher.directories());
    if (!folders.isEmpty())
        m_watcher.addPaths(folders);
}

void SerialPortWatcher::refresh()
{
    watchFolders(); // a folder that appeared or went away
    QList<SerialPortListing> ports = ListSerialPorts();
    if (ports == m_ports)
        return;
    m_ports = std::move(ports);
    Q_EMIT changed();
}

} // namespace qx
