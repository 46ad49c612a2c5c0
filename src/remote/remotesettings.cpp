#include "remotesettings.h"

#include "util/seams.h"
#include "util/settingline.h"
#include "util/textfile.h"
#include "util/treefile.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif

namespace qx {

namespace {
const QString kEnabled = QStringLiteral("Enabled");
const QString kPort = QStringLiteral("Port");
const QString kAllowOthers = QStringLiteral("AllowOtherComputers");
const QString kToken = QStringLiteral("Token");
const QString kOscAllowed = QStringLiteral("OscAllowed");
const QString kOscFeedback = QStringLiteral("OscFeedback");
const QString kReadBackSeconds = QStringLiteral("ReadBackSeconds");
const QString kQuestionWaitSeconds = QStringLiteral("QuestionWaitSeconds");

QStringList listItems(const QString &value)
{
    QStringList items;
    for (const QString &item : value.split(QLatin1Char(','), Qt::SkipEmptyParts))
        if (!item.trimmed().isEmpty())
            items << item.trimmed();
    return items;
}

// "192.0.2.7:9000" or "[::1]:9000".
bool readTarget(const QString &text, QPair<QHostAddress, quint16> &target)
{
    const int colon = int(text.lastIndexOf(QLatin1Char(':')));
    if (colon <= 0)
        return false;
    QString host = text.left(colon);
    if (host.startsWith(QLatin1Char('[')) && host.endsWith(QLatin1Char(']')))
        host = host.mid(1, host.size() - 2);
    bool ok = false;
    const uint port = text.mid(colon + 1).toUInt(&ok);
    QHostAddress address;
    if (!ok || port == 0 || port > 65535 || !address.setAddress(host))
        return false;
    target = {address, quint16(port)};
    return true;
}

QString targetText(const QPair<QHostAddress, quint16> &t)
{
    const QString host = t.first.protocol() == QAbstractSocket::IPv6Protocol
                             ? QLatin1Char('[') + t.first.toString() + QLatin1Char(']')
                             : t.first.toString();
    return host + QLatin1Char(':') + QString::number(t.second);
}
} // namespace

QString RemoteSettingsPath(const QString &folder)
{
    return JoinPath(folder, QStringLiteral("remote.ini"));
}

QString MakeRemoteToken()
{
    quint32 words[4];
    QRandomGenerator::system()->fillRange(words);
    QString token;
    for (const quint32 w : words)
        token += QStringLiteral("%1").arg(w, 8, 16, QLatin1Char('0'));
    return token;
}

bool SameSecret(const QByteArray &a, const QByteArray &b)
{
    if (a.size() != b.size())
        return false;
    unsigned char diff = 0;
    for (qsizetype i = 0; i < a.size(); ++i)
        diff |= static_cast<unsigned char>(a[i] ^ b[i]);
    return diff == 0;
}

namespace {
// The text of the file, or why a file that is there cannot be read ("" and
// no text when there is none).
QString readRemoteFile(const QString &path, RemoteSettings &s)
{
    QFile file;
    QString why;
    if (!OpenRegularFile(file, path, why)) {
        const QFileInfo info(path);
        if (info.exists() || info.isSymLink())
            s.unreadable = why;
        return {};
    }
#ifdef Q_OS_UNIX
    struct stat st {};
    s.openToOthers = ::fstat(file.handle(), &st) == 0 && (st.st_mode & 077) != 0;
#endif
    const QByteArray bytes = file.read(kMaxRemoteFileBytes + 1);
    if (bytes.size() > kMaxRemoteFileBytes) {
        s.unreadable = QStringLiteral("larger than %1 MiB").arg(kMaxRemoteFileBytes >> 20);
        return {};
    }
    if (file.error() != QFileDevice::NoError) {
        s.unreadable = file.errorString();
        return {};
    }
    const QString text = DecodeFileText(bytes, &s.encoding, &s.nulsLeftOut);
    if (s.encoding == TextEncoding::NotText)
        s.unreadable = QStringLiteral("not a text file");
    return text;
}
} // namespace

RemoteSettings LoadRemoteSettings(const QString &path, bool *tokenMade)
{
    RemoteSettings s;
    QString text = readRemoteFile(path, s);
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    if (text.endsWith(QLatin1Char('\n')))
        text.chop(1);
    if (!text.isEmpty())
        s.lines = text.split(QLatin1Char('\n'));
    for (const QString &line : std::as_const(s.lines)) {
        QString key, value;
        SplitSettingLine(line, key, value);
        if (key.compare(kEnabled, Qt::CaseInsensitive) == 0) {
            s.enabled = value.toInt() != 0;
        } else if (key.compare(kPort, Qt::CaseInsensitive) == 0) {
            bool ok = false;
            const uint port = value.toUInt(&ok);
            if (ok && port >= 1 && port <= 65535)
                s.port = quint16(port);
        } else if (key.compare(kAllowOthers, Qt::CaseInsensitive) == 0) {
            s.allowOthers = value.toInt() != 0;
        } else if (key.compare(kToken, Qt::CaseInsensitive) == 0) {
            // What the operator wrote is what clients show: never replaced.
            s.token = value;
        } else if (key.compare(kOscAllowed, Qt::CaseInsensitive) == 0) {
            const QStringList items = listItems(value);
            QList<QHostAddress> addresses;
            for (const QString &item : items) {
                QHostAddress a;
                if (a.setAddress(item))
                    addresses << a;
            }
            if (items.size() <= kMaxRemoteAddresses)
                s.oscAllowed = addresses;
        } else if (key.compare(kOscFeedback, Qt::CaseInsensitive) == 0) {
            const QStringList items = listItems(value);
            QList<QPair<QHostAddress, quint16>> targets;
            for (const QString &item : items) {
                QPair<QHostAddress, quint16> t;
                if (readTarget(item, t))
                    targets << t;
            }
            if (items.size() <= kMaxRemoteAddresses)
                s.oscFeedback = targets;
        } else if (key.compare(kReadBackSeconds, Qt::CaseInsensitive) == 0) {
            bool ok = false;
            const uint seconds = value.toUInt(&ok);
            if (ok && seconds <= uint(kMaxReadBackSeconds))
                s.readBackSeconds = int(seconds);
        } else if (key.compare(kQuestionWaitSeconds, Qt::CaseInsensitive) == 0) {
            bool ok = false;
            const uint seconds = value.toUInt(&ok);
            if (ok && seconds <= uint(kMaxQuestionWaitSeconds))
                s.questionWaitSeconds = int(seconds);
        }
    }
    if (s.token.isEmpty()) {
        // A file that cannot be read keeps its token, unknown here: this
        // run's is its own, and the file is not written.
        s.token = MakeRemoteToken();
        if (tokenMade)
            *tokenMade = s.unreadable.isEmpty();
    }
    return s;
}

RemoteSettings StartRemoteSettings(const QString &path)
{
    bool tokenMade = false;
    RemoteSettings s = LoadRemoteSettings(path, &tokenMade);
    if (tokenMade)
        SaveRemoteSettings(path, s); // a folder that cannot be written: the start-up has said so already
    return s;
}

bool SaveRemoteSettings(const QString &path, RemoteSettings &s)
{
    if (!s.unreadable.isEmpty())
        return false;
    QStringList feedback;
    for (const auto &t : s.oscFeedback)
        feedback << targetText(t);
    QStringList allowed;
    for (const QHostAddress &a : s.oscAllowed)
        allowed << a.toString();
    const QList<QPair<QString, QString>> known = {
        {kEnabled, QString::number(s.enabled ? 1 : 0)},
        {kPort, QString::number(s.port)},
        {kAllowOthers, QString::number(s.allowOthers ? 1 : 0)},
        {kToken, s.token},
        {kOscAllowed, allowed.join(QStringLiteral(", "))},
        {kOscFeedback, feedback.join(QStringLiteral(", "))},
        {kReadBackSeconds, QString::number(s.readBackSeconds)},
        {kQuestionWaitSeconds, QString::number(s.questionWaitSeconds)},
    };
    QStringList out = s.lines;
    for (const auto &[key, value] : known) {
        bool placed = false;
        for (QString &line : out) {
            QString k, v;
            SplitSettingLine(line, k, v);
            if (k.compare(key, Qt::CaseInsensitive) == 0 && line.contains(QLatin1Char('='))) {
                line = key + QLatin1Char('=') + value;
                placed = true;
                break;
            }
        }
        if (!placed)
            out << key + QLatin1Char('=') + value;
    }
    QString text;
    for (const QString &line : out)
        text += line + QStringLiteral("\r\n");
    if (!WriteWholeFile(path, EncodeFileText(text, s.encoding), QFileDevice::ReadOwner | QFileDevice::WriteOwner))
        return false;
    s.lines = out;
    s.nulsLeftOut = false;
    s.openToOthers = false;
    return true;
}

} // namespace qx
