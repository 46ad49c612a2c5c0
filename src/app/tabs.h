#pragma once
// The pages of the main window's tab strip, by the numbers ShowTab has always used.

namespace qx {

enum Tab : int { TabPresets = 1, TabSwitching = 2, TabFiles = 9 };

} // namespace qx
