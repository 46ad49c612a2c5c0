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
    m_text = DecodeFileText(file.readAll(), &m_encoding);
    // As a text stream would: CR LF and LF end a line, a lone CR is dropped.
    m_text.remove(QLatin1Char('\r'));
}

bool SettingLineReader::atEnd() const
{
    return m_pos >= m_text.size();
}

QString SettingLineReader::readLine()
{
    if (atEnd())
        return QString();
    qsizetype end = m_text.indexOf(QLatin1Char('\n'), m_pos);
    if (end < 0)
        end = m_text.size();
    const QString line = m_text.mid(m_pos, end - m_pos);
    m_pos = end + 1;
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
