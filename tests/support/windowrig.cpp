#include "windowrig.h"

#include "app/switchingpage.h"
#include "app/widgets.h"
#include "state/commandline.h"
#include "util/version.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QTest>

namespace qxtest {

WindowRig::WindowRig(const qx7emu::Options &device, Link link) : emu(device)
{
    if (link == Link::Tcp)
        writeConfig({"Com Port=0", "Com Port Settings=115200,n,8,1",
                     "TCP Settings=127.0.0.1:" + QString::number(emu.listenTcp())});
    else if (link == Link::Serial)
        emu.openPty(folder.file(QStringLiteral("com1")));
}

qx::MainWindow &WindowRig::start(const QStringList &arguments)
{
    startup.reset();
    window.reset();
    core = std::make_unique<qx::AppCore>();
    window = std::make_unique<qx::MainWindow>(*core);
    startup = std::make_unique<qx::Startup>(*core, *window);
    window->setCloseHandler([this] { startup->shutdown(); });
    qx::CommandLineRequests requests;
    qx::ParseArguments(arguments, requests, nullptr);
    result = startup->run(requests);
    core->log.setShowLog(true);
    QObject::connect(&core->log, &qx::CommLog::receivedChanged, window.get(),
                     [this](const QString &text) { timeouts += text == QLatin1String("TIMEOUT ERROR"); });
    if (!result.exitNow)
        window->show();
    return *window;
}

bool WindowRig::connected() const
{
    return QTest::qWaitFor([this] { return core->session.isConnected(); });
}

QObject *WindowRig::find(const QString &name, int index) const
{
    for (QObject *w : std::initializer_list<QObject *>{window.get(), &window->waitWindow(), &window->warningWindow()})
        if (QObject *c = qx::FindControl(w, name, index))
            return c;
    return nullptr;
}

void WindowRig::click(const QString &name, int index) const
{
    auto *w = control(name, index);
    QVERIFY2(w, qPrintable(name));
    const bool box = qobject_cast<QCheckBox *>(w) || w->inherits("QRadioButton");
    QTest::mouseClick(w, Qt::LeftButton, {}, box ? QPoint(5, w->height() / 2) : w->rect().center());
}

QString WindowRig::switching() const
{
    QString enabled, full;
    QStringList selected, marked;
    int usable = 0;
    for (int w = 0; w < 4; ++w) {
        enabled += QString::number(qx::SwitchingPage::CheckValue(control<QCheckBox>("chkWINENABLE", w)));
        full += QString::number(qx::SwitchingPage::CheckValue(control<QCheckBox>("chkWINFULL", w)));
        usable += control("chkWINENABLE", w)->isEnabled() + control("chkWINFULL", w)->isEnabled();
    }
    for (int i = 0; i < 85; ++i) {
        auto *b = control<QAbstractButton>("optWIN1INP", i);
        if (b->isChecked())
            selected << QString::number(i);
        if (const QColor c = qx::BackColor(b); c != QColor(192, 192, 192))
            marked << (c == QColor(128, 128, 128) ? "" : "?") + QString::number(i);
        usable += b->isEnabled();
    }
    return QStringLiteral("enabled %1 full %2 selected %3").arg(enabled, full, selected.join(',')) +
           (marked == selected ? QString() : " marked " + marked.join(',')) +
           (usable == 93 ? QString() : QStringLiteral(" usable %1").arg(usable));
}

bool WindowRig::switchingIdle() const
{
    return !window->switching().SwitchBusy && !control<QTimer>("Timer_switch")->isActive() &&
           !window->waitWindow().isVisible() && !switching().contains("usable");
}

void WindowRig::write(const QString &name, const QByteArray &bytes) const
{
    QVERIFY(WriteFile(folder.file(name), bytes));
}

QByteArray WindowRig::read(const QString &name) const
{
    return ReadFile(folder.file(name));
}

void WindowRig::writeConfig(const QStringList &lines, const QString &line50) const
{
    QStringList all = QStringList{";QX-7alt v" QX_VERSION_TEXT " main configuration file"} + lines;
    while (all.size() < 49)
        all << QString();
    write(QStringLiteral("QX-7alt.ini"), ((all << line50).join("\r\n") + "\r\n").toUtf8());
}

} // namespace qxtest
