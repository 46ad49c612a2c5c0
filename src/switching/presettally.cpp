#include "presettally.h"

#include "util/devicecounts.h"

#include <utility>

namespace qx {

void PresetTally::recalled(int preset)
{
    if (preset >= 1 && preset <= kPresets)
        set(preset);
}

void PresetTally::reset()
{
    set(0);
}

void PresetTally::linkUp(bool up)
{
    if (!up)
        reset();
}

void PresetTally::set(int preset)
{
    const int previous = std::exchange(m_current, preset);
    if (previous != preset)
        Q_EMIT changed(preset, previous);
}

} // namespace qx
