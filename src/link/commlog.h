#pragma once
// The communication log: counts every sent command and every batch of
// received text and, when the diagnostic log is switched on, keeps the last
// sent and received line and (with "feed to list") a list of all lines.
// The window mirrors this state through the signals.

#include <QObject>
#include <QStringList>

namespace qx {

class CommLog : public QObject {
    Q_OBJECT
public:
    enum Kind { Sent = 2, Received = 3 };
    static constexpr int kListLimit = 10000;

    explicit CommLog(QObject *parent = nullptr);

    void LogLine(const QString &text, int kind);
    // A line of the program's own about the link (a background retry): shown
    // like the others, but the counter of sent and received text stays.
    void LogNote(const QString &text, int kind);

    void setShowLog(bool on) { m_showLog = on; }
    bool showLog() const { return m_showLog; }
    // The "feed to list" box; read at every line.
    void setFeedToList(bool on) { m_feedToList = on; }
    bool feedToList() const { return m_feedToList; }

    int messageCount() const { return m_count; }
    void resetCount(); // MessageCount = 0 (a new load job)
    void clearList();

    const QStringList &entries() const { return m_entries; }
    QString lastSent() const { return m_lastSent; }                 // "0" until a line is sent (diagnostic mode)
    QString lastReceived() const { return m_lastReceived; }         // "0" until a line is received (diagnostic mode)
    QString countText() const { return m_countText; }               // labNN: "" until the first line
    QString diagnosticCountText() const { return m_diagCountText; } // labN: "0" at design

Q_SIGNALS:
    void countChanged(const QString &labNN);
    void diagnosticCountChanged(const QString &labN);
    void sentChanged(const QString &text);
    void receivedChanged(const QString &text);
    void entryAdded(const QString &text);
    void listCleared();

private:
    void show(const QString &text, int kind);

    bool m_showLog = false;
    bool m_feedToList = false;
    qint32 m_count = 0;
    QStringList m_entries;
    QString m_lastSent = QStringLiteral("0");
    QString m_lastReceived = QStringLiteral("0");
    QString m_countText;
    QString m_diagCountText = QStringLiteral("0");
};

} // namespace qx
