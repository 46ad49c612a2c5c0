#pragma once
// The persisted settings: what the startup file and the main configuration
// file hold. Lists are numbered from 1; element 0 exists and is not used.

#include "util/devicecounts.h"
#include "util/textfile.h"

#include <QString>
#include <array>

namespace qx {

// The serial line defaults and the device's factory address on its LAN.
// (The address is only ever dialled by an operator's own installation.)
inline const QString kDefaultComSettings = QStringLiteral("115200,n,8,1");
inline const QString kDefaultTcpSettings = QStringLiteral("192.168.0.100:5000");

// What the device link is opened from.
struct LinkSettings {
    qint32 ComPort = 1; // 0: TCP; 1..255: serial port number
    QString ComPortSettings = kDefaultComSettings;
    QString TcpSettings = kDefaultTcpSettings;
};

struct Settings : LinkSettings {
    QString Tongue = QStringLiteral("EN");
    qint32 MainX = 0;
    qint32 MainY = 0;
    std::array<QString, kInputs + 1> LabelIn;       // 1..16
    std::array<QString, kWindows + 1> LabelWin;     // 1..4
    std::array<QString, kPresets + 1> PresetName;   // 1..16
    std::array<QString, kBanks + 1> BankFileLoaded; // 1..4
    std::array<QString, kBanks + 1> BankName;       // 1..4
    QString FolderSelected;
    bool ShowLog = false;
    // The encoding each file was read in, so that a save writes it back the
    // same way; a file that did not exist is written as UTF-8, one that is
    // not text (NotText) is not written.
    TextEncoding StartupEncoding = TextEncoding::Utf8;
    TextEncoding MainConfigEncoding = TextEncoding::Utf8;
    // Whether NUL bytes were left out of each file as it was read; the save
    // writes it without them.
    bool StartupNulsLeftOut = false;
    bool MainConfigNulsLeftOut = false;
};

} // namespace qx
