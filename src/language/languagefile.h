#pragma once
// Language files: finding them beside the program (or in its installed
// shared files folder), reading one into control and message records, and
// applying the records to the windows.
//
// A language file is named "QX-7alt_" + code + ".lng" and holds key=value
// lines: "Chapter=" starts the section of a window, "Name=" a control record
// (name, optionally blanks and an array index), "Caption=", "Tooltip=" and
// "Tag=" set the fields of the newest control record, "Message=" starts a
// message record whose text the following "Caption=" lines set. Line 2,
// ";Language=" + display name, makes the file appear in the language box.

#include "language/messagetable.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

namespace qx {

struct ControlRecord {
    QString Chapter; // the window name of the record's section, as written
    QString Name;
    QString Caption;
    QString Tag;
    QString Tooltip;
    qint32 Index = -1; // negative: any index
};
using ControlRecords = QList<ControlRecord>; // in file order (the first is record 1)

// The languages found beside the program, in directory listing order.
struct LanguageList {
    QStringList LanguageCodes; // upper case
    QStringList LanguageNames; // display names, possibly empty
};

// What the language box shows: one item per language and the item to select
// (-1: none).
struct LanguageBoxFill {
    QStringList items;
    int selected = -1;
};

inline const QString kLanguageFilePrefix = QStringLiteral("QX-7alt_");
inline const QString kLanguageFileSuffix = QStringLiteral(".lng");

// "QX-7alt_" + code + ".lng"; the empty code names the template.
QString LanguageFileName(const QString &code);

// The file of `code` in the program folder: the exact name when it exists,
// else the language file whose name equals it without regard to case (the
// discovery upper-cases the codes it lists), the first in listing order; when
// the program folder has none, the same in the installed shared files folder.
// "" when there is none, or when the code could lead out of the folder (it
// holds "/", "\" or "..").
QString FindLanguageFile(const QString &code);

// Where the field lines of a language file went: one entry per record in
// file order ("frmMAIN/cmdPRESET 1" for a control record, its key "MSG(3)"
// for a message record), after a first entry "" for the lines before any
// record, each with the fields its lines set, in line order ("caption",
// "tooltip", "tag"). A field twice means a text given twice, the later one
// winning: a translator's line that went to the wrong record.
struct OutlineEntry {
    QString record;
    QStringList fields;
};
using LanguageOutline = QList<OutlineEntry>;

// Fills `controls` and `messages` afresh from the language file of `code`
// (see FindLanguageFile); both stay empty when there is no such file.
void ReadLanguageFile(const QString &code, ControlRecords &controls, MessageRecords &messages);
// The same for a file given by its path; true when NUL bytes were left out of
// it. With `outline`, also where each field line went.
bool ReadLanguageRecords(const QString &path, ControlRecords &controls, MessageRecords &messages,
                         LanguageOutline *outline = nullptr);

// Lists the language files of the program folder, then those of the installed
// shared files folder whose names the program folder does not hold, whose
// line 2 is a ";language" line; the template (empty code) is never listed.
LanguageList DiscoverLanguages();

// Items "CODE Name" in list order; the last item whose code equals `tongue`
// exactly is selected.
LanguageBoxFill FillLanguageBox(const LanguageList &languages, const QString &tongue);

// The Tongue that choosing the item `itemText` sets: its first word, upper case.
QString LanguageFromItem(const QString &itemText);

// Applies `records` to `window` (registered with RegisterControl as kind
// Window) and then to its controls in their order: the first record of the
// window's chapter with the control's name and a negative or equal index
// sets the non-empty caption, tooltip and tag.
void ApplyLanguage(QObject *window, const ControlRecords &records);

// Reads the language file of `tongue`, fills `msg` from it (a message that
// the file does not give keeps its default) and applies it to each window in
// order (null windows are skipped). With the file, the toolkit's translation
// of that language is installed too. Returns the file when NUL bytes were
// left out of it, else "".
QString ApplyLanguageAtStart(const QString &tongue, const QList<QObject *> &windows, MessageTable &msg);

} // namespace qx
