#pragma once
// Reads the "key=value" lines that the settings files and the language files
// are made of, one line at a time.

#include <QFile>
#include <QString>
#include <QTextStream>
#include <memory>

namespace qx {

// Splits one line: the key is the text before the first "=" and the value the
// text after it, both without surrounding blanks. A leading "=" is dropped
// first, so "=5" gives the key "5" and an empty value; a line without "="
// gives an empty value. Returns true when the value is not empty.
bool SplitSettingLine(const QString &line, QString &key, QString &value);

class SettingLineReader {
public:
    // Opens `path` for reading as text in the system's encoding.
    explicit SettingLineReader(const QString &path);

    bool isOpen() const { return m_open; }
    bool atEnd() const;

    // Reads the next line into SettingKey and SettingValue (both empty past the
    // end or when the file is not open); true when SettingValue is not empty.
    bool ReadSettingLine();
    // Reads and discards one line.
    void skipLine();

    QString SettingKey;
    QString SettingValue;

private:
    QFile m_file;
    std::unique_ptr<QTextStream> m_stream;
    bool m_open = false;
};

} // namespace qx
