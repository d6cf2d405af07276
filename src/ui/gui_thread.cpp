#include "ui/gui_thread.h"

#include <QCoreApplication>
#include <QObject>
#include <QPointer>
#include <QThread>
#include <condition_variable>
#include <deque>
#include <mutex>

namespace kvtr::ui {

namespace {

class GuiQueue : public QObject {
  Q_OBJECT

 public:
  GuiQueue() { moveToThread(QCoreApplication::instance()->thread()); }

  void Post(std::function<void()> call) {
    bool wake = false;
    {
      std::lock_guard lock(mutex_);
      wake = calls_.empty();
      calls_.push_back(std::move(call));
    }
    // One wake-up takes every call queued until it runs. It carries nothing of ours: Qt makes and
    // frees the event itself, and everything handed over passes through the lock above.
    if (wake) QMetaObject::invokeMethod(this, "Drain", Qt::QueuedConnection);
  }

 private slots:
  void Drain() {
    for (;;) {
      std::function<void()> call;
      {
        std::lock_guard lock(mutex_);
        if (calls_.empty()) return;
        call = std::move(calls_.front());
        calls_.pop_front();
      }
      call();
    }
  }

 private:
  std::mutex mutex_;
  std::deque<std::function<void()>> calls_;
};

// Made on the GUI thread as the application object is made, before any other thread can post, and
// kept for the process: posts may come until the last thread has ended.
GuiQueue* instance = nullptr;
void makeQueue() { instance = new GuiQueue; }
Q_COREAPP_STARTUP_FUNCTION(makeQueue)

GuiQueue& queue() { return *instance; }

bool onGuiThread() { return QThread::currentThread() == QCoreApplication::instance()->thread(); }

}  // namespace

void postToGuiThread(std::function<void()> call) { queue().Post(std::move(call)); }

void postToGuiThread(QObject* receiver, std::function<void()> call) {
  queue().Post([guard = QPointer<QObject>(receiver), call = std::move(call)] {
    if (guard != nullptr) call();
  });
}

void runOnGuiThread(const std::function<void()>& call) {
  if (onGuiThread()) {
    call();
    return;
  }
  std::mutex mutex;
  std::condition_variable done;
  bool ran = false;
  queue().Post([&] {
    call();
    std::lock_guard lock(mutex);
    ran = true;
    done.notify_all();
  });
  std::unique_lock lock(mutex);
  done.wait(lock, [&] { return ran; });
}

}  // namespace kvtr::ui

#include "gui_thread.moc"
