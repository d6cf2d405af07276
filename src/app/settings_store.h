// The program's stored settings: the port settings of the program and the registration of the
// device's configurator. On Windows they are the registry values the program has always used;
// on POSIX the same keys and values live in a small text file, $XDG_CONFIG_HOME/kvtr/settings
// (~/.config/kvtr/settings when XDG_CONFIG_HOME is not set), created on the first save and
// always replaced whole, so that a crash never leaves half a file.
//
// Ports. "port_number" keeps the number of a "COMn" port as it always has. A port that is not a
// COM port (on POSIX a device path such as /dev/ttyUSB0 or a /dev/serial/by-id link) is kept in
// the text value "port_name"; while "port_name" is not empty it wins over "port_number". Saving a
// COM port empties "port_name"; saving a path leaves "port_number" as it was, so that an older
// program sharing the settings still finds its last COM port. "com_port_map" holds which device
// each COM number stands for ("COM3=/dev/ttyUSB0;COM4=/dev/ttyUSB1", see port_names.h).
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "protocol/port_settings_storage.h"

namespace kvtr {

// The two keys of the program. Their registry paths are under HKEY_LOCAL_MACHINE.
enum class SettingsKey {
  Port,     // Software\DORV\KVTR: the program's port settings
  Devices,  // Software\DORV\Devices\KVTR: "devices" and "application"
};
[[nodiscard]] std::string_view settingsKeyPath(SettingsKey key);

// Value names.
inline constexpr std::string_view kValueAddress = "address";
inline constexpr std::string_view kValueAddressLength = "address_length";
inline constexpr std::string_view kValueBaudRate = "baud_rate";
inline constexpr std::string_view kValueByteSize = "byte_size";
inline constexpr std::string_view kValueStopBits = "stop_bits";
inline constexpr std::string_view kValueParityScheme = "parity_scheme";
inline constexpr std::string_view kValuePortNumber = "port_number";
inline constexpr std::string_view kValuePortName = "port_name";
inline constexpr std::string_view kValueComPortMap = "com_port_map";
inline constexpr std::string_view kValueDevices = "devices";
inline constexpr std::string_view kValueApplication = "application";

// One value to store: a number (a DWORD in the registry) or a text.
struct SettingsValue {
  std::string name;
  std::variant<std::uint32_t, std::string> data;
};

class SettingsStore : public PortSettingsStorage {
 public:
  ~SettingsStore() override = default;

  // The port key read with the program's defaults, and written whole (see loadPortSettings).
  [[nodiscard]] StoredPortSettings LoadPortSettings() const override;
  bool SavePortSettings(const StoredPortSettings& settings) override;

  // Nothing when the key or the value is missing, or the value has the other type.
  [[nodiscard]] virtual std::optional<std::uint32_t> readNumber(SettingsKey key, std::string_view name) const = 0;
  [[nodiscard]] virtual std::optional<std::string> readText(SettingsKey key, std::string_view name) const = 0;

  // Writes the values of one key together. With `createKey` false a missing key is not created
  // and nothing is stored (the port key belongs to the installation on Windows). False when
  // nothing could be stored.
  virtual bool write(SettingsKey key, const std::vector<SettingsValue>& values, bool createKey) = 0;
};

// The store of this computer: the registry on Windows, the settings file on POSIX.
[[nodiscard]] std::unique_ptr<SettingsStore> openSettingsStore();

// A store kept in memory only: for runs that must not touch the user's settings, and for tests.
class MemorySettingsStore final : public SettingsStore {
 public:
  [[nodiscard]] std::optional<std::uint32_t> readNumber(SettingsKey key, std::string_view name) const override;
  [[nodiscard]] std::optional<std::string> readText(SettingsKey key, std::string_view name) const override;
  bool write(SettingsKey key, const std::vector<SettingsValue>& values, bool createKey) override;

  // Makes a key exist without values, as an installation does.
  void createKey(SettingsKey key);

 private:
  struct Entry {
    SettingsKey key;
    SettingsValue value;
  };
  std::vector<SettingsKey> keys_;
  std::vector<Entry> entries_;
};

// The settings file: the text format of the POSIX store, usable on any system.
//   [Software\DORV\KVTR]
//   address = 16
//   port_name = "/dev/ttyUSB0"
// Numbers are decimal; texts are quoted, with \\, \", \n and \r escaped. Unknown lines are kept
// out of the way: a line that does not parse is skipped on reading.
class FileSettingsStore final : public SettingsStore {
 public:
  explicit FileSettingsStore(std::filesystem::path file);

  // $XDG_CONFIG_HOME/kvtr/settings, or ~/.config/kvtr/settings; empty when neither variable is set.
  [[nodiscard]] static std::filesystem::path defaultPath();

  [[nodiscard]] std::optional<std::uint32_t> readNumber(SettingsKey key, std::string_view name) const override;
  [[nodiscard]] std::optional<std::string> readText(SettingsKey key, std::string_view name) const override;
  // The file, its folder and the key are created as needed: on POSIX every key is the user's.
  bool write(SettingsKey key, const std::vector<SettingsValue>& values, bool createKey) override;

  [[nodiscard]] const std::filesystem::path& path() const { return file_; }
  // Why the last write failed.
  [[nodiscard]] const std::string& lastError() const { return lastError_; }

 private:
  std::filesystem::path file_;
  std::string lastError_;
};

// Parses the settings file text into its values; lines that do not parse are skipped.
struct SettingsFileEntry {
  std::string section;
  SettingsValue value;
};
[[nodiscard]] std::vector<SettingsFileEntry> parseSettingsText(std::string_view text);
[[nodiscard]] std::string formatSettingsText(const std::vector<SettingsFileEntry>& entries);


[[nodiscard]] StoredPortSettings loadPortSettings(const SettingsStore& store);
// Stores every value of the port key; nothing when the key does not exist (see write()).
bool savePortSettings(SettingsStore& store, const StoredPortSettings& settings);

// The devices key: "devices" is written at every start with the device's name; "application"
// names the main configurator of the device, in double quotes.
inline constexpr std::string_view kDevicesValueText = "КВТР";
bool registerDeviceName(SettingsStore& store);

}  // namespace kvtr
