// Messages sent to a window of another thread. A window's procedure runs
// only on the thread that created it, as on Windows: the sender's message
// waits in a queue for the owner, which serves it whenever it waits for
// messages (GetMessage, PeekMessage, WaitMessage, a modal loop) or is
// itself blocked in a cross-thread send, so two threads sending to each
// other do not deadlock. Sent messages go ahead of posted ones and never
// make GetMessage return. A sender waiting on a thread that never pumps
// waits for ever, as on Windows.
#include "um/user32/window.h"

#include <algorithm>
#include <deque>

namespace umsim {
namespace {

struct SentMessage {
    std::shared_ptr<Window> window;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    std::thread::id owner;
    // Under DesktopLock().
    bool taken = false;  // the owner is running it: no longer abandoned for a destroyed window
    bool done = false;
    LRESULT result = 0;
};

std::deque<std::shared_ptr<SentMessage>>& SentQueue()  // under DesktopLock()
{
    static auto* queue = new std::deque<std::shared_ptr<SentMessage>>;
    return *queue;
}

void Unqueue(const std::shared_ptr<SentMessage>& sent)  // under DesktopLock()
{
    auto& queue = SentQueue();
    queue.erase(std::remove(queue.begin(), queue.end(), sent), queue.end());
}

// Lives as long as its thread. When the thread ends, Windows destroys its
// windows (no procedure runs: the thread is gone), and the sends still
// waiting for them end with 0.
class OwnedWindows {
public:
    void Add(const std::shared_ptr<Window>& window)  // only its own thread touches m_windows
    {
        std::erase_if(m_windows, [](const std::weak_ptr<Window>& w) { return w.expired(); });
        m_windows.push_back(window);
    }
    ~OwnedWindows()
    {
        const std::thread::id self = std::this_thread::get_id();
        std::vector<HWND> windows;
        {
            std::lock_guard lock(DesktopLock());
            for (auto& weak : m_windows) {
                auto window = weak.lock();
                if (!window || window->destroyed) continue;
                window->ownerEnded = true;
                windows.push_back(window->self);
            }
            auto& queue = SentQueue();
            for (auto& sent : queue) {
                if (sent->owner == self) sent->done = true;
            }
            std::erase_if(queue, [&](auto& sent) { return sent->owner == self; });
        }
        for (HWND hwnd : windows) DestroyWindowTree(hwnd);
        DesktopCondition().notify_all();
    }

private:
    std::vector<std::weak_ptr<Window>> m_windows;
};

thread_local OwnedWindows t_ownedWindows;

}  // namespace

void AdoptWindow(const std::shared_ptr<Window>& window) { t_ownedWindows.Add(window); }

bool SentMessagesWaiting()  // under DesktopLock()
{
    const std::thread::id self = std::this_thread::get_id();
    auto& queue = SentQueue();
    return std::any_of(queue.begin(), queue.end(), [&](auto& sent) { return sent->owner == self; });
}

bool ServeSentMessages()
{
    const std::thread::id self = std::this_thread::get_id();
    bool served = false;
    for (;;) {
        std::shared_ptr<SentMessage> next;
        bool alive;
        {
            std::lock_guard lock(DesktopLock());
            auto& queue = SentQueue();
            auto it = std::find_if(queue.begin(), queue.end(), [&](auto& sent) { return sent->owner == self; });
            if (it == queue.end()) return served;
            next = *it;
            queue.erase(it);
            next->taken = true;
            alive = !next->window->destroyed;
        }
        LRESULT result = alive ? DeliverMessage(next->window, next->message, next->wParam, next->lParam) : 0;
        {
            std::lock_guard lock(DesktopLock());
            next->result = result;
            next->done = true;
        }
        DesktopCondition().notify_all();
        served = true;
    }
}

LRESULT SendToOwner(const std::shared_ptr<Window>& window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (window->thread == std::this_thread::get_id()) return DeliverMessage(window, message, wParam, lParam);
    auto sent = std::make_shared<SentMessage>(SentMessage{window, message, wParam, lParam, window->thread});
    std::unique_lock lock(DesktopLock());
    if (window->destroyed || window->ownerEnded) return 0;
    SentQueue().push_back(sent);
    DesktopCondition().notify_all();
    while (!sent->done) {
        if (!sent->taken && window->destroyed) {
            Unqueue(sent);
            return 0;
        }
        if (SentMessagesWaiting()) {
            lock.unlock();
            ServeSentMessages();
            lock.lock();
            continue;
        }
        DesktopCondition().wait(lock);
    }
    return sent->result;
}

}  // namespace umsim
