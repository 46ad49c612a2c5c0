#pragma once
// The switching side of the device protocol, as plain functions: the "#Y"
// parameter reads and writes with their reply prefixes, the value that stands
// right after a reply prefix, and the map between the 85 source buttons of the
// Switching page and the (window, source) pairs the device knows.

#include "util/devicecounts.h"

#include <QByteArray>
#include <QString>

namespace qx {

constexpr int kBackgroundWindow = 4; // the background is addressed as window 4

// Device parameters of the "#Y" commands.
enum SwitchParameter : int {
    kParamFullScreen = 201, // one value for the whole device
    kParamBackgroundSet = 204,
    kParamEnabled = 302,
    kParamInput = 300,
    kParamBankSelect = 337, // written only
    kParamBankShown = 338,  // read only
};

// Index map of the source buttons (optWIN1INP).
constexpr int kSourceButtons = 85;
constexpr int kButtonsPerWindow = 20; // 16 inputs, then 4 banks
constexpr int kLiveButton = 84;       // background: live DVI input

// The synchronisation exchange that opens a read-back.
QByteArray SyncCommand();  // "# " CR
QString SyncReplyPrefix(); // "~01@ OK"

// "#Y 1,<parameter>,<window>" CR; a negative window leaves the window number out ("#Y 1,201").
QByteArray ReadCommand(int parameter, int window = -1);
// "#PRST-RCL <n>" CR LF: recalls preset n (1..16); unlike the "#Y"
// commands it ends with both characters.
QByteArray PresetRecall(int preset);
// "#Y 0,<parameter>,<value>,<window>" CR: the value comes before the window
// number; a negative window leaves it out ("#Y 0,201,1").
QByteArray WriteCommand(int parameter, int value, int window = -1);
QString ReadReplyPrefix(int parameter);  // "~01@Y 1,<parameter>,"
QString WriteReplyPrefix(int parameter); // "~01@Y 0,<parameter>,"

// The number that stands right after `prefix` in `reply`: its decimal digits
// up to the next comma or the end of the reply (blanks before them are
// skipped). A reply that does not begin with the prefix, or has no digits
// there, reads 0; an absurdly long number is held at 999,999,999.
int ValueAfterPrefix(const QString &reply, const QString &prefix);

// What a source button stands for.
struct SourceButton {
    enum Kind { Invalid, Input, Bank, Live };
    Kind kind = Invalid;
    int window = -1; // 0..3, or kBackgroundWindow
    int number = -1; // input 0..15, bank 1..4, or 0 for the live input
};
SourceButton SourceOfButton(int index);

// Button of input `input` (0..15) in window `window` (0..3): 20·w + s.
int InputButton(int window, int input);
// Button of bank `bank` (1..4) in window 0..3 (20·w + 15 + b) or in the
// background (79 + b); bank 0 of the background is the live input button 84.
// -1 when there is no such button.
int BankButton(int window, int bank);

// The button a read-back selects for window 0..3 from the device's input and
// bank readings. The input is held within 0..15; a bank of 1..4 overrides the
// input, while a bank reading outside 0..4 is not a bank the window can show
// and leaves the input's button selected.
int WindowSelection(int window, int inputValue, int bankValue);
// The background's button from its bank reading: 84 for 0, 79 + b for banks
// 1..4, and the live input for any reading outside 0..4.
int BackgroundSelection(int bankValue);

} // namespace qx
