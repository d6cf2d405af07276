// The live state of the module's inputs, counters and outputs, as the window "Состояние входов
// и выходов" and `kvtr watch` show it. A worker reads the module every 100 ms: the input state
// word "r.cn" at every expiry, and in turns one counter row ("r.cou") or one output row ("r.oe"),
// so that each counter and each output is read every 200 ms times the number of its rows.
//
// The worker reads into copies of the parameters and keeps what it read in the monitor: the
// parameters of the tree are changed only on the thread that owns the tree (the counter reset,
// the output edits, ApplyToTree), so the worker and the user interface never write the same
// parameter.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "common/clock.h"
#include "common/event.h"
#include "common/timer.h"

namespace kvtr {

class DescBranch;
class ExchangeEngine;
class Parameter;

inline constexpr int kInputIndicatorCount = 12;
inline constexpr int kOutputIndicatorCount = 8;
inline constexpr std::string_view kInputsOutputsCaption = "Состояние входов и выходов";

// How an indicator is painted.
enum class IndicatorLook {
  Default,     // the dialog's background
  Orange,      // an input that is on
  LightGreen,  // an output fully on
  Hatched,     // an output driven by PWM (between off and on)
};
// An input indicator: "1" is on.
[[nodiscard]] IndicatorLook InputIndicatorLook(std::string_view state);
// An output indicator, from the output's value x: the integer part of x * 1000 is 0 - off,
// 1000 - on, anything else PWM.
[[nodiscard]] IndicatorLook OutputIndicatorLook(std::string_view state);

struct IoCell {
  std::string label;  // "Счетчик %i", "ШИМ выход %i" (index + 1)
  int index = 0;      // the parameter's index
  std::string value;  // the value read, or the error of the last read
  bool marked = false;  // shown in green: the next to be read, or being read
};

struct IoSnapshot {
  std::array<std::string, kInputIndicatorCount> inputs;          // state texts: "1" on, "0" off
  std::array<std::string, kOutputIndicatorCount> outputStates;   // the outputs' values
  std::vector<IoCell> counters;
  std::vector<IoCell> outputs;
  std::uint64_t ticks = 0;  // timer expiries handled so far
  // Whether the module answers: the error of the last read when it failed, empty after one that
  // succeeded. While it is not empty the values above are the last ones known, not live.
  std::string failure;
  // Reads in a row that got no answer (time-outs); a read that got any answer clears it.
  int failureStreak = 0;
  // The counter row read at this expiry, or -1 (an outputs' turn, a row being edited, no answer).
  int counterRead = -1;
};

// Receives a snapshot after every timer expiry, on the worker thread.
class IoListener {
 public:
  virtual ~IoListener() = default;
  virtual void ioStateChanged(const IoSnapshot& snapshot) = 0;
  // The worker has ended (after RequestStop or Stop), on the worker thread.
  virtual void ioWorkerEnded() {}
};

class InputsOutputsMonitor {
 public:
  static constexpr Clock::Duration kPeriod = std::chrono::milliseconds(100);
  static constexpr Clock::Duration kFirstExpiry = std::chrono::milliseconds(1);

  // The parameters are looked up in the scanners branch ("r.cn", every "r.cou" and "r.oe" by
  // ascending index); without "r.cn" the inputs are not read, without the others the lists
  // are empty. Values not known yet show as "0".
  InputsOutputsMonitor(ExchangeEngine& engine, DescBranch& scanners);
  // Stops the worker.
  ~InputsOutputsMonitor();
  InputsOutputsMonitor(const InputsOutputsMonitor&) = delete;
  InputsOutputsMonitor& operator=(const InputsOutputsMonitor&) = delete;

  void setListener(IoListener* listener) { listener_.store(listener); }

  // Starts the worker (timer: first expiry after 1 ms, then every 100 ms on the engine's clock).
  bool Start();
  // "Закрыть": asks the worker to stop and waits until it has, a read in progress included.
  void Stop();
  // Asks the worker to stop and returns at once: a window that must not block its event loop
  // waits for the listener's ioWorkerEnded (the read in progress has ended), then calls Stop.
  void RequestStop() { stopRequest_.set(); }
  [[nodiscard]] bool running() const;

  // One timer expiry: what the worker does each time. Also for tests.
  void Tick();

  [[nodiscard]] IoSnapshot Snapshot() const;

  // While a row is edited in place it is neither read nor marked.
  void SetOutputEditing(int row, bool editing);
  void SetCounterEditing(int row, bool editing);

  // "Сброс": the counter is set to 0 and written. On failure the user is told ("Ошибка записи
  // \"r.cou\"" with the module's error text); false then. Runs on the thread that owns the tree.
  bool ResetCounter(int row);
  // The end of an in-place edit of an output value: written; on success the cell shows it.
  bool CommitOutput(int row, const std::string& text);
  // "Вкл/Выкл все ВЭ": every output on when any is off, else every output off; no messages.
  void ToggleAllOutputs();

  // The values read so far go into the tree's parameters. On the thread that owns the tree.
  void ApplyToTree();

 private:
  struct Row {
    Parameter* parameter = nullptr;          // in the tree
    std::unique_ptr<Parameter> copy;         // what the worker reads into
    bool editing = false;
    bool read = false;  // the copy holds a value read by the worker
  };

  void Worker();
  int ReadRow(Row& row, IoCell& cell);
  // Keeps whether the module answered the read just made (under mutex_).
  void NoteRead(int result, const Parameter& copy);
  bool WriteRow(std::vector<Row>& rows, std::vector<IoCell>& cells, int row, const std::string& text,
                bool showMessage);
  void Notify();

  ExchangeEngine& engine_;
  Clock& clock_;
  std::atomic<IoListener*> listener_{nullptr};

  // The rows, the cells and the turn, under mutex_. An exchange runs under it too, so an edit
  // from the user interface waits for at most the one read the worker is doing.
  mutable std::mutex mutex_;
  Row inputWord_;
  std::vector<Row> counterRows_;
  std::vector<Row> outputRows_;
  IoSnapshot state_;
  bool countersTurn_ = true;
  int nextCounter_ = 0;
  int nextOutput_ = 0;
  int lastMarkedOutput_ = -1;

  Event stopRequest_{EventReset::Manual};
  Event workerEnded_{EventReset::Manual, true};
  Timer timer_;
  mutable std::mutex threadMutex_;
  std::thread worker_;
};

}  // namespace kvtr
