#pragma once
// A short note the link indicator shows instead of the link's state ("Not
// sent: link lost", "Busy: preset 3 not recalled"). It stays its full time
// whatever the link reports meanwhile: the operator on air must be able to
// read it. A new note replaces the one shown and starts the time again.

#include <QObject>
#include <QString>
#include <QTimer>

namespace qx {

class IndicatorNote : public QObject {
    Q_OBJECT
public:
    static constexpr int kShownMs = 3000;

    explicit IndicatorNote(QObject *parent = nullptr);

    void show(const QString &text);
    bool active() const { return m_timer.isActive(); }
    // The note while it is shown, else "".
    QString text() const { return active() ? m_text : QString(); }

Q_SIGNALS:
    // A note appeared or its time is over: the indicator is drawn again.
    void changed();

private:
    QTimer m_timer;
    QString m_text;
};

} // namespace qx
