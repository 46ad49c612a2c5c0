#pragma once
// The two settings files beside the program: the startup file (language and
// window position) and the main configuration file (link settings, names,
// loaded files, image folder). Both are read once at start-up and written once
// at shutdown; reading is by line position, the keys are only for people.

#include "settings/settings.h"

#include <QByteArray>
#include <QString>

namespace qx {

class MessageTable;

// The startup file: "startup.ini" in the program folder.
QString StartupPath();

// The main configuration file: `configPathOverride` (the "i:" path) when one
// was given, else "QX-7alt.ini" in the program folder.
QString MainConfigPath(const QString &configPathOverride);

// Resets the language, the window position, the link settings, the image
// folder and the log flag to their defaults, then reads both files. Missing
// files, short files and values that do not convert leave the defaults;
// empty values never overwrite anything (the name lists keep what they held).
// The main configuration file is MainConfigPath(configPathOverride).
void LoadSettings(Settings &settings, const QString &configPathOverride);

// Writes both files, each in the encoding it was read in, every value on its
// own line (a CR or LF in a value is written as a blank). Each file is
// replaced as a whole or not at all, so a failing write (a full disk) never
// leaves a truncated or empty file; failures are silent. A file that was
// found not to be text is left alone.
void SaveSettings(const Settings &settings, const QString &configPathOverride);

// What the operator is told once the files of a start-up are read, one
// paragraph per file: a settings file NUL bytes were left out of (MSG(65)),
// the language file `cleanedLanguageFile` when NULs were left out of it
// (MSG(66)), a settings file that is not text (MSG(67)). "" when all were
// read as they were.
QString ReadingNotice(const Settings &settings, const QString &configPathOverride, const QString &cleanedLanguageFile,
                      const MessageTable &msg);

// The exact bytes of the two files (CRLF line ends, in the encoding each file
// was read in; UTF-8 where a character has no place in Windows-1252).
QByteArray StartupFileBytes(const Settings &settings);
QByteArray MainConfigBytes(const Settings &settings);

} // namespace qx
