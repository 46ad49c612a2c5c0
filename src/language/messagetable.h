#pragma once
// The table of the numbered interface messages, MSG(1)..MSG(23),
// MSG(29)..MSG(56), MSG(60)..MSG(67), MSG(70)..MSG(74), MSG(76)..MSG(79) and
// MSG(88)..MSG(115) (the remote group's address, the web remote's own texts),
// with their built-in English defaults. A language file may replace any of them; one without the later
// numbers (31 on: the link indicator, the settings folder, the notes of the
// indicator, the preset tally, the language box, the serial port list, the
// notes on files read without their NUL bytes, the remote control's note,
// what to do when the link would not open)
// keeps their defaults.

#include <QList>
#include <QString>
#include <array>

namespace qx {

struct MessageRecord {
    QString Key; // "MSG(3)"
    QString Text;
};
using MessageRecords = QList<MessageRecord>; // in file order (the first is record 1)

class MessageTable {
public:
    MessageTable(); // every message at its default

    // MSG(n); numbers without a message (0, 24..28, out of range) give "".
    QString operator()(int n) const;
    void set(int n, const QString &text);

    // The numbers that have a key and a default, in table order: 1..23, 29..56, 60..67, 70..74, 76..79, 88..115.
    static const QList<int> &numbers();
    static QString key(int n);         // "MSG(n)"
    static QString defaultText(int n); // built-in English text

    // Lookup mode: each message takes the text of the first record with its
    // exact key, else its default. Record mode: appends one record per message
    // (key and default) to `records` and leaves the table unchanged.
    void LoadMessages(MessageRecords &records, bool recordMode);

    static void LookupMessage(QString &target, const QString &key, const QString &defaultText, MessageRecords &records,
                              bool recordMode);

private:
    std::array<QString, 116> m_text;
};

// `text` with its "%1" replaced by `value` (a language file's text may leave it out).
QString FillIn(const QString &text, const QString &value);

// Replaces every "|" by a line break, as MSG(20) and MSG(30) are shown.
QString ExpandBars(const QString &text);

// A text written with its own line breaks at a fixed width (the about text)
// made of paragraphs that wrap where the window needs: a break stays after a
// line that ends a sentence or a heading (".", ":", "!", "?"), before an
// empty line and before a line that begins with a blank; any other break
// becomes one blank.
QString JoinWrappedLines(const QString &text);

} // namespace qx
