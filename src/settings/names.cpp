#include "names.h"

namespace qx {

namespace {

// Entries from here on name windows (or banks) instead of inputs (or presets).
constexpr int kSecondPart = 16;

bool validEntry(int entry)
{
    return entry >= 0 && entry < kNameEntryCount;
}

// Entries 0..15 name element entry + 1 of the first list, entries 16..19
// element entry - 15 of the second.
QString *nameSlot(Settings &s, NameList list, int entry)
{
    if (!validEntry(entry))
        return nullptr;
    const bool second = entry >= kSecondPart;
    const size_t n = size_t(second ? entry - (kSecondPart - 1) : entry + 1);
    if (list == NameList::InputsAndWindows)
        return second ? &s.LabelWin[n] : &s.LabelIn[n];
    return second ? &s.BankName[n] : &s.PresetName[n];
}

QString entryPrefix(NameList list, int entry)
{
    const bool second = entry >= kSecondPart;
    const int n = second ? entry - (kSecondPart - 1) : entry + 1;
    const char *word = list == NameList::InputsAndWindows ? (second ? "win" : "input") : (second ? "bank" : "preset");
    return QLatin1String(word) + QString::number(n) + QStringLiteral(": ");
}

template <size_t N> void fillEmpty(std::array<QString, N> &names, const QString &prefix)
{
    for (size_t n = 1; n < N; ++n) {
        if (names[n].isEmpty())
            names[n] = prefix + QString::number(n);
    }
}

} // namespace

void FillDefaultNames(Settings &s, const QString &presetCaption, const QString &bankWord)
{
    fillEmpty(s.LabelIn, QStringLiteral("Input "));
    fillEmpty(s.LabelWin, QStringLiteral("Window "));
    fillEmpty(s.PresetName, presetCaption);
    fillEmpty(s.BankName, bankWord + QLatin1Char(' '));
}

QString NameEntryText(const Settings &settings, NameList list, int entry)
{
    if (!validEntry(entry))
        return QString();
    return entryPrefix(list, entry) + NameAt(settings, list, entry);
}

QStringList NameEntries(const Settings &settings, NameList list)
{
    QStringList entries;
    for (int e = 0; e < kNameEntryCount; ++e)
        entries << NameEntryText(settings, list, e);
    return entries;
}

QString NameAt(const Settings &settings, NameList list, int entry)
{
    const QString *slot = nameSlot(const_cast<Settings &>(settings), list, entry);
    return slot ? *slot : QString();
}

QString SetNameAt(Settings &settings, NameList list, int entry, const QString &text)
{
    QString *slot = nameSlot(settings, list, entry);
    if (!slot)
        return QString();
    *slot = text;
    return entryPrefix(list, entry) + text;
}

int BankButtonOfEntry(NameList list, int entry)
{
    if (list != NameList::PresetsAndBanks || !validEntry(entry) || entry < kSecondPart)
        return -1;
    return entry - kSecondPart;
}

} // namespace qx
