// The exchange engine: the device link extended by the task machinery. Every long exchange with
// the module (reading, writing, comparing or initialising a branch, or one parameter) runs on
// the engine's transmit thread while the user interface shows the progress window; the engine
// also owns the polling thread and ends both threads in Shutdown.
//
// A task runs like this:
//   1. The user-interface thread starts it (StartTask blocks until it has finished; BeginTask
//      returns at once and calls a completion function when it has). The progress window opens:
//      UserInterface::taskStarted with the caption and the total.
//   2. The transmit thread walks the tree with the group operations; each step writes its log
//      line (UserInterface::logLine and taskProgress, on the transmit thread).
//   3. The finish step logs an empty line and "Задание выполнено. Окно будет закрыто
//      автоматически.", keeps the window up for the closing grace (2 s; "Прервать!" or the stop
//      event cut it short), closes it (taskFinished), tells the program what it must follow up
//      (network settings written, batch read finished, the job event) and completes the task.
//   4. Back on the user-interface thread, AfterTask shows the messages the task raised and, for
//      a compare, the compare result. StartTask does that itself.
//
// The engine never waits on the user interface, and every wait of the transmit and polling
// threads (the line, the port, the closing grace) also watches the serial port's stop event, so
// Shutdown ends both threads within its limits whatever the line does.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "common/clock.h"
#include "common/event.h"
#include "common/user_interface.h"
#include "exchange/task_kind.h"
#include "model/parameter_steps.h"
#include "protocol/device_link.h"

namespace kvtr {

class DescBranch;
class GroupOperations;
class Polling;
class ObjectWithParameters;
class Parameter;

struct TaskOutcome;

// What the engine tells the program besides the progress window. The calls come on the
// engine's threads; a GUI hands them over to its own thread.
class ExchangeEvents {
 public:
  virtual ~ExchangeEvents() = default;
  // A read brought the module's value into the tree: the document is modified.
  virtual void documentModified() {}
  // A task wrote a network setting of the module: the APLY follow-up is due. Comes after the
  // progress window closed, and never once the engine is stopping.
  virtual void networkSettingsWritten() {}
  // A batch "read" job finished: the configuration goes into the file named for the job, or not,
  // by how the read ended.
  virtual void batchReadFinished(const TaskOutcome& outcome) { (void)outcome; }
  // Five time-outs in a row switched the automatic reading mode off.
  virtual void automaticReadingSwitchedOff() {}
  // The port went away during a task of a batch run, which shows no messages: the text says
  // which port and what happened.
  virtual void portLost(const std::string& text) { (void)text; }
};

// A message raised while a task ran, shown once its window has closed.
struct TaskMessage {
  std::string text;
  std::string caption;
  MessageIcon icon = MessageIcon::None;
};

struct TaskOutcome {
  TaskKind kind = TaskKind::ReadAll;
  // A branch or parameter was there to work on (a task without one only shows its closing).
  bool walked = false;
  // Group tasks: parameters visited, and those whose step returned non-zero.
  WalkCounts counts;
  // Single tasks: the step's result.
  int result = 0;
  // The task was stopped: by "Прервать!", a failure limit, the program's exit, or Shutdown.
  bool interrupted = false;
  // Messages the task raised (the failure limit of reading), in order.
  std::vector<TaskMessage> messages;
};

using TaskCompletion = std::function<void(const TaskOutcome&)>;

// The counters of the running task. The user-interface thread sets them before the task starts;
// the transmit thread and direct exchanges update them.
struct TaskCounters {
  std::atomic<int> totalCount{0};      // parameters the task will visit; 0 hides the counter
  std::atomic<int> processedCount{0};  // parameters visited so far
  std::atomic<int> failureStreak{0};   // failed exchanges in a row, across tasks
  std::atomic<int> differenceCount{0};  // differences found by the running compare
  std::atomic<int> compareFailures{0};  // parameters the running compare could not read
};

class ExchangeEngine : public DeviceLink {
 public:
  static constexpr Clock::Duration kClosingGrace = std::chrono::seconds(2);
  static constexpr Clock::Duration kTransmitThreadStopLimit = std::chrono::seconds(3);
  static constexpr Clock::Duration kScanThreadStopLimit = std::chrono::milliseconds(700);

  // `clock` runs the closing grace and the polling periods; a test gives a manual clock.
  explicit ExchangeEngine(const DeviceLinkOptions& options = {}, Clock& clock = Clock::system());
  // Shuts the threads down. A class that puts its own line below the link (exchangeOnPort)
  // calls Shutdown in its own destructor, before what the line uses is gone.
  ~ExchangeEngine() override;

  // ---------------------------------------------------------------- threads

  // Starts the transmit thread when none runs; true when one runs afterwards. On failure the
  // user is told (kTransmitThreadFailedText, caption "Error").
  bool CreateTransmitThread();
  [[nodiscard]] bool transmitThreadRunning() const;

  // Once a tree is loaded: gives every parameter under its scanners branch a timer and starts
  // the polling thread over them, so that armed scanners are read. 0 when the thread runs; 1
  // when it cannot be started (the user is told, kScanThreadFailedText, caption "Error").
  int StartScanThread(DescBranch& scanners);

  // Stops the polling thread and the transmit thread: the stop event (which also ends an
  // exchange in progress at once), up to 700 ms for the polling thread and 3 s for the
  // transmit thread, then the stop event is reset so that the link works again. A running task,
  // or one handed over that the thread never took up, completes as interrupted. Returns 1; 0
  // when a thread overran its limit and had to be waited for beyond it.
  int Shutdown();

  // ---------------------------------------------------------------- tasks

  // Runs a group task (ReadAll, WriteAll, WriteChanged, Compare, Initialise) on `root` and
  // returns when its window has closed, after AfterTask. A compare clears the compare report
  // first and shows its result after. Initialising without the dangerous operations shows why
  // and runs nothing. False when the task cannot start (another task is running, the kind is
  // not a group task, the transmit thread cannot be started). `outcome` receives the outcome.
  bool StartTask(TaskKind kind, ObjectWithParameters* root, TaskOutcome* outcome = nullptr);
  // ReadOne or WriteOne on one parameter, likewise.
  bool StartSingleTask(TaskKind kind, Parameter* parameter, TaskOutcome* outcome = nullptr);

  // The same tasks without waiting: the window opens (taskStarted) before these return, and
  // `done` is called on the transmit thread once the window has closed (for a task the thread
  // never took up, on the thread that called Shutdown). The caller runs
  // AfterTask on its own thread with the outcome. Until then the tree belongs to the task.
  // Initialising without the dangerous operations shows why and returns false.
  bool BeginTask(TaskKind kind, ObjectWithParameters* root, TaskCompletion done = {});
  bool BeginSingleTask(TaskKind kind, Parameter* parameter, TaskCompletion done = {});
  // Waits until no task runs; false when `timeout` passed first. `outcome` receives the outcome
  // of the last task that finished.
  bool WaitForTask(Clock::Duration timeout = Clock::kInfinite, TaskOutcome* outcome = nullptr);
  [[nodiscard]] bool taskRunning() const;

  // On the user-interface thread after a task: the messages the task raised, then, after a
  // compare, the compare result.
  void AfterTask(const TaskOutcome& outcome);

  // "Прервать!": stops the running walk before its next parameter or branch and cuts the
  // closing grace short; the link status becomes 32 (interrupted).
  void Abort();
  // Set by Abort, the failure limits and the program's exit; every walk polls it. Reset when a
  // window opens and at the end of each finish step.
  Event& abortEvent() { return abort_; }
  // The walk is to stop: the abort event or the stop event is set.
  [[nodiscard]] bool aborted() const;

  // A line of the progress log with the fields after it; nothing while no window is open.
  void LogLine(const std::string& text);

  // ---------------------------------------------------------------- state and settings

  [[nodiscard]] GroupOperations& operations() { return *operations_; }
  [[nodiscard]] Polling& polling() { return *polling_; }
  [[nodiscard]] TaskCounters& counters() { return counters_; }
  [[nodiscard]] Clock& clock() const { return clock_; }

  void setEvents(ExchangeEvents* events) { events_.store(events); }
  [[nodiscard]] ExchangeEvents* events() const { return events_.load(); }

  // The mode "Режим автоматического чтения": switched off by the failure limit of reading.
  void setAutomaticReading(bool on) { automaticReading_.store(on); }
  [[nodiscard]] bool automaticReading() const { return automaticReading_.load(); }
  // The mode "Режим немедленной записи": InstantWrite writes only while it is on.
  void setImmediateWriting(bool on) { immediateWriting_.store(on); }
  [[nodiscard]] bool immediateWriting() const { return immediateWriting_.load(); }

  // The error log of an unattended run ("elog"): one line per failed read or write; empty: none.
  void setErrorLogPath(std::filesystem::path path);
  [[nodiscard]] std::filesystem::path errorLogPath() const;
  // Appends "name[:index] - comment" to the error log when one is named and the comment is not
  // empty. A log that cannot be written is passed over.
  void AppendErrorLog(const Parameter& parameter);
  // Appends "name - text": a failure that belongs to no parameter (the port).
  void AppendErrorLog(std::string_view name, std::string_view text);

  // The job of a batch run: whether it is a read job, and the event to set when it finished.
  // Takes effect while the link is in batch mode.
  void setBatchJob(bool readJob, Event* jobEvent);

  // How long the window stays up after the closing line; the program keeps it 2 s, the
  // command-line tool, which has no window, may set 0.
  void setClosingGrace(Clock::Duration grace) { closingGraceNs_.store(grace.count()); }

  // Shows a message now, or, on the transmit thread during a task, keeps it for the task's
  // outcome so that no worker waits on the user.
  void ReportMessage(const std::string& text, const std::string& caption, MessageIcon icon);

 private:
  enum TaskEventIndex { kReadAllEvent, kWriteAllEvent, kWriteChangedEvent, kCompareEvent, kInitialiseEvent,
                        kStopEvent, kReadOneEvent, kWriteOneEvent, kWaitCount };

  bool Begin(TaskKind kind, ObjectWithParameters* root, Parameter* parameter, TaskCompletion done);
  bool StartAndWait(TaskKind kind, ObjectWithParameters* root, Parameter* parameter, TaskOutcome* outcome);
  void TransmitThread();
  TaskOutcome RunTask(TaskKind kind, ObjectWithParameters* root, Parameter* parameter);
  void FinishTask(TaskOutcome& outcome);
  // In Shutdown, once the transmit thread has ended: finishes a task it never took up.
  void CompleteTaskNeverRun();
  // Why initialising is not possible without the dangerous operations.
  void ExplainDangerousOperations();
  [[nodiscard]] bool onTransmitThread() const;
  [[nodiscard]] Event& taskEvent(TaskKind kind);

  Clock& clock_;
  Event& stop_;  // the serial port's stop event
  std::atomic<ExchangeEvents*> events_{nullptr};
  std::atomic<bool> automaticReading_{true};
  std::atomic<bool> immediateWriting_{false};
  std::atomic<Clock::Duration::rep> closingGraceNs_{kClosingGrace.count()};

  Event readAll_{EventReset::Manual};
  Event writeAll_{EventReset::Manual};
  Event writeChanged_{EventReset::Manual};
  Event compare_{EventReset::Manual};
  Event initialise_{EventReset::Manual};
  Event readOne_{EventReset::Automatic};
  Event writeOne_{EventReset::Automatic};
  Event abort_{EventReset::Manual};

  TaskCounters counters_;

  // The task handed to the transmit thread, the window state and the outcome, under taskMutex_.
  mutable std::mutex taskMutex_;
  std::condition_variable taskIdle_;
  bool taskActive_ = false;
  TaskKind pendingKind_ = TaskKind::ReadAll;
  ObjectWithParameters* taskRoot_ = nullptr;
  Parameter* singleTarget_ = nullptr;
  TaskCompletion completion_;
  TaskOutcome lastOutcome_;
  std::vector<TaskMessage> pendingMessages_;
  bool batchReadJob_ = false;
  Event* jobEvent_ = nullptr;

  std::atomic<bool> windowOpen_{false};
  std::atomic<Clock::TimePoint::rep> startTime_{0};

  mutable std::mutex errorLogMutex_;
  std::filesystem::path errorLog_;

  std::unique_ptr<GroupOperations> operations_;
  std::unique_ptr<Polling> polling_;

  mutable std::mutex threadMutex_;
  std::thread transmitThread_;
  std::atomic<std::thread::id> transmitThreadId_{};
  Event transmitEnded_{EventReset::Manual};

  friend class GroupOperations;
};

}  // namespace kvtr
