// The operator's panel without a window: how the layout fits a screen, and the preset tally.

#include "switching/presettally.h"
#include "util/layoutfit.h"

#include <QtTest>

using namespace qx;

class TestPanel : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // The room is a screen's available area less the window manager's frame, in scaled pixels.
    void fitScale_data()
    {
        QTest::addColumn<QSize>("room");
        QTest::addColumn<double>("scale");
        QTest::newRow("3840 x 2160: as designed") << QSize(3824, 2112) << 1.0;
        QTest::newRow("a little too low: the height decides") << QSize(1264, 672 - 48) << 624.0 / 625;
        QTest::newRow("1280 x 720 at scale 2") << QSize(624, 312) << 312.0 / 625;
        QTest::newRow("too narrow: the width decides") << QSize(458, 1000) << 0.5;
        QTest::newRow("no room to speak of: the least scale") << QSize(100, 60) << kLeastLayoutScale;
        QTest::newRow("no screen known") << QSize() << 1.0;
    }
    void fitScale()
    {
        QFETCH(QSize, room);
        QFETCH(double, scale);
        QCOMPARE(FitScale(QSize(916, 625), room), scale);
    }

    void placesAtScale()
    {
        // Neighbours stay neighbours whatever the rounding; a window resized out of proportion keeps them.
        const QRect left(4, 48, 149, 89), right(153, 48, 149, 89);
        for (const double s : {0.35, 0.499, 0.5, 1.0, 1.37, 2.0})
            QCOMPARE(ScaledRect(left, s).right() + 1, ScaledRect(right, s).left());
        QCOMPARE(ScaledRect(QRect(60, 40, 100, 50), 0.5), QRect(30, 20, 50, 25));
        QCOMPARE(ScaleForSize(QSize(916, 625), QSize(1832, 700)), 700.0 / 625);
        QCOMPARE(ScaleForSize(QSize(916, 625), QSize(10, 10)), kLeastLayoutScale);
        // A window reaching beyond the room moves in; one larger than the room keeps its corner in it.
        const QRect room(0, 0, 640, 360);
        QCOMPARE(KeepInside(QRect(500, 300, 340, 200), room), QPoint(300, 160));
        QCOMPARE(KeepInside(QRect(-50, 10, 100, 100), room), QPoint(0, 10));
        QCOMPARE(KeepInside(QRect(80, 40, 800, 500), room), QPoint(0, 0));
    }

    // "r5" a recall of preset 5, "x" a reset, "d"/"u" the link down/up.
    void tally_data()
    {
        QTest::addColumn<QString>("steps");
        QTest::addColumn<int>("current");
        QTest::addColumn<int>("changes");
        QTest::newRow("the last recall counts") << "r3 r16 r16" << 16 << 2;
        QTest::newRow("no such preset") << "r3 r0 r17" << 3 << 1;
        QTest::newRow("link opened") << "r3 x" << 0 << 2;
        QTest::newRow("link up again after a loss") << "r3 d r4 u" << 0 << 3;
        QTest::newRow("link up all along") << "u r3 u" << 3 << 1;
    }
    void tally()
    {
        QFETCH(QString, steps);
        PresetTally t;
        QSignalSpy changed(&t, &PresetTally::changed);
        for (const QString &s : steps.split(' ')) {
            if (s.startsWith('r'))
                t.recalled(s.mid(1).toInt());
            else if (s == "x")
                t.reset();
            else
                t.linkUp(s == "u");
        }
        QTEST(t.current(), "current");
        QTEST(int(changed.size()), "changes");
    }
};

QTEST_GUILESS_MAIN(TestPanel)
#include "tst_panel.moc"
