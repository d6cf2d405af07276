// Catalogue lookup through the C library's gettext.
//
// The language is read from the environment here rather than left to setlocale() alone: a machine
// often has no locale generated for the operator's language (en_US.UTF-8 missing is common), and
// then setlocale() fails and gettext would fall back to the untranslated texts. The language is
// therefore handed to gettext through LANGUAGE, and the messages category is put in C.UTF-8 when
// the operator's own locale is missing (gettext ignores LANGUAGE only in the plain "C" locale).
#include "common/catalogue.h"

#include "common/program_directory.h"
#include "common/utf8_path.h"

#include <clocale>
#include <cstdlib>
#include <string>
#include <string_view>
#include <system_error>

#include <libintl.h>

namespace kvtr {

namespace {
constexpr const char* kDomain = "kvtr";
// Set while a catalogue other than the program's own language is chosen.
bool translating = false;
// Its language: "en" for "en_US.UTF-8".
std::string language;

// The locale that decides the messages, by the usual precedence: the first of LC_ALL,
// LC_MESSAGES and LANG that is set and not empty.
std::string_view messagesLocale() {
  for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* value = std::getenv(name);
    if (value != nullptr && *value != '\0') return value;
  }
  return {};
}

// "en_US.UTF-8@euro" -> "en_US"; "en.UTF-8" -> "en".
std::string_view withoutCodeset(std::string_view locale) {
  return locale.substr(0, locale.find_first_of(".@"));
}

// The program's own texts stand for the unset, C and POSIX locales and for Russian.
bool isOwnLanguage(std::string_view locale) {
  const std::string_view name = withoutCodeset(locale);
  if (name.empty() || name == "C" || name == "POSIX") return true;
  return name.substr(0, name.find('_')) == "ru";
}
}  // namespace

void initCatalogue(const std::filesystem::path& programFolder) {
  initCatalogue(programFolder, messagesLocale());
}

void initCatalogue(const std::filesystem::path& programFolder, std::string_view locale) {
  translating = !isOwnLanguage(locale);
  language.clear();
  if (!translating) return;
  const std::string_view name = withoutCodeset(locale);
  language = name.substr(0, name.find('_'));

  // An operator's own LANGUAGE list (say "de:en") is kept when it starts with the chosen language;
  // otherwise the locale's language is given with and without its country: "en_US:en".
  const char* languages = std::getenv("LANGUAGE");
  if (languages == nullptr || !std::string_view(languages).starts_with(language)) {
    std::string list(name);
    const std::size_t country = name.find('_');
    if (country != std::string_view::npos) list += ":" + std::string(name.substr(0, country));
    ::setenv("LANGUAGE", list.c_str(), 1);
  }
  if (std::setlocale(LC_MESSAGES, "") == nullptr || std::string_view(std::setlocale(LC_MESSAGES, nullptr)) == "C") {
    std::setlocale(LC_MESSAGES, "C.UTF-8");
  }

  std::error_code ec;
  const std::filesystem::path beside = programFolder / "locale";
  const std::string folder =
      std::filesystem::is_directory(beside, ec) ? utf8FromPath(beside) : utf8FromPath(installedLocaleDirectory());
  bindtextdomain(kDomain, folder.c_str());
  // The program's texts are UTF-8 whatever the terminal's character type says.
  bind_textdomain_codeset(kDomain, "UTF-8");
}

std::string_view catalogueLanguage() { return language; }

const char* tr(const char* text) {
  if (!translating || text == nullptr || *text == '\0') return text;
  return dgettext(kDomain, text);
}

}  // namespace kvtr
