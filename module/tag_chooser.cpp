#include "module/tag_chooser.h"

#include <cstring>

#include "host/mirandol.h"

namespace module {

bool ChooseHostTag(platform::HWND parent, std::string& name) {
    // Zeroed, so that a chooser that writes no zero still leaves a terminated name; the answer is
    // a 16-bit value, whatever else the register holds.
    char buffer[kVLNavigatorBufferSize] = {};
    if ((VLNavigatorDialog(parent, buffer) & 0xFFFFu) == 0) return false;
    name.assign(buffer, ::strnlen(buffer, sizeof buffer));
    return true;
}

} // namespace module
