#pragma once
// Writes the language template: a language file that lists every
// translatable text of the windows and every message with its English
// default, for a translator to fill in and rename with a language code.

#include <QList>
#include <QObject>
#include <QString>

namespace qx {

// The template's place: the program folder + "/QX-7alt_.lng".
QString LanguageTemplatePath();

// The template text, every line ended by CR LF: the head (";QX-7alt v1.0.7
// language file", ";Language=" + tongue), one section per window in the given
// order (windows registered with RegisterControl; their current texts are
// written) and the message section with the built-in English defaults.
QString LanguageTemplateText(const QList<QObject *> &windows, const QString &tongue);

// Writes LanguageTemplateText to `path` in UTF-8, replacing the file as a
// whole (a failed write, a full disk too, leaves any earlier file untouched).
// Returns false when the file could not be written.
bool WriteLanguageTemplate(const QList<QObject *> &windows, const QString &tongue, const QString &path);

} // namespace qx
