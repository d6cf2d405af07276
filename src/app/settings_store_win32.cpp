// The registry store: the keys under HKEY_LOCAL_MACHINE that the program has always used, with
// DWORD numbers and single-byte Windows-1251 texts.
#include <windows.h>

#include "app/settings_store.h"
#include "model/text_encoding.h"

namespace kvtr {

namespace {

class RegistrySettingsStore final : public SettingsStore {
 public:
  std::optional<std::uint32_t> readNumber(SettingsKey key, std::string_view name) const override {
    HKEY hkey = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, std::string(settingsKeyPath(key)).c_str(), 0, KEY_READ, &hkey) !=
        ERROR_SUCCESS)
      return std::nullopt;
    DWORD type = 0;
    DWORD data = 0;
    DWORD size = sizeof data;
    const LONG rc = RegQueryValueExA(hkey, std::string(name).c_str(), nullptr, &type,
                                     reinterpret_cast<BYTE*>(&data), &size);
    RegCloseKey(hkey);
    if (rc != ERROR_SUCCESS || type != REG_DWORD || size != sizeof data) return std::nullopt;
    return static_cast<std::uint32_t>(data);
  }

  std::optional<std::string> readText(SettingsKey key, std::string_view name) const override {
    HKEY hkey = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, std::string(settingsKeyPath(key)).c_str(), 0, KEY_READ, &hkey) !=
        ERROR_SUCCESS)
      return std::nullopt;
    DWORD type = 0;
    DWORD size = 0;
    const std::string valueName(name);
    LONG rc = RegQueryValueExA(hkey, valueName.c_str(), nullptr, &type, nullptr, &size);
    std::string bytes;
    if (rc == ERROR_SUCCESS && type == REG_SZ) {
      bytes.resize(size);
      rc = RegQueryValueExA(hkey, valueName.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(bytes.data()), &size);
      bytes.resize(rc == ERROR_SUCCESS ? size : 0);
    }
    RegCloseKey(hkey);
    if (rc != ERROR_SUCCESS || type != REG_SZ) return std::nullopt;
    while (!bytes.empty() && bytes.back() == '\0') bytes.pop_back();
    return cp1251ToUtf8(bytes);
  }

  bool write(SettingsKey key, const std::vector<SettingsValue>& values, bool createKey) override {
    HKEY hkey = nullptr;
    const std::string path(settingsKeyPath(key));
    LONG rc = createKey ? RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &hkey,
                                          nullptr)
                        : RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_WRITE, &hkey);
    if (rc != ERROR_SUCCESS) return false;
    bool ok = true;
    for (const auto& v : values) {
      if (const auto* n = std::get_if<std::uint32_t>(&v.data)) {
        const DWORD data = *n;
        rc = RegSetValueExA(hkey, v.name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&data), sizeof data);
      } else {
        const std::string bytes = utf8ToCp1251(std::get<std::string>(v.data));
        rc = RegSetValueExA(hkey, v.name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(bytes.c_str()),
                            static_cast<DWORD>(bytes.size() + 1));
      }
      ok = ok && rc == ERROR_SUCCESS;
    }
    RegCloseKey(hkey);
    return ok;
  }
};

}  // namespace

std::unique_ptr<SettingsStore> openSettingsStore() { return std::make_unique<RegistrySettingsStore>(); }

}  // namespace kvtr
