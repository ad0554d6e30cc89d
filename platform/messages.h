// Window handles and messages.
//
// A window handle is a non-zero 32-bit id, unique across the processes of one namespace. A window
// belongs to the thread that created it; its procedure runs on that thread only.
//
// SendMessage is synchronous and returns the procedure's result: on the owner thread it calls the
// procedure directly; from another thread it queues the message to the owner thread and blocks until
// that thread has dispatched it. PostMessage queues and returns. A thread that waits for a send (or in
// WaitDispatching) keeps dispatching messages sent to its own windows, so two threads that send to each
// other do not deadlock. A message sent to a window that is destroyed before it is dispatched, or while
// it is being destroyed, answers 0.
//
// Threads without Qt pump with ProcessMessages / WaitMessages; a thread with its own event loop (the
// Qt GUI thread) installs a wake hook that is called, from any thread, whenever a message is queued
// for it, and then calls ProcessMessages from its loop. It also installs a loop hook, through which
// WaitDispatching serves that loop while it waits, so that its timers and windows go on meanwhile.
#pragma once

#include <cstdint>
#include <functional>

namespace platform {

using HWND = uint32_t;
using UINT = uint32_t;
using WPARAM = uintptr_t;
using LPARAM = intptr_t;
using LRESULT = intptr_t;

constexpr UINT WM_CLOSE = 0x0010;

using WindowProc = std::function<LRESULT(HWND, UINT, WPARAM, LPARAM)>;

// Whether this process can have window handles: false when the namespace's window table cannot be
// made (no shared memory, or no room for its pages).
bool WindowsAvailable();
// Creates a window owned by the calling thread; 0 when no handle can be had.
HWND CreateWindowHandle(WindowProc proc);
// Destroys a window of the calling thread's. Pending sends to it answer 0, its posted messages are
// dropped, later messages to it answer 0. False when wnd is not a window or belongs to another thread
// that still runs (its procedure may be running there). A thread's windows die with it.
bool DestroyWindowHandle(HWND wnd);

// True for a live window of this process, or of another process of the namespace that is alive.
bool IsWindow(HWND wnd);
// Messages to a window of another process: SendMessage is not delivered and answers 0; PostMessage
// hands the plain integers (never what a pointer points to) to the owner process, which queues them as
// a post, and is false when the window is gone or the owner could not take them.
LRESULT SendMessage(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam);
bool PostMessage(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam);

// Dispatches the messages queued for the calling thread's windows (sent ones first; posted ones up to
// those queued when it began, so that a procedure posting to itself cannot hold it); false when there
// was none. A procedure's exception leaves through here after its sender has been answered 0.
bool ProcessMessages();
// Waits up to timeoutMs for a message for the calling thread, dispatching what arrives; true when
// something was dispatched.
bool WaitMessages(uint32_t timeoutMs);
// Waits until done() is true or timeoutMs passed (checked at least every 5 ms), dispatching the
// calling thread's messages meanwhile, and serving its loop hook where it has one. Returns done().
// Handlers of that loop may run meanwhile: what the caller saw before the wait may have changed.
bool WaitDispatching(const std::function<bool()>& done, uint32_t timeoutMs);

// The wake hook of the calling thread (empty to remove). It runs on the queuing thread, must be quick
// and must not call into this layer; once this returns the old hook is no longer running.
void SetThreadWakeHook(std::function<void()> hook);
// The loop hook of the calling thread (empty to remove): runs the thread's own event loop for what is
// pending and returns. WaitDispatching calls it on this thread between its checks while a
// TWaitsServeLoop lives there.
void SetThreadLoopHook(std::function<void()> hook);

// While one lives on the calling thread, its waits serve the thread's event loop too: the waits that
// process messages for a host, whose windows must not stand still. Other waits (a window's timer or
// destructor waiting for its threads) do not run the loop, so that its handlers are not entered
// again from inside themselves.
class TWaitsServeLoop {
public:
    TWaitsServeLoop();
    ~TWaitsServeLoop();
    TWaitsServeLoop(const TWaitsServeLoop&) = delete;
    TWaitsServeLoop& operator=(const TWaitsServeLoop&) = delete;
};

} // namespace platform

// The C interface through which a host program creates a window and pumps it.
extern "C" {
typedef intptr_t (*ostro_window_proc)(void* context, uint32_t wnd, uint32_t msg, uintptr_t wParam,
                                      intptr_t lParam);
uint32_t ostro_create_window(ostro_window_proc proc, void* context);
void ostro_destroy_window(uint32_t wnd);
int ostro_is_window(uint32_t wnd);
intptr_t ostro_send_message(uint32_t wnd, uint32_t msg, uintptr_t wParam, intptr_t lParam);
int ostro_post_message(uint32_t wnd, uint32_t msg, uintptr_t wParam, intptr_t lParam);
// Waits up to timeoutMs for messages for the calling thread and dispatches them; returns the number
// dispatched, -1 when a procedure raised (no exception reaches the C caller).
int ostro_pump_messages(uint32_t timeoutMs);
}
