// Globals of the server program shared by its window and its remote access.
#pragma once

#include "framework/threads_list.h"

namespace server {

// The device threads, made by the window once the configuration is loaded; nullptr before and after.
extern framework::TThreadsList* ThreadsList;

// The closing flag is the framework's, since the device threads read it too: once it is set nothing
// sends to the server window any more.
using framework::ServerClosing;

} // namespace server
