#pragma once
// The operator's names of the 16 inputs, 4 windows, 16 presets and 4 image
// banks: their defaults and the two 20-entry name lists of the Files and
// Setup page (inputs then windows; presets then banks) with their editing.

#include "settings/settings.h"

#include <QString>
#include <QStringList>

namespace qx {

constexpr int kNameEntryCount = 20; // entries 0..15 and 16..19 of each list

// The caption the preset buttons carry when the window is created.
inline const QString kPresetDesignCaption = QStringLiteral("preset_");

enum class NameList {
    InputsAndWindows, // lstINPUTNAMES: "input<n>: " entries 0..15, "win<n>: " entries 16..19
    PresetsAndBanks,  // lstPRESETNAMES: "preset<n>: " entries 0..15, "bank<n>: " entries 16..19
};

// Gives every empty name its default: "Input n", "Window n",
// presetCaption + n, and bankWord (MSG(10)) + " " + n. Other names are kept.
void FillDefaultNames(Settings &settings, const QString &presetCaption, const QString &bankWord);

// The text of one entry (0..19) of a list, e.g. "input1: Input 1" or "bank2: Bank 2";
// "" outside 0..19.
QString NameEntryText(const Settings &settings, NameList list, int entry);
// All 20 entries of a list, in order.
QStringList NameEntries(const Settings &settings, NameList list);

// The name that entry (0..19) edits; "" outside 0..19 (nothing is selected).
QString NameAt(const Settings &settings, NameList list, int entry);

// Stores `text` as the name that entry edits and returns the entry's new text.
// Outside 0..19 nothing changes and "" is returned. No length limit, no
// filter; an empty text is stored as an empty name.
QString SetNameAt(Settings &settings, NameList list, int entry, const QString &text);

// The bank option button (optBANK index 0..3) whose caption an edit of this
// entry changes at once; -1 when the entry is not a bank name.
int BankButtonOfEntry(NameList list, int entry);

} // namespace qx
