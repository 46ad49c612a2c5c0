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
        QTest::newRow("1280 x 720 at scale 2: the height decides") << QSize(624, 312) << 312.0 / 625;
        QTest::newRow("too narrow: the width decides") << QSize(458, 1000) << 0.5;
        QTest::newRow("no room to speak of: the least scale") << QSize(100, 60) << kLeastLayoutScale;
        QTest::newRow("no screen known") << QSize() << 1.0;
    }
    void fitScale()
    {
        QFETCH(QSize, room);
        QTEST(FitScale(QSize(916, 625), room), "scale");
    }

    void placesAtScale()
    {
        // Neighbours stay neighbours whatever the rounding.
        const QRect left(4, 48, 149, 89), right(153, 48, 149, 89);
        for (const double s : {0.35, 0.499, 0.5, 1.37, 2.0})
            QCOMPARE(ScaledRect(left, s).right() + 1, ScaledRect(right, s).left());
        QCOMPARE(ScaleForSize(QSize(916, 625), QSize(1832, 700)), 700.0 / 625);     // proportions kept
        QCOMPARE(ScaleForSize(QSize(916, 625), QSize(100, 60)), kLeastLayoutScale); // made very small
        // A window larger than the room keeps its corner in it (one that fits: tst_mainwindow).
        QCOMPARE(KeepInside(QRect(80, 40, 800, 500), QRect(0, 0, 640, 360)), QPoint(0, 0));
    }

    // "r5" a recall of preset 5, "x" the link opened, "d"/"u" the link seen down/up; the mark after them.
    void tally_data()
    {
        QTest::addColumn<QString>("steps");
        QTest::addColumn<int>("current");
        QTest::newRow("the last recall, no such preset") << "r3 r16 r0 r17" << 16;
        QTest::newRow("link opened") << "r3 x" << 0;
        QTest::newRow("link lost") << "r3 d" << 0;
        QTest::newRow("link up all along") << "u r3 u" << 3;
    }
    void tally()
    {
        QFETCH(QString, steps);
        PresetTally t;
        for (const QString &s : steps.split(' '))
            s[0] == 'r' ? t.recalled(s.mid(1).toInt()) : s == "x" ? t.reset() : t.linkUp(s == "u");
        QTEST(t.current(), "current");
    }
};

QTEST_GUILESS_MAIN(TestPanel)
#include "tst_panel.moc"
