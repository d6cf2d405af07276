#include "app/settings_store.h"

#include <algorithm>
#include <cstdlib>

#include "common/atomic_file.h"
#include "common/catalogue.h"
#include "common/strings.h"
#include "common/utf8_path.h"

namespace kvtr {

namespace {

constexpr std::string_view kPortKeyPath = "Software\\DORV\\KVTR";
constexpr std::string_view kDevicesKeyPath = "Software\\DORV\\Devices\\KVTR";

std::optional<SettingsKey> keyOfSection(std::string_view section) {
  if (equalsNoCase(section, kPortKeyPath)) return SettingsKey::Port;
  if (equalsNoCase(section, kDevicesKeyPath)) return SettingsKey::Devices;
  return std::nullopt;
}

// A quoted text with \\, \", \n and \r escapes; nothing when the quoting is broken.
std::optional<std::string> parseQuoted(std::string_view text) {
  if (text.size() < 2 || text.front() != '"' || text.back() != '"') return std::nullopt;
  std::string out;
  for (std::size_t i = 1; i + 1 < text.size(); ++i) {
    char c = text[i];
    if (c == '"') return std::nullopt;
    if (c == '\\') {
      if (i + 2 >= text.size()) return std::nullopt;
      const char e = text[++i];
      if (e == 'n') c = '\n';
      else if (e == 'r') c = '\r';
      else if (e == '\\' || e == '"') c = e;
      else return std::nullopt;
    }
    out.push_back(c);
  }
  return out;
}

std::string quote(std::string_view text) {
  std::string out = "\"";
  for (const char c : text) {
    if (c == '\\' || c == '"') out.push_back('\\');
    if (c == '\n' || c == '\r') {
      // Either would end the line in the file.
      out += c == '\n' ? "\\n" : "\\r";
      continue;
    }
    out.push_back(c);
  }
  out.push_back('"');
  return out;
}

std::vector<SettingsFileEntry> readFileEntries(const std::filesystem::path& file) {
  std::vector<std::uint8_t> bytes;
  if (file.empty() || !readWholeFile(file, bytes)) return {};
  return parseSettingsText(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

const SettingsValue* findEntry(const std::vector<SettingsFileEntry>& entries, SettingsKey key, std::string_view name) {
  const SettingsValue* found = nullptr;
  for (const auto& e : entries) {
    // The last of repeated values wins, as a later edit of the file by hand would expect.
    if (keyOfSection(e.section) == key && equalsNoCase(e.value.name, name)) found = &e.value;
  }
  return found;
}

template <typename T>
std::optional<T> valueAs(const SettingsValue* v) {
  if (v == nullptr) return std::nullopt;
  if (const T* p = std::get_if<T>(&v->data)) return *p;
  return std::nullopt;
}

}  // namespace

std::string_view settingsKeyPath(SettingsKey key) {
  return key == SettingsKey::Port ? kPortKeyPath : kDevicesKeyPath;
}

// ------------------------------------------------------------------ file format

std::vector<SettingsFileEntry> parseSettingsText(std::string_view text) {
  std::vector<SettingsFileEntry> entries;
  std::string section;
  for (std::string_view rest = text; !rest.empty();) {
    const std::size_t eol = rest.find('\n');
    std::string_view line = trim(rest.substr(0, eol));
    rest = eol == std::string_view::npos ? std::string_view() : rest.substr(eol + 1);
    if (line.empty() || line.front() == '#' || line.front() == ';') continue;
    if (line.front() == '[') {
      if (line.back() == ']') section = std::string(trim(line.substr(1, line.size() - 2)));
      continue;
    }
    const std::size_t eq = line.find('=');
    if (eq == std::string_view::npos || section.empty()) continue;
    const std::string_view name = trim(line.substr(0, eq));
    const std::string_view data = trim(line.substr(eq + 1));
    if (name.empty()) continue;
    SettingsFileEntry entry{section, {std::string(name), std::uint32_t{0}}};
    if (!data.empty() && data.front() == '"') {
      auto t = parseQuoted(data);
      if (!t) continue;
      entry.value.data = std::move(*t);
    } else {
      auto n = parseWholeUnsigned(data);
      if (!n) continue;
      entry.value.data = *n;
    }
    entries.push_back(std::move(entry));
  }
  return entries;
}

std::string formatSettingsText(const std::vector<SettingsFileEntry>& entries) {
  std::string out = "# Settings of the KVTR configurator\n";
  std::vector<std::string> sections;
  for (const auto& e : entries) {
    if (std::find(sections.begin(), sections.end(), e.section) == sections.end()) sections.push_back(e.section);
  }
  for (const auto& section : sections) {
    out += "\n[" + section + "]\n";
    for (const auto& e : entries) {
      if (e.section != section) continue;
      out += e.value.name + " = ";
      if (const auto* n = std::get_if<std::uint32_t>(&e.value.data)) out += std::to_string(*n);
      else out += quote(std::get<std::string>(e.value.data));
      out += "\n";
    }
  }
  return out;
}

// ------------------------------------------------------------------ file store

FileSettingsStore::FileSettingsStore(std::filesystem::path file) : file_(std::move(file)) {}

std::filesystem::path FileSettingsStore::defaultPath() {
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  // A relative XDG_CONFIG_HOME is invalid by the base-directory rules and is ignored.
  if (xdg != nullptr && *xdg == '/') return std::filesystem::path(xdg) / "kvtr" / "settings";
  const char* home = std::getenv("HOME");
  if (home != nullptr && *home != '\0') return std::filesystem::path(home) / ".config" / "kvtr" / "settings";
  return {};
}

std::optional<std::uint32_t> FileSettingsStore::readNumber(SettingsKey key, std::string_view name) const {
  const auto entries = readFileEntries(file_);
  return valueAs<std::uint32_t>(findEntry(entries, key, name));
}

std::optional<std::string> FileSettingsStore::readText(SettingsKey key, std::string_view name) const {
  const auto entries = readFileEntries(file_);
  return valueAs<std::string>(findEntry(entries, key, name));
}

bool FileSettingsStore::write(SettingsKey key, const std::vector<SettingsValue>& values, bool /*createKey*/) {
  lastError_.clear();
  if (file_.empty()) {
    lastError_ = tr("нет папки для файла настроек (не заданы ни XDG_CONFIG_HOME, ни HOME)");
    return false;
  }
  auto entries = readFileEntries(file_);
  const std::string section(settingsKeyPath(key));
  for (const auto& v : values) {
    auto same = [&](const SettingsFileEntry& e) {
      return keyOfSection(e.section) == key && equalsNoCase(e.value.name, v.name);
    };
    entries.erase(std::remove_if(entries.begin(), entries.end(), same), entries.end());
    entries.push_back({section, v});
  }
  std::error_code ec;
  std::filesystem::create_directories(file_.parent_path(), ec);
  if (ec) {
    lastError_ = utf8FromPath(file_.parent_path()) + ": " + ec.message();
    return false;
  }
  const std::string text = formatSettingsText(entries);
  return writeFileAtomically(file_, {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()}, &lastError_);
}

// ------------------------------------------------------------------ memory store

std::optional<std::uint32_t> MemorySettingsStore::readNumber(SettingsKey key, std::string_view name) const {
  for (const auto& e : entries_) {
    if (e.key == key && equalsNoCase(e.value.name, name)) return valueAs<std::uint32_t>(&e.value);
  }
  return std::nullopt;
}

std::optional<std::string> MemorySettingsStore::readText(SettingsKey key, std::string_view name) const {
  for (const auto& e : entries_) {
    if (e.key == key && equalsNoCase(e.value.name, name)) return valueAs<std::string>(&e.value);
  }
  return std::nullopt;
}

void MemorySettingsStore::createKey(SettingsKey key) {
  if (std::find(keys_.begin(), keys_.end(), key) == keys_.end()) keys_.push_back(key);
}

bool MemorySettingsStore::write(SettingsKey key, const std::vector<SettingsValue>& values, bool createKey) {
  if (std::find(keys_.begin(), keys_.end(), key) == keys_.end()) {
    if (!createKey) return false;
    keys_.push_back(key);
  }
  for (const auto& v : values) {
    auto it = std::find_if(entries_.begin(), entries_.end(),
                           [&](const Entry& e) { return e.key == key && equalsNoCase(e.value.name, v.name); });
    if (it != entries_.end()) it->value = v;
    else entries_.push_back({key, v});
  }
  return true;
}

// ------------------------------------------------------------------ port settings

StoredPortSettings SettingsStore::LoadPortSettings() const { return loadPortSettings(*this); }

bool SettingsStore::SavePortSettings(const StoredPortSettings& settings) { return savePortSettings(*this, settings); }

StoredPortSettings loadPortSettings(const SettingsStore& store) {
  StoredPortSettings s;
  auto take = [&](std::string_view name, std::uint32_t& field) {
    if (auto v = store.readNumber(SettingsKey::Port, name)) field = *v;
  };
  take(kValueAddress, s.address);
  take(kValueAddressLength, s.addressLength);
  take(kValueBaudRate, s.baudRate);
  take(kValueByteSize, s.byteSize);
  take(kValueStopBits, s.stopBits);
  take(kValueParityScheme, s.parityScheme);
  take(kValuePortNumber, s.portNumber);
  if (auto v = store.readText(SettingsKey::Port, kValuePortName)) s.portName = *v;
  if (auto v = store.readText(SettingsKey::Port, kValueComPortMap)) s.comPortMap = *v;
  return s;
}

bool savePortSettings(SettingsStore& store, const StoredPortSettings& s) {
  std::vector<SettingsValue> values = {
      {std::string(kValueAddress), s.address},
      {std::string(kValueAddressLength), s.addressLength},
      {std::string(kValueBaudRate), s.baudRate},
      {std::string(kValueByteSize), s.byteSize},
      {std::string(kValueStopBits), s.stopBits},
      {std::string(kValueParityScheme), s.parityScheme},
      {std::string(kValuePortNumber), s.portNumber},
      {std::string(kValuePortName), s.portName},
  };
  // The map is the user's to write; it is stored back only when there is one.
  if (!s.comPortMap.empty()) values.push_back({std::string(kValueComPortMap), s.comPortMap});
  return store.write(SettingsKey::Port, values, false);
}

bool registerDeviceName(SettingsStore& store) {
  return store.write(SettingsKey::Devices, {{std::string(kValueDevices), std::string(kDevicesValueText)}}, true);
}

}  // namespace kvtr
