// Posts across processes. Every process that owns windows receives plain integer messages for them on a
// datagram socket of its own in the abstract namespace, named after its pid inside the object
// namespace; a small thread queues what arrives as posts to the owner thread. Pointers do not cross:
// only the integers travel.
#pragma once

#include "platform/messages.h"

#include <sys/types.h>

namespace platform::ipc {

// Binds this process's receiver once (again after a fork) and starts its thread. False when the socket
// cannot be had; messages inside the process work all the same.
bool StartPostReceiver();

// Hands a post for `wnd` to the receiver of process `owner`; false when it could not be handed over
// within a second.
bool PostToProcess(pid_t owner, HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam);

// Queues a post for a window of this process only (the message layer's own half).
bool PostLocalMessage(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam);

} // namespace platform::ipc
