#include "PlayEndWindow.h"

#include <QCoreApplication>
#include <QEvent>

#include <mutex>
#include <unordered_map>

namespace {

const QEvent::Type PlayEndEventType = static_cast<QEvent::Type>(QEvent::registerEventType());

class PlayEndEvent : public QEvent {
public:
    PlayEndEvent(DWORD channel, uintptr_t token) : QEvent(PlayEndEventType), channel_(channel), token_(token) {}
    DWORD Channel() const { return channel_; }
    uintptr_t Token() const { return token_; }

private:
    DWORD channel_;
    uintptr_t token_;
};

// Live tokens and their windows. Tokens are never reused, so a stale token
// can't name a newer window that happens to sit at the old address, nor a
// newer channel of the same window.
struct Registry {
    std::mutex mutex;
    std::unordered_map<uintptr_t, PlayEndWindow*> windows;
    uintptr_t nextToken = 1;
};

Registry& LiveTokens()
{
    static Registry registry;
    return registry;
}

} // namespace

PlayEndWindow::PlayEndWindow(QObject* parent) : QObject(parent) {}

PlayEndWindow::~PlayEndWindow()
{
    // Once this returns no callback can post to us any more; events already
    // posted are discarded by Qt together with the object.
    Disarm();
}

void* PlayEndWindow::Arm()
{
    Registry& registry = LiveTokens();
    std::lock_guard lock(registry.mutex);
    registry.windows.erase(armed_);
    armed_ = registry.nextToken++;
    registry.windows.emplace(armed_, this);
    return reinterpret_cast<void*>(armed_);
}

void PlayEndWindow::Disarm()
{
    Registry& registry = LiveTokens();
    std::lock_guard lock(registry.mutex);
    registry.windows.erase(armed_);
    armed_ = 0;
}

void BASSDEF PlayEndWindow::SyncProc(HSYNC, DWORD channel, DWORD, void* user)
{
    Registry& registry = LiveTokens();
    const auto token = reinterpret_cast<uintptr_t>(user);
    // Held while posting so that the window cannot be destroyed in between.
    std::lock_guard lock(registry.mutex);
    auto found = registry.windows.find(token);
    if (found != registry.windows.end())
        QCoreApplication::postEvent(found->second, new PlayEndEvent(channel, token));
}

void PlayEndWindow::customEvent(QEvent* event)
{
    if (event->type() != PlayEndEventType)
        return;
    const auto* end = static_cast<PlayEndEvent*>(event);
    if (armed_ != 0 && end->Token() == armed_)
        emit playEnded(end->Channel());
}
