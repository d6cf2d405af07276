#include "exchange/exchange_engine.h"

#include <fstream>

#include "common/catalogue.h"
#include "common/format.h"
#include "exchange/group_operations.h"
#include "exchange/polling.h"
#include "model/object_with_parameters.h"
#include "model/parameter.h"
#include "model/text_encoding.h"

namespace kvtr {

ExchangeEngine::ExchangeEngine(const DeviceLinkOptions& options, Clock& clock)
    : DeviceLink(options),
      clock_(clock),
      stop_(serialPort().stopEvent()),
      operations_(std::make_unique<GroupOperations>(*this)),
      polling_(std::make_unique<Polling>(*this, clock)) {
  startTime_.store(clock_.now().time_since_epoch().count());
  transmitEnded_.set();
}

ExchangeEngine::~ExchangeEngine() {
  (void)Shutdown();
  // Shutdown waits beyond its limits rather than leave a thread running on a destroyed engine.
  polling_.reset();
}

// ------------------------------------------------------------------ threads

bool ExchangeEngine::CreateTransmitThread() {
  std::lock_guard lock(threadMutex_);
  if (transmitThread_.joinable()) return true;
  transmitEnded_.reset();
  try {
    transmitThread_ = std::thread([this] { TransmitThread(); });
  } catch (const std::system_error&) {
    transmitEnded_.set();
    if (UserInterface* ui = userInterface()) ui->showMessage(tr(kTransmitThreadFailedText.data()), "Error",
                                                             MessageIcon::Stop);
    return false;
  }
  return true;
}

bool ExchangeEngine::transmitThreadRunning() const {
  std::lock_guard lock(threadMutex_);
  return transmitThread_.joinable();
}

int ExchangeEngine::StartScanThread(DescBranch& scanners) {
  if (polling_->scanThreadRunning()) return 0;
  CreateScanners(scanners, clock_);
  if (polling_->StartScanThread(scanners) == 0) return 0;
  if (UserInterface* ui = userInterface()) ui->showMessage(tr(kScanThreadFailedText.data()), "Error", MessageIcon::Stop);
  return 1;
}

int ExchangeEngine::Shutdown() {
  Event& stop = serialPort().stopEvent();
  stop.set();
  int result = 1;
  if (!polling_->StopScanThread(kScanThreadStopLimit)) result = 0;

  std::thread thread;
  {
    std::lock_guard lock(threadMutex_);
    thread = std::move(transmitThread_);
  }
  if (thread.joinable()) {
    // The thread's waits all watch the stop event, so it ends well within the limit. A thread
    // cannot be ended from outside safely: one that overran is waited for all the same, since it
    // works on this engine.
    if (Clock::system().waitAny({&transmitEnded_}, kTransmitThreadStopLimit) != 0) result = 0;
    thread.join();
  }
  CompleteTaskNeverRun();
  stop.reset();
  return result;
}

void ExchangeEngine::CompleteTaskNeverRun() {
  // The stop event outranks the single tasks, so a task handed over as the stop came (or after
  // the thread had already left) is still waiting once the thread is gone. It completes as
  // interrupted, so that nobody waits for it forever, and its inputs and its event are dropped,
  // so that the next transmit thread does not run it on a parameter that may be gone by then.
  TaskOutcome outcome;
  {
    std::lock_guard lock(taskMutex_);
    if (!taskActive_) return;
    outcome.kind = pendingKind_;
    taskRoot_ = nullptr;
    singleTarget_ = nullptr;
  }
  for (Event* event : {&readAll_, &writeAll_, &writeChanged_, &compare_, &initialise_, &readOne_, &writeOne_}) {
    event->reset();
  }
  outcome.interrupted = true;
  // With the stop event still set the closing grace is skipped and no follow-up is announced.
  FinishTask(outcome);
}

bool ExchangeEngine::onTransmitThread() const { return transmitThreadId_.load() == std::this_thread::get_id(); }

void ExchangeEngine::TransmitThread() {
  transmitThreadId_.store(std::this_thread::get_id());
  Event& stop = serialPort().stopEvent();
  Waitable* const objects[kWaitCount] = {&readAll_, &writeAll_,   &writeChanged_, &compare_,
                                         &initialise_, &stop, &readOne_, &writeOne_};
  bool openedHere = false;
  for (;;) {
    if (openedHere) {
      ClosePort();
      openedHere = false;
    }
    // A wait without time limit on events only: it blocks on the system whatever clock the
    // engine runs on.
    const int woke = Clock::system().waitAny(objects, Clock::kInfinite);
    if (woke == kStopEvent) break;
    if (woke < 0) continue;

    if (!portIsOpen()) openedHere = OpenPort() == 0;

    TaskKind kind = TaskKind::ReadAll;
    ObjectWithParameters* root = nullptr;
    Parameter* parameter = nullptr;
    {
      std::lock_guard lock(taskMutex_);
      kind = pendingKind_;
      root = taskRoot_;
      parameter = singleTarget_;
      taskRoot_ = nullptr;
      singleTarget_ = nullptr;
    }
    switch (woke) {
      case kReadAllEvent: kind = TaskKind::ReadAll; break;
      case kWriteAllEvent: kind = TaskKind::WriteAll; break;
      case kWriteChangedEvent: kind = TaskKind::WriteChanged; break;
      case kCompareEvent: kind = TaskKind::Compare; break;
      case kInitialiseEvent: kind = TaskKind::Initialise; break;
      case kReadOneEvent: kind = TaskKind::ReadOne; break;
      case kWriteOneEvent: kind = TaskKind::WriteOne; break;
      default: break;
    }
    if (!IsSingleTask(kind)) taskEvent(kind).reset();
    TaskOutcome outcome = RunTask(kind, IsSingleTask(kind) ? nullptr : root, IsSingleTask(kind) ? parameter : nullptr);
    FinishTask(outcome);
  }
  if (openedHere) ClosePort();
  transmitThreadId_.store(std::thread::id());
  transmitEnded_.set();
}

Event& ExchangeEngine::taskEvent(TaskKind kind) {
  switch (kind) {
    case TaskKind::ReadAll: return readAll_;
    case TaskKind::WriteAll: return writeAll_;
    case TaskKind::WriteChanged: return writeChanged_;
    case TaskKind::Compare: return compare_;
    case TaskKind::Initialise: return initialise_;
    case TaskKind::ReadOne: return readOne_;
    case TaskKind::WriteOne: return writeOne_;
  }
  return readAll_;
}

// ------------------------------------------------------------------ tasks

TaskOutcome ExchangeEngine::RunTask(TaskKind kind, ObjectWithParameters* root, Parameter* parameter) {
  TaskOutcome outcome;
  outcome.kind = kind;
  GroupOperations& steps = *operations_;
  switch (kind) {
    case TaskKind::ReadAll:
      if (root != nullptr) outcome.counts = root->ReadFromDevice(steps);
      break;
    case TaskKind::WriteAll:
      if (root != nullptr) outcome.counts = root->WriteToDevice(steps, kWriteAll);
      break;
    case TaskKind::WriteChanged:
      if (root != nullptr) outcome.counts = root->WriteToDevice(steps, kWriteChanged);
      break;
    case TaskKind::Compare:
      if (root != nullptr) outcome.counts = root->CompareWithDevice(steps);
      break;
    case TaskKind::Initialise:
      if (root != nullptr) outcome.counts = root->WriteToDevice(steps, kWriteInitial);
      break;
    case TaskKind::ReadOne:
    case TaskKind::WriteOne:
      if (parameter != nullptr) {
        counters_.processedCount.store(0);
        outcome.result = kind == TaskKind::ReadOne ? steps.ReadParameter(*parameter, true)
                                                   : steps.WriteParameter(*parameter, kWriteAll);
        outcome.counts = {1, outcome.result != 0 ? 1 : 0};
      }
      break;
  }
  outcome.walked = root != nullptr || parameter != nullptr;
  outcome.interrupted = aborted();
  return outcome;
}

void ExchangeEngine::FinishTask(TaskOutcome& outcome) {
  LogLine("");
  LogLine(std::string(kTaskDoneText));

  // The window stays up for the grace; "Прервать!" now, or the program stopping, closes it at once.
  Event& stop = serialPort().stopEvent();
  const Clock::Duration grace(closingGraceNs_.load());
  if (grace > Clock::Duration::zero()) (void)clock_.waitAny({&abort_, &stop}, grace);

  windowOpen_.store(false);
  if (UserInterface* ui = userInterface()) ui->taskFinished(std::string(kTaskDoneText));

  ExchangeEvents* events = events_.load();
  if (state().networkSettingsWritten.exchange(false) && !stop.isSet() && events != nullptr) {
    events->networkSettingsWritten();
  }
  Event* jobEvent = nullptr;
  bool readJob = false;
  {
    std::lock_guard lock(taskMutex_);
    jobEvent = jobEvent_;
    readJob = batchReadJob_;
  }
  if (batchMode()) {
    if (readJob && events != nullptr) events->batchReadFinished(outcome);
    if (jobEvent != nullptr) jobEvent->set();
  }
  abort_.reset();

  TaskCompletion done;
  {
    std::lock_guard lock(taskMutex_);
    outcome.messages = std::move(pendingMessages_);
    pendingMessages_.clear();
    lastOutcome_ = outcome;
    done = std::move(completion_);
    completion_ = nullptr;
    taskActive_ = false;
  }
  taskIdle_.notify_all();
  if (done) done(outcome);
}

bool ExchangeEngine::Begin(TaskKind kind, ObjectWithParameters* root, Parameter* parameter, TaskCompletion done) {
  // Initialising belongs to the dangerous operations whichever way the task is started.
  if (kind == TaskKind::Initialise && !dangerousOperationsAllowed()) {
    ExplainDangerousOperations();
    return false;
  }
  if (!CreateTransmitThread()) return false;
  int total = 0;
  {
    std::lock_guard lock(taskMutex_);
    if (taskActive_) return false;
    // Counted only once no task runs: a running task writes the marks the count looks at.
    if (IsSingleTask(kind)) total = 1;
    else if (root != nullptr) total = CountTaskParameters(*root, kind);
    taskActive_ = true;
    pendingKind_ = kind;
    taskRoot_ = root;
    singleTarget_ = parameter;
    completion_ = std::move(done);
    pendingMessages_.clear();
  }
  if (kind == TaskKind::Compare) operations_->ClearCompareReport();
  operations_->ClearRefusedValues();
  counters_.totalCount.store(total);
  counters_.processedCount.store(0);

  // The window opens: the abort of an earlier task is forgotten, the clock of the elapsed
  // field starts, and the task event is signalled.
  abort_.reset();
  startTime_.store(clock_.now().time_since_epoch().count());
  if (UserInterface* ui = userInterface()) ui->taskStarted(std::string(TaskCaption(kind)), total);
  windowOpen_.store(true);
  taskEvent(kind).set();
  return true;
}

bool ExchangeEngine::BeginTask(TaskKind kind, ObjectWithParameters* root, TaskCompletion done) {
  if (IsSingleTask(kind)) return false;
  return Begin(kind, root, nullptr, std::move(done));
}

bool ExchangeEngine::BeginSingleTask(TaskKind kind, Parameter* parameter, TaskCompletion done) {
  if (!IsSingleTask(kind)) return false;
  return Begin(kind, nullptr, parameter, std::move(done));
}

bool ExchangeEngine::StartAndWait(TaskKind kind, ObjectWithParameters* root, Parameter* parameter,
                                  TaskOutcome* outcome) {
  if (!Begin(kind, root, parameter, {})) return false;
  TaskOutcome result;
  (void)WaitForTask(Clock::kInfinite, &result);
  AfterTask(result);
  if (outcome != nullptr) *outcome = std::move(result);
  return true;
}

bool ExchangeEngine::StartTask(TaskKind kind, ObjectWithParameters* root, TaskOutcome* outcome) {
  if (IsSingleTask(kind)) return false;
  if (kind == TaskKind::Initialise && !dangerousOperationsAllowed()) {
    ExplainDangerousOperations();
    if (outcome != nullptr) *outcome = TaskOutcome{kind};
    return true;
  }
  return StartAndWait(kind, root, nullptr, outcome);
}

bool ExchangeEngine::StartSingleTask(TaskKind kind, Parameter* parameter, TaskOutcome* outcome) {
  if (!IsSingleTask(kind)) return false;
  return StartAndWait(kind, nullptr, parameter, outcome);
}

bool ExchangeEngine::WaitForTask(Clock::Duration timeout, TaskOutcome* outcome) {
  std::unique_lock lock(taskMutex_);
  const auto idle = [this] { return !taskActive_; };
  if (timeout == Clock::kInfinite) {
    taskIdle_.wait(lock, idle);
  } else if (!taskIdle_.wait_for(lock, timeout, idle)) {
    return false;
  }
  if (outcome != nullptr) *outcome = lastOutcome_;
  return true;
}

bool ExchangeEngine::taskRunning() const {
  std::lock_guard lock(taskMutex_);
  return taskActive_;
}

void ExchangeEngine::ExplainDangerousOperations() {
  if (UserInterface* ui = userInterface()) {
    ui->showMessage(tr(kDangerousOperationsText.data()), tr("Сообщение"), MessageIcon::Information);
  }
}

void ExchangeEngine::AfterTask(const TaskOutcome& outcome) {
  UserInterface* ui = userInterface();
  if (ui == nullptr) return;
  for (const TaskMessage& m : outcome.messages) ui->showMessage(m.text, m.caption, m.icon);
  if (outcome.kind == TaskKind::Compare) operations_->ShowCompareResult(*ui);
}

void ExchangeEngine::Abort() {
  abort_.set();
  state().linkStatus.store(link_status::kInterrupted);
}

bool ExchangeEngine::aborted() const {
  return abort_.isSet() || stop_.isSet();
}

void ExchangeEngine::LogLine(const std::string& text) {
  if (!windowOpen_.load()) return;
  UserInterface* ui = userInterface();
  if (ui == nullptr) return;
  ui->logLine(text);
  TaskProgress update;
  const Clock::TimePoint start{Clock::Duration(startTime_.load())};
  update.elapsed = ElapsedText(clock_.now() - start);
  update.total = counters_.totalCount.load();
  if (update.total != 0) {
    update.done = counters_.processedCount.load();
    update.counter = CounterText(update.done, update.total);
    update.barRange = update.total & 0xFFFF;
  }
  ui->taskProgress(update);
}

void ExchangeEngine::ReportMessage(const std::string& text, const std::string& caption, MessageIcon icon) {
  if (onTransmitThread()) {
    std::lock_guard lock(taskMutex_);
    if (taskActive_) {
      pendingMessages_.push_back({text, caption, icon});
      return;
    }
  }
  if (UserInterface* ui = userInterface()) ui->showMessage(text, caption, icon);
}

// ------------------------------------------------------------------ settings

void ExchangeEngine::setErrorLogPath(std::filesystem::path path) {
  std::lock_guard lock(errorLogMutex_);
  errorLog_ = std::move(path);
}

std::filesystem::path ExchangeEngine::errorLogPath() const {
  std::lock_guard lock(errorLogMutex_);
  return errorLog_;
}

void ExchangeEngine::AppendErrorLog(const Parameter& parameter) {
  if (parameter.comment.empty()) return;
  std::string name = parameter.name;
  if (parameter.hasIndex) name += strprintf(":%d", parameter.index);
  AppendErrorLog(name, parameter.comment);
}

void ExchangeEngine::AppendErrorLog(std::string_view name, std::string_view text) {
  if (text.empty()) return;
  std::lock_guard lock(errorLogMutex_);
  if (errorLog_.empty()) return;
  std::string line(name);
  line += " - ";
  line += text;
  line += '\n';
  // The log is opened for each line and closed again, so that it is complete whenever the
  // program ends; like every file of the program it holds Windows-1251 text.
  std::ofstream out(errorLog_, std::ios::binary | std::ios::app);
  if (!out) return;
  out << utf8ToCp1251(line);
}

void ExchangeEngine::setBatchJob(bool readJob, Event* jobEvent) {
  std::lock_guard lock(taskMutex_);
  batchReadJob_ = readJob;
  jobEvent_ = jobEvent;
}

}  // namespace kvtr
