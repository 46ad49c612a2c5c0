#include "settingline.h"

#include "util/textutil.h"

#include <QStringConverter>

namespace qx {

bool SplitSettingLine(const QString &line, QString &key, QString &value)
{
    value = line;
    SplitFirst(value, key, QStringLiteral("="));
    key = TrimBlanks(key);
    value = TrimBlanks(value);
    return !value.isEmpty();
}

SettingLineReader::SettingLineReader(const QString &path) : m_file(path)
{
    m_open = m_file.open(QIODevice::ReadOnly | QIODevice::Text);
    if (m_open) {
        m_stream = std::make_unique<QTextStream>(&m_file);
        m_stream->setEncoding(QStringConverter::System);
    }
}

bool SettingLineReader::atEnd() const
{
    return !m_open || m_stream->atEnd();
}

bool SettingLineReader::ReadSettingLine()
{
    QString line;
    if (!atEnd())
        line = m_stream->readLine();
    return SplitSettingLine(line, SettingKey, SettingValue);
}

void SettingLineReader::skipLine()
{
    if (!atEnd())
        m_stream->readLine();
}

} // namespace qx
