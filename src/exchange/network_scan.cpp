#include "exchange/network_scan.h"

#include <initializer_list>
#include <utility>

#include "common/catalogue.h"
#include "common/format.h"
#include "common/strings.h"
#include "model/net_rs485.h"
#include "protocol/device_link.h"
#include "protocol/network_settings.h"

namespace kvtr {

namespace {

constexpr std::string_view kSpeedName = "bps";
constexpr std::string_view kAddressName = "Addr";

// A port setting by name in any letter case: the speed's row is "bps" to the dialog.
Parameter* portSetting(NetRS485prg& node, std::string_view name) {
  for (const auto& p : node.parameters()) {
    if (equalsNoCase(p->name, name)) return p.get();
  }
  return nullptr;
}
Parameter* speedParameter(NetRS485prg& node) { return portSetting(node, kSpeedName); }

// One send to each address while the search runs; the link's retries come back however it ends.
class SingleSends {
 public:
  explicit SingleSends(DeviceLink& link) : link_(link), sends_(link.timeoutSends()) { link_.setTimeoutSends(1); }
  ~SingleSends() { link_.setTimeoutSends(sends_); }
  SingleSends(const SingleSends&) = delete;
  SingleSends& operator=(const SingleSends&) = delete;

 private:
  DeviceLink& link_;
  int sends_;
};

// Unlocks the settings list however the work ends.
class SettingsLock {
 public:
  explicit SettingsLock(ConnectionProgress& progress) : progress_(progress) { progress_.SettingsLocked(true); }
  ~SettingsLock() { unlock(); }
  SettingsLock(const SettingsLock&) = delete;
  SettingsLock& operator=(const SettingsLock&) = delete;
  void unlock() {
    if (locked_) progress_.SettingsLocked(false);
    locked_ = false;
  }

 private:
  ConnectionProgress& progress_;
  bool locked_ = true;
};

// The module answered: the status line says so, the list is unlocked and the dialog closes.
void reportFound(ConnectionProgress& progress, SettingsLock& lock) {
  progress.SetStatus(std::string(kConnectedStatusText), false);
  lock.unlock();
  progress.Connected();
}

// Nothing answered: the kept settings go back into their rows, and the port, left at the last
// settings tried, is opened again with them so that the next exchange does not go out at
// settings nobody chose. No failure is shown after an interruption.
void putBack(ConnectionProgress& progress, DeviceLink& link,
             std::initializer_list<std::pair<Parameter*, std::string>> kept, bool interrupted) {
  for (const auto& [parameter, value] : kept) {
    parameter->value = value;
    progress.SettingChanged(parameter->name, parameter->value);
  }
  (void)link.OpenLink(false);
  if (!interrupted) progress.SetStatus(std::string(kConnectFailedStatusText), true);
}

}  // namespace

std::string ScanningAtSpeedText(std::string_view speed) {
  return strprintf(trFormat("Идет сканирование на скорости %s..."), std::string(speed).c_str());
}

std::string SearchingAddressesText(int from, int to, std::string_view speed) {
  return strprintf(trFormat("Поиск по адресам %d..%d на скорости %s..."), from, to, std::string(speed).c_str());
}

std::vector<std::pair<std::string, std::string>> ApplyFactoryNetworkSettings(NetRS485prg& node) {
  std::vector<std::pair<std::string, std::string>> written;
  for (const auto& p : node.parameters()) {
    if (equalsNoCase(p->name, kPortParameterName)) continue;
    for (const auto& [name, value] : kFactoryNetworkSettings) {
      if (!equalsNoCase(p->name, name)) continue;
      p->value = std::string(value);
      written.emplace_back(p->name, p->value);
    }
  }
  return written;
}

ConnectionWorker::ConnectionWorker(DeviceLink& link, DeviceIdentifier identify, Event& abort,
                                   ConnectionProgress& progress)
    : link_(link), identify_(std::move(identify)), abort_(abort), progress_(progress) {}

ConnectionWorker::~ConnectionWorker() {
  if (thread_.joinable()) {
    abort_.set();
    thread_.join();
  }
}

bool ConnectionWorker::ConnectNow() {
  SettingsLock lock(progress_);
  const bool connected = Connect(link_, identify_, &abort_);
  lock.unlock();
  if (connected) {
    progress_.SetStatus(std::string(kConnectedStatusText), false);
    progress_.Connected();
  } else if (!aborted()) {
    progress_.SetStatus(std::string(kConnectFailedStatusText), true);
  }
  return connected;
}

ScanOutcome ConnectionWorker::Scan() {
  ScanOutcome outcome;
  SettingsLock lock(progress_);
  Parameter* speed = speedParameter(link_.programPortNode());
  if (speed == nullptr) {
    // Without a speed setting there is nothing to scan.
    lock.unlock();
    if (!aborted()) progress_.SetStatus(std::string(kConnectFailedStatusText), true);
    return outcome;
  }
  outcome.previousSpeed = speed->value;
  // The list is copied: the type text belongs to the node, which the user-interface thread
  // leaves alone only while the list is locked.
  const std::string choices = speed->type;
  for (const std::string_view item : splitTokens(choices, ":")) {
    if (aborted()) break;
    speed->value = std::string(item);
    progress_.SettingChanged(speed->name, speed->value);
    progress_.SetStatus(ScanningAtSpeedText(item), false);
    outcome.tried.emplace_back(item);
    if (Connect(link_, identify_, &abort_)) {
      outcome.found = true;
      outcome.speed = speed->value;
      reportFound(progress_, lock);
      return outcome;
    }
  }
  outcome.interrupted = aborted();
  putBack(progress_, link_, {{speed, outcome.previousSpeed}}, outcome.interrupted);
  return outcome;
}

ScanOutcome ConnectionWorker::SearchAddresses(int from, int to) {
  ScanOutcome outcome;
  SettingsLock lock(progress_);
  NetRS485prg& node = link_.programPortNode();
  Parameter* speed = speedParameter(node);
  Parameter* address = portSetting(node, kAddressName);
  if (speed == nullptr || address == nullptr || from > to) {
    lock.unlock();
    if (!aborted()) progress_.SetStatus(std::string(kConnectFailedStatusText), true);
    return outcome;
  }
  outcome.previousSpeed = speed->value;
  outcome.previousAddress = address->value;
  // The speed of the port settings first: a module whose address alone was lost answers there.
  std::vector<std::string> speeds{speed->value};
  const std::string choices = speed->type;
  for (const std::string_view item : splitTokens(choices, ":")) {
    if (item != outcome.previousSpeed) speeds.emplace_back(item);
  }

  {
    SingleSends once(link_);
    for (const std::string& item : speeds) {
      if (aborted()) break;
      speed->value = item;
      progress_.SettingChanged(speed->name, speed->value);
      progress_.SetStatus(SearchingAddressesText(from, to, item), false);
      outcome.tried.push_back(item);
      // The speed takes a reopening; the addresses change without one. A port that does not
      // open is asked all the same, as the connection procedure does, unless no port may be
      // used at all.
      (void)link_.OpenLink(false);
      if (link_.communicationOff()) break;
      for (int a = from; a <= to && !aborted(); ++a) {
        link_.SetBaseAddress(a);
        ++outcome.probes;
        if (identify_() != kIdentifyKvtr) continue;
        address->value = std::to_string(a);
        outcome.found = true;
        outcome.speed = item;
        outcome.address = address->value;
        break;
      }
      if (outcome.found) break;
    }
  }
  if (outcome.found) {
    progress_.SettingChanged(address->name, address->value);
    reportFound(progress_, lock);
    return outcome;
  }
  outcome.interrupted = aborted();
  putBack(progress_, link_, {{speed, outcome.previousSpeed}, {address, outcome.previousAddress}}, outcome.interrupted);
  return outcome;
}

void ConnectionWorker::Start(std::function<void()> ended) {
  if (thread_.joinable()) return;
  // The abort event stays set after the last dialog closed; a new worker starts without it.
  abort_.reset();
  ended_.reset();
  thread_ = std::thread([this, ended = std::move(ended)]() mutable { Run(std::move(ended)); });
}

void ConnectionWorker::Join() {
  if (thread_.joinable()) thread_.join();
}

void ConnectionWorker::Run(std::function<void()> ended) {
  for (;;) {
    // The abort event comes first: when it is set with a request, the request is dropped.
    const int which = waitAny({&abort_, &connect_, &scan_}, Clock::kInfinite);
    if (which == 0 || which < 0) break;
    if (which == 1) (void)ConnectNow();
    else (void)Scan();
  }
  ended_.set();
  if (ended) ended();
}

}  // namespace kvtr
