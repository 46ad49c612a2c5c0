#include "commandline.h"

#include "util/textutil.h"

#include <QDir>
#include <QFileInfo>

#include <optional>

namespace qx {

namespace {

void resetRequests(CommandLineRequests &req)
{
    // CommandRequest keeps its text; only CommandRequested tells whether it counts.
    req.ConfigPathOverride.clear();
    req.LoadFileRequest.clear();
    req.LoadBankRequest = 0;
    req.PresetRequest = 0;
    req.CommandRequested = false;
    req.ExitRequest = false;
    req.HelpRequest = false;
}

qint32 bankIndex(qint64 bankNumber)
{
    return qint32(Clamp(bankNumber, 1, 4) - 1);
}

bool parseLongOptions(const QStringList &args, CommandLineRequests &req, QString *error)
{
    const auto fail = [error](const QString &reason) {
        if (error)
            *error = reason;
        return false;
    };
    for (int i = 0; i < args.size(); ++i) {
        const QString &arg = args.at(i);
        if (!arg.startsWith(QLatin1String("--")))
            return fail(QStringLiteral("unexpected argument: %1").arg(arg));
        // "--name value" or "--name=value"
        QString name = arg.mid(2);
        std::optional<QString> inlineValue;
        if (const int eq = int(name.indexOf(QLatin1Char('='))); eq >= 0) {
            inlineValue = name.mid(eq + 1);
            name.truncate(eq);
        }
        const bool takesValue = name == QLatin1String("file") || name == QLatin1String("bank") ||
                                name == QLatin1String("command") || name == QLatin1String("config") ||
                                name == QLatin1String("preset") || name == QLatin1String("control-port") ||
                                name == QLatin1String("wait");
        const bool isFlag =
            name == QLatin1String("exit") || name == QLatin1String("help") || name == QLatin1String("version");
        if (!takesValue && !isFlag)
            return fail(QStringLiteral("unknown option: --%1").arg(name));
        if (isFlag && inlineValue)
            return fail(QStringLiteral("option --%1 takes no value").arg(name));

        QString value;
        if (takesValue) {
            if (inlineValue) {
                value = *inlineValue;
            } else if (i + 1 < args.size() && !args.at(i + 1).startsWith(QLatin1String("--"))) {
                value = args.at(++i);
            }
            if (value.isEmpty())
                return fail(QStringLiteral("option --%1 needs a value").arg(name));
        }

        if (name == QLatin1String("file")) {
            req.LoadFileRequest = value;
        } else if (name == QLatin1String("bank")) {
            bool ok = false;
            const int bank = value.trimmed().toInt(&ok);
            // The long option refuses what the "/b:" switch would clamp.
            if (!ok || bank < 1 || bank > kBanks)
                return fail(QStringLiteral("invalid bank number: %1").arg(value));
            req.LoadBankRequest = bank - 1;
        } else if (name == QLatin1String("preset")) {
            bool ok = false;
            const int preset = value.trimmed().toInt(&ok);
            if (!ok || preset < 1 || preset > kPresets)
                return fail(QStringLiteral("invalid preset number: %1").arg(value));
            req.PresetRequest = preset;
        } else if (name == QLatin1String("control-port")) {
            bool ok = false;
            const uint port = value.trimmed().toUInt(&ok);
            if (!ok || port < 1 || port > 65535)
                return fail(QStringLiteral("invalid port number: %1").arg(value));
            req.ControlPort = quint16(port);
        } else if (name == QLatin1String("wait")) {
            bool ok = false;
            const uint seconds = value.trimmed().toUInt(&ok);
            if (!ok || seconds > uint(kMaxQuestionWait))
                return fail(QStringLiteral("invalid wait: %1").arg(value));
            req.QuestionWait = qint32(seconds);
        } else if (name == QLatin1String("command")) {
            req.CommandRequest = value;
            req.CommandRequested = true;
        } else if (name == QLatin1String("config")) {
            req.ConfigPathOverride = value;
        } else if (name == QLatin1String("exit")) {
            req.ExitRequest = true;
        } else if (name == QLatin1String("help")) {
            req.UsageRequest = true;
        } else {
            req.VersionRequest = true;
        }
    }
    return true;
}

} // namespace

QString ArgumentText(const QStringList &argumentsWithoutProgram)
{
    return argumentsWithoutProgram.join(QLatin1Char(' '));
}

void ParseCommandLine(const QString &argumentText, CommandLineRequests &req)
{
    resetRequests(req);
    QString rest = argumentText;
    QString token;
    while (!rest.isEmpty()) {
        SplitFirst(rest, token, QStringLiteral("/"));
        if (token.isEmpty())
            continue;
        token = TrimBlanks(token.toLower());
        const QString key = token.left(2);
        const QString value = token.mid(2);
        if (key == QLatin1String("e")) {
            req.ExitRequest = true;
        } else if (key == QLatin1String("h") || key == QLatin1String("?") || token == QLatin1String("help")) {
            req.HelpRequest = true;
        } else if (key == QLatin1String("i:")) {
            req.ConfigPathOverride = value;
        } else if (key == QLatin1String("f:")) {
            req.LoadFileRequest = TrimBlanks(QString(value).replace(QLatin1Char('"'), QLatin1Char(' ')));
        } else if (key == QLatin1String("b:")) {
            const auto bank = ToInteger(value);
            if (!bank)
                return; // the rest of the line is not examined
            req.LoadBankRequest = bankIndex(*bank);
        } else if (key == QLatin1String("c:")) {
            req.CommandRequest = TrimBlanks(value);
            req.CommandRequested = true;
        }
    }
}

QString ResolvePathIgnoringCase(const QString &path)
{
    if (path.isEmpty() || QFileInfo::exists(path))
        return path;
    // Both separators count: the switch form cannot carry "/" inside a value,
    // so paths given there are written with "\".
    const QString p = QString(path).replace(QLatin1Char('\\'), QLatin1Char('/'));
    const int slash = int(p.lastIndexOf(QLatin1Char('/')));
    const QString name = p.mid(slash + 1);
    if (name.isEmpty())
        return path;

    // The folder part, itself resolved; a bare name is looked up in the current folder.
    QString folder;
    if (slash == 0)
        folder = QStringLiteral("/");
    else if (slash > 0)
        folder = ResolvePathIgnoringCase(p.left(slash));
    const auto joined = [&](const QString &entry) {
        if (slash < 0)
            return entry;
        return folder.endsWith(QLatin1Char('/')) ? folder + entry : folder + QLatin1Char('/') + entry;
    };

    const QDir dir(slash < 0 ? QStringLiteral(".") : folder);
    if (!dir.exists())
        return path;
    if (name == QLatin1String(".") || name == QLatin1String(".."))
        return joined(name);
    const QStringList entries = dir.entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    QString match;
    int matches = 0;
    for (const QString &entry : entries) {
        if (entry.compare(name, Qt::CaseInsensitive) == 0) {
            match = entry;
            ++matches;
        }
    }
    return matches == 1 ? joined(match) : path;
}

bool ParseArguments(const QStringList &argsWithoutProgram, CommandLineRequests &req, QString *error)
{
    if (error)
        error->clear();
    req.Unattended = false;
    req.VersionRequest = false;
    req.UsageRequest = false;

    if (!argsWithoutProgram.isEmpty() && argsWithoutProgram.first().startsWith(QLatin1String("--"))) {
        resetRequests(req);
        const bool ok = parseLongOptions(argsWithoutProgram, req, error);
        // Only a run that ends by itself has nobody to answer a dialog; without
        // --exit the window behaves exactly as with the "/" switches.
        req.Unattended = req.ExitRequest;
        return ok;
    }

    ParseCommandLine(ArgumentText(argsWithoutProgram), req);
    // The switch form lower-cases its values; on a case-sensitive file system
    // look the named files up again without regard to case.
    req.LoadFileRequest = ResolvePathIgnoringCase(req.LoadFileRequest);
    req.ConfigPathOverride = ResolvePathIgnoringCase(req.ConfigPathOverride);
    return true;
}

QString VersionLine()
{
    return QLatin1String(kProductName) + QLatin1Char(' ') + VersionText();
}

} // namespace qx
