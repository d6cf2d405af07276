// The device link: the one road to the module. It owns the serial port and the port lock, turns
// a parameter into a request frame and the module's answer back into the parameter's value, and
// keeps the program's own port settings. A transaction reads or writes one parameter; before
// the value it may exchange the parameter's access attributes, and it knows that the module's
// network name ("CHAr*") lives in four indexed characters.
//
// Errors are results plus texts: every failure writes its text into the parameter's comment
// (and into the protocol log when one is given); nothing here shows a message except OpenLink,
// which reports a port that cannot be opened through the UserInterface.
//
// Threads. Transact runs on the exchange thread, the polling thread and the user-interface
// thread at once. The port lock is held for one frame exchange with all its retries (and while
// OpenLink reopens the port), so a transaction with an attribute exchange takes it twice and
// another thread's frame may fall between the two. The link status word and the protocol mode
// are atomics without a lock.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <vector>

#include "common/catalogue.h"
#include "model/net_rs485.h"
#include "model/parameter.h"
#include "protocol/frame_codec.h"
#include "protocol/protocol_switch.h"
#include "protocol/serial_port.h"

namespace kvtr {

class PortSettingsStorage;
class UserInterface;

// Results of Transact.
enum TransactResult : int {
  kTransactOk = 0,
  kTransactPortClosed = -1,          // port not open, no parameter, or (foreign modes) 11-bit addressing
  kTransactExchangeFailed = 1,       // the frame exchange failed; its text is in the comment
  kTransactUndecodable = 2,          // the answer could not be converted, or a bad network-name code
  kTransactNoWriteConversion = 3,    // the type cannot be written
  kTransactNotEncodable = 4,         // the value cannot be encoded, or a bad network name
  kTransactAttributesFailed = 200,   // the attribute exchange failed
  kTransactAttributeLength = 201,    // the attribute answer has the wrong length
};

// Values of the link status word. The lowest set bit n gives the exit code 200 + n of an
// unattended run.
namespace link_status {
inline constexpr std::uint32_t kWriteJobWithoutFile = 1;  // 200
inline constexpr std::uint32_t kPortNotOpened = 2;        // 201
inline constexpr std::uint32_t kNoAnswer = 4;             // 202
inline constexpr std::uint32_t kLineErrors = 8;           // 203: also a lost frame start
inline constexpr std::uint32_t kDeviceErrorReply = 16;    // 204
inline constexpr std::uint32_t kInterrupted = 32;         // 205
inline constexpr std::uint32_t kOtherDevice = 64;         // 206
}  // namespace link_status

// 0 when no flag is set, else 200 + the number of the lowest set bit.
[[nodiscard]] int exitCodeOfLinkStatus(std::uint32_t status);

// Texts the link writes.
inline constexpr std::string_view kPortNotOpenText = "Ошибка открытия порта";
inline constexpr std::string_view kPortDriverCaption = trMark("Ошибка драйвера последовательного порта");
inline constexpr std::string_view kTimeoutText = "Таймаут при передаче данных (нет связи)";
inline constexpr std::string_view kLineErrorsText = "Неверны настройки порта.";
inline constexpr std::string_view kLostFrameStartText = "Потеря начала посылки.";
inline constexpr std::string_view kUndecodableText = "Не могу раскодировать ответ";
inline constexpr std::string_view kNotEncodableText = "Неверное значение (неудается закодировать данные)";
inline constexpr std::string_view kAttributeLengthText = "Ошибка атрибутов; размер ответа не совпадает с ожидаемым.\n";

// The state the link shares with the rest of the program. The program has one, process-wide
// (processLinkState()); a link made for a test or a second line can be given its own.
struct LinkState {
  // The failure-flag word. Most failures store their value over the whole word; only the port
  // opening sets or clears its own bit.
  std::atomic<std::uint32_t> linkStatus{0};
  // 0 the device protocol; 1..3 the foreign framings while the switch command goes out.
  std::atomic<std::uint8_t> protocolMode{0};
  // A network setting of the module was written since the port was last opened: the APLY
  // follow-up is due.
  std::atomic<bool> networkSettingsWritten{false};

  // The stores of the link, as the exit codes need them (plain stores, not bit operations).
  void noteTimeout();        // 4, unless the word is 8: a time-out does not hide wrong settings
  void noteLineFailure();    // 8
  void noteFrameStart();     // 4 becomes 8
  void noteDeviceError();    // 16
  void notePortOpened(bool opened);  // clears or sets the bit 2 alone

  [[nodiscard]] ProtocolMode mode() const { return static_cast<ProtocolMode>(protocolMode.load()); }
};
[[nodiscard]] LinkState& processLinkState();

// The protocol log of a transaction: the lines of the single-parameter dialog and of
// `kvtr get --log`.
using ProtocolLogList = std::vector<std::string>;

// The answer of one native frame exchange: its data bytes.
struct FrameAnswer {
  std::array<std::uint8_t, kMaxFrameData> bytes{};
  std::size_t length = 0;
  [[nodiscard]] std::span<const std::uint8_t> data() const { return {bytes.data(), length}; }
};

struct DeviceLinkOptions {
  // The program's access level; above 1 allows the dangerous operations (writing attributes,
  // initialisation). The program runs at 2.
  int accessLevel = 2;
  // Where the program's port settings are loaded from and saved to when the link goes; none:
  // the defaults, and nothing is saved.
  PortSettingsStorage* settings = nullptr;
  // The program's state; none: processLinkState().
  LinkState* state = nullptr;
  // How OpenLink reports a port that cannot be opened; none: it does not.
  UserInterface* ui = nullptr;
  // The ports offered for "Port"; empty: the system's list.
  std::string portChoices;
};

class DeviceLink {
 public:
  explicit DeviceLink(const DeviceLinkOptions& options = {});
  // Destroys the program port node (which saves its values) and closes the port.
  virtual ~DeviceLink();
  DeviceLink(const DeviceLink&) = delete;
  DeviceLink& operator=(const DeviceLink&) = delete;

  // Reads (`read` true) or writes one parameter. In the foreign protocol modes the parameter's
  // contents are ignored and the protocol-switch command goes out instead (`parameter` may then
  // be none). `log` receives the protocol log lines and the transaction's own messages.
  // `forceAttributes` writes the attribute byte 3 (editable, the user's) instead of the
  // parameter's own attributes.
  [[nodiscard]] int Transact(bool read, Parameter* parameter, ProtocolLogList* log = nullptr,
                             bool forceAttributes = false);

  // One native request and its answer, with the retries: up to 4 sends on time-outs, 17 on line
  // errors, 16 when the answer does not start with '#'. "APLY" goes out exactly once and its
  // answer is not looked at. On failure `errorText` receives the reason (for an error reply
  // without a code, nothing) and the result is false.
  //
  // Only the answer to this request is taken. A frame for another parameter, or one whose data
  // does not end with `answerTail` (the index, which the module sends back after the value, or
  // the attribute exchange's index and hash), came late for an earlier request: it is dropped
  // and the right answer is awaited within the same reply time-out. When a frame for another
  // command is all that came, the exchange ends with its text. After a time-out the next
  // exchange first waits out one reply time-out and drops what arrives, so that an answer that
  // comes late is never taken for the next request (except while a search sends once to each
  // address: see setTimeoutSends).
  bool ExchangeFrame(bool read, std::uint16_t hash, std::span<const std::uint8_t> data, FrameAnswer& answer,
                     std::string& errorText, int addressOffset, std::span<const std::uint8_t> answerTail = {});

  // The protocol-switch command in a foreign framing: 0, -1 (11-bit addressing), or the link
  // errors 2..6. `answer` receives the bytes after the address.
  int ExchangeForeign(ProtocolMode mode, std::span<const std::uint8_t> payload, SwitchResponse& answer);

  // Turns an error reply into its text and stores 16 in the link status; with no data bytes
  // nothing happens.
  void DecodeDeviceError(std::span<const std::uint8_t> data, std::string& errorText);

  // Closes the port, takes the settings of the program port node and opens the port again.
  // Returns the port's open result, or -1 without opening while communication is off.
  int OpenLink(bool showMessage);

  // The port went away under an exchange (a USB converter pulled out, the other end of a
  // pseudo-terminal closed): it stays closed, and the link status carries the flag 2.
  [[nodiscard]] bool portLost() const;
  [[nodiscard]] bool portOpen() const { return portIsOpen(); }
  // What the operator is told when the port is not open: the program's message with the reason
  // ("Не удается открыть порт ... Проверьте сетевые параметры (порт занят другой программой)"),
  // or that the port went away; the reason of the last failure of the port.
  [[nodiscard]] std::string PortFailureText() const;

  // Opens the port with the settings it already has, and closes it: the exchange thread's own
  // opening when a task finds the port closed. The opening records its result in the link status
  // as every opening does; while communication is off it returns -1 without opening.
  int OpenPort();
  void ClosePort();

  // Sends of one request before a time-out gives up: 4 normally. A search over many addresses
  // sends once to each, since an address nobody listens at stays silent however often it is
  // asked. Line errors and lost frame starts keep their own retries.
  void setTimeoutSends(int sends) { timeoutSends_.store(sends < 1 ? 1 : sends); }
  [[nodiscard]] int timeoutSends() const { return timeoutSends_.load(); }
  // Frames go to another base address from the next exchange on, without reopening the port
  // (the program's port settings are left as they are).
  void SetBaseAddress(int address);

  // The port and the program's port settings.
  SerialPort& serialPort() { return port_; }
  NetRS485prg& programPortNode() { return *programPort_; }
  // The module's network settings in the tree, once the tree is built.
  void setDeviceNetworkNode(ObjectWithParameters* node) { deviceNetwork_ = node; }
  [[nodiscard]] ObjectWithParameters* deviceNetworkNode() const { return deviceNetwork_; }

  [[nodiscard]] bool dangerousOperationsAllowed() const { return dangerousAllowed_; }
  [[nodiscard]] LinkState& state() const { return *state_; }

  // The mode "Не передавать атрибуты параметров": no attribute exchanges while it is on.
  void setAttributesSuppressed(bool on) { attributesSuppressed_.store(on); }
  [[nodiscard]] bool attributesSuppressed() const { return attributesSuppressed_.load(); }
  // No communication ("silent"): OpenLink opens nothing.
  void setCommunicationOff(bool off) { communicationOff_.store(off); }
  [[nodiscard]] bool communicationOff() const { return communicationOff_.load(); }
  // In a batch run OpenLink shows no message.
  void setBatchMode(bool on) { batchMode_.store(on); }
  void setUserInterface(UserInterface* ui) { ui_ = ui; }
  [[nodiscard]] bool batchMode() const { return batchMode_.load(); }
  [[nodiscard]] UserInterface* userInterface() const { return ui_; }

 protected:
  // One exchange on the line, under the port lock: the serial port's exchange. A test can put a
  // scripted line below the link here.
  // `filter` (native answers only) drops the lines that are not the answer awaited; an empty
  // request only listens.
  virtual int exchangeOnPort(std::span<const std::uint8_t> request, std::span<char> response, int& received,
                             int protocolMode, AnswerFilter* filter);
  [[nodiscard]] virtual bool portIsOpen() const { return port_.isOpen(); }

 private:
  int TransactForeign(Parameter* parameter);
  int TransactNetworkName(bool read, Parameter& parameter, ProtocolLogList* log, bool forceAttributes,
                          bool attributesWanted);
  // The attribute exchange of `target`, with the attribute byte taken from `flagsFrom`.
  int ExchangeAttributes(bool read, Parameter& target, const Parameter& flagsFrom, bool forceAttributes);
  // The value exchange: data field, frame, answer.
  int ExchangeValue(bool read, Parameter& parameter, ProtocolLogList* log);
  // Under the port lock, before a request: waits out answers that may still come for an earlier
  // one that timed out, and drops them.
  void DropLateAnswers();

  SerialPort port_;
  std::mutex portLock_;
  std::unique_ptr<NetRS485prg> programPort_;
  const bool dangerousAllowed_;
  ObjectWithParameters* deviceNetwork_ = nullptr;
  LinkState* state_;
  UserInterface* ui_;
  std::atomic<int> timeoutSends_{4};
  // An earlier request timed out or drew a stale answer: more may still be on their way. Under
  // the port lock.
  bool lateAnswersDue_ = false;
  std::atomic<bool> attributesSuppressed_{false};
  std::atomic<bool> communicationOff_{false};
  std::atomic<bool> batchMode_{false};
};

}  // namespace kvtr
