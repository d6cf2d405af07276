#include "exchange/polling.h"

#include <algorithm>

#include "exchange/group_operations.h"
#include "model/desc_branch.h"
#include "model/my_converter.h"
#include "protocol/device_link.h"

namespace kvtr {

namespace {

ScannerTimer* timerOf(Parameter& p) { return dynamic_cast<ScannerTimer*>(p.scanTimer.get()); }

void collect(DescBranch& branch, std::vector<Parameter*>& out) {
  for (const auto& p : branch.parameters()) {
    if (p->isPolled()) out.push_back(p.get());
  }
  for (const auto& child : branch.children) collect(*child, out);
}

}  // namespace

bool CreateScanner(Parameter& parameter, Clock& clock) {
  parameter.scanTimer = std::make_unique<ScannerTimer>(clock);
  parameter.scanId = static_cast<std::uint32_t>(parameter.index);
  parameter.scanArmed.store(false);
  return parameter.isPolled();
}

void CreateScanners(DescBranch& scanners, Clock& clock) {
  scanners.ForEachBranch([&clock](DescBranch& branch) {
    for (const auto& p : branch.parameters()) {
      if (!p->isPolled()) (void)CreateScanner(*p, clock);
    }
  });
}

std::vector<Parameter*> CollectScanners(DescBranch& branch) {
  std::vector<Parameter*> out;
  collect(branch, out);
  return out;
}

bool AcceptScanPeriod(std::string_view text, int& periodMs) {
  if (text.empty() || text.size() > 9) return false;
  int value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  if (value < kMinimumScanPeriodMs) return false;
  periodMs = value;
  return true;
}

void ApplyScanResult(const ScanResult& result) {
  if (result.parameter == nullptr) return;
  if (result.result == 0) {
    result.parameter->value = result.valueText;
    result.parameter->comment.clear();
  } else {
    result.parameter->comment = result.errorText;
  }
}

// ------------------------------------------------------------------ Polling

Polling::Polling(DeviceLink& link, Clock& clock) : link_(link), clock_(clock) {}

Polling::~Polling() {
  link_.serialPort().stopEvent().set();
  (void)StopScanThread(Clock::kInfinite);
}

int Polling::ArmScanner(Parameter& parameter) {
  ScannerTimer* hook = timerOf(parameter);
  if (hook == nullptr || parameter.scanArmed.load()) return 1;
  parameter.scanArmed.store(true);
  const auto period = std::chrono::milliseconds(std::max(parameter.scanPeriodMs, 1));
  hook->timer.start(period, period);
  rearmed_.set();
  return 0;
}

int Polling::DisarmScanner(Parameter& parameter) {
  if (!parameter.scanArmed.load()) return 1;
  parameter.scanArmed.store(false);
  if (ScannerTimer* hook = timerOf(parameter)) hook->timer.cancel();
  rearmed_.set();
  return 0;
}

int Polling::ScanOnce(Parameter& parameter) {
  if (!parameter.scanArmed.load()) return kScanNotArmed;
  ScanResult r;
  r.scanId = parameter.scanId;
  r.parameter = &parameter;
  // A polled parameter never exchanges its attributes.
  auto copy = MakeExchangeCopy(parameter);
  copy->attributeMode = 0;
  r.scanStart = std::chrono::system_clock::now();
  r.result = link_.Transact(true, copy.get());
  r.scanEnd = std::chrono::system_clock::now();
  if (r.result == 0) r.valueText = LimitScratchText(copy->value);
  else r.errorText = LimitScratchText(copy->comment);
  ScanResultSink* sink = sink_.load();
  if (sink == nullptr) return kScanNoReceiver;
  sink->scanResult(r);
  return kScanPosted;
}

int Polling::StartScanThread(DescBranch& scanners) { return StartScanThread(CollectScanners(scanners)); }

int Polling::StartScanThread(std::vector<Parameter*> scanners) {
  std::lock_guard lock(threadMutex_);
  if (thread_.joinable()) return 0;
  ended_.reset();
  try {
    thread_ = std::thread([this, list = std::move(scanners)]() mutable { ScanThread(std::move(list)); });
  } catch (const std::system_error&) {
    ended_.set();
    return 1;
  }
  return 0;
}

bool Polling::scanThreadRunning() const {
  std::lock_guard lock(threadMutex_);
  return thread_.joinable();
}

bool Polling::StopScanThread(Clock::Duration limit) {
  std::thread thread;
  {
    std::lock_guard lock(threadMutex_);
    thread = std::move(thread_);
  }
  if (!thread.joinable()) return true;
  const bool inTime = Clock::system().waitAny({&ended_}, limit) == 0;
  thread.join();
  return inTime;
}

void Polling::ScanThread(std::vector<Parameter*> scanners) {
  Event& stop = link_.serialPort().stopEvent();
  for (;;) {
    // Any number of scanners: the thread sleeps until the earliest expiry, the stop event, or a
    // change of the armed set, then reads every scanner that is due, in list order.
    Clock::TimePoint due = Clock::TimePoint::max();
    for (Parameter* p : scanners) {
      if (ScannerTimer* hook = timerOf(*p)) due = std::min(due, hook->timer.nextDue());
    }
    Waitable* const objects[] = {&stop, &rearmed_};
    const int woke = clock_.waitAnyUntil(objects, due);
    if (woke == 0) break;
    const Clock::TimePoint now = clock_.now();
    for (Parameter* p : scanners) {
      if (stop.isSet()) break;
      ScannerTimer* hook = timerOf(*p);
      if (hook != nullptr && hook->timer.tryTake(now)) (void)ScanOnce(*p);
    }
  }
  for (Parameter* p : scanners) (void)DisarmScanner(*p);
  ended_.set();
}

}  // namespace kvtr
