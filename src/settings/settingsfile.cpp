#include "settingsfile.h"

#include "language/messagetable.h"
#include "util/seams.h"
#include "util/settingline.h"
#include "util/textfile.h"
#include "util/textutil.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QStringList>

#include <limits>
#include <optional>

namespace qx {

namespace {

const QString kCrLf = QStringLiteral("\r\n");

// ";QX-7alt v1.0.7 <what>"
QString headerLine(const QString &what)
{
    return QStringLiteral(";%1 v%2 %3").arg(QLatin1String(kProductName), VersionText(), what);
}

// Every line ends with CR LF; the text goes back in the encoding the file was
// read in. A line break inside a value would shift every later line of a file
// that is read by position, so none gets through.
QByteArray encodeLines(const QStringList &lines, TextEncoding encoding)
{
    QString text;
    for (const QString &line : lines)
        text += OneLine(line) + kCrLf;
    return EncodeFileText(text, encoding);
}

// A file that was there but is not text is left as it is.
void writeUnlessNotText(const QString &path, TextEncoding encoding, const QByteArray &bytes)
{
    if (encoding != TextEncoding::NotText)
        WriteWholeFile(path, bytes);
}

// The leading-number value of a text, rounded half to even; nothing when it
// does not fit in 32 bits (the assignment fails and the setting keeps its value).
std::optional<qint32> roundedNumericValue(const QString &text)
{
    const double value = RoundHalfEven(NumericValue(text));
    if (value < double(std::numeric_limits<qint32>::min()) || value > double(std::numeric_limits<qint32>::max()))
        return std::nullopt;
    return qint32(value);
}

template <size_t N> void readList(SettingLineReader &reader, std::array<QString, N> &list)
{
    for (size_t n = 1; n < N; ++n) {
        if (reader.ReadSettingLine())
            list[n] = reader.SettingValue;
    }
}

template <size_t N> void writeList(QStringList &lines, const QString &key, const std::array<QString, N> &list)
{
    for (size_t n = 1; n < N; ++n)
        lines << key + QString::number(n) + QLatin1Char('=') + list[n];
}

// A copied program shows its own folder at first; an installed one keeps its
// files in a hidden configuration folder, where nobody puts pictures, so it
// starts in the user's pictures folder (or home).
QString defaultPictureFolder()
{
    if (!KeptInConfigFolder())
        return ProgramFolder();
    const QString pictures = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
    return !pictures.isEmpty() && QFileInfo(pictures).isDir() ? pictures : QDir::homePath();
}

void loadStartupFile(Settings &s)
{
    SettingLineReader reader(StartupPath());
    s.StartupEncoding = reader.encoding();
    s.StartupNulsLeftOut = reader.nulsLeftOut();
    reader.skipLine();
    if (reader.ReadSettingLine())
        s.Tongue = reader.SettingValue;
    if (reader.ReadSettingLine()) {
        if (const auto x = roundedNumericValue(reader.SettingValue))
            s.MainX = *x;
    }
    if (reader.ReadSettingLine()) {
        if (const auto y = roundedNumericValue(reader.SettingValue))
            s.MainY = *y;
    }
}

void loadMainConfig(Settings &s, const QString &path)
{
    SettingLineReader reader(path);
    s.MainConfigEncoding = reader.encoding();
    s.MainConfigNulsLeftOut = reader.nulsLeftOut();
    reader.skipLine();
    if (reader.ReadSettingLine()) {
        // A text that is not a whole number leaves the serial port at 1.
        if (const auto port = ToInteger(reader.SettingValue))
            s.ComPort = qint32(Clamp(*port, 0, 255));
    }
    if (reader.ReadSettingLine())
        s.ComPortSettings = reader.SettingValue;
    if (reader.ReadSettingLine())
        s.TcpSettings = reader.SettingValue;
    readList(reader, s.LabelIn);
    readList(reader, s.LabelWin);
    readList(reader, s.PresetName);
    readList(reader, s.BankFileLoaded);
    readList(reader, s.BankName);
    if (reader.ReadSettingLine())
        s.FolderSelected = reader.SettingValue;
    // Line 50 is never written with a value; a hand-edited non-zero number
    // switches the communication log on for this run.
    if (reader.ReadSettingLine()) {
        const auto flag = ToInteger(reader.SettingValue);
        s.ShowLog = flag && *flag != 0;
    }
}

} // namespace

QString StartupPath()
{
    return JoinPath(ProgramFolder(), QStringLiteral("startup.ini"));
}

QString MainConfigPath(const QString &configPathOverride)
{
    if (!configPathOverride.isEmpty())
        return configPathOverride;
    return JoinPath(ProgramFolder(), QLatin1String(kProductName) + QStringLiteral(".ini"));
}

void LoadSettings(Settings &s, const QString &configPathOverride)
{
    s.ShowLog = false;
    s.MainX = 0;
    s.MainY = 0;
    s.Tongue = QStringLiteral("EN");
    s.ComPort = 1;
    s.ComPortSettings = kDefaultComSettings;
    s.TcpSettings = kDefaultTcpSettings;
    s.FolderSelected = defaultPictureFolder();

    loadStartupFile(s);
    loadMainConfig(s, MainConfigPath(configPathOverride));
}

QByteArray StartupFileBytes(const Settings &s)
{
    return encodeLines(
        {
            headerLine(QStringLiteral("startup configuration file")),
            QStringLiteral("Tongue=") + s.Tongue,
            QStringLiteral("MainX=") + PrintedNumber(s.MainX),
            QStringLiteral("MainY=") + PrintedNumber(s.MainY),
        },
        s.StartupEncoding);
}

QByteArray MainConfigBytes(const Settings &s)
{
    QStringList lines;
    lines << headerLine(QStringLiteral("main configuration file"));
    lines << QStringLiteral("Com Port=") + PrintedNumber(s.ComPort);
    lines << QStringLiteral("Com Port Settings=") + s.ComPortSettings;
    lines << QStringLiteral("TCP Settings=") + s.TcpSettings;
    writeList(lines, QStringLiteral("Label In"), s.LabelIn);
    writeList(lines, QStringLiteral("Label Win"), s.LabelWin);
    writeList(lines, QStringLiteral("Preset"), s.PresetName);
    writeList(lines, QStringLiteral("Bank File Loaded"), s.BankFileLoaded);
    writeList(lines, QStringLiteral("Bank Name"), s.BankName);
    lines << QStringLiteral("FolderSelected=") + s.FolderSelected;
    lines << QString(); // the log flag's line stays empty
    return encodeLines(lines, s.MainConfigEncoding);
}

QString ReadingNotice(const Settings &s, const QString &configPathOverride, const QString &cleanedLanguageFile,
                      const MessageTable &msg)
{
    QStringList notes;
    const auto note = [&](bool applies, int n, const QString &path) {
        if (applies)
            notes << FillIn(msg(n), QDir::toNativeSeparators(path));
    };
    const QString mainConfig = MainConfigPath(configPathOverride);
    note(s.StartupNulsLeftOut, 65, StartupPath());
    note(s.MainConfigNulsLeftOut, 65, mainConfig);
    note(!cleanedLanguageFile.isEmpty(), 66, cleanedLanguageFile);
    note(s.StartupEncoding == TextEncoding::NotText, 67, StartupPath());
    note(s.MainConfigEncoding == TextEncoding::NotText, 67, mainConfig);
    return notes.join(QStringLiteral("\r\n\r\n"));
}

void SaveSettings(const Settings &settings, const QString &configPathOverride)
{
    // Each file is replaced whole or, when that fails, left as it was.
    writeUnlessNotText(StartupPath(), settings.StartupEncoding, StartupFileBytes(settings));
    writeUnlessNotText(MainConfigPath(configPathOverride), settings.MainConfigEncoding, MainConfigBytes(settings));
}

} // namespace qx
