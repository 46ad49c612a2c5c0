#pragma once
// frmWAIT: shown while a source change is sent to the device. Its Cancel
// button asks the running exchange to stop, so waits against a dead link end
// at once instead of after their full time-out each.

#include <QWidget>
#include <functional>

class QLabel;
class QPushButton;

namespace qx {

class WaitWindow : public QWidget {
    Q_OBJECT
public:
    explicit WaitWindow(QWidget *owner = nullptr);

    void setCancelAction(std::function<void()> action) { m_cancel = std::move(action); }

protected:
    // Opens centred over the window that owns it, not at the screen's corner.
    void showEvent(QShowEvent *event) override;

private:
    QLabel *labWAIT = nullptr;
    QPushButton *cmdCANCEL = nullptr;
    std::function<void()> m_cancel;
};

} // namespace qx
