#include "app/settings_store.h"

namespace kvtr {

std::unique_ptr<SettingsStore> openSettingsStore() {
  std::filesystem::path file = FileSettingsStore::defaultPath();
  // Without a home folder there is nowhere to keep settings: the run uses the defaults and
  // forgets its changes.
  if (file.empty()) return std::make_unique<MemorySettingsStore>();
  return std::make_unique<FileSettingsStore>(std::move(file));
}

}  // namespace kvtr
