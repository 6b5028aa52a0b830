// PlayEndWindow: the player's hidden message window. The library's
// end-of-channel callback runs on the library's own thread; all it does is
// post a play-end event to this object, and the event is delivered on the
// thread the object lives on (the main thread), where playEnded is emitted.
//
// The callback's user value is not a pointer but a token, handed out anew
// for every channel (Arm) and listed in a process-wide registry of live
// tokens. A callback that arrives after the window is gone finds no entry
// and does nothing, so it can never reach freed memory. An end already
// posted for an earlier channel is dropped on delivery: the library may give
// the next file the very handle the previous one had, so the handle alone
// cannot tell the two ends apart.
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

    // A fresh user value for the end sync of a new channel, to give the
    // library with SyncProc; ends posted under any earlier value are void.
    void* Arm();
    // The channel is released: nothing posted so far is delivered.
    void Disarm();

    // The end-sync callback: any thread; posts and returns at once.
    static void BASSDEF SyncProc(HSYNC sync, DWORD channel, DWORD data, void* user);

signals:
    // The channel that reached its end; main thread.
    void playEnded(DWORD channel);

protected:
    void customEvent(QEvent* event) override;

private:
    uintptr_t armed_ = 0;  // 0: no channel
};
