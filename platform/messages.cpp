#include "platform/messages.h"

#include "platform/messages_ipc.h"
#include "platform/window_table.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <unistd.h>
#include <unordered_map>
#include <utility>
#include <vector>

namespace platform {
namespace {

using Clock = std::chrono::steady_clock;

struct ThreadQueue;

// The sender waits on its own queue, so that it can dispatch what is sent to it while it waits.
struct SendState {
    std::shared_ptr<ThreadQueue> sender;
    bool done = false; // guarded by sender->mu
    LRESULT result = 0;
};

struct Window {
    Window(HWND h, WindowProc p, std::shared_ptr<ThreadQueue> q)
        : handle(h), proc(std::move(p)), owner(std::move(q)) {}
    const HWND handle;
    const WindowProc proc;
    const std::shared_ptr<ThreadQueue> owner;
    std::atomic<bool> destroyed{false}; // set under owner->mu
};

struct Item {
    std::shared_ptr<Window> window;
    UINT msg = 0;
    WPARAM wParam = 0;
    LPARAM lParam = 0;
    std::shared_ptr<SendState> send; // empty for a posted message
};

struct ThreadQueue {
    std::mutex mu;
    std::condition_variable cv;
    std::deque<Item> sent;
    std::deque<Item> posted;
    std::vector<std::shared_ptr<Window>> windows;
    bool dead = false;

    // Separate from mu: the hook is called while it is held, so that removing it waits for a running call.
    std::mutex hookMu;
    std::function<void()> hook;
    // Called on the owner thread only.
    std::function<void()> loopHook;

    bool HasWork() const { return !sent.empty() || !posted.empty(); }
};

struct Registry {
    std::mutex mu;
    std::unordered_map<HWND, std::shared_ptr<Window>> windows;
};

// Never destroyed: windows may be looked up from exit-time destructors.
Registry& TheRegistry() {
    static Registry* registry = new Registry();
    return *registry;
}

std::shared_ptr<Window> Find(HWND wnd) {
    if (wnd == 0) return nullptr;
    Registry& r = TheRegistry();
    std::lock_guard lock(r.mu);
    const auto it = r.windows.find(wnd);
    return it == r.windows.end() ? nullptr : it->second;
}

void Complete(const std::shared_ptr<SendState>& send, LRESULT result) {
    ThreadQueue& q = *send->sender;
    {
        std::lock_guard lock(q.mu);
        send->done = true;
        send->result = result;
    }
    q.cv.notify_all();
}

bool Push(ThreadQueue& q, Item item) {
    {
        std::lock_guard lock(q.mu);
        if (q.dead || item.window->destroyed.load(std::memory_order_relaxed)) return false;
        (item.send ? q.sent : q.posted).push_back(std::move(item));
    }
    q.cv.notify_all();
    std::lock_guard lock(q.hookMu);
    if (q.hook) q.hook();
    return true;
}

// Runs the procedure unless the window has gone; a sender is answered even when the procedure throws.
bool Dispatch(Item& item) {
    struct Answer {
        std::shared_ptr<SendState> send;
        LRESULT result = 0;
        ~Answer() {
            if (send) Complete(send, result);
        }
    } answer{item.send};
    Window& w = *item.window;
    if (w.destroyed.load(std::memory_order_acquire)) return false;
    answer.result = w.proc(w.handle, item.msg, item.wParam, item.lParam);
    return true;
}

void DestroyWindow(const std::shared_ptr<Window>& w) {
    {
        Registry& r = TheRegistry();
        std::lock_guard lock(r.mu);
        const auto it = r.windows.find(w->handle);
        if (it != r.windows.end() && it->second == w) r.windows.erase(it);
    }
    std::vector<Item> dropped;
    {
        ThreadQueue& q = *w->owner;
        std::lock_guard lock(q.mu);
        if (w->destroyed.load(std::memory_order_relaxed)) return;
        w->destroyed.store(true, std::memory_order_release);
        std::erase(q.windows, w);
        for (auto* list : {&q.sent, &q.posted}) {
            for (auto it = list->begin(); it != list->end();) {
                if (it->window == w) {
                    dropped.push_back(std::move(*it));
                    it = list->erase(it);
                } else {
                    ++it;
                }
            }
        }
    }
    for (const Item& item : dropped) {
        if (item.send) Complete(item.send, 0);
    }
    if (WindowTable* table = WindowTable::Instance()) table->Release(w->handle);
}

// A thread's windows die with it, and whatever is still queued for it is answered 0.
void Shutdown(ThreadQueue& q) {
    std::vector<std::shared_ptr<Window>> windows;
    {
        std::lock_guard lock(q.mu);
        windows = q.windows;
    }
    for (const auto& w : windows)
        DestroyWindow(w);
    std::deque<Item> rest;
    {
        std::lock_guard lock(q.mu);
        q.dead = true;
        rest.swap(q.sent);
        for (Item& item : q.posted)
            rest.push_back(std::move(item));
        q.posted.clear();
    }
    for (const Item& item : rest) {
        if (item.send) Complete(item.send, 0);
    }
    std::function<void()> hook;
    std::lock_guard lock(q.hookMu);
    hook.swap(q.hook);
}

struct ThreadSlot {
    std::shared_ptr<ThreadQueue> queue;
    ~ThreadSlot();
};

thread_local ThreadSlot currentThread;
thread_local bool currentThreadGone = false; // trivial, so it stays readable after the slot is destroyed

ThreadSlot::~ThreadSlot() {
    currentThreadGone = true;
    if (queue) Shutdown(*queue);
}

// The calling thread's queue, made on first use; nullptr once the thread is ending.
std::shared_ptr<ThreadQueue> OwnQueue(bool create = true) {
    if (currentThreadGone) return nullptr;
    if (!currentThread.queue && create) currentThread.queue = std::make_shared<ThreadQueue>();
    return currentThread.queue;
}

// A thread whose queue has gone still needs one to wait for an answer on.
std::shared_ptr<ThreadQueue> WaitQueue() {
    auto q = OwnQueue();
    return q ? q : std::make_shared<ThreadQueue>();
}

int DispatchQueued() {
    const auto q = OwnQueue(false);
    if (!q) return 0;
    size_t postBudget = 0;
    {
        std::lock_guard lock(q->mu);
        postBudget = q->posted.size();
    }
    int count = 0;
    for (;;) {
        Item item;
        {
            std::lock_guard lock(q->mu);
            if (!q->sent.empty()) {
                item = std::move(q->sent.front());
                q->sent.pop_front();
            } else if (postBudget > 0 && !q->posted.empty()) {
                item = std::move(q->posted.front());
                q->posted.pop_front();
                --postBudget;
            } else {
                break;
            }
        }
        if (Dispatch(item)) ++count;
    }
    return count;
}

// Waits up to timeoutMs for messages and dispatches them; the number dispatched.
int WaitAndDispatch(uint32_t timeoutMs) {
    const auto q = WaitQueue();
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const int count = DispatchQueued();
        if (count > 0) return count;
        std::unique_lock lock(q->mu);
        if (!q->cv.wait_until(lock, deadline, [&] { return q->HasWork(); })) return 0;
    }
}

} // namespace

bool WindowsAvailable() {
    return WindowTable::Instance() != nullptr;
}

HWND CreateWindowHandle(WindowProc proc) {
    if (!proc) return 0;
    const auto q = OwnQueue();
    WindowTable* table = WindowTable::Instance();
    if (!q || table == nullptr) return 0;
    // Before the handle exists anywhere, so that another process can post to it at once.
    ipc::StartPostReceiver();
    const HWND handle = table->Allocate();
    if (handle == 0) return 0;
    auto w = std::make_shared<Window>(handle, std::move(proc), q);
    {
        std::lock_guard lock(q->mu);
        q->windows.push_back(w);
    }
    Registry& r = TheRegistry();
    std::lock_guard lock(r.mu);
    r.windows[handle] = std::move(w);
    return handle;
}

bool DestroyWindowHandle(HWND wnd) {
    const auto w = Find(wnd);
    if (!w || w->owner != OwnQueue(false)) return false;
    DestroyWindow(w);
    return true;
}

bool IsWindow(HWND wnd) {
    if (wnd == 0) return false;
    if (Find(wnd)) return true;
    WindowTable* table = WindowTable::Instance();
    if (table == nullptr) return false;
    const pid_t owner = table->LiveOwner(wnd);
    return owner != 0 && owner != ::getpid();
}

LRESULT SendMessage(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    const auto w = Find(wnd);
    if (!w) return 0;
    if (w->owner == OwnQueue(false)) {
        if (w->destroyed.load(std::memory_order_acquire)) return 0;
        return w->proc(wnd, msg, wParam, lParam);
    }
    const auto me = WaitQueue();
    auto send = std::make_shared<SendState>();
    send->sender = me;
    if (!Push(*w->owner, Item{w, msg, wParam, lParam, send})) return 0;
    for (;;) {
        Item incoming;
        {
            std::unique_lock lock(me->mu);
            me->cv.wait(lock, [&] { return send->done || !me->sent.empty(); });
            if (send->done) return send->result;
            incoming = std::move(me->sent.front());
            me->sent.pop_front();
        }
        Dispatch(incoming);
    }
}

bool PostMessage(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (ipc::PostLocalMessage(wnd, msg, wParam, lParam)) return true;
    if (wnd == 0 || Find(wnd)) return false;
    WindowTable* table = WindowTable::Instance();
    const pid_t owner = table == nullptr ? 0 : table->LiveOwner(wnd);
    return owner != 0 && owner != ::getpid() && ipc::PostToProcess(owner, wnd, msg, wParam, lParam);
}

bool ipc::PostLocalMessage(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    const auto w = Find(wnd);
    return w && Push(*w->owner, Item{w, msg, wParam, lParam, nullptr});
}

bool ProcessMessages() {
    return DispatchQueued() > 0;
}

bool WaitMessages(uint32_t timeoutMs) {
    return WaitAndDispatch(timeoutMs) > 0;
}

namespace {
thread_local int loopServingScopes = 0;
}

TWaitsServeLoop::TWaitsServeLoop() {
    ++loopServingScopes;
}

TWaitsServeLoop::~TWaitsServeLoop() {
    --loopServingScopes;
}

bool WaitDispatching(const std::function<bool()>& done, uint32_t timeoutMs) {
    const auto q = WaitQueue();
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        DispatchQueued();
        if (done()) return true;
        if (q->loopHook && loopServingScopes > 0) {
            // A copy: a handler run by the loop may replace the hook.
            const std::function<void()> serve = q->loopHook;
            serve();
            if (done()) return true;
        }
        const auto now = Clock::now();
        if (now >= deadline) return false;
        std::unique_lock lock(q->mu);
        q->cv.wait_until(lock, std::min(deadline, now + std::chrono::milliseconds(5)),
                         [&] { return q->HasWork(); });
    }
}

void SetThreadWakeHook(std::function<void()> hook) {
    const auto q = OwnQueue(static_cast<bool>(hook));
    if (!q) return;
    std::lock_guard lock(q->hookMu);
    q->hook.swap(hook);
    // The old hook is destroyed here, after the swap, while no call of it can be running.
}

void SetThreadLoopHook(std::function<void()> hook) {
    if (const auto q = OwnQueue(static_cast<bool>(hook))) q->loopHook = std::move(hook);
}

} // namespace platform

// Nothing may leave a C caller by exception: a procedure that raises is answered 0 here.
extern "C" {

uint32_t ostro_create_window(ostro_window_proc proc, void* context) {
    if (proc == nullptr) return 0;
    try {
        return platform::CreateWindowHandle([proc, context](platform::HWND wnd, platform::UINT msg,
                                                            platform::WPARAM wParam,
                                                            platform::LPARAM lParam) {
            return static_cast<platform::LRESULT>(proc(context, wnd, msg, wParam, lParam));
        });
    } catch (...) {
        return 0;
    }
}

void ostro_destroy_window(uint32_t wnd) {
    try {
        platform::DestroyWindowHandle(wnd);
    } catch (...) {
    }
}

int ostro_is_window(uint32_t wnd) {
    return platform::IsWindow(wnd) ? 1 : 0;
}

intptr_t ostro_send_message(uint32_t wnd, uint32_t msg, uintptr_t wParam, intptr_t lParam) {
    try {
        return platform::SendMessage(wnd, msg, wParam, lParam);
    } catch (...) {
        return 0;
    }
}

int ostro_post_message(uint32_t wnd, uint32_t msg, uintptr_t wParam, intptr_t lParam) {
    try {
        return platform::PostMessage(wnd, msg, wParam, lParam) ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

int ostro_pump_messages(uint32_t timeoutMs) {
    try {
        return platform::WaitAndDispatch(timeoutMs);
    } catch (...) {
        return -1;
    }
}
}
