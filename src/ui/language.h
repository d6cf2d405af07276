// The language of the desktop program's windows: Russian (the program's own texts) or English.
// The operator's choice is kept in the program's settings (value "language" of the port key:
// "ru" or "en") and wins over the locale; it takes effect at the next start, since every window
// takes its texts when it is built.
#pragma once

#include <QString>
#include <filesystem>
#include <optional>
#include <string_view>

class QTranslator;

namespace kvtr {
class SettingsStore;
}

namespace kvtr::ui {

enum class Language { Russian, English };

inline constexpr std::string_view kValueLanguage = "language";

// The stored choice; nothing when none is stored or the stored text is not a known language.
[[nodiscard]] std::optional<Language> storedLanguage(const SettingsStore& store);
bool storeLanguage(SettingsStore& store, Language language);

// Chooses the message catalogue at start: the stored choice, else the locale. Call before any
// window is built; `store` may be null (no settings: the locale decides).
void chooseLanguage(const SettingsStore* store, const std::filesystem::path& programFolder);

// The language the windows are shown in now.
[[nodiscard]] Language runningLanguage();

// Qt's own texts (the standard buttons, the file dialog) in the running language, from Qt's
// translations (qtbase_ru.qm, qtbase_en.qm), loaded into `translator` and installed; they stay
// as long as it lives. False when Qt has no translation for it.
bool loadQtTranslations(QTranslator& translator);

// The help page `name` ("user_guide.html") in the running language: help/en/<name> for English,
// falling back to the Russian help/<name> of the same folder; the folder beside the program
// first, then the installed data folder. Empty when there is none.
[[nodiscard]] std::filesystem::path findHelpPage(std::string_view name);

}  // namespace kvtr::ui
