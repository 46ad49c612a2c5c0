#include "linkrig.h"

#include "util/seams.h"

#include <QFile>
#include <QTest>
#include <QTime>

namespace qxtest {

ScriptedSeams::ScriptedSeams()
{
    qx::Seams &s = qx::seams();
    s.messageBox = [this](const QString &text, const QString &title, bool) {
        boxes.append({text, title});
        return answers.isEmpty() ? true : answers.takeFirst();
    };
    s.pauseLength = [this](int ms) { return pauses.value(ms, 0); };
    qx::ClearTerminationRequest();
    s.openUrl = [this](const QUrl &url) { urls.append(url); };
    s.pickFolder = [](const QString &start) { return start; };
    // A screen where the window fits at its designed size (the offscreen one is smaller).
    s.availableArea = [](const QPoint &) { return QRect(0, 0, 1920, 1080); };
    s.serialPorts = [this] { return ports; };
    s.serialByIdFolder = QStringLiteral("/nonexistent/serial/by-id");
    s.exitProcess = [this](int status) { exits.append(status); };
    s.showModal = [this](QObject *window) {
        QStringList texts{window->property("windowTitle").toString()};
        for (const char *name : {"labWARNING", "labTEXT"})
            if (QObject *label = window->findChild<QObject *>(QString::fromLatin1(name)))
                texts << label->property("text").toString();
        modals.append(texts);
        QMetaObject::invokeMethod(window, "accept"); // the operator presses OK
    };
}

ScriptedSeams::~ScriptedSeams()
{
    qx::Seams none;
    none.programFolder = qx::seams().programFolder;
    qx::seams() = none;
    qx::ClearTerminationRequest();
}

TempProgramFolder::TempProgramFolder()
{
    qx::seams().programFolder = dir.path();
    // Every serial port number leads to a device that does not exist, so no test ever opens a real port; a test
    // links the one it needs to the emulator's pseudo-terminal (which replaces the link).
    for (int n = 1; n <= 255; ++n)
        QFile::link(dir.filePath(QStringLiteral("no-device")), dir.filePath(QStringLiteral("com%1").arg(n)));
}

TempProgramFolder::~TempProgramFolder()
{
    qx::seams().programFolder.clear();
}

qint64 EmulatorLogTime(const QString &logFile, const QByteArray &needle)
{
    QFile log(logFile);
    if (!log.open(QIODevice::ReadOnly))
        return -1;
    while (!log.atEnd()) {
        const QByteArray line = log.readLine();
        if (line.contains(needle))
            return QTime::fromString(QString::fromLatin1(line.left(12)), "HH:mm:ss.zzz").msecsSinceStartOfDay();
    }
    return -1;
}

bool LinkRig::openSerial(int n)
{
    state.settings.ComPort = n;
    const bool opened = ex.OpenLink() == qx::LinkOpenResult::Opened;
    ex.startReceiveTimer();
    return opened;
}

bool LinkRig::openTcp(quint16 port)
{
    state.settings.TcpSettings = QStringLiteral("127.0.0.1:%1").arg(port);
    return openSerial(0) && // port 0: TCP
           QTest::qWaitFor([this] { return link.isConnected(); }, 5000);
}

QString LinkRig::ask(const QByteArray &text, const QString &prefix)
{
    ex.SendCommand(text);
    ex.WaitReply(prefix);
    return ex.replyText();
}

QByteArray ReadFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool WriteFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

} // namespace qxtest
