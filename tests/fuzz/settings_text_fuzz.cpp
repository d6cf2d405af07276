// The settings file as it may be found on the disk: edited by hand, cut short, or anything else.
// Besides not crashing, whatever the reader takes from it must be written back and read again
// as the same values.
#include "app/settings_store.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const auto entries = kvtr::parseSettingsText(text);
  const auto again = kvtr::parseSettingsText(kvtr::formatSettingsText(entries));
  // Sections are written in the order they first appear, so entries regroup by section; within a
  // section the order and the values stay.
  if (again.size() != entries.size()) std::abort();
  for (const auto& e : entries) {
    bool found = false;
    for (const auto& a : again) {
      if (a.section == e.section && a.value.name == e.value.name && a.value.data == e.value.data) found = true;
    }
    if (!found) std::abort();
  }
  return 0;
}
