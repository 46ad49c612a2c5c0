#pragma once
// Reads the "key=value" lines that the settings files and the language files
// are made of, one line at a time.

#include "util/textfile.h"

#include <QString>

namespace qx {

// Splits one line: the key is the text before the first "=" and the value the
// text after it, both without surrounding blanks. A leading "=" is dropped
// first, so "=5" gives the key "5" and an empty value; a line without "="
// gives an empty value. Returns true when the value is not empty.
bool SplitSettingLine(const QString &line, QString &key, QString &value);

class SettingLineReader {
public:
    // Reads the whole file at `path` in the encoding DecodeFileText finds,
    // without its NUL bytes. A file that is not text counts as not open:
    // nothing of it is read.
    explicit SettingLineReader(const QString &path);

    bool isOpen() const { return m_open; }
    bool atEnd() const;
    // The encoding the file was read in (UTF-8 when it could not be opened).
    TextEncoding encoding() const { return m_encoding; }
    // Whether NUL bytes were left out of the file's text.
    bool nulsLeftOut() const { return m_nulsLeftOut; }

    // Reads the next line into SettingKey and SettingValue (both empty past the
    // end or when the file is not open); true when SettingValue is not empty.
    bool ReadSettingLine();
    // Reads and discards one line.
    void skipLine();

    QString SettingKey;
    QString SettingValue;

private:
    QString readLine();

    QString m_text;
    qsizetype m_pos = 0;
    bool m_open = false;
    bool m_nulsLeftOut = false;
    TextEncoding m_encoding = TextEncoding::Utf8;
};

} // namespace qx
