#include "PlayEndWindow.h"

#include <QCoreApplication>
#include <QEvent>

#include <mutex>
#include <unordered_map>

namespace {

const QEvent::Type PlayEndEventType = static_cast<QEvent::Type>(QEvent::registerEventType());

class PlayEndEvent : public QEvent {
public:
    explicit PlayEndEvent(DWORD channel) : QEvent(PlayEndEventType), channel_(channel) {}
    DWORD Channel() const { return channel_; }

private:
    DWORD channel_;
};

// Live windows by token. Tokens are never reused, so a stale token can't
// name a newer window that happens to sit at the old address.
struct Registry {
    std::mutex mutex;
    std::unordered_map<uintptr_t, PlayEndWindow*> windows;
    uintptr_t nextToken = 1;
};

Registry& LiveWindows()
{
    static Registry registry;
    return registry;
}

} // namespace

PlayEndWindow::PlayEndWindow(QObject* parent) : QObject(parent)
{
    Registry& registry = LiveWindows();
    std::lock_guard lock(registry.mutex);
    token_ = registry.nextToken++;
    registry.windows.emplace(token_, this);
}

PlayEndWindow::~PlayEndWindow()
{
    // Once this returns no callback can post to us any more; events already
    // posted are discarded by Qt together with the object.
    Registry& registry = LiveWindows();
    std::lock_guard lock(registry.mutex);
    registry.windows.erase(token_);
}

void* PlayEndWindow::SyncUser() const
{
    return reinterpret_cast<void*>(token_);
}

void BASSDEF PlayEndWindow::SyncProc(HSYNC, DWORD channel, DWORD, void* user)
{
    Registry& registry = LiveWindows();
    // Held while posting so that the window cannot be destroyed in between.
    std::lock_guard lock(registry.mutex);
    auto found = registry.windows.find(reinterpret_cast<uintptr_t>(user));
    if (found != registry.windows.end())
        QCoreApplication::postEvent(found->second, new PlayEndEvent(channel));
}

void PlayEndWindow::customEvent(QEvent* event)
{
    if (event->type() == PlayEndEventType)
        emit playEnded(static_cast<PlayEndEvent*>(event)->Channel());
}
