// The work behind the connection dialog "Установка связи с прибором": connecting with the
// program's port settings, scanning every transmission speed for the module, and the factory
// network settings. The dialog (or the command-line tool) shows what happens through
// ConnectionProgress; the worker changes the program's port settings and does every exchange.
//
// The worker runs either on its own thread (Start, then RequestConnect / RequestScan from the
// user-interface thread, ended by the abort event) or synchronously (ConnectNow, Scan) on the
// caller's thread. Either way the abort event interrupts it: the identification or switch
// command under way finishes, nothing further goes out, and no failure is reported.
#pragma once

#include <atomic>
#include <functional>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "common/event.h"
#include "exchange/connection.h"

namespace kvtr {

class DeviceLink;
class NetRS485prg;

inline constexpr std::string_view kConnectedStatusText = "Связь установлена!";
inline constexpr std::string_view kConnectFailedStatusText = "Не удалось установить связь с прибором!";
inline constexpr std::string_view kScanningStatusText = "Идет сканирование...";
inline constexpr std::string_view kInterruptingStatusText = "Прерывание операции...";
inline constexpr std::string_view kConnectedMessageText = "Связь с прибором установлена!";
// "Идет сканирование на скорости %s..." with the speed.
[[nodiscard]] std::string ScanningAtSpeedText(std::string_view speed);
// "Поиск по адресам %d..%d на скорости %s..." with the range and the speed.
[[nodiscard]] std::string SearchingAddressesText(int from, int to, std::string_view speed);

// What the dialog shows of the worker. Calls come on the worker's thread.
class ConnectionProgress {
 public:
  virtual ~ConnectionProgress() = default;
  // The status line; `alarm` marks a failure (red, with the exclamation beep).
  virtual void SetStatus(const std::string& text, bool alarm) = 0;
  // A port setting got a new value from the worker (the speed being tried, the kept speed put
  // back): its row shows it.
  virtual void SettingChanged(const std::string& name, const std::string& value) {
    (void)name;
    (void)value;
  }
  // The settings list is locked while the worker exchanges and unlocked after.
  virtual void SettingsLocked(bool locked) { (void)locked; }
  // The module answered: the dialog closes with OK.
  virtual void Connected() {}
};

struct ScanOutcome {
  bool found = false;
  bool interrupted = false;
  // The speed the module answered at ("19200"); empty when none.
  std::string speed;
  // The speed the scan started from, put back when nothing answered.
  std::string previousSpeed;
  // The speeds tried, in order.
  std::vector<std::string> tried;
  // The address search: the address the module answered at ("37"; empty when none), the one
  // the search started from, and how many addresses were asked.
  std::string address;
  std::string previousAddress;
  int probes = 0;
};

// The factory network settings of the module, in the order of the port-settings rows. The port
// itself keeps its value.
inline constexpr std::pair<std::string_view, std::string_view> kFactoryNetworkSettings[] = {
    {"bPS", "9600"}, {"LEn", "8"}, {"PrtY", "Отсутствует"}, {"Sbit", "1"}, {"A.Len", "8"}, {"Addr", "16"}};

// Writes the factory values into the program's port settings (the port stays) and returns the
// settings written, in row order, for the rows to show. The button "Заводские сетевые
// настройки" does this on the user-interface thread and then connects.
std::vector<std::pair<std::string, std::string>> ApplyFactoryNetworkSettings(NetRS485prg& node);

class ConnectionWorker {
 public:
  // `abort` is the engine's abort event: the dialog's stop signal. `identify` is the engine's
  // IdentifyDevice(0).
  ConnectionWorker(DeviceLink& link, DeviceIdentifier identify, Event& abort, ConnectionProgress& progress);
  // Ends the thread (sets the abort event) when one runs.
  ~ConnectionWorker();
  ConnectionWorker(const ConnectionWorker&) = delete;
  ConnectionWorker& operator=(const ConnectionWorker&) = delete;

  // ------------------------------------------------------------ on the caller's thread

  // "Установить связь": Connect with the program's port settings as they are.
  bool ConnectNow();
  // "Сканирование сети": Connect at every speed of the port settings' "bPS" list in its order
  // until the module answers. The speed found stays in the port settings; when none answers the
  // kept one is put back and the port is opened with it again.
  ScanOutcome Scan();
  // The search for a module whose address is lost as well: every address from `from` to `to`
  // at the speed of the port settings, then at each other speed of the "bPS" list in its order,
  // one 'dev' request to each address (a silent address is not asked again). The speed and the
  // address found stay in the port settings; when none answers both are put back and the port
  // is opened with them again. The addresses are asked in rising order, so the one found is the
  // lowest the module answers at: its base address when the range starts at or below it.
  ScanOutcome SearchAddresses(int from, int to);

  // ------------------------------------------------------------ on a thread of its own

  // Starts the worker thread, with the abort event reset (an earlier dialog leaves it set);
  // `ended` is called on it once it has ended (after the abort event), when `workerEnded` is
  // already set: the dialog then repeats its pending command.
  void Start(std::function<void()> ended = {});
  void RequestConnect() { connect_.set(); }
  void RequestScan() { scan_.set(); }
  // Set when the worker thread has ended.
  Event& workerEnded() { return ended_; }
  // Waits for the thread once it was asked to end.
  void Join();

 private:
  void Run(std::function<void()> ended);
  [[nodiscard]] bool aborted() const { return abort_.isSet(); }

  DeviceLink& link_;
  DeviceIdentifier identify_;
  Event& abort_;
  ConnectionProgress& progress_;
  Event connect_{EventReset::Automatic};
  Event scan_{EventReset::Automatic};
  Event ended_{EventReset::Manual};
  std::thread thread_;
};

}  // namespace kvtr
