// The host's tag chooser, as the module's windows ask it for a variable name.
#pragma once

#include <string>

#include "platform/messages.h"

namespace module {

// Shows the chooser over the parent; true with the picked name, false when none was picked.
bool ChooseHostTag(platform::HWND parent, std::string& name);

} // namespace module
