// kvtr-configurator: the desktop program. The start-up, the command line, the unattended jobs and
// the exit code are the application's (the same code `kvtr batch` runs); ui::Configurator gives it
// its windows.
#include <QApplication>
#include <QIcon>
#include <QTranslator>
#include <filesystem>
#include <memory>
#include <system_error>

#include "app/settings_store.h"
#include "common/catalogue.h"
#include "common/program_directory.h"
#include "model/descriptor_loader.h"
#include "ui/configurator.h"
#include "ui/language.h"
#include "ui/qt_user_interface.h"
#include "ui/resources.h"

int main(int argc, char** argv) {
  using namespace kvtr;
  QApplication app(argc, argv);
  std::unique_ptr<SettingsStore> store = openSettingsStore();
  // Before any window is built: every text below is looked up in the running language, the
  // operator's stored choice first, else the locale's; Qt's own buttons and dialogs follow it.
  ui::chooseLanguage(store.get(), programDirectory());
  QTranslator qtTexts;
  (void)ui::loadQtTranslations(qtTexts);
  QApplication::setOrganizationName("Configurator - KVTR");
  QApplication::setApplicationName("KVTR");
  QApplication::setQuitOnLastWindowClosed(false);
  ui::LoadResources();
  QApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/kvtr.svg")));

  ui::QtUserInterface userInterface;

  ui::ConfiguratorOptions options;
  // Qt has taken its own options out of the arguments; the rest are the program's.
  for (int i = 1; i < argc; ++i) options.arguments.emplace_back(argv[i]);
  std::error_code ec;
  options.workingDirectory = std::filesystem::current_path(ec);
  options.programPath = std::filesystem::path(QCoreApplication::applicationFilePath().toStdU16String());
  options.descriptorFile = FindDescriptorFile(programDirectory());
  options.settings = store.get();

  ui::Configurator configurator(userInterface, std::move(options));
  (void)configurator.Start();
  return configurator.Run();
}
