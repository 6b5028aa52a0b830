// PlayEndWindow: the player's hidden message window. The library's
// end-of-channel callback runs on the library's own thread; all it does is
// post a play-end event to this object, and the event is delivered on the
// thread the object lives on (the main thread), where playEnded is emitted.
//
// The callback's user value is not a pointer but a token naming the window
// in a process-wide registry of live windows: a callback that arrives after
// the window is gone (or one meant for an earlier window) finds no entry
// and does nothing, so it can never reach freed memory.
#pragma once

#include <QObject>

#include <cstdint>

#define BASS_NO_PROTOTYPES
#include "bass.h"

class PlayEndWindow : public QObject {
    Q_OBJECT

public:
    explicit PlayEndWindow(QObject* parent = nullptr);
    ~PlayEndWindow() override;
    PlayEndWindow(const PlayEndWindow&) = delete;
    PlayEndWindow& operator=(const PlayEndWindow&) = delete;

    // The user value to give the library with SyncProc.
    void* SyncUser() const;

    // The end-sync callback: any thread; posts and returns at once.
    static void BASSDEF SyncProc(HSYNC sync, DWORD channel, DWORD data, void* user);

signals:
    // The channel that reached its end; main thread.
    void playEnded(DWORD channel);

protected:
    void customEvent(QEvent* event) override;

private:
    uintptr_t token_;
};
