#include "sim/sim_module.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>

#include "common/catalogue.h"
#include "common/format.h"
#include "common/strings.h"
#include "model/text_encoding.h"
#include "protocol/frame_codec.h"

namespace kvtr::sim {

namespace {

const std::uint16_t kDevHash = hashName("dev");
const std::uint16_t kVerHash = hashName("ver");
const std::uint16_t kExitHash = hashName("exit");

constexpr std::uint8_t kExitExternalReset = 6;  // "внешний сброс": the restart that INIT orders

// The network name has four characters, one code each at indexes 0..3.
constexpr int kNameCharacters = 4;
// Character codes run from 0 ('0') to 79 (blank with a point).
constexpr std::uint8_t kMaxNameCode = 79;
constexpr std::string_view kFactoryName = "KVTR";

// The module's "Prot" list: the device protocol first, then the three foreign ones.
ProtocolMode protocolFromPosition(unsigned position) {
  return position >= 1 && position <= 3 ? static_cast<ProtocolMode>(position) : ProtocolMode::Native;
}

std::string_view protocolName(ProtocolMode mode) {
  switch (mode) {
    case ProtocolMode::ModbusRtu: return "Modbus RTU";
    case ProtocolMode::ModbusAscii: return "Modbus ASCII";
    case ProtocolMode::PercentCommand: return tr("протокол команд «%»");
    case ProtocolMode::Native: break;
  }
  return tr("протокол прибора");
}

unsigned bigEndian(std::span<const std::uint8_t> bytes) {
  unsigned value = 0;
  for (const std::uint8_t b : bytes) value = (value << 8) | b;
  return value;
}

std::vector<std::uint8_t> numberBytes(unsigned value, std::size_t width) {
  std::vector<std::uint8_t> bytes(width);
  for (std::size_t i = width; i-- > 0; value >>= 8) bytes[i] = static_cast<std::uint8_t>(value & 0xFF);
  return bytes;
}

void appendIndex(std::vector<std::uint8_t>& data, int index) {
  data.push_back(static_cast<std::uint8_t>((index >> 8) & 0xFF));
  data.push_back(static_cast<std::uint8_t>(index & 0xFF));
}

// The data-field lengths a write of the value may have.
std::vector<std::size_t> valueLengths(const SimParameter& p) {
  switch (p.kind) {
    case ValueKind::Float: return {equalsNoCase(p.name, "r.oe") ? 3u : 4u};
    case ValueKind::Integer:
    case ValueKind::Time: return {1, 2};
    case ValueKind::Enumeration: return {1};
    case ValueKind::NetworkName: return {4};
    case ValueKind::Void: return {0};
    case ValueKind::String: break;
  }
  return {};
}

bool accepts(const SimParameter& p, std::size_t length) {
  const auto lengths = valueLengths(p);
  return std::find(lengths.begin(), lengths.end(), length) != lengths.end();
}

bool isNetworkSetting(std::string_view name) {
  for (std::string_view n : {"bPS", "LEn", "PrtY", "Sbit", "A.Len", "Addr", "Prot"}) {
    if (equalsNoCase(name, n)) return true;
  }
  return false;
}

// Parameters the module computes or that are fixed in its program memory.
bool isReadOnly(const SimParameter& p) { return p.kind == ValueKind::String || equalsNoCase(p.name, "r.Cn"); }

bool isComputed(const SimParameter& p) { return equalsNoCase(p.name, "r.Cn") || equalsNoCase(p.name, "r.oe.s"); }

bool isService(std::uint16_t hash) {
  return hash == kDevHash || hash == kVerHash || hash == kExitHash || hash == kApplyHash || hash == kInitHash;
}

// Number of odd integers in 1..x.
std::int64_t oddUpTo(std::int64_t x) { return x <= 0 ? 0 : (x + 1) / 2; }

}  // namespace

std::vector<std::uint8_t> encodeSingle(float value, std::size_t byteCount) {
  const auto bits = std::bit_cast<std::uint32_t>(value);
  std::vector<std::uint8_t> bytes = numberBytes(bits, 4);
  bytes.resize(std::min<std::size_t>(byteCount, 4));
  return bytes;
}

float decodeSingle(std::span<const std::uint8_t> bytes) {
  std::uint32_t bits = 0;
  for (std::size_t i = 0; i < 4; ++i) bits = (bits << 8) | (i < bytes.size() ? bytes[i] : 0);
  return std::bit_cast<float>(bits);
}

struct SimModule::Request {
  int address = 0;
  int offset = 0;  // address minus the base address: an index carried in the address
  bool read = false;
  std::uint16_t hash = 0;
  std::vector<std::uint8_t> data;
};

// What a handler decided: no answer, or an answer with its hash and data bytes, which
// HandleNative frames for the request's address.
struct SimModule::Answer {
  bool answered = false;
  std::uint16_t hash = 0;
  std::vector<std::uint8_t> data;
  std::string note;
};

namespace {

SimModule::Answer silence(std::string note) {
  SimModule::Answer a;
  a.note = std::move(note);
  return a;
}

SimModule::Answer dataAnswer(std::uint16_t hash, std::vector<std::uint8_t> data, std::string note = {}) {
  return {true, hash, std::move(data), std::move(note)};
}

SimModule::Answer errorAnswer(std::uint8_t code, const std::string& why) {
  return dataAnswer(kErrorReplyHash, {code}, strprintf(trFormat("ошибка %u: %s"), code, why.c_str()));
}

Reply unanswered(std::string note) {
  Reply r;
  r.note = std::move(note);
  return r;
}

}  // namespace

SimModule::SimModule(ParameterTable table, ModuleIdentity identity, InputBehaviour inputs,
                     std::optional<ValueStore> memory, const LineOverrides& line, std::optional<ProtocolMode> protocol,
                     Millis now)
    : table_(std::move(table)), identity_(std::move(identity)), inputs_(inputs) {
  std::mt19937_64 random(inputs_.seed);
  for (int k = 0; k < kInputCount; ++k) {
    const Millis halfPeriod = static_cast<Millis>(k + 1) * std::max(1, inputs_.halfPeriodMs);
    phases_.push_back(static_cast<Millis>(random() % static_cast<std::uint64_t>(halfPeriod)));
  }
  if (memory) store_ = std::move(*memory);
  FillMissing();
  const LineSettings kept = fromNetworkBytes(StoredNetwork()).value_or(LineSettings{});
  line_ = line.ApplyTo(kept);
  StoreNetwork(line_);
  protocol_ = protocol.value_or(protocolFromPosition(static_cast<unsigned>(StoredProtocol())));
  StoreNumber("Prot", 0, static_cast<unsigned>(protocol_), 1);
  countedUpTo_ = now;
  PowerUp(now);
  dirty_ = false;
}

// ------------------------------------------------------------------------------------------ frames

Reply SimModule::HandleNative(std::string_view frame, Millis now) {
  if (protocol_ != ProtocolMode::Native) {
    return unanswered(strprintf(trFormat("не услышан: прибор работает по протоколу %s"), std::string(protocolName(protocol_)).c_str()));
  }
  if (frame.size() < 2 || frame.front() != kFrameStart || frame.back() != kFrameEnd) return unanswered(tr("не посылка"));
  const std::string_view chars = frame.substr(1, frame.size() - 2);
  if (chars.size() % 2 != 0) return unanswered(tr("нечетное число символов тетрад"));
  const std::size_t count = chars.size() / 2;
  if (count < kFrameOverhead || count > kMaxFrameBytes) return unanswered(tr("длина посылки вне пределов"));
  std::array<std::uint8_t, kMaxFrameBytes> bytes{};
  if (!decodeTetrads(std::span<const char>(chars.data(), chars.size()), std::span<std::uint8_t>(bytes.data(), count))) {
    return unanswered(tr("символы вне G..V"));
  }
  const std::uint16_t crc = frameCrc(std::span<const std::uint8_t>(bytes.data(), count - 2));
  if (crc != ((static_cast<unsigned>(bytes[count - 2]) << 8) | bytes[count - 1])) return unanswered(tr("ошибка CRC"));
  const std::uint8_t control = bytes[1];
  const std::size_t n = control & 0x0F;
  if (n != count - kFrameOverhead) {
    return unanswered(strprintf(trFormat("поле длины %zu при %zu байтах данных"), n, count - kFrameOverhead));
  }
  Request request;
  if (line_.addressBits == 11) {
    request.address = (bytes[0] << 3) | (control >> 5);
  } else {
    // A frame with address bits in the control byte was sent with 11-bit addressing.
    if ((control >> 5) != 0) return unanswered(tr("посылка с 11-битным адресом, а у прибора 8-битные"));
    request.address = bytes[0];
  }
  request.offset = request.address - line_.address;
  if (request.offset < 0 || request.offset >= kAddressIndexSpan) {
    return unanswered(strprintf(trFormat("для адреса %d"), request.address));
  }
  request.read = (control & 0x10) != 0;
  request.hash = static_cast<std::uint16_t>((bytes[2] << 8) | bytes[3]);
  request.data.assign(bytes.begin() + 4, bytes.begin() + 4 + static_cast<std::ptrdiff_t>(n));

  CheckLinkLoss(now);
  lastHeard_ = now;
  AdvanceCounters(now);
  const LineSettings before = line_;
  const Answer answer = Dispatch(request, now);
  Reply reply;
  reply.answered = answer.answered;
  reply.note = answer.note;
  reply.hash = request.hash;
  reply.sentWith = before;
  if (answer.answered) {
    reply.line = std::string(buildRequest(request.read, answer.hash, answer.data, request.address, before.addressBits).text());
  }
  return reply;
}

SimModule::Answer SimModule::Dispatch(const Request& request, Millis now) {
  if (request.hash == kAttributesHash) return Attributes(request);
  if (isService(request.hash)) {
    // Service commands have no index: at an offset address they are for a neighbour.
    if (request.offset != 0) return silence(strprintf(trFormat("для адреса %d"), request.address));
    return Service(request, now);
  }
  if (request.hash == kNameCharHash) return NetworkName(request);
  if (const SimParameter* p = table_.Find(request.hash)) return ReadOrWrite(request, *p, now);
  if (request.offset != 0) return silence(strprintf(trFormat("для адреса %d"), request.address));
  return errorAnswer(kErrUnknownParameter, strprintf(trFormat("неизвестный параметр 0x%04X"), request.hash));
}

SimModule::Answer SimModule::ReadOrWrite(const Request& request, const SimParameter& p, Millis now) {
  const std::size_t n = request.data.size();
  if (!request.read && isReadOnly(p)) return errorAnswer(kErrRomParameter, p.name + tr(" не записывается"));
  int index = 0;
  bool indexInData = false;
  std::span<const std::uint8_t> value;
  const std::span<const std::uint8_t> data(request.data);
  if (request.offset > 0) {
    if (!p.indexed) return silence(strprintf(trFormat("для адреса %d"), request.address));
    index = request.offset;
    if (request.read ? n != 0 : !accepts(p, n)) return errorAnswer(kErrDataSize, strprintf(trFormat("%zu байт данных"), n));
    value = data;
  } else if (p.indexed) {
    if (request.read) {
      if (n == 2) {
        indexInData = true;
      } else if (n != 0) {
        return errorAnswer(kErrDataSize, strprintf(trFormat("%zu байт данных"), n));
      }
    } else if (n >= 2 && accepts(p, n - 2)) {
      indexInData = true;
      value = data.first(n - 2);
    } else if (accepts(p, n)) {
      value = data;
    } else {
      return errorAnswer(kErrDataSize, strprintf(trFormat("%zu байт данных"), n));
    }
    if (indexInData) index = static_cast<int>(bigEndian(data.last(2)));
  } else {
    if (request.read ? n != 0 : !accepts(p, n)) return errorAnswer(kErrDataSize, strprintf(trFormat("%zu байт данных"), n));
    value = data;
  }
  if (!p.hasIndex(index)) {
    return errorAnswer(kErrIndexBeyondLimiter, strprintf(trFormat("у %s нет индекса %d"), p.name.c_str(), index));
  }
  std::string note;
  if (!request.read) {
    const Slot& slot = store_.At(p.hash, index);
    if (p.hasAttributes && (slot.attributes & kAttrEditable) == 0) {
      return errorAnswer(kErrRefusedByAttributes, p.name + tr(" не редактируется"));
    }
    if (const int code = CheckWrite(p, index, value); code != 0) {
      return errorAnswer(static_cast<std::uint8_t>(code), p.name + tr(" не принял значение"));
    }
    store_.At(p.hash, index).bytes.assign(value.begin(), value.end());
    AfterWrite(p, index, now);
    dirty_ = true;
    note = tr("записано");
  }
  std::vector<std::uint8_t> answer = CurrentBytes(p, index, now);
  if (indexInData) appendIndex(answer, index);
  return dataAnswer(p.hash, answer, std::move(note));
}

SimModule::Answer SimModule::Attributes(const Request& request) {
  const std::size_t n = request.data.size();
  const std::span<const std::uint8_t> data(request.data);
  // Read: [00 index] hash. Write: attribute [00 index] hash. Only the index's low byte travels.
  const std::size_t attributeBytes = request.read ? 0 : 1;
  if (n != attributeBytes + 2 && n != attributeBytes + 4) {
    return errorAnswer(kErrDataSize, strprintf(trFormat("обмен атрибутами с %zu байтами данных"), n));
  }
  const bool indexInData = n == attributeBytes + 4;
  const auto hash = static_cast<std::uint16_t>(bigEndian(data.last(2)));
  const int index = indexInData ? data[attributeBytes + 1] : request.offset;
  const SimParameter* p = table_.Find(hash);
  if (p == nullptr) {
    if (request.offset != 0) return silence(strprintf(trFormat("для адреса %d"), request.address));
    return errorAnswer(kErrUnknownParameter, strprintf(trFormat("атрибуты неизвестного параметра 0x%04X"), hash));
  }
  const bool nameCharacter = hash == kNameCharHash;
  if (request.offset != 0 && !p->indexed && !nameCharacter) return silence(strprintf(trFormat("для адреса %d"), request.address));
  if (!p->hasAttributes) return errorAnswer(kErrNoAttributes, p->name + tr(" без атрибутов"));
  if (nameCharacter ? (index < 0 || index >= kNameCharacters) : !p->hasIndex(index)) {
    return errorAnswer(kErrIndexBeyondLimiter, strprintf(trFormat("у %s нет индекса %d"), p->name.c_str(), index));
  }
  Slot& slot = store_.At(hash, index);
  std::string note;
  if (!request.read) {
    slot.attributes = data[0] & (kAttrEditable | kAttrUserOwned);
    dirty_ = true;
    note = strprintf(trFormat("атрибуты %s:%d установлены в %u"), p->name.c_str(), index, slot.attributes);
  }
  std::vector<std::uint8_t> answer{slot.attributes};
  if (indexInData) answer.insert(answer.end(), {0x00, static_cast<std::uint8_t>(index)});
  answer.insert(answer.end(), {static_cast<std::uint8_t>(hash >> 8), static_cast<std::uint8_t>(hash & 0xFF)});
  return dataAnswer(kAttributesHash, answer, std::move(note));
}

SimModule::Answer SimModule::NetworkName(const Request& request) {
  const SimParameter* p = table_.Find(kNameCharHash);
  if (p == nullptr) {
    if (request.offset != 0) return silence(strprintf(trFormat("для адреса %d"), request.address));
    return errorAnswer(kErrUnknownParameter, tr("нет сетевого имени"));
  }
  const std::size_t n = request.data.size();
  const std::span<const std::uint8_t> data(request.data);
  auto code = [&](int i) { return store_.At(kNameCharHash, i).bytes.empty() ? kNameFillerCode : store_.At(kNameCharHash, i).bytes[0]; };
  auto refused = [&](int i) { return p->hasAttributes && (store_.At(kNameCharHash, i).attributes & kAttrEditable) == 0; };

  // The whole name: four codes, first character in the last byte.
  const bool whole = request.offset == 0 && ((request.read && n == 0) || (!request.read && n == kNameCharacters));
  if (whole) {
    if (!request.read) {
      for (int i = 0; i < kNameCharacters; ++i) {
        if (refused(i)) return errorAnswer(kErrRefusedByAttributes, tr("сетевое имя не редактируется"));
        if (data[kNameCharacters - 1 - i] > kMaxNameCode) return errorAnswer(kErrBeyondLimits, tr("код символа больше 79"));
      }
      for (int i = 0; i < kNameCharacters; ++i) store_.At(kNameCharHash, i).bytes = {data[kNameCharacters - 1 - i]};
      dirty_ = true;
    }
    std::vector<std::uint8_t> answer;
    for (int i = kNameCharacters; i-- > 0;) answer.push_back(code(i));
    return dataAnswer(kNameCharHash, answer, request.read ? "" : tr("сетевое имя записано"));
  }

  // One character: index in the data field or in the address.
  const std::size_t valueBytes = request.read ? 0 : 1;
  bool indexInData = false;
  int index = request.offset;
  if (request.offset == 0 && n == valueBytes + 2) {
    indexInData = true;
    index = static_cast<int>(bigEndian(data.last(2)));
  } else if (n != valueBytes) {
    return errorAnswer(kErrDataSize, strprintf(trFormat("символ сетевого имени с %zu байтами данных"), n));
  }
  if (index < 0 || index >= kNameCharacters) {
    return errorAnswer(kErrIndexBeyondLimiter, strprintf(trFormat("в сетевом имени нет символа %d"), index));
  }
  if (!request.read) {
    if (refused(index)) return errorAnswer(kErrRefusedByAttributes, tr("сетевое имя не редактируется"));
    if (data[0] > kMaxNameCode) return errorAnswer(kErrBeyondLimits, tr("код символа больше 79"));
    store_.At(kNameCharHash, index).bytes = {data[0]};
    dirty_ = true;
  }
  std::vector<std::uint8_t> answer{code(index)};
  if (indexInData) appendIndex(answer, index);
  return dataAnswer(kNameCharHash, answer, request.read ? "" : tr("символ сетевого имени записан"));
}

SimModule::Answer SimModule::Service(const Request& request, Millis now) {
  const std::size_t n = request.data.size();
  if (request.hash == kApplyHash || request.hash == kInitHash) {
    if (n != 0) return errorAnswer(kErrDataSize, strprintf(trFormat("%zu байт данных"), n));
    const std::optional<LineSettings> kept = fromNetworkBytes(StoredNetwork());
    if (kept) line_ = *kept;
    if (request.hash == kApplyHash) {
      return dataAnswer(kApplyHash, {}, tr("APLY: теперь слушаю при ") + line_.describe());
    }
    protocol_ = protocolFromPosition(static_cast<unsigned>(StoredProtocol()));
    exitCode_ = kExitExternalReset;
    PowerUp(now);
    return dataAnswer(kInitHash, {},
                     strprintf("INIT: restarted with %s, %s", line_.describe().c_str(),
                               std::string(protocolName(protocol_)).c_str()));
  }
  if (!request.read) return errorAnswer(kErrRomParameter, tr("служебная команда не записывается"));
  if (n != 0) return errorAnswer(kErrDataSize, strprintf(trFormat("%zu байт данных"), n));
  if (request.hash == kExitHash) return dataAnswer(kExitHash, {0x00, 0x00, exitCode_});
  // Texts travel last character first.
  std::string text = utf8ToCp1251(request.hash == kDevHash ? identity_.device : identity_.version);
  text.resize(std::min<std::size_t>(text.size(), 8));
  return dataAnswer(request.hash, std::vector<std::uint8_t>(text.rbegin(), text.rend()));
}

Reply SimModule::HandleForeign(std::span<const std::uint8_t> frame, Millis now) {
  (void)now;
  Reply reply;
  reply.sentWith = line_;
  const std::span<const std::uint8_t> payload = protocolSwitchPayload(protocol_);
  std::string answer;
  int address = -1;
  switch (protocol_) {
    case ProtocolMode::Native: return unanswered(tr("не посылка протокола прибора"));
    case ProtocolMode::ModbusRtu:
    case ProtocolMode::ModbusAscii: {
      const SwitchResponse r = checkSwitchResponse(protocol_, frame);
      if (r.result != kLinkOk) return unanswered(r.result == kLinkBadChecksum ? tr("ошибка контрольной суммы") : tr("неверная посылка"));
      if (r.length != payload.size() + 1 || !std::equal(payload.begin(), payload.end(), r.bytes.begin() + 1)) {
        return unanswered(tr("не команда переключения"));
      }
      address = r.bytes[0];
      // Both Modbus framings answer a coil write with an echo of the request.
      answer.assign(frame.begin(), frame.end());
      break;
    }
    case ProtocolMode::PercentCommand: {
      // '%', two address digits, the command, two sum digits, carriage return.
      if (frame.size() < 6 || frame.front() != '%' || frame.back() != '\r') return unanswered(tr("неверная посылка"));
      const std::size_t summed = frame.size() - 3;
      unsigned sum = 0;
      for (std::size_t i = 0; i < summed; ++i) sum += frame[i];
      const std::string digits(frame.begin() + static_cast<std::ptrdiff_t>(summed), frame.end() - 1);
      const std::string addressDigits(frame.begin() + 1, frame.begin() + 3);
      char* end = nullptr;
      const unsigned long stored = std::strtoul(digits.c_str(), &end, 16);
      if (end != digits.c_str() + 2 || stored != (sum & 0xFF)) return unanswered("checksum error");
      const unsigned long parsedAddress = std::strtoul(addressDigits.c_str(), &end, 16);
      if (end != addressDigits.c_str() + 2) return unanswered(tr("неверная посылка"));
      if (!std::equal(payload.begin(), payload.end(), frame.begin() + 3, frame.begin() + static_cast<std::ptrdiff_t>(summed))) {
        return unanswered(tr("не команда переключения"));
      }
      address = static_cast<int>(parsedAddress);
      answer = strprintf("!%02X", static_cast<unsigned>(address));
      unsigned answerSum = 0;
      for (const char c : answer) answerSum += static_cast<unsigned char>(c);
      answer += strprintf("%02X\r", answerSum & 0xFF);
      break;
    }
  }
  if (line_.addressBits != 8 || address != line_.address) return unanswered(strprintf(trFormat("для адреса %d"), address));
  reply.answered = true;
  reply.line = std::move(answer);
  reply.note = tr("команда переключения: снова протокол прибора");
  protocol_ = ProtocolMode::Native;
  StoreNumber("Prot", 0, 0, 1);
  dirty_ = true;
  return reply;
}

// ------------------------------------------------------------------------------------------ memory

int SimModule::replyDelayMs() const {
  // Asked at every answer: the name's hash is worked out once.
  static const std::uint16_t hash = hashName("t.Ans");
  return static_cast<int>(StoredNumber(hash, 0, 0));
}

std::vector<std::uint8_t> SimModule::FactoryBytes(const SimParameter& p, int index) const {
  // The factory network settings: 9600 baud, 8 data bits, no parity, 1 stop bit, 8-bit address 16.
  const NetworkBytes factory = toNetworkBytes(LineSettings{});
  if (equalsNoCase(p.name, "bPS")) return {factory.bps};
  if (equalsNoCase(p.name, "LEn")) return {factory.dataBits};
  if (equalsNoCase(p.name, "PrtY")) return {factory.parity};
  if (equalsNoCase(p.name, "Sbit")) return {factory.stopBits};
  if (equalsNoCase(p.name, "A.Len")) return {factory.addressLength};
  if (equalsNoCase(p.name, "Addr")) return numberBytes(factory.address, 2);
  std::string text = p.initText;
  // Calibration points come in pairs: the start of the scale (code 0) and its end (4095).
  if (equalsNoCase(p.name, "clb.k")) text = index % 2 == 0 ? "0" : "4095";
  if (text.empty()) {
    switch (p.kind) {
      case ValueKind::Integer:
      case ValueKind::Time:
      case ValueKind::Float: text = FormatFixed3(std::max(0.0, p.minimum)); break;
      case ValueKind::Enumeration: return {0};
      default: return {};
    }
  }
  MyConverter converter(p.name);
  converter.type = p.type;
  DataField out;
  if (converter.ConvertToData(text, out) != 1) return std::vector<std::uint8_t>(valueLengths(p).empty() ? 0 : valueLengths(p).front());
  return {out.bytes.begin(), out.bytes.begin() + static_cast<std::ptrdiff_t>(out.length)};
}

void SimModule::FillMissing() {
  for (const SimParameter& p : table_.all()) {
    if (isService(p.hash) || isComputed(p)) continue;
    if (p.hash == kNameCharHash) {
      for (int i = 0; i < kNameCharacters; ++i) {
        Slot& slot = store_.At(p.hash, i);
        if (slot.bytes.empty()) {
          slot.bytes = {static_cast<std::uint8_t>(NetworkNameIndex(kFactoryName[static_cast<std::size_t>(i)]) * 2)};
        }
      }
      continue;
    }
    for (const int index : p.indexes) {
      if (store_.Find(p.hash, index) == nullptr) store_.At(p.hash, index).bytes = FactoryBytes(p, index);
    }
  }
}

void SimModule::RestoreFactory(Millis now) {
  AdvanceCounters(now);
  store_.Clear();
  FillMissing();
  StoreNetwork(line_);
  StoreNumber("Prot", 0, static_cast<unsigned>(protocol_), 1);
  dirty_ = true;
}

const ValueStore& SimModule::SaveState(Millis now) {
  AdvanceCounters(now);
  dirty_ = false;
  return store_;
}

unsigned SimModule::StoredNumber(std::string_view name, int index, unsigned fallback) const {
  return StoredNumber(hashName(name), index, fallback);
}

unsigned SimModule::StoredNumber(std::uint16_t hash, int index, unsigned fallback) const {
  const Slot* slot = store_.Find(hash, index);
  if (slot == nullptr || slot->bytes.empty() || slot->bytes.size() > 2) return fallback;
  return bigEndian(slot->bytes);
}

void SimModule::StoreNumber(std::string_view name, int index, unsigned value, std::size_t width) {
  const SimParameter* p = table_.FindByName(name);
  if (p == nullptr || !p->hasIndex(index)) return;
  store_.At(p->hash, index).bytes = numberBytes(value, width);
}

NetworkBytes SimModule::StoredNetwork() const {
  const NetworkBytes fallback = toNetworkBytes(line_);
  NetworkBytes b;
  b.bps = static_cast<std::uint8_t>(StoredNumber("bPS", 0, fallback.bps));
  b.dataBits = static_cast<std::uint8_t>(StoredNumber("LEn", 0, fallback.dataBits));
  b.parity = static_cast<std::uint8_t>(StoredNumber("PrtY", 0, fallback.parity));
  b.stopBits = static_cast<std::uint8_t>(StoredNumber("Sbit", 0, fallback.stopBits));
  b.addressLength = static_cast<std::uint8_t>(StoredNumber("A.Len", 0, fallback.addressLength));
  b.address = static_cast<std::uint16_t>(StoredNumber("Addr", 0, fallback.address));
  return b;
}

void SimModule::StoreNetwork(const LineSettings& line) {
  const NetworkBytes b = toNetworkBytes(line);
  StoreNumber("bPS", 0, b.bps, 1);
  StoreNumber("LEn", 0, b.dataBits, 1);
  StoreNumber("PrtY", 0, b.parity, 1);
  StoreNumber("Sbit", 0, b.stopBits, 1);
  StoreNumber("A.Len", 0, b.addressLength, 1);
  StoreNumber("Addr", 0, b.address, 2);
}

int SimModule::StoredProtocol() const { return static_cast<int>(StoredNumber("Prot", 0, 0)); }

int SimModule::CheckWrite(const SimParameter& p, int index, std::span<const std::uint8_t> value) const {
  (void)index;
  switch (p.kind) {
    case ValueKind::Integer:
    case ValueKind::Time: {
      const unsigned v = bigEndian(value);
      if (p.hasLimits() && (v < p.minimum || v > p.maximum)) return kErrBeyondLimits;
      if (equalsNoCase(p.name, "r.oe.s") && v > 0xFF) return kErrBeyondLimits;
      break;
    }
    case ValueKind::Float: {
      const float v = decodeSingle(value);
      // The program lets an input exceed a limit by less than 0.0009 and sends it as typed.
      constexpr double kTolerance = 0.0009;
      if (!std::isfinite(v)) return kErrBeyondLimits;
      if (p.hasLimits() && (v < p.minimum - kTolerance || v > p.maximum + kTolerance)) return kErrBeyondLimits;
      break;
    }
    case ValueKind::Enumeration:
      if (value[0] >= EnumerationList(p.type).size()) return kErrCodeNotUsed;
      break;
    default: break;
  }
  if (isNetworkSetting(p.name)) {
    // The settings as they would be with this value, checked like the module's own validation.
    NetworkBytes b = StoredNetwork();
    int protocol = StoredProtocol();
    const unsigned v = bigEndian(value);
    if (equalsNoCase(p.name, "bPS")) b.bps = static_cast<std::uint8_t>(v);
    if (equalsNoCase(p.name, "LEn")) b.dataBits = static_cast<std::uint8_t>(v);
    if (equalsNoCase(p.name, "PrtY")) b.parity = static_cast<std::uint8_t>(v);
    if (equalsNoCase(p.name, "Sbit")) b.stopBits = static_cast<std::uint8_t>(v);
    if (equalsNoCase(p.name, "A.Len")) b.addressLength = static_cast<std::uint8_t>(v);
    if (equalsNoCase(p.name, "Addr")) b.address = static_cast<std::uint16_t>(v);
    if (equalsNoCase(p.name, "Prot")) protocol = static_cast<int>(v);
    const std::optional<LineSettings> line = fromNetworkBytes(b);
    if (!line) return kErrCodeNotUsed;
    if (!refusedCombination(*line, protocol).empty()) return kErrInvalidCombination;
  }
  return 0;
}

void SimModule::AfterWrite(const SimParameter& p, int index, Millis now) {
  (void)index;
  (void)now;
  if (equalsNoCase(p.name, "r.oe.s")) {
    const unsigned mask = StoredNumber("r.oe.s", 0, 0);
    for (int k = 0; k < kOutputCount; ++k) SetOutput(k, (mask >> k) & 1u ? 1.0f : 0.0f);
  }
}

std::vector<std::uint8_t> SimModule::CurrentBytes(const SimParameter& p, int index, Millis now) {
  if (equalsNoCase(p.name, "r.Cn")) return numberBytes(InputMask(now), 2);
  if (equalsNoCase(p.name, "r.oe.s")) {
    unsigned mask = 0;
    for (int k = 0; k < kOutputCount; ++k) mask |= Output(k) > 0.0f ? 1u << k : 0u;
    return numberBytes(mask, 1);
  }
  return store_.At(p.hash, index).bytes;
}

std::optional<std::vector<std::uint8_t>> SimModule::ValueBytes(std::string_view name, int index, Millis now) {
  const SimParameter* p = table_.FindByName(name);
  if (p == nullptr || !p->hasIndex(index)) return std::nullopt;
  AdvanceCounters(now);
  return CurrentBytes(*p, index, now);
}

bool SimModule::SetAttributes(std::string_view name, int index, std::uint8_t attributes) {
  const SimParameter* p = table_.FindByName(name);
  if (p == nullptr) return false;
  if (p->hash == kNameCharHash ? (index < 0 || index >= kNameCharacters) : !p->hasIndex(index)) return false;
  store_.At(p->hash, index).attributes = attributes & (kAttrEditable | kAttrUserOwned);
  dirty_ = true;
  return true;
}

// ------------------------------------------------------------------------------------------ live data

void SimModule::PowerUp(Millis now) {
  AdvanceCounters(now);
  // Counters that are not kept over a power cut start from their preset.
  if (StoredNumber("C.Sav", 0, 1) == 0) {
    for (int k = 0; k < kInputCount; ++k) StoreNumber("r.Cou", k, StoredNumber("C.Pre", k, 0) & 0xFFFF, 2);
  }
  for (int k = 0; k < kOutputCount; ++k) {
    switch (StoredNumber("O.Pon", k, 0)) {
      case 0: SetOutput(k, 0.0f); break;
      case 1: SetOutput(k, 1.0f); break;
      default: break;  // as before the power cut
    }
  }
  lastHeard_ = now;
}

bool SimModule::RawInput(int k, Millis t) const {
  if (!inputs_.automatic) return ((inputs_.mask >> k) & 1u) != 0;
  const Millis halfPeriod = static_cast<Millis>(k + 1) * std::max(1, inputs_.halfPeriodMs);
  return ((t + phases_[static_cast<std::size_t>(k)]) / halfPeriod) % 2 == 1;
}

std::uint16_t SimModule::InputMask(Millis now) const {
  unsigned mask = 0;
  for (int k = 0; k < kInputCount; ++k) {
    const bool inverted = StoredNumber("I.inv", k, 0) == 1;
    if (RawInput(k, now) != inverted) mask |= 1u << k;
  }
  return static_cast<std::uint16_t>(mask);
}

void SimModule::AdvanceCounters(Millis now) {
  if (now <= countedUpTo_) return;
  if (inputs_.automatic) {
    for (int k = 0; k < kInputCount; ++k) {
      // The wave changes at every multiple m of the half period; after an odd m it is high.
      const Millis halfPeriod = static_cast<Millis>(k + 1) * std::max(1, inputs_.halfPeriodMs);
      const Millis phase = phases_[static_cast<std::size_t>(k)];
      const std::int64_t first = (countedUpTo_ + phase) / halfPeriod + 1;
      const std::int64_t last = (now + phase) / halfPeriod;
      if (last < first) continue;
      const std::int64_t rising = oddUpTo(last) - oddUpTo(first - 1);
      const std::int64_t falling = (last - first + 1) - rising;
      CountEdges(k, static_cast<unsigned>(rising), static_cast<unsigned>(falling));
    }
  }
  countedUpTo_ = now;
}

void SimModule::CountEdges(int k, unsigned rising, unsigned falling) {
  // An inverted input turns the rising edges of the wire into falling ones of the input.
  if (StoredNumber("I.inv", k, 0) == 1) std::swap(rising, falling);
  unsigned edges = 0;
  switch (StoredNumber("C.Edg", k, 0)) {
    case 0: edges = rising; break;
    case 1: edges = falling; break;
    default: edges = rising + falling; break;
  }
  if (edges == 0) return;
  const SimParameter* counter = table_.FindByName("r.Cou");
  if (counter == nullptr || !counter->hasIndex(k)) return;
  unsigned count = StoredNumber("r.Cou", k, 0);
  switch (StoredNumber("C.Mod", k, 1)) {
    case 1: count = (count + edges) & 0xFFFF; break;
    case 2: count = (count - edges) & 0xFFFF; break;
    case 3: {
      // Counts 0 .. limit-1 and starts again.
      const unsigned limit = std::max(1u, StoredNumber("C.Lim", k, 0xFFFF));
      if (count >= limit) {
        count = 0;
        --edges;
      }
      count = static_cast<unsigned>((static_cast<std::uint64_t>(count) + edges) % limit);
      break;
    }
    default: return;  // off, or the service mode
  }
  StoreNumber("r.Cou", k, count, 2);
}

void SimModule::SetInputsFixed(std::uint16_t mask, Millis now) {
  AdvanceCounters(now);
  for (int k = 0; k < kInputCount; ++k) {
    const bool before = RawInput(k, now);
    const bool after = ((mask >> k) & 1u) != 0;
    if (before != after) CountEdges(k, after ? 1 : 0, after ? 0 : 1);
  }
  inputs_.automatic = false;
  inputs_.mask = mask;
}

void SimModule::SetInputsAutomatic(Millis now) {
  AdvanceCounters(now);
  InputBehaviour automatic = inputs_;
  automatic.automatic = true;
  for (int k = 0; k < kInputCount; ++k) {
    const bool before = RawInput(k, now);
    std::swap(inputs_, automatic);
    const bool after = RawInput(k, now);
    std::swap(inputs_, automatic);
    if (before != after) CountEdges(k, after ? 1 : 0, after ? 0 : 1);
  }
  inputs_.automatic = true;
}

void SimModule::CheckLinkLoss(Millis now) {
  // "t.Lnk" in seconds; 0 means the link is not watched.
  static const std::uint16_t hash = hashName("t.Lnk");
  const unsigned timeout = StoredNumber(hash, 0, 0);
  if (timeout == 0 || now - lastHeard_ <= static_cast<Millis>(timeout) * 1000) return;
  for (int k = 0; k < kOutputCount; ++k) {
    switch (StoredNumber("O.Saf", k, 0)) {
      case 1: SetOutput(k, 0.0f); break;
      case 2: SetOutput(k, 1.0f); break;
      default: break;  // outputs keep their state
    }
  }
}

void SimModule::SetOutput(int k, float value) {
  const SimParameter* p = table_.FindByName("r.oe");
  if (p == nullptr || !p->hasIndex(k)) return;
  store_.At(p->hash, k).bytes = encodeSingle(value, 3);
}

float SimModule::Output(int k) const {
  const SimParameter* p = table_.FindByName("r.oe");
  const Slot* slot = p == nullptr ? nullptr : store_.Find(p->hash, k);
  return slot == nullptr ? 0.0f : decodeSingle(slot->bytes);
}

}  // namespace kvtr::sim
