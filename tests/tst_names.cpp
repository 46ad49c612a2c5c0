// Names of inputs, windows, presets and banks: defaults, list entries, editing.

#include "settings/names.h"

#include <QtTest>

using namespace qx;

class TestNames : public QObject {
    Q_OBJECT

private slots:
    void defaultEntries_data()
    {
        QTest::addColumn<int>("list");
        QTest::addColumn<int>("entry");
        QTest::addColumn<QString>("text");
        const int in = int(NameList::InputsAndWindows), pr = int(NameList::PresetsAndBanks);
        QTest::newRow("input1") << in << 0 << "input1: Input 1";
        QTest::newRow("input16") << in << 15 << "input16: Input 16";
        QTest::newRow("win1") << in << 16 << "win1: Window 1";
        QTest::newRow("win4") << in << 19 << "win4: Window 4";
        QTest::newRow("preset1") << pr << 0 << "preset1: preset_1";
        QTest::newRow("preset16") << pr << 15 << "preset16: preset_16";
        QTest::newRow("bank1") << pr << 16 << "bank1: Banque 1";
        QTest::newRow("bank4") << pr << 19 << "bank4: Banque 4";
    }
    void defaultEntries()
    {
        QFETCH(int, list);
        QFETCH(int, entry);
        Settings s;
        // The bank word is MSG(10) of the chosen language; the others stay English.
        FillDefaultNames(s, kPresetDesignCaption, "Banque");
        const QStringList entries = NameEntries(s, NameList(list));
        QCOMPARE(entries.size(), 20);
        QTEST(entries.at(entry), "text");
    }

    void defaultsOnlyForEmptyNames()
    {
        Settings s;
        s.LabelIn[5] = "Camera";
        s.BankName[2] = "Logos";
        FillDefaultNames(s, "P", "Bank");
        QCOMPARE(s.LabelIn[5], QString("Camera"));
        QCOMPARE(s.LabelIn[6], QString("Input 6"));
        QCOMPARE(s.BankName[2], QString("Logos"));
        QCOMPARE(s.PresetName[12], QString("P12"));
        QVERIFY(s.LabelIn[0].isEmpty()); // slot 0 is never used
    }

    void editing_data()
    {
        QTest::addColumn<int>("list");
        QTest::addColumn<int>("entry");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("entryText");
        QTest::addColumn<int>("bankButton");
        const int in = int(NameList::InputsAndWindows), pr = int(NameList::PresetsAndBanks);
        QTest::newRow("input 5 cleared") << in << 4 << "" << "input5: " << -1;
        QTest::newRow("input 16") << in << 15 << "Cam = A" << "input16: Cam = A" << -1;
        QTest::newRow("window 1") << in << 16 << "Main" << "win1: Main" << -1;
        QTest::newRow("preset 1") << pr << 0 << "Day" << "preset1: Day" << -1;
        QTest::newRow("bank 2 (entry 17)") << pr << 17 << "Logos" << "bank2: Logos" << 1;
        QTest::newRow("bank 4") << pr << 19 << " x " << "bank4:  x " << 3;
    }
    void editing()
    {
        QFETCH(int, list);
        QFETCH(int, entry);
        QFETCH(QString, text);
        Settings s;
        FillDefaultNames(s, kPresetDesignCaption, "Bank");
        const Settings before = s;
        QTEST(SetNameAt(s, NameList(list), entry, text), "entryText");
        QCOMPARE(NameAt(s, NameList(list), entry), text);
        QTEST(NameEntryText(s, NameList(list), entry), "entryText");
        QTEST(BankButtonOfEntry(NameList(list), entry), "bankButton");
        // Exactly one name changed: every other entry of both lists reads as before.
        for (NameList l : {NameList::InputsAndWindows, NameList::PresetsAndBanks}) {
            for (int e = 0; e < kNameEntryCount; ++e) {
                if (l != NameList(list) || e != entry)
                    QCOMPARE(NameEntryText(s, l, e), NameEntryText(before, l, e));
            }
        }
    }

    void noSelectionChangesNothing()
    {
        Settings s;
        QCOMPARE(SetNameAt(s, NameList::InputsAndWindows, -1, "x"), QString());
        QCOMPARE(SetNameAt(s, NameList::PresetsAndBanks, 20, "x"), QString());
        QVERIFY(s.LabelIn[0].isEmpty() && s.PresetName[0].isEmpty());
        QCOMPARE(NameAt(s, NameList::InputsAndWindows, -1), QString());
        QCOMPARE(BankButtonOfEntry(NameList::PresetsAndBanks, 15), -1);
    }
};

QTEST_GUILESS_MAIN(TestNames)
#include "tst_names.moc"
