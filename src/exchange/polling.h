// Cyclic polling of the scanners: the parameters of the scanners branch each carry a timer with
// their own period, and the polling thread reads every armed scanner when its timer expires and
// hands the result to whoever registered for results (the tree view, `kvtr poll`).
//
// The polling thread reads into a copy of the parameter and leaves the parameter itself alone:
// the thread that owns the tree takes a result over with ApplyScanResult, so no two threads ever
// write the same parameter.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "common/catalogue.h"
#include "common/clock.h"
#include "common/event.h"
#include "common/timer.h"
#include "model/parameter.h"

namespace kvtr {

class DescBranch;
class DeviceLink;

inline constexpr int kMinimumScanPeriodMs = 100;
inline constexpr std::string_view kScanPeriodRefusedText =
    "Период опроса должен быть задан числом в миллисекундах.\nПериод опроса не может быть меньше 100 миллисекунд";
inline constexpr std::string_view kScanThreadFailedText =
    trMark("Не могу запустить поток (ScanThread), необходимый для работы сканеров");

// Results of ScanOnce.
inline constexpr int kScanPosted = 0;
inline constexpr int kScanNotArmed = 1;
inline constexpr int kScanNoReceiver = 4;

// The timer of a scanner, hung on its parameter.
class ScannerTimer final : public ScanTimerHook {
 public:
  explicit ScannerTimer(Clock& clock) : timer(clock) {}
  Timer timer;
};

// One reading of a scanner.
struct ScanResult {
  std::uint32_t scanId = 0;
  Parameter* parameter = nullptr;
  std::chrono::system_clock::time_point scanStart;  // just before the exchange
  std::chrono::system_clock::time_point scanEnd;    // just after it
  int result = 0;                                   // of the read transaction
  std::string valueText;  // the value read, at most 511 characters; empty after a failure
  std::string errorText;  // the failure's text, at most 511 characters; empty after success
};

// Receives the results on the polling thread; a GUI hands them over to its own thread.
class ScanResultSink {
 public:
  virtual ~ScanResultSink() = default;
  virtual void scanResult(const ScanResult& result) = 0;
};

// Gives the parameter its timer (disarmed) and its scan identifier, its index. True when the
// parameter is a scanner afterwards.
bool CreateScanner(Parameter& parameter, Clock& clock);
// CreateScanner for every parameter under the branch that has no timer yet.
void CreateScanners(DescBranch& scanners, Clock& clock);
// The scanners under a branch: at each branch its own parameters that have a timer, in order,
// then its children in order.
[[nodiscard]] std::vector<Parameter*> CollectScanners(DescBranch& branch);
// A polling period typed by the operator: a whole number of milliseconds, at least 100.
[[nodiscard]] bool AcceptScanPeriod(std::string_view text, int& periodMs);
// On the thread that owns the tree: the parameter takes the result's value (after success) or
// its error text (after a failure).
void ApplyScanResult(const ScanResult& result);

class Polling {
 public:
  // The thread ends when the link's stop event is set.
  Polling(DeviceLink& link, Clock& clock);
  ~Polling();
  Polling(const Polling&) = delete;
  Polling& operator=(const Polling&) = delete;

  // 1 when already armed; else starts the timer with its first expiry one period from now and
  // that period, and returns 0.
  int ArmScanner(Parameter& parameter);
  // 1 when not armed; else stops the timer and returns 0.
  int DisarmScanner(Parameter& parameter);
  // Reads the scanner once and hands the result over: kScanPosted, kScanNotArmed, or
  // kScanNoReceiver (read, but nobody registered).
  int ScanOnce(Parameter& parameter);

  void setResultSink(ScanResultSink* sink) { sink_.store(sink); }

  // Starts the polling thread over the scanners of the branch, or over the given list: 0 when it
  // runs (or ran already), 1 when it could not be started. The list is fixed while it runs.
  int StartScanThread(DescBranch& scanners);
  int StartScanThread(std::vector<Parameter*> scanners);
  [[nodiscard]] bool scanThreadRunning() const;
  // After the stop event was set: waits up to `limit` for the thread to end, then for as long
  // as it takes. False when it overran the limit.
  bool StopScanThread(Clock::Duration limit);

 private:
  void ScanThread(std::vector<Parameter*> scanners);

  DeviceLink& link_;
  Clock& clock_;
  std::atomic<ScanResultSink*> sink_{nullptr};
  // Set whenever a scanner is armed or disarmed, so that the waiting thread looks again.
  Event rearmed_{EventReset::Automatic};
  mutable std::mutex threadMutex_;
  std::thread thread_;
  Event ended_{EventReset::Manual, true};
};

}  // namespace kvtr
