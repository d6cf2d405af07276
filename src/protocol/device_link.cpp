#include "protocol/device_link.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>

#include "common/catalogue.h"
#include "common/format.h"
#include "common/strings.h"
#include "common/user_interface.h"
#include "protocol/device_errors.h"
#include "protocol/frame_trace.h"
#include "protocol/network_port_name.h"
#include "protocol/network_settings.h"
#include "protocol/port_names.h"
#include "protocol/protocol_log.h"
#include "protocol/serial_results.h"

namespace kvtr {

namespace {

// Retries of one frame exchange, counted separately: 3 after a time-out (4 sends, unless the link
// is told otherwise), 16 after a line error (17 sends), 15 after an answer without a frame start
// (16 sends).
constexpr int kLineErrorRetries = 16;
constexpr int kLostStartRetries = 15;

constexpr std::string_view kNetworkNameParameter = "CHAr*";
constexpr std::string_view kNetworkNameCharacter = "CHAr";

constexpr std::string_view kNameCodeInvalidText = "Недопустимый код символа в сетевом имени (CHAr)";
constexpr std::string_view kNameEmptyText = "Сетевое имя пусто (CHAr)";
constexpr std::string_view kNameTooLongText = "Сетевое имя слишком длинное (CHAr)";
constexpr std::string_view kNameBadCharacterText = "Недопустимый символ в сетевом имени (CHAr)";
constexpr std::string_view kStrangeConversionText = "Предупреждение: странный ответ от ConvertToData(...)";

// A setting's text as a number, as the program always read it: the leading decimal digits.
int decimalSetting(std::string_view text, int fallback) {
  const DecimalReading r = ReadDecimal(text, false);
  if (!r.ok || !std::isfinite(r.value) || std::fabs(r.value) > 2147483647.0) return fallback;
  return static_cast<int>(r.value);
}

void appendLines(ProtocolLogList* log, const std::vector<std::string>& lines) {
  if (log != nullptr) log->insert(log->end(), lines.begin(), lines.end());
}

void logLine(ProtocolLogList* log, std::string_view line) {
  if (log != nullptr) log->emplace_back(line);
}

// Characters of a UTF-8 text (a name is counted as the operator typed it).
std::size_t characterCount(std::string_view text) {
  return static_cast<std::size_t>(
      std::count_if(text.begin(), text.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
}

// The character of a network-name code with its point: code / 2 is the alphabet index, an odd
// code marks a '.' after the character.
void appendNameCharacter(std::string& out, unsigned code) {
  out.push_back(NetworkNameChar(code / 2u));
  if (code & 1u) out.push_back('.');
}

// Takes the answer to one request and turns down what came for another: a frame for another
// parameter, or one whose data does not end with what the request's answer carries back (its
// index). Error replies, damaged frames and lines without a frame start are the request's to
// judge, as they always were.
class RequestAnswerFilter final : public AnswerFilter {
 public:
  RequestAnswerFilter(std::uint16_t hash, std::span<const std::uint8_t> tail) : hash_(hash), tail_(tail) {}

  bool accept(std::string_view line) override {
    const ParsedResponse parsed = parseResponse(line, hash_);
    if (parsed.status == ResponseStatus::OtherHash) {
      otherCommand = true;
      stale = true;
      return false;
    }
    if (parsed.status != ResponseStatus::Ok || tail_.empty()) return true;
    // An answer too short to carry anything before what it sends back is the request's to judge
    // (a wrong length is an error of its own).
    const std::span<const std::uint8_t> data = parsed.data();
    if (data.size() <= tail_.size()) return true;
    if (std::equal(tail_.begin(), tail_.end(), data.end() - static_cast<std::ptrdiff_t>(tail_.size()))) {
      return true;
    }
    stale = true;
    return false;
  }

  bool otherCommand = false;  // in the current send
  bool stale = false;         // in any send

 private:
  std::uint16_t hash_;
  std::span<const std::uint8_t> tail_;
};

// Turns every line down, counting them: what waiting out late answers drops.
class DropAll final : public AnswerFilter {
 public:
  bool accept(std::string_view) override {
    ++dropped;
    return false;
  }
  int dropped = 0;
};

// The reason told after the program's message that the port cannot be opened.
std::string portFailureReason(serial::PortFailure failure, int code) {
  using serial::PortFailure;
  switch (failure) {
    case PortFailure::NoSuchPort: return tr("такого порта в системе нет");
    case PortFailure::Busy: return tr("порт занят другой программой");
    case PortFailure::NotSerial: return tr("это не последовательный порт");
    case PortFailure::NoPermission:
      return tr("нет прав доступа к порту; пользователь должен входить в группу dialout: sudo usermod -aG dialout "
                "ИМЯ, затем войти в систему заново");
    case PortFailure::Settings: return tr("порт не принимает заданные настройки линии");
    case PortFailure::Other: return tr("системная ошибка ") + std::to_string(code);
    case PortFailure::NoConnection: return tr("шлюз не принимает соединение по сети");
    case PortFailure::None:
    case PortFailure::Vanished: break;
  }
  return {};
}

}  // namespace

// ------------------------------------------------------------------ link state

int exitCodeOfLinkStatus(std::uint32_t status) {
  if (status == 0) return 0;
  return 200 + std::countr_zero(status);
}

void LinkState::noteTimeout() {
  if (linkStatus.load() != link_status::kLineErrors) linkStatus.store(link_status::kNoAnswer);
}

void LinkState::noteLineFailure() { linkStatus.store(link_status::kLineErrors); }

void LinkState::noteFrameStart() {
  if (linkStatus.load() == link_status::kNoAnswer) linkStatus.store(link_status::kLineErrors);
}

void LinkState::noteDeviceError() { linkStatus.store(link_status::kDeviceErrorReply); }

void LinkState::notePortOpened(bool opened) {
  if (opened) linkStatus.fetch_and(~link_status::kPortNotOpened);
  else linkStatus.fetch_or(link_status::kPortNotOpened);
}

LinkState& processLinkState() {
  static LinkState state;
  return state;
}

// ------------------------------------------------------------------ construction

DeviceLink::DeviceLink(const DeviceLinkOptions& options)
    : programPort_(std::make_unique<NetRS485prg>()),
      dangerousAllowed_(options.accessLevel > 1),
      state_(options.state != nullptr ? options.state : &processLinkState()),
      ui_(options.ui) {
  programPort_->portChoices = options.portChoices.empty() ? SerialPort::listPorts() : options.portChoices;
  programPort_->RebuildParameters();
  if (options.settings != nullptr) {
    BindProgramPortNode(*programPort_, *options.settings);
    port_.setComPortMap(parseComPortMap(options.settings->LoadPortSettings().comPortMap));
  }
}

DeviceLink::~DeviceLink() {
  programPort_.reset();
  std::lock_guard lock(portLock_);
  (void)port_.close();
}

int DeviceLink::exchangeOnPort(std::span<const std::uint8_t> request, std::span<char> response, int& received,
                               int protocolMode, AnswerFilter* filter) {
  return port_.exchange(request, response, received, protocolMode, filter);
}

bool DeviceLink::portLost() const { return !portIsOpen() && port_.failure() == serial::PortFailure::Vanished; }

std::string DeviceLink::PortFailureText() const {
  const std::string name = port_.settings().portName;
  if (port_.failure() == serial::PortFailure::Vanished) {
    if (isNetworkPortName(name)) {
      return strprintf(trFormat("Порт %s пропал во время обмена (соединение со шлюзом разорвано?). Связь с сетью "
                                "отсутствует. Операции обмена прекращены."),
                       name.c_str());
    }
    return strprintf(trFormat("Порт %s пропал во время обмена (преобразователь отключен от компьютера?). Связь с сетью "
                              "отсутствует. Операции обмена прекращены."),
                     name.c_str());
  }
  std::string text =
      strprintf(trFormat("Не удается открыть порт %s. Связь с сетью отсутствует. Проверьте сетевые параметры"), name.c_str());
  const std::string reason = portFailureReason(port_.failure(), port_.failureCode());
  if (!reason.empty()) text += " (" + reason + ")";
  return text;
}

void DeviceLink::DropLateAnswers() {
  if (!lateAnswersDue_) return;
  lateAnswersDue_ = false;
  // A search sends once to each address and speed and moves on; waiting out every silent address
  // would double it. Its answers still pass the filter of their own request.
  if (timeoutSends_.load() == 1) return;
  std::array<char, serial::kResponseCapacity> response{};
  // One reply time-out of listening; while answers keep coming, a few more (one for each send of
  // the request that timed out).
  for (int round = 0; round < 4; ++round) {
    DropAll drop;
    int received = 0;
    if (exchangeOnPort({}, response, received, 0, &drop) == serial::kAborted) return;
    if (drop.dropped == 0) return;
  }
}

// ------------------------------------------------------------------ frame exchanges

bool DeviceLink::ExchangeFrame(bool read, std::uint16_t hash, std::span<const std::uint8_t> data, FrameAnswer& answer,
                               std::string& errorText, int addressOffset, std::span<const std::uint8_t> answerTail) {
  answer.length = 0;
  std::lock_guard lock(portLock_);
  DropLateAnswers();
  // The address settings change only under the lock (OpenLink), so they are read here.
  const SerialSettings& settings = port_.settings();
  const RequestLine request =
      buildRequest(read, hash, data, frameAddress(settings.baseAddress, addressOffset), settings.addressLength);
  if (request.length == 0) {
    errorText = kNotEncodableText;
    return false;
  }
  const std::span<const std::uint8_t> line(reinterpret_cast<const std::uint8_t*>(request.chars.data()),
                                           request.length);
  std::array<char, serial::kResponseCapacity> response{};
  int received = 0;

  // "APLY" switches the module to its new settings: it goes out once, and whatever comes back
  // (at the old settings or not at all) says nothing.
  if (hash == kApplyHash) {
    FrameTrace::NoteSent(request.text());
    const int result = exchangeOnPort(line, response, received, 0, nullptr);
    if (result == serial::kAborted) {
      // Stopped, or the port went away: the command may not have left.
      if (!portIsOpen()) {
        errorText = kPortNotOpenText;
        state_->notePortOpened(false);
      }
      return false;
    }
    return true;
  }

  RequestAnswerFilter filter(hash, answerTail);
  struct LateAnswersAfter {
    bool& due;
    const RequestAnswerFilter& filter;
    bool timedOut = false;
    // A send that timed out may still be answered, and a stale answer may have company.
    ~LateAnswersAfter() { due = due || timedOut || filter.stale; }
  } lateAfter{lateAnswersDue_, filter};
  int timeouts = 0;
  int lineErrors = 0;
  int lostStarts = 0;
  for (;;) {
    filter.otherCommand = false;
    FrameTrace::NoteSent(request.text());
    const int result = exchangeOnPort(line, response, received, 0, &filter);
    if (received > 0) FrameTrace::NoteReceived(std::string_view(response.data(), static_cast<std::size_t>(received)));
    if (result == serial::kTimedOut) {
      lateAfter.timedOut = true;
      if (filter.otherCommand) {
        // An answer for another command was all that came.
        errorText = responseMessage(ResponseStatus::OtherHash);
        return false;
      }
      if (++timeouts >= timeoutSends_.load()) {
        errorText = kTimeoutText;
        state_->noteTimeout();
        return false;
      }
      continue;
    }
    if (result == serial::kLineError) {
      if (++lineErrors > kLineErrorRetries) {
        errorText = kLineErrorsText;
        state_->noteLineFailure();
        return false;
      }
      continue;
    }
    if (result == serial::kAborted) {
      // The stop event ends the exchange at once; a port that vanished is reported as closed,
      // and as a port that cannot be opened.
      if (!portIsOpen()) {
        errorText = kPortNotOpenText;
        state_->notePortOpened(false);
      }
      return false;
    }
    if (received >= 2 && response[0] == kFrameStart) break;
    if (++lostStarts > kLostStartRetries) {
      errorText = kLostFrameStartText;
      state_->noteLineFailure();
      return false;
    }
  }
  state_->noteFrameStart();

  const ParsedResponse parsed = parseResponse(std::string_view(response.data(), static_cast<std::size_t>(received)), hash);
  switch (parsed.status) {
    case ResponseStatus::Ok:
      std::copy_n(parsed.bytes.begin(), parsed.length, answer.bytes.begin());
      answer.length = parsed.length;
      return true;
    case ResponseStatus::DeviceError:
      DecodeDeviceError(parsed.data(), errorText);
      return false;
    default:
      errorText = responseMessage(parsed.status);
      return false;
  }
}

void DeviceLink::DecodeDeviceError(std::span<const std::uint8_t> data, std::string& errorText) {
  if (data.empty()) return;
  state_->noteDeviceError();
  errorText = deviceErrorText(static_cast<std::int8_t>(data[0]));
}

int DeviceLink::ExchangeForeign(ProtocolMode mode, std::span<const std::uint8_t> payload, SwitchResponse& answer) {
  answer = SwitchResponse{};
  std::lock_guard lock(portLock_);
  SerialSettings& settings = port_.settings();
  // The foreign framings carry one address byte.
  if (settings.addressLength > 8) return -1;
  const auto address = static_cast<std::uint8_t>(settings.baseAddress);
  std::array<std::uint8_t, kMaxSwitchRequest> request{};
  const std::size_t length = buildSwitchRequest(mode, address, payload, request);
  if (length == 0) return kLinkWrongAnswer;

  std::array<char, serial::kResponseCapacity> response{};
  int received = 0;
  int sends = 0;
  int lineErrorSends = 0;
  for (;;) {
    const int result = exchangeOnPort({request.data(), length}, response, received, static_cast<int>(mode), nullptr);
    if (result == serial::kTimedOut) {
      // A module that does not answer may sit behind the other kind of converter.
      settings.automaticConverter ^= 1u;
      if (++sends >= 4) return kLinkTimeout;
      continue;
    }
    if (result == serial::kLineError) {
      if (++lineErrorSends >= 17) return kLinkLineErrors;
      continue;
    }
    break;
  }
  const std::span<const std::uint8_t> bytes(reinterpret_cast<const std::uint8_t*>(response.data()),
                                            static_cast<std::size_t>(received));
  const SwitchResponse checked = checkSwitchResponse(mode, bytes);
  if (checked.result != kLinkOk) return checked.result;
  if (checked.length == 0 || checked.bytes[0] != address) return kLinkWrongAddress;
  answer.length = checked.length - 1;
  std::copy_n(checked.bytes.begin() + 1, answer.length, answer.bytes.begin());
  return kLinkOk;
}

// ------------------------------------------------------------------ transactions

int DeviceLink::Transact(bool read, Parameter* parameter, ProtocolLogList* log, bool forceAttributes) {
  if (!portIsOpen()) {
    if (parameter != nullptr) parameter->comment = kPortNotOpenText;
    return kTransactPortClosed;
  }
  if (state_->mode() != ProtocolMode::Native) return TransactForeign(parameter);
  if (parameter == nullptr) return kTransactPortClosed;

  Parameter& p = *parameter;
  p.comment.clear();
  const bool attributesWanted = !attributesSuppressed();
  if (equalsNoCase(p.name, kNetworkNameParameter)) {
    return TransactNetworkName(read, p, log, forceAttributes, attributesWanted);
  }
  if (p.attributeMode != 0 && attributesWanted && !p.isPolled()) {
    if (const int r = ExchangeAttributes(read, p, p, forceAttributes); r != kTransactOk) return r;
  }
  return ExchangeValue(read, p, log);
}

int DeviceLink::TransactForeign(Parameter* parameter) {
  const ProtocolMode mode = state_->mode();
  const std::span<const std::uint8_t> payload = protocolSwitchPayload(mode);
  SwitchResponse answer;
  int result = ExchangeForeign(mode, payload, answer);
  if (result == kLinkOk && (mode == ProtocolMode::ModbusRtu || mode == ProtocolMode::ModbusAscii)) {
    // Both Modbus framings answer a coil write with its echo.
    if (!std::equal(payload.begin(), payload.end(), answer.bytes.begin(), answer.bytes.begin() + answer.length)) {
      result = kLinkWrongAnswer;
    }
  }
  if (parameter != nullptr) parameter->comment = linkErrorText(result);
  return result;
}

int DeviceLink::ExchangeAttributes(bool read, Parameter& target, const Parameter& flagsFrom, bool forceAttributes) {
  DataField data;
  bool requestBit = true;
  if (dangerousAllowed_ && !read) {
    data.push(forceAttributes ? std::uint8_t{3} : flagsFrom.AttributeByte());
    requestBit = false;
  }
  if (target.hasIndex) {
    // Only the low byte of the index travels here.
    data.push(0x00);
    data.push(static_cast<std::uint8_t>(target.index & 0xFF));
  }
  const std::uint16_t hash = hashName(target.name);
  data.push(static_cast<std::uint8_t>(hash >> 8));
  data.push(static_cast<std::uint8_t>(hash & 0xFF));

  // The answer repeats what follows the attribute byte: the index and the parameter's hash.
  const std::span<const std::uint8_t> sent = data.view();
  const std::span<const std::uint8_t> tail = requestBit ? sent : sent.subspan(1);
  FrameAnswer answer;
  if (!ExchangeFrame(requestBit, kAttributesHash, sent, answer, target.comment, target.addressOffset, tail)) {
    return kTransactAttributesFailed;
  }
  if (answer.length != (target.hasIndex ? 5u : 3u)) {
    target.comment = kAttributeLengthText;
    return kTransactAttributeLength;
  }
  target.TakeAttributeByte(answer.bytes[0]);
  return kTransactOk;
}

int DeviceLink::ExchangeValue(bool read, Parameter& p, ProtocolLogList* log) {
  DataField data;
  if (!read) {
    std::string message;
    const int converted = p.BuildRequest(data, &message);
    if (converted == -1) {
      // A refused network name says why; any other type simply has no write encoding. Nothing
      // goes out either way: the data field would hold whatever the conversion left.
      p.comment = !message.empty() ? message
                                   : "Метод формирования посылки записи для команды '" + p.name + "' не определен.";
      logLine(log, p.comment);
      return kTransactNoWriteConversion;
    }
    if (converted == 0) {
      p.comment = kNotEncodableText;
      logLine(log, p.comment);
      return kTransactNotEncodable;
    }
    if (converted != 1) logLine(log, kStrangeConversionText);
  }
  if (p.hasIndex) {
    const bool fits = data.push(static_cast<std::uint8_t>((p.index >> 8) & 0xFF)) &&
                      data.push(static_cast<std::uint8_t>(p.index & 0xFF));
    if (!fits) {
      p.comment = kNotEncodableText;
      logLine(log, p.comment);
      return kTransactNotEncodable;
    }
  }
  // The byte-by-byte log lines are made only for a caller that keeps them: polling and reading
  // the tree pass no log and pay nothing for it.
  if (log != nullptr) appendLines(log, requestLogLines(data.view()));

  // An index in the data field comes back after the value.
  const std::span<const std::uint8_t> tail = p.hasIndex ? data.view().last(2) : std::span<const std::uint8_t>{};
  FrameAnswer answer;
  if (!ExchangeFrame(read, hashName(p.name), data.view(), answer, p.comment, p.addressOffset, tail)) {
    return kTransactExchangeFailed;
  }
  if (log != nullptr) appendLines(log, responseLogLines(answer.data()));

  const int decoded = p.TakeAnswer(answer.data());
  if (decoded != 1 && decoded != -1) {
    p.comment = kUndecodableText;
    p.value.clear();
    return kTransactUndecodable;
  }
  p.valueChanged = 0;
  p.accessChanged = 0;
  p.ownerChanged = 0;
  return kTransactOk;
}

int DeviceLink::TransactNetworkName(bool read, Parameter& p, ProtocolLogList* log, bool forceAttributes,
                                    bool attributesWanted) {
  auto character = [&p](int position) {
    auto c = std::make_unique<Parameter>(std::string(kNetworkNameCharacter));
    c->type = "int";
    c->hasIndex = 1;
    c->index = p.index + position;
    c->addressOffset = 0;
    c->attributeMode = 0;
    return c;
  };
  auto fail = [&](std::string_view text, int result) {
    p.comment = text;
    logLine(log, text);
    return result;
  };

  if (read) {
    // The name is taken only when all four characters came: a name read in part is no name, and
    // a later write would rename the module with it. The value stays as it was until then.
    std::string name;
    for (int position = 0; position < 4; ++position) {
      auto c = character(position);
      const int r = ExchangeValue(true, *c, log);
      if (!c->comment.empty()) p.comment = c->comment;
      if (r != kTransactOk) return r;
      const DecimalReading code = ReadDecimal(c->value, false);
      if (!code.ok || code.value < 0 || code.value > 79) return fail(kNameCodeInvalidText, kTransactUndecodable);
      appendNameCharacter(name, static_cast<unsigned>(code.value));
    }
    p.value = std::move(name);
  } else {
    if (p.value.empty()) return fail(kNameEmptyText, kTransactNotEncodable);
    if (characterCount(p.value) > 8) return fail(kNameTooLongText, kTransactNotEncodable);
    // Four codes like the letters of a short name: the filler is a blank, a '.' marks the
    // character before it. A fifth character is dropped; nothing after it is looked at.
    std::array<int, 5> codes = {kNameFillerCode, kNameFillerCode, kNameFillerCode, kNameFillerCode, kNameFillerCode};
    int count = 0;
    bool pointTaken = true;  // a '.' first, or a second '.' after one character, is refused
    for (const char raw : p.value) {
      if (count > 4) break;
      const char c = toUpperAscii(raw);
      if (c == '.') {
        if (pointTaken) return fail(kNameBadCharacterText, kTransactNotEncodable);
        codes[static_cast<std::size_t>(count - 1)] += 1;
        pointTaken = true;
        continue;
      }
      const int index = NetworkNameIndex(c);
      if (index < 0 || c == '/') return fail(kNameBadCharacterText, kTransactNotEncodable);
      codes[static_cast<std::size_t>(count++)] = index * 2;
      pointTaken = false;
    }
    // The name rebuilt from what the module took replaces the value only when all four
    // characters went through; a write that stops part-way keeps the name the operator meant
    // (and its change mark), never a part of it.
    std::string taken;
    for (int position = 0; position < 4; ++position) {
      auto c = character(position);
      if (attributesWanted) {
        const int r = ExchangeAttributes(false, *c, p, forceAttributes);
        if (!c->comment.empty()) p.comment = c->comment;
        if (r != kTransactOk) return r;
      }
      c->value = std::to_string(codes[static_cast<std::size_t>(position)]);
      const int r = ExchangeValue(false, *c, log);
      if (!c->comment.empty()) p.comment = c->comment;
      if (r != kTransactOk) return r;
      // What the module answered, so that the name shows what it took.
      const DecimalReading code = ReadDecimal(c->value, false);
      appendNameCharacter(taken, code.ok && code.value >= 0 ? static_cast<unsigned>(code.value) : kNameFillerCode);
    }
    p.value = std::move(taken);
  }
  p.valueChanged = 0;
  p.accessChanged = 0;
  p.ownerChanged = 0;
  return kTransactOk;
}

// ------------------------------------------------------------------ opening

void DeviceLink::SetBaseAddress(int address) {
  std::lock_guard lock(portLock_);
  port_.settings().baseAddress = address;
}

int DeviceLink::OpenLink(bool showMessage) {
  {
    std::lock_guard lock(portLock_);
    (void)port_.close();
    SerialSettings& s = port_.settings();
    const NetRS485prg& node = *programPort_;
    if (const Parameter* p = node.FindParameter(kPortParameterName)) s.portName = std::string(trim(p->value));
    s.baudRate = decimalSetting(node.GetValueByName("bPS"), s.baudRate);
    s.baseAddress = decimalSetting(node.GetValueByName("Addr"), s.baseAddress);
    s.addressLength = decimalSetting(node.GetValueByName("A.Len"), s.addressLength);
    s.dataBits = decimalSetting(node.GetValueByName("LEn"), s.dataBits);
    s.stopBits = decimalSetting(node.GetValueByName("Sbit"), s.stopBits);
    if (const int code = ParityCodeOfText(node.GetValueByName("PrtY")); code != 0) s.parityCode = code;
  }
  for (const auto& p : programPort_->parameters()) {
    p->valueChanged = 0;
    p->accessChanged = 0;
    p->ownerChanged = 0;
  }
  state_->networkSettingsWritten.store(false);
  if (communicationOff_.load()) return -1;

  int result = 0;
  {
    std::lock_guard lock(portLock_);
    result = port_.open();
    // Whatever was on its way to the port before is gone with the old descriptor.
    lateAnswersDue_ = false;
  }
  state_->notePortOpened(result == serial::kOpened);
  if (result != serial::kOpened && showMessage && !batchMode_.load() && ui_ != nullptr) {
    ui_->showMessage(PortFailureText(), tr(kPortDriverCaption.data()), MessageIcon::None);
  }
  return result;
}

int DeviceLink::OpenPort() {
  if (communicationOff_.load()) return -1;
  int result = 0;
  {
    std::lock_guard lock(portLock_);
    result = port_.open();
    lateAnswersDue_ = false;
  }
  state_->notePortOpened(result == serial::kOpened);
  return result;
}

void DeviceLink::ClosePort() {
  std::lock_guard lock(portLock_);
  (void)port_.close();
}

}  // namespace kvtr
