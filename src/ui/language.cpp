#include "ui/language.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>
#include <string>
#include <system_error>
#include <vector>

#include "app/settings_store.h"
#include "common/catalogue.h"
#include "common/program_directory.h"

namespace kvtr::ui {

namespace {

const char* code(Language language) { return language == Language::English ? "en" : "ru"; }

}  // namespace

std::optional<Language> storedLanguage(const SettingsStore& store) {
  const std::optional<std::string> text = store.readText(SettingsKey::Port, kValueLanguage);
  if (!text) return std::nullopt;
  if (*text == "ru") return Language::Russian;
  if (*text == "en") return Language::English;
  return std::nullopt;
}

bool storeLanguage(SettingsStore& store, Language language) {
  return store.write(SettingsKey::Port, {SettingsValue{std::string(kValueLanguage), std::string(code(language))}}, true);
}

void chooseLanguage(const SettingsStore* store, const std::filesystem::path& programFolder) {
  const std::optional<Language> stored = store != nullptr ? storedLanguage(*store) : std::nullopt;
  if (stored) {
    initCatalogue(programFolder, code(*stored));
  } else {
    initCatalogue(programFolder);
  }
}

Language runningLanguage() { return catalogueLanguage() == "en" ? Language::English : Language::Russian; }

bool loadQtTranslations(QTranslator& translator) {
  const QString name = QStringLiteral("qtbase_%1").arg(QString::fromLatin1(code(runningLanguage())));
  if (!translator.load(name, QLibraryInfo::path(QLibraryInfo::TranslationsPath))) return false;
  return QCoreApplication::installTranslator(&translator);
}

std::filesystem::path findHelpPage(std::string_view name) {
  std::vector<std::filesystem::path> folders;
  for (const std::filesystem::path& base : {programDirectory(), installedDataDirectory()}) {
    if (runningLanguage() == Language::English) folders.push_back(base / "help" / "en");
    folders.push_back(base / "help");
  }
  std::error_code ec;
  for (const std::filesystem::path& folder : folders) {
    const std::filesystem::path page = folder / name;
    if (std::filesystem::is_regular_file(page, ec)) return page;
  }
  return {};
}

}  // namespace kvtr::ui
