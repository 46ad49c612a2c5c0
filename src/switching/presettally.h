#pragma once
// The preset this program last recalled, whoever asked for it (a click, a
// key, the command line, a second start). It says no more than that: the
// device may have been switched from elsewhere since. A link that goes down
// forgets it, as the device may be restarted or swapped meanwhile.

#include <QObject>

namespace qx {

class PresetTally : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    // A recall of preset 1..16 left for the device; other numbers are ignored.
    void recalled(int preset);
    // Nothing is claimed any more (the link was opened again).
    void reset();
    // Follows the link: a link that goes down resets the tally (nothing is recalled while it is down).
    void linkUp(bool up);
    // 0 when nothing was recalled since the link was opened.
    int current() const { return m_current; }

Q_SIGNALS:
    // The preset now marked (0: none) and the one marked before.
    void changed(int current, int previous);

private:
    void set(int preset);

    int m_current = 0;
};

} // namespace qx
