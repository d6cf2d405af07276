// Calls handed from the core's threads (transmit, polling, watchers, workers) to the GUI thread.
//
// Every call goes through one queue under our own lock, then one queued wake-up without payload
// wakes the GUI thread, which takes the calls out under the same lock. What a call carries (a
// progress line, a polled value, a snapshot, an answer) is thus handed over through a lock that
// the thread checker sees, not only through Qt's event queue, whose own locking it cannot see.
// Calls run in the order they were posted.
#pragma once

#include <functional>

class QObject;

namespace kvtr::ui {

// Runs `call` on the GUI thread soon; returns at once. From the GUI thread too (then the call
// runs at the next turn of the event loop, after the calls posted before it).
void postToGuiThread(std::function<void()> call);
// The same for a call on `receiver`: dropped when the receiver has gone by the time it would run.
void postToGuiThread(QObject* receiver, std::function<void()> call);

// Runs `call` on the GUI thread and waits for it to have run; on the GUI thread it runs at once.
void runOnGuiThread(const std::function<void()>& call);

}  // namespace kvtr::ui
