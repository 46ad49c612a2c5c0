// The settings files: arbitrary bytes as startup.ini and QX-7alt.ini.
//
// Input: the startup file, a 0x1E byte, the main configuration file (without
// the separator both files get the whole input).
//
// Checked: the serial port number stays in 0..255; whatever was loaded
// survives SaveSettings and a second LoadSettings unchanged (except ShowLog,
// which is never written); ReadSettingLine's value and key carry no outer blanks.

#include "fuzzsupport.h"

#include "settings/settingsfile.h"
#include "util/settingline.h"

using namespace qx;

namespace {

bool sameSettings(const Settings &a, const Settings &b)
{
    return a.Tongue == b.Tongue && a.MainX == b.MainX && a.MainY == b.MainY && a.ComPort == b.ComPort &&
           a.ComPortSettings == b.ComPortSettings && a.TcpSettings == b.TcpSettings && a.LabelIn == b.LabelIn &&
           a.LabelWin == b.LabelWin && a.PresetName == b.PresetName && a.BankFileLoaded == b.BankFileLoaded &&
           a.BankName == b.BankName && a.FolderSelected == b.FolderSelected;
}

bool outerBlank(const QString &s)
{
    return s.startsWith(QLatin1Char(' ')) || s.endsWith(QLatin1Char(' '));
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzz::startApp(false);
    fuzz::programFolder();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray input(reinterpret_cast<const char *>(data), qsizetype(size));
    const qsizetype cut = input.indexOf('\x1e');
    const QByteArray startup = cut < 0 ? input : input.left(cut);
    const QByteArray main = cut < 0 ? input : input.mid(cut + 1);
    fuzz::writeFile(StartupPath(), startup);
    fuzz::writeFile(MainConfigPath({}), main);

    Settings first;
    LoadSettings(first, {});
    QX_FUZZ_CHECK(first.ComPort >= 0 && first.ComPort <= 255);

    SettingLineReader reader(MainConfigPath({}));
    while (!reader.atEnd()) {
        const bool hasValue = reader.ReadSettingLine();
        QX_FUZZ_CHECK(hasValue == !reader.SettingValue.isEmpty());
        QX_FUZZ_CHECK(!outerBlank(reader.SettingKey) && !outerBlank(reader.SettingValue));
    }

    SaveSettings(first, {});
    Settings second;
    LoadSettings(second, {});
    QX_FUZZ_CHECK(sameSettings(first, second));
    QX_FUZZ_CHECK(!second.ShowLog);
    return 0;
}
