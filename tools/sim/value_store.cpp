#include "sim/value_store.h"

#include <charconv>

#include "common/catalogue.h"
#include "common/format.h"
#include "common/strings.h"
#include "sim/parameter_table.h"

namespace kvtr::sim {

const Slot* ValueStore::Find(std::uint16_t hash, int index) const {
  const auto found = slots_.find({hash, index});
  return found == slots_.end() ? nullptr : &found->second;
}

Slot* ValueStore::Find(std::uint16_t hash, int index) {
  const auto found = slots_.find({hash, index});
  return found == slots_.end() ? nullptr : &found->second;
}

namespace {

constexpr std::string_view kHeader = "kvtr-sim state 1";

bool readInt(std::string_view text, int& out) {
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
  return ec == std::errc() && end == text.data() + text.size();
}

std::string toHex(const std::vector<std::uint8_t>& bytes) {
  if (bytes.empty()) return "-";
  std::string text;
  for (const std::uint8_t b : bytes) text += strprintf("%02X", b);
  return text;
}

bool fromHex(std::string_view text, std::vector<std::uint8_t>& bytes) {
  bytes.clear();
  if (text == "-") return true;
  if (text.size() % 2 != 0) return false;
  for (std::size_t i = 0; i < text.size(); i += 2) {
    unsigned value = 0;
    const auto [end, ec] = std::from_chars(text.data() + i, text.data() + i + 2, value, 16);
    if (ec != std::errc() || end != text.data() + i + 2) return false;
    bytes.push_back(static_cast<std::uint8_t>(value));
  }
  return true;
}

}  // namespace

std::string StoreToText(const ValueStore& store, const ParameterTable& table) {
  std::string text{kHeader};
  text += '\n';
  for (const auto& [key, slot] : store.slots()) {
    const SimParameter* p = table.Find(key.first);
    if (p == nullptr) continue;
    text += strprintf("value %s %d %s %u\n", p->name.c_str(), key.second, toHex(slot.bytes).c_str(),
                      static_cast<unsigned>(slot.attributes));
  }
  return text;
}

std::optional<ValueStore> StoreFromText(std::string_view text, const ParameterTable& table, std::string* error) {
  ValueStore store;
  int lineNumber = 0;
  bool headerSeen = false;
  auto fail = [&](const char* what) -> std::optional<ValueStore> {
    if (error != nullptr) *error = strprintf(trFormat("строка %d файла состояния: %s"), lineNumber, tr(what));
    return std::nullopt;
  };
  for (std::string_view rest = text; !rest.empty();) {
    const std::size_t end = rest.find('\n');
    const std::string_view line = trim(rest.substr(0, end));
    rest = end == std::string_view::npos ? std::string_view{} : rest.substr(end + 1);
    ++lineNumber;
    if (line.empty()) continue;
    if (!headerSeen) {
      if (line != kHeader) return fail(trMark("это не файл состояния kvtr-sim"));
      headerSeen = true;
      continue;
    }
    const std::vector<std::string_view> t = splitTokens(line, " \t");
    if (t[0] != "value") return fail(trMark("неизвестная запись"));
    int index = 0;
    int attributes = 0;
    Slot slot;
    if (t.size() != 5 || !readInt(t[2], index) || !fromHex(t[3], slot.bytes) || !readInt(t[4], attributes) ||
        attributes < 0 || attributes > 3 || slot.bytes.size() > 15) {
      return fail(trMark("неверное значение"));
    }
    slot.attributes = static_cast<std::uint8_t>(attributes);
    const SimParameter* p = table.FindByName(t[1]);
    if (p == nullptr || !equalsNoCase(p->name, t[1])) continue;
    store.At(p->hash, index) = std::move(slot);
  }
  if (!headerSeen) return fail(trMark("пустой файл состояния"));
  return store;
}

}  // namespace kvtr::sim
