// Catalogue lookup through the C library's gettext.
#include "common/catalogue.h"

#include "common/program_directory.h"

#include <clocale>
#include <system_error>

#include <libintl.h>

namespace kvtr {

namespace {
constexpr const char* kDomain = "kvtr";
bool bound = false;
}  // namespace

void initCatalogue(const std::filesystem::path& programFolder) {
  std::setlocale(LC_MESSAGES, "");
  std::error_code ec;
  const std::filesystem::path beside = programFolder / "locale";
  const std::string folder = std::filesystem::is_directory(beside, ec) ? beside.string() : installedLocaleDirectory().string();
  bindtextdomain(kDomain, folder.c_str());
  // The program's texts are UTF-8 whatever the terminal's character type says.
  bind_textdomain_codeset(kDomain, "UTF-8");
  bound = true;
}

const char* tr(const char* text) {
  if (!bound || text == nullptr || *text == '\0') return text;
  return dgettext(kDomain, text);
}

}  // namespace kvtr
