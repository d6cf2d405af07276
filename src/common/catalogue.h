// The message catalogue: every text that an operator reads passes through tr(), so that one
// catalogue per language can replace it. The texts in the code are the program's own, in Russian;
// with no catalogue for the running locale (or for a Russian one) tr() returns them unchanged.
//
// Extracting the texts for a translation:
//   xgettext --from-code=UTF-8 --keyword=tr --keyword=trFormat --keyword=trMark -o kvtr.pot
//            src/*/*.cpp src/*/*.h tools/*/*.cpp tools/*/*.h
// (the build's target "kvtr-pot" runs it).
// A translation "LANG.po" compiled with msgfmt is looked up as
//   <program folder>/locale/LANG/LC_MESSAGES/kvtr.mo, then <install prefix>/share/locale/...
#pragma once

#include <filesystem>

namespace kvtr {

// Chooses the catalogue from the environment (LANGUAGE, LC_ALL, LC_MESSAGES, LANG) for the
// messages only: numbers and the character type stay in the C locale, so that "%.3f" keeps its
// point whatever the operator's locale says. Call once at the start of main().
void initCatalogue(const std::filesystem::path& programFolder);

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
