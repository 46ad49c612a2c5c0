// Names of inputs, windows, presets and banks: list entries and editing.

#include "settings/names.h"

#include <QtTest>

using namespace qx;

class TestNames : public QObject {
    Q_OBJECT

private slots:
    void entries_data()
    {
        QTest::addColumn<int>("list");
        QTest::addColumn<int>("entry");
        QTest::addColumn<QString>("text");      // the new name; "-" leaves the default
        QTest::addColumn<QString>("entryText"); // as the list shows it
        QTest::addColumn<int>("bankButton");
        const int in = int(NameList::InputsAndWindows), pr = int(NameList::PresetsAndBanks);
        const auto row = [](const char *tag, int list, int entry, const char *text, const char *shown, int bank) {
            QTest::newRow(tag) << list << entry << QString(text) << QString(shown) << bank;
        };
        row("window 1 default", in, 16, "-", "win1: Window 1", -1);
        row("bank 4 default: the language's word", pr, 19, "-", "bank4: Banque 4", 3);
        row("input 5 cleared", in, 4, "", "input5: ", -1);
        row("preset 1", pr, 0, "Day", "preset1: Day", -1);
        row("bank 2 (entry 17)", pr, 17, " x ", "bank2:  x ", 1);
        // An edit while no entry is selected (or one past the list) changes no name, not even the unused slot 0.
        row("no entry", in, -1, "x", "", -1);
        row("past the list", pr, int(kNameEntryCount), "x", "", -1);
    }
    void entries()
    {
        QFETCH(int, list);
        QFETCH(int, entry);
        QFETCH(QString, text);
        const NameList l = NameList(list);
        Settings s;
        // The bank word is MSG(10) of the chosen language; the others stay English.
        FillDefaultNames(s, kPresetDesignCaption, "Banque");
        const Settings before = s;
        const bool valid = entry >= 0 && entry < kNameEntryCount;
        if (text != "-") {
            QTEST(SetNameAt(s, l, entry, text), "entryText");
            QCOMPARE(NameAt(s, l, entry), valid ? text : QString());
        }
        // Exactly one name changed: every other entry of both lists reads as before.
        for (NameList other : {NameList::InputsAndWindows, NameList::PresetsAndBanks})
            for (int e = 0; e < kNameEntryCount; ++e)
                if (other != l || e != entry)
                    QCOMPARE(NameEntryText(s, other, e), NameEntryText(before, other, e));
        QVERIFY(valid || (s.LabelIn == before.LabelIn && s.PresetName == before.PresetName));
        if (valid) {
            QCOMPARE(NameEntries(s, l).size(), 20);
            QTEST(NameEntries(s, l).at(entry), "entryText");
        }
        QTEST(BankButtonOfEntry(l, entry), "bankButton");
    }
};

QTEST_GUILESS_MAIN(TestNames)
#include "tst_names.moc"
