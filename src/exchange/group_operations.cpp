#include "exchange/group_operations.h"

#include "common/catalogue.h"
#include "common/format.h"
#include "common/strings.h"
#include "exchange/exchange_engine.h"
#include "model/parameter.h"
#include "protocol/network_settings.h"

namespace kvtr {

namespace {

constexpr std::string_view kReadPrefix = trMark("  Чтение: ");
constexpr std::string_view kWritePrefix = trMark("  Запись: ");
constexpr std::string_view kComparePrefix = trMark("  Сравниваем: ");
constexpr std::string_view kNewValueSuffix = trMark(" [новое значение]");
constexpr std::string_view kCalibrationName = "clb.k";
// The factory values of the calibration table: the even entries are the zero points, the odd
// ones the full scale of the 12-bit converter.
constexpr std::string_view kCalibrationZero = "0";
constexpr std::string_view kCalibrationFull = "4095";
// Differences described in the compare report; the rest are only counted.
constexpr int kReportedDifferences = 10;

std::string nameWithIndex(std::string_view prefix, const Parameter& p) {
  std::string text(prefix);
  text += p.name;
  if (p.hasIndex) text += strprintf(":%i", p.index);
  return text;
}

bool isTimeoutComment(const Parameter& p) { return equalsNoCase(p.comment, kTimeoutText); }

std::string editableText(bool editable) { return editable ? tr("Редактируемый") : tr("Не редактируемый"); }
std::string ownerText(bool firm) { return firm ? tr("фирме") : tr("пользователю"); }

}  // namespace

std::string ReadFailureLimitText(int streak, bool automaticReadingWasOn) {
  std::string text = strprintf(
      trFormat("Так как прошло %i неудачных попыток чтения параметров подряд,\nпохоже что прибор КВТР не подключен к "
               "компьютеру\n(или связь стабильно отсутствует по какой-либо другой причине). \nРади избежания "
               "бессмысленных задержек и торможения компьютера\n"),
      streak);
  if (automaticReadingWasOn) {
    text += tr("режим автоматического чтения параметров был отключен.\nВы можете заново включить этот режим в меню "
               "'Вид'.\n\n");
  }
  text += tr("Операции обмена приостановлены.");
  return text;
}

std::unique_ptr<Parameter> MakeExchangeCopy(const Parameter& p) {
  auto copy = std::make_unique<Parameter>(p.name);
  copy->type = p.type;
  copy->precision = p.precision;
  copy->minimum = p.minimum;
  copy->maximum = p.maximum;
  copy->description = p.description;
  copy->hasIndex = p.hasIndex;
  copy->index = p.index;
  copy->attributeMode = p.attributeMode;
  copy->addressOffset = p.addressOffset;
  return copy;
}

bool IsKvtrDeviceName(std::string_view answer) {
  std::string bare;
  for (const char c : answer) {
    if (c != '-') bare.push_back(c);
  }
  return equalsNoCase(bare, "kvtr");
}

// ------------------------------------------------------------------ steps

bool GroupOperations::aborted() { return engine_.aborted(); }

void GroupOperations::LogLine(const std::string& line) { engine_.LogLine(line); }

int GroupOperations::ReadParameter(Parameter& p, bool countFailures) {
  TaskCounters& counters = engine_.counters();
  counters.processedCount.fetch_add(1);
  if (p.index < 0) return kStepSkipped;
  const std::string prefix = nameWithIndex(tr(kReadPrefix.data()), p);

  const int result = engine_.Transact(true, &p);
  if (result != 0) engine_.AppendErrorLog(p);
  if (result != 0 && StopIfPortLost(result)) {
    // Nothing more can be read: the walk ends here.
  } else if (result == 0 || !isTimeoutComment(p)) {
    counters.failureStreak.store(0);
    if (ExchangeEvents* events = engine_.events()) events->documentModified();
  } else {
    CountReadTimeout(countFailures);
  }
  LogLine(prefix + " = " + p.value);
  return result;
}

bool GroupOperations::StopIfPortLost(int result) {
  const bool neverOpened =
      result == kTransactPortClosed && !engine_.portOpen() && !engine_.communicationOff();
  if (!engine_.portLost() && !neverOpened) return false;
  // The first step to find the port gone tells; the steps that may still follow in the same
  // walk find the task stopped.
  if (engine_.abortEvent().isSet()) return true;
  engine_.abortEvent().set();
  const std::string text = engine_.PortFailureText();
  engine_.AppendErrorLog(kPortParameterName, text);
  if (engine_.batchMode()) {
    if (ExchangeEvents* events = engine_.events()) events->portLost(text);
  } else {
    engine_.ReportMessage(text, tr(kPortDriverCaption.data()), MessageIcon::Stop);
  }
  return true;
}

void GroupOperations::CountReadTimeout(bool countFailures) {
  if (!countFailures) return;
  TaskCounters& counters = engine_.counters();
  const int streak = counters.failureStreak.fetch_add(1) + 1;
  if (streak < kFailureLimit) return;
  // The module seems to be gone: stop the task rather than wait out every parameter, and stop
  // the automatic reading that would start it again.
  const bool wasAutomatic = engine_.automaticReading();
  if (wasAutomatic) {
    engine_.setAutomaticReading(false);
    if (ExchangeEvents* events = engine_.events()) events->automaticReadingSwitchedOff();
  }
  counters.failureStreak.store(0);
  engine_.abortEvent().set();
  if (!engine_.batchMode()) {
    engine_.ReportMessage(ReadFailureLimitText(streak, wasAutomatic), tr(kApplicationCaption.data()),
                          MessageIcon::Stop);
  }
}

int GroupOperations::WriteParameter(Parameter& p, int mode) {
  engine_.counters().processedCount.fetch_add(1);
  const std::string prefix = nameWithIndex(tr(kWritePrefix.data()), p);
  const bool initial = NormalizeWriteMode(mode) == kWriteInitial;
  const std::string text = initial ? p.pendingText : p.value;
  if (text == kNoDataText) {
    p.comment = kNotInitialisedText;
    return kStepNotInitialised;
  }
  if (p.index < 0) return kStepSkipped;
  std::string sent = text;
  if (initial && equalsNoCase(p.name, kCalibrationName)) {
    sent = p.index % 2 == 0 ? kCalibrationZero : kCalibrationFull;
  }
  // Whatever the value came from (the operator, a file changed outside the program, the
  // descriptor), the value rules decide before anything goes out. A refusal is no exchange
  // failure: it does not count towards the failure limit.
  const ValueCheck check = p.CheckText(sent);
  if (check.writable && !check.accepted) {
    p.comment = ValueNotWrittenText(sent, check);
    engine_.AppendErrorLog(p);
    LogLine(prefix + " = " + text + " [" + p.comment + "]");
    std::lock_guard lock(reportMutex_);
    refusedValues_.push_back(nameWithIndex("", p) + " - " + p.comment);
    return kStepValueRefused;
  }
  // What goes out is the text as the value rules keep it ("0,7" as 0.700); a parameter the
  // module takes no value for is left to the exchange, which says so.
  if (check.accepted) p.value = check.stored;
  else if (initial) p.value = sent;

  const int result = engine_.Transact(false, &p);
  if (result == 0) {
    if (IsNetworkSettingName(p.name)) engine_.state().networkSettingsWritten.store(true);
    engine_.counters().failureStreak.store(0);
  } else {
    engine_.AppendErrorLog(p);
  }
  LogLine(prefix + " = " + text + std::string(tr(kNewValueSuffix.data())));
  if (result != 0 && !StopIfPortLost(result)) CountWriteFailure(p, result);
  return result;
}

void GroupOperations::CountWriteFailure(const Parameter& p, int result) {
  if (result >= 0 && !isTimeoutComment(p)) return;
  TaskCounters& counters = engine_.counters();
  if (counters.failureStreak.fetch_add(1) + 1 < kFailureLimit) return;
  LogLine(std::string(kWriteFailureLimitText));
  counters.failureStreak.store(0);
  engine_.abortEvent().set();
  engine_.state().linkStatus.store(link_status::kNoAnswer);
}

int GroupOperations::CompareParameter(Parameter& p) {
  TaskCounters& counters = engine_.counters();
  // The walk counts the parameter after its step, whatever the step did.
  struct CountAfter {
    TaskCounters& c;
    ~CountAfter() { c.processedCount.fetch_add(1); }
  } countAfter{counters};

  if (engine_.abortEvent().isSet()) return kStepAborted;
  auto device = MakeExchangeCopy(p);
  if (p.index < 0) return kStepSkipped;
  std::string line = tr(kComparePrefix.data()) + p.name + "=" + p.value;
  if (p.hasIndex) line += strprintf(":%i", p.index);

  const int result = engine_.Transact(true, device.get());
  LogLine(line + "<>" + device->value);

  if (result != 0) {
    // What could not be read is not known to differ: it is reported with its error instead, and
    // a module that stopped answering stops the compare as it stops a read.
    engine_.AppendErrorLog(*device);
    const int failures = counters.compareFailures.fetch_add(1);
    if (failures < kReportedDifferences) {
      std::lock_guard lock(reportMutex_);
      compareFailureReport_ += nameWithIndex("", p) + " - " + std::string(trimRight(device->comment)) + "\n";
    }
    if (StopIfPortLost(result)) return result;
    if (isTimeoutComment(*device)) CountReadTimeout(true);
    else counters.failureStreak.store(0);
    return result;
  }
  counters.failureStreak.store(0);

  const bool differs = device->value != p.value || device->editable != p.editable || device->ownerFirm != p.ownerFirm;
  if (!differs) return result;
  const int before = counters.differenceCount.fetch_add(1);
  if (before >= kReportedDifferences) return result;
  {
    std::lock_guard lock(reportMutex_);
    // The name with its index, so that each of the instances is told apart ("C.Mod:3").
    compareReport_ += strprintf(trFormat("\n%i) Параметер '%s (%s) в конфигурации: значение=%s,%s,принадлежит %s; в "
                                         "приборе: значение=%s,%s,принадлежит %s.\n"),
                                before + 1, nameWithIndex("", p).c_str(), p.description.c_str(), p.value.c_str(),
                                editableText(p.editable).c_str(), ownerText(p.ownerFirm).c_str(),
                                device->value.c_str(), editableText(device->editable).c_str(),
                                ownerText(device->ownerFirm).c_str());
  }
  std::string comment = std::string(kDeviceValuePrefix) + " '" + device->value + "'," +
                        (device->editable ? "Ред-ый," : "Не ред-ый,") + (device->ownerFirm ? "фирм." : "польз.");
  if (!p.comment.empty()) comment += "; ";
  p.comment = comment + p.comment;
  return result;
}

// ------------------------------------------------------------------ refused values

void GroupOperations::ClearRefusedValues() {
  std::lock_guard lock(reportMutex_);
  refusedValues_.clear();
}

std::vector<std::string> GroupOperations::refusedValues() const {
  std::lock_guard lock(reportMutex_);
  return refusedValues_;
}

// ------------------------------------------------------------------ compare report

void GroupOperations::ClearCompareReport() {
  std::lock_guard lock(reportMutex_);
  compareReport_.clear();
  compareFailureReport_.clear();
  engine_.counters().differenceCount.store(0);
  engine_.counters().compareFailures.store(0);
}

int GroupOperations::compareFailureCount() const { return engine_.counters().compareFailures.load(); }

std::string GroupOperations::compareFailureReport() const {
  std::lock_guard lock(reportMutex_);
  return compareFailureReport_;
}

int GroupOperations::differenceCount() const { return engine_.counters().differenceCount.load(); }

std::string GroupOperations::compareReport() const {
  std::lock_guard lock(reportMutex_);
  return compareReport_;
}

std::string GroupOperations::CompareResultText() const {
  const int count = differenceCount();
  std::string text;
  if (count == 0) {
    text = tr(kNoDifferencesText.data());
  } else {
    text = strprintf(trFormat("Обнаружено %i отличий"), count);
    if (count > kReportedDifferences) text += tr(kOnlyFirstTenText.data());
    text += ":\n";
    text += compareReport();
  }
  const int failures = compareFailureCount();
  if (failures > 0) {
    text += strprintf(trFormat("\n\nНе сравнивались %i параметров: их не удалось прочитать из прибора"), failures);
    if (failures > kReportedDifferences) text += tr(kOnlyFirstTenText.data());
    text += ":\n";
    text += compareFailureReport();
  }
  return text;
}

void GroupOperations::ShowCompareResult(UserInterface& ui) const {
  ui.showMessage(CompareResultText(), tr(kCompareResultCaption.data()), MessageIcon::Information);
}

// ------------------------------------------------------------------ identification, instant write

DeviceIdentity GroupOperations::Identify(bool showMessages) {
  DeviceIdentity id;
  Parameter dev("dev");
  if (engine_.Transact(true, &dev) == 0) {
    id.device = dev.value;
    id.info = tr("Прибор: ") + dev.value + "\n";
    id.result = IsKvtrDeviceName(dev.value) ? 3 : 2;
  } else {
    id.errors = tr("Ошибка команды 'dev':\n") + dev.comment + "\n";
  }
  Parameter ver("ver");
  if (engine_.Transact(true, &ver) == 0) {
    id.version = ver.value;
    id.info += tr("Версия ПО: ") + ver.value;
  } else {
    id.errors += tr("Ошибка команды 'ver':\n") + ver.comment;
  }
  if (showMessages) {
    if (!id.errors.empty()) engine_.ReportMessage(id.errors, tr("Ошибка"), MessageIcon::Stop);
    if (!id.info.empty()) engine_.ReportMessage(id.info, tr(kDeviceInfoCaption.data()), MessageIcon::Information);
  }
  return id;
}

int GroupOperations::InstantWrite(Parameter& p) {
  if (!p.valueChanged || !engine_.immediateWriting()) return kInstantWriteNotDone;
  p.comment.clear();
  return WriteParameter(p, kWriteAll);
}

}  // namespace kvtr
