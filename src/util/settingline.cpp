#include "settingline.h"

#include "util/textutil.h"

#include <QFile>

namespace qx {

bool SplitSettingLine(const QString &line, QString &key, QString &value)
{
    value = line;
    SplitFirst(value, key, QStringLiteral("="));
    key = TrimBlanks(key);
    value = TrimBlanks(value);
    return !value.isEmpty();
}

SettingLineReader::SettingLineReader(const QString &path)
{
    QFile file(path);
    m_open = file.open(QIODevice::ReadOnly);
    if (!m_open)
        return;
    m_text = DecodeFileText(file.readAll(), &m_encoding, &m_nulsLeftOut);
    m_open = m_encoding != TextEncoding::NotText;
}

bool SettingLineReader::atEnd() const
{
    return m_pos >= m_text.size();
}

QString SettingLineReader::readLine()
{
    if (atEnd())
        return QString();
    // CR LF, LF and a lone CR (as old editors write) each end one line.
    qsizetype end = m_pos;
    while (end < m_text.size() && m_text.at(end) != QLatin1Char('\n') && m_text.at(end) != QLatin1Char('\r'))
        ++end;
    const QString line = m_text.mid(m_pos, end - m_pos);
    m_pos = end + 1;
    if (end < m_text.size() && m_text.at(end) == QLatin1Char('\r') && m_pos < m_text.size() &&
        m_text.at(m_pos) == QLatin1Char('\n'))
        ++m_pos;
    return line;
}

bool SettingLineReader::ReadSettingLine()
{
    return SplitSettingLine(readLine(), SettingKey, SettingValue);
}

void SettingLineReader::skipLine()
{
    readLine();
}

} // namespace qx
