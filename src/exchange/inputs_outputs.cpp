#include "exchange/inputs_outputs.h"

#include <algorithm>
#include <cmath>

#include "common/catalogue.h"
#include "common/format.h"
#include "common/strings.h"
#include "exchange/exchange_engine.h"
#include "exchange/group_operations.h"
#include "model/desc_branch.h"
#include "model/parameter.h"

namespace kvtr {

namespace {

constexpr std::string_view kInputWordName = "r.cn";
constexpr std::string_view kCounterName = "r.cou";
constexpr std::string_view kOutputName = "r.oe";

void collectNamed(DescBranch& branch, std::string_view name, std::vector<Parameter*>& out) {
  branch.ForEachBranch([&](DescBranch& b) {
    for (const auto& p : b.parameters()) {
      if (equalsNoCase(p->name, name)) out.push_back(p.get());
    }
  });
}

// The cell of a value that is not known yet.
std::string initialCell(const Parameter& p) { return p.value == kNoDataText ? "0" : p.value; }

std::unique_ptr<Parameter> readingCopy(const Parameter& p) {
  auto copy = MakeExchangeCopy(p);
  // A polled parameter never exchanges its attributes; neither does its copy.
  if (p.isPolled()) copy->attributeMode = 0;
  copy->value = p.value;
  return copy;
}

}  // namespace

IndicatorLook InputIndicatorLook(std::string_view state) {
  return state == "1" ? IndicatorLook::Orange : IndicatorLook::Default;
}

IndicatorLook OutputIndicatorLook(std::string_view state) {
  const DecimalReading r = ReadDecimal(state);
  const double x = r.ok && std::isfinite(r.value) ? r.value : 0.0;
  const double scaled = std::trunc(x * 1000.0);
  if (scaled == 0.0) return IndicatorLook::Default;
  if (scaled == 1000.0) return IndicatorLook::LightGreen;
  return IndicatorLook::Hatched;
}

InputsOutputsMonitor::InputsOutputsMonitor(ExchangeEngine& engine, DescBranch& scanners)
    : engine_(engine), clock_(engine.clock()), timer_(engine.clock()) {
  std::vector<Parameter*> found;
  collectNamed(scanners, kInputWordName, found);
  if (!found.empty()) {
    inputWord_.parameter = found.front();
    inputWord_.copy = readingCopy(*found.front());
  }
  const auto makeRows = [&](std::string_view name, std::vector<Row>& rows, std::vector<IoCell>& cells,
                            const char* label) {
    std::vector<Parameter*> params;
    collectNamed(scanners, name, params);
    std::stable_sort(params.begin(), params.end(), [](const Parameter* a, const Parameter* b) { return a->index < b->index; });
    for (Parameter* p : params) {
      Row row;
      row.parameter = p;
      row.copy = readingCopy(*p);
      rows.push_back(std::move(row));
      cells.push_back({strprintf(label, p->index + 1), p->index, initialCell(*p), false});
    }
  };
  makeRows(kCounterName, counterRows_, state_.counters, "Счетчик %i");
  makeRows(kOutputName, outputRows_, state_.outputs, "ШИМ выход %i");

  unsigned word = 0;
  if (inputWord_.parameter != nullptr) {
    const DecimalReading r = ReadDecimal(inputWord_.parameter->value, false);
    if (r.ok && r.value >= 0) word = static_cast<unsigned>(r.value);
  }
  for (int k = 0; k < kInputIndicatorCount; ++k) state_.inputs[k] = (word >> k) & 1u ? "1" : "0";
  for (int k = 0; k < kOutputIndicatorCount; ++k) {
    state_.outputStates[k] = k < static_cast<int>(state_.outputs.size()) ? state_.outputs[k].value : "0";
  }
}

InputsOutputsMonitor::~InputsOutputsMonitor() { Stop(); }

bool InputsOutputsMonitor::Start() {
  std::lock_guard lock(threadMutex_);
  if (worker_.joinable()) return true;
  stopRequest_.reset();
  workerEnded_.reset();
  try {
    worker_ = std::thread([this] { Worker(); });
  } catch (const std::system_error&) {
    workerEnded_.set();
    return false;
  }
  return true;
}

void InputsOutputsMonitor::Stop() {
  std::thread worker;
  {
    std::lock_guard lock(threadMutex_);
    worker = std::move(worker_);
  }
  if (!worker.joinable()) return;
  stopRequest_.set();
  worker.join();
}

bool InputsOutputsMonitor::running() const {
  std::lock_guard lock(threadMutex_);
  return worker_.joinable() && !workerEnded_.isSet();
}

void InputsOutputsMonitor::Worker() {
  timer_.start(kFirstExpiry, kPeriod);
  for (;;) {
    const int woke = clock_.waitAny({&stopRequest_, &timer_}, Clock::kInfinite);
    if (woke == 0) break;
    if (woke == 1) Tick();
  }
  timer_.cancel();
  workerEnded_.set();
  if (IoListener* listener = listener_.load()) listener->ioWorkerEnded();
}

int InputsOutputsMonitor::ReadRow(Row& row, IoCell& cell) {
  const int result = engine_.operations().ReadParameter(*row.copy, false);
  row.read = true;
  cell.value = row.copy->comment.empty() ? row.copy->value : row.copy->comment;
  NoteRead(result, *row.copy);
  return result;
}

void InputsOutputsMonitor::NoteRead(int result, const Parameter& copy) {
  if (result == 0) {
    state_.failure.clear();
    state_.failureStreak = 0;
    return;
  }
  state_.failure = std::string(trimRight(copy.comment));
  if (state_.failure.empty()) state_.failure = strprintf(trFormat("ошибка обмена (%d)"), result);
  if (equalsNoCase(copy.comment, kTimeoutText) || result == kTransactPortClosed) ++state_.failureStreak;
  else state_.failureStreak = 0;
}

void InputsOutputsMonitor::Tick() {
  {
    std::lock_guard lock(mutex_);
    // A module that did not answer the input word is not asked for a row as well: the failure
    // limit counts one read per expiry, and the worker does not wait out two time-outs each time.
    bool silent = false;
    state_.counterRead = -1;
    if (inputWord_.copy != nullptr) {
      IoCell ignored;
      if (ReadRow(inputWord_, ignored) == 0) {
        const DecimalReading r = ReadDecimal(inputWord_.copy->value, false);
        const unsigned word = r.ok && r.value >= 0 ? static_cast<unsigned>(r.value) : 0u;
        for (int k = 0; k < kInputIndicatorCount; ++k) state_.inputs[k] = (word >> k) & 1u ? "1" : "0";
      } else {
        silent = state_.failureStreak > 0;
      }
    }
    // A row whose turn it is shows that failure instead of a value of its own.
    const auto visit = [this, silent](Row& row, IoCell& cell) {
      if (silent) cell.value = state_.failure;
      else (void)ReadRow(row, cell);
    };
    if (countersTurn_) {
      const int n = static_cast<int>(counterRows_.size());
      if (n > 0) {
        const int row = nextCounter_;
        const bool editing = counterRows_[row].editing;
        if (!editing) {
          visit(counterRows_[row], state_.counters[row]);
          if (!silent) state_.counterRead = row;
        }
        state_.counters[row].marked = false;
        nextCounter_ = (row + 1) % n;
        if (!editing) state_.counters[nextCounter_].marked = true;
      }
    } else {
      if (lastMarkedOutput_ >= 0) state_.outputs[lastMarkedOutput_].marked = false;
      lastMarkedOutput_ = -1;
      const int n = static_cast<int>(outputRows_.size());
      if (n > 0) {
        const int row = nextOutput_;
        Row& r = outputRows_[row];
        if (!r.editing) {
          state_.outputs[row].marked = true;
          lastMarkedOutput_ = row;
          visit(r, state_.outputs[row]);
          if (!silent && row < kOutputIndicatorCount && r.copy->value != state_.outputStates[row]) {
            state_.outputStates[row] = r.copy->value;
          }
        }
        nextOutput_ = (row + 1) % n;
      }
    }
    countersTurn_ = !countersTurn_;
    ++state_.ticks;
  }
  Notify();
}

void InputsOutputsMonitor::Notify() {
  IoListener* listener = listener_.load();
  if (listener == nullptr) return;
  listener->ioStateChanged(Snapshot());
}

IoSnapshot InputsOutputsMonitor::Snapshot() const {
  std::lock_guard lock(mutex_);
  return state_;
}

void InputsOutputsMonitor::SetOutputEditing(int row, bool editing) {
  std::lock_guard lock(mutex_);
  if (row >= 0 && row < static_cast<int>(outputRows_.size())) outputRows_[row].editing = editing;
}

void InputsOutputsMonitor::SetCounterEditing(int row, bool editing) {
  std::lock_guard lock(mutex_);
  if (row >= 0 && row < static_cast<int>(counterRows_.size())) counterRows_[row].editing = editing;
}

bool InputsOutputsMonitor::WriteRow(std::vector<Row>& rows, std::vector<IoCell>& cells, int row,
                                    const std::string& text, bool showMessage) {
  if (row < 0 || row >= static_cast<int>(rows.size())) return false;
  Parameter& p = *rows[row].parameter;
  p.value = text;
  int result = 0;
  std::string written;
  std::string comment;
  {
    std::lock_guard lock(mutex_);
    auto copy = readingCopy(p);
    copy->value = text;
    result = engine_.operations().WriteParameter(*copy, kWriteAll);
    written = copy->value;
    comment = copy->comment;
    if (result == 0) cells[row].value = written;
  }
  p.valueChanged = 0;
  p.comment = comment;
  if (result != 0) {
    if (showMessage) {
      engine_.ReportMessage(comment, strprintf(trFormat("Ошибка записи \"%s\""), p.name.c_str()), MessageIcon::Exclamation);
    }
    return false;
  }
  p.value = written;
  return true;
}

bool InputsOutputsMonitor::ResetCounter(int row) {
  const bool ok = WriteRow(counterRows_, state_.counters, row, "0", true);
  Notify();
  return ok;
}

bool InputsOutputsMonitor::CommitOutput(int row, const std::string& text) {
  const bool ok = WriteRow(outputRows_, state_.outputs, row, text, true);
  SetOutputEditing(row, false);
  Notify();
  return ok;
}

void InputsOutputsMonitor::ToggleAllOutputs() {
  bool anyOff = false;
  {
    std::lock_guard lock(mutex_);
    for (const IoCell& cell : state_.outputs) {
      const DecimalReading r = ReadDecimal(cell.value);
      if (!r.ok || r.value == 0.0) anyOff = true;
    }
  }
  const std::string text = anyOff ? "1" : "0";
  for (int row = 0; row < static_cast<int>(outputRows_.size()); ++row) {
    (void)WriteRow(outputRows_, state_.outputs, row, text, false);
  }
  Notify();
}

void InputsOutputsMonitor::ApplyToTree() {
  std::lock_guard lock(mutex_);
  const auto apply = [](Row& row) {
    if (row.parameter == nullptr || !row.read) return;
    row.parameter->value = row.copy->value;
    row.parameter->comment = row.copy->comment;
  };
  apply(inputWord_);
  for (Row& row : counterRows_) apply(row);
  for (Row& row : outputRows_) apply(row);
}

}  // namespace kvtr
