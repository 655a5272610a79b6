#include "flashcore/connection/state.h"

namespace flashcore {

LibraryState& state() {
    static LibraryState instance;
    return instance;
}

bool xu6Capable(int slot) {
    const int family = slotState(slot).chipFamily;
    return state().flags.xuMode == kXuModeBlocks && (family == 11 || family == 13);
}

} // namespace flashcore
