// The message catalogue: every text that an operator reads passes through tr(), so that one
// catalogue per language can replace it. The texts in the code are the program's own, in Russian;
// with no catalogue for the running locale (or for a Russian one) tr() returns them unchanged.
//
// The build's target "kvtr-pot" extracts the marked texts into po/kvtr.pot (xgettext with the
// keywords tr, trFormat, trMark and the desktop program's uiText). The translations po/LANG.po and
// po/LANG_*.po are merged and compiled by the target "kvtr-catalogues" into
//   <program folder>/locale/LANG/LC_MESSAGES/kvtr.mo, looked up there first, then under
//   <install prefix>/share/locale/...
#pragma once

#include <filesystem>
#include <string_view>

namespace kvtr {

// Chooses the catalogue from the environment for the messages only: numbers and the character
// type stay in the C locale, so that "%.3f" keeps its point whatever the operator's locale says.
// The first of LC_ALL, LC_MESSAGES and LANG that is set decides: unset, C, POSIX and Russian
// locales give the program's own texts; any other gives that language's catalogue (or LANGUAGE's
// list, when the operator set one), even where that locale is not installed on the machine.
// Call at the start of main(); a later call chooses again from the environment as it is then.
void initCatalogue(const std::filesystem::path& programFolder);

// As above with the locale given (say "en" or "ru") instead of the environment's: the operator's
// own choice of language, which wins over the locale.
void initCatalogue(const std::filesystem::path& programFolder, std::string_view locale);

// The language of the running catalogue ("en"), empty while the program's own texts are shown.
[[nodiscard]] std::string_view catalogueLanguage();

// The text in the running language. The returned pointer lives as long as the program.
[[nodiscard]] const char* tr(const char* text);

// A printf-style format in the running language; a separate keyword so that the extraction
// marks it as a c-format string and the translator's placeholders are checked by msgfmt.
// The compiler checks the arguments of the printf-style call against the format given here.
[[nodiscard]]
#if defined(__GNUC__) || defined(__clang__)
__attribute__((format_arg(1)))
#endif
inline const char* trFormat(const char* format) {
  return tr(format);
}

// Marks a text for the extraction where it is defined (a table of constants, a text chosen at
// compile time); it is looked up with tr() where it is shown. The text itself is returned, so the
// mark may stand in a constant expression.
[[nodiscard]] constexpr const char* trMark(const char* text) { return text; }

}  // namespace kvtr
