// The main window as the operator uses it: the commands of its menus triggered as actions,
// against the simulated module over a pseudo-terminal; and the desktop program started as a
// process with a command line, as a script starts it.
#include <gtest/gtest.h>

#include <QAction>
#include <QLineEdit>
#include <QMenuBar>
#include <QTest>
#include <QApplication>
#include <QDialogButtonBox>
#include <QTranslator>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <array>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <future>
#include <memory>
#include <optional>
#include <string>

#include "app/document.h"
#include "app/settings_store.h"
#include "common/catalogue.h"
#include "exchange/init_command.h"
#include "gui_support.h"
#include "integration/sim_fixture.h"
#include "screenshot.h"
#include "model/parameter.h"
#include "protocol/network_settings.h"
#include "ui/language.h"
#include "ui/main_frame.h"
#include "ui/parameter_tree_model.h"
#include "ui/parameter_tree_view.h"
#include "ui/setup_carrier_dialog.h"
#include "unit/tools/cli/run_tool.h"

namespace kvtr::test {
namespace {

using namespace std::chrono_literals;
namespace command = ui::command;

// Answers the questions of the program and notes how many frames the module had received when
// the INIT question came, so that the frames sent after the answer can be told apart.
class QuestionLog : public RecordingQtUserInterface {
 public:
  SimProcess* sim = nullptr;
  int framesAtInitQuestion = -1;

 protected:
  bool AskQuestion(const QString& text, const QString& caption) override {
    if (sim != nullptr && text.contains("Послать команду INIT?")) framesAtInitQuestion = framesSeen(*sim);
    return RecordingQtUserInterface::AskQuestion(text, caption);
  }
};

class MainFrameTest : public MainWindowFixture<QuestionLog> {
 protected:
  // The main window over a document as the program makes it; with a simulator its port points
  // there and the tree of the shipped descriptor is loaded, without one no configuration is.
  void MakeDocument(SimProcess* simulator) {
    if (simulator != nullptr) {
      ui.sim = simulator;
      OpenWindowOver(*simulator);
      return;
    }
    document = documentOnPort(ui, "");
    frame = std::make_unique<ui::MainFrame>(ui);
    frame->setDocument(document.get());
  }
  void Trigger(int id) {
    QAction* action = frame->action(id);
    ASSERT_NE(action, nullptr) << id;
    action->trigger();
  }
};

TEST_F(MainFrameTest, EveryWholeTreeCommandWithoutATreeSaysSo) {
  MakeDocument(nullptr);  // no configuration loaded
  for (const int id : {command::kReadAll, command::kWriteAll, command::kWriteChanged, command::kCompare,
                       command::kSetDefaults}) {
    ui.messages.clear();
    Trigger(id);
    ASSERT_EQ(ui.messages.size(), 1u) << id;
    EXPECT_EQ(ui.messages.front().text, "Дерево не определено") << id;
    EXPECT_EQ(ui.messages.front().caption, "Операция невозможна") << id;
    EXPECT_EQ(ui.messages.front().icon, MessageIcon::Stop) << id;
  }
  EXPECT_TRUE(ui.questions.isEmpty()) << "nothing is asked about a tree that is not there";
}

// The program chooses its language at start from the locale; here the choice is made again under
// LANG alone, and made back as it was when the test ends.
class LocaleScope {
 public:
  explicit LocaleScope(const char* lang) {
    for (std::size_t i = 0; i < kNames.size(); ++i) {
      const char* value = std::getenv(kNames[i]);
      saved_[i] = value != nullptr ? std::optional<std::string>(value) : std::nullopt;
      ::unsetenv(kNames[i]);
    }
    ::setenv("LANG", lang, 1);
    initCatalogue(KVTR_BIN_DIR);
  }
  ~LocaleScope() {
    for (std::size_t i = 0; i < kNames.size(); ++i) {
      if (saved_[i]) {
        ::setenv(kNames[i], saved_[i]->c_str(), 1);
      } else {
        ::unsetenv(kNames[i]);
      }
    }
    initCatalogue(KVTR_BIN_DIR);
  }
  LocaleScope(const LocaleScope&) = delete;
  LocaleScope& operator=(const LocaleScope&) = delete;

 private:
  static constexpr std::array<const char*, 4> kNames = {"LC_ALL", "LC_MESSAGES", "LANG", "LANGUAGE"};
  std::array<std::optional<std::string>, 4> saved_;
};

TEST_F(MainFrameTest, UnderAnEnglishLocaleTheMenusAreEnglish) {
  const LocaleScope english("en_US.UTF-8");
  MakeDocument(nullptr);
  QStringList menus;
  for (const QAction* menu : frame->menuBar()->actions()) menus << menu->text();
  menus.sort();
  EXPECT_EQ(menus, (QStringList{"&Device", "&Edit", "&File", "&Help", "&Tree", "Program Modes"}))
      << menus.join(' ').toStdString();
}

// The texts of a window's push buttons, sorted.
QStringList buttonTexts(const QWidget& window) {
  QStringList texts;
  for (const QPushButton* b : window.findChildren<QPushButton*>()) texts << b->text();
  texts.sort();
  return texts;
}

TEST_F(MainFrameTest, TheStoredChoiceOfLanguageWinsOverTheLocaleAtStart) {
  MemorySettingsStore store;
  {
    // English chosen on a Russian computer: the main window and the connection dialog are English.
    const LocaleScope russian("ru_RU.UTF-8");
    ASSERT_TRUE(ui::storeLanguage(store, ui::Language::English));
    ui::chooseLanguage(&store, KVTR_BIN_DIR);
    QTranslator qtTexts;
    (void)ui::loadQtTranslations(qtTexts);
    SimProcess& module = StartSim();
    ASSERT_TRUE(module.running());
    MakeDocument(&module);
    QStringList menus;
    for (const QAction* menu : frame->menuBar()->actions()) menus << menu->text();
    EXPECT_TRUE(menus.contains("Program Modes")) << menus.join(' ').toStdString();
    {
      ui::SetupCarrierDialog dialog(*document, ui, true);
      EXPECT_EQ(dialog.windowTitle(), "Connecting to the Device");
      EXPECT_EQ(buttonTexts(dialog), (QStringList{"Connect", "Exit", "Factory Network Settings", "Scan the Network",
                                                  "Work Offline"}));
    }
    // The picture of the main window in English for the guide: the tree read from the module.
    Trigger(command::kReadAll);
    ui::ParameterTreeModel& model = frame->treeView()->treeModel();
    std::function<QModelIndex(const QModelIndex&)> find = [&](const QModelIndex& parent) -> QModelIndex {
      if (model.canFetchMore(parent)) model.fetchMore(parent);
      for (int r = 0; r < model.rowCount(parent); ++r) {
        const QModelIndex at = model.index(r, 0, parent);
        if (const Parameter* p = model.parameterAt(at); p != nullptr && p->name == "I.Flt") return at;
        if (const QModelIndex found = find(at); found.isValid()) return found;
      }
      return {};
    };
    const QModelIndex row = find(model.rootIndex());
    ASSERT_TRUE(row.isValid());
    frame->treeView()->scrollTo(row);
    frame->treeView()->setCurrentIndex(row);
    frame->resize(1280, 760);
    saveScreenshot(*frame, "main_window_en.png");
    frame.reset();
  }
  {
    // Russian chosen on an English computer: the windows and Qt's own buttons are Russian.
    const LocaleScope english("en_US.UTF-8");
    ASSERT_TRUE(ui::storeLanguage(store, ui::Language::Russian));
    ui::chooseLanguage(&store, KVTR_BIN_DIR);
    QTranslator qtTexts;
    ASSERT_TRUE(ui::loadQtTranslations(qtTexts)) << "qt6-translations-l10n is missing";
    ui::SetupCarrierDialog dialog(*document, ui, true);
    EXPECT_EQ(dialog.windowTitle(), "Установка связи с прибором");
    QDialogButtonBox box(QDialogButtonBox::Cancel);
    EXPECT_TRUE(box.button(QDialogButtonBox::Cancel)->text().contains("Отмена"))
        << box.button(QDialogButtonBox::Cancel)->text().toStdString();
  }
}

TEST_F(MainFrameTest, TheLanguageItemStoresTheChoiceForTheNextStart) {
  const LocaleScope neutral("C.UTF-8");
  MakeDocument(nullptr);
  MemorySettingsStore store;
  frame->setSettings(&store);
  EXPECT_TRUE(frame->action(command::kLanguageRussian)->isChecked()) << "nothing stored: the running language";

  Trigger(command::kLanguageEnglish);
  EXPECT_EQ(store.readText(SettingsKey::Port, ui::kValueLanguage), std::optional<std::string>("en"));
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_EQ(ui.messages.back().text, "Язык программы будет сменен при следующем запуске.");
  EXPECT_EQ(ui.messages.back().icon, MessageIcon::Information);
  EXPECT_EQ(frame->action(command::kAbout)->text(), "&О программе...") << "the running windows keep their language";

  // A window made later (the next start) marks the stored choice.
  auto next = std::make_unique<ui::MainFrame>(ui);
  next->setSettings(&store);
  EXPECT_TRUE(next->action(command::kLanguageEnglish)->isChecked());

  Trigger(command::kLanguageRussian);
  EXPECT_EQ(store.readText(SettingsKey::Port, ui::kValueLanguage), std::optional<std::string>("ru"));
}

TEST_F(MainFrameTest, ModesExplainThemselvesOnlyWhenSwitchedOnAndActOnTheEngine) {
  MakeDocument(nullptr);
  ExchangeEngine& engine = document->engine();

  Trigger(command::kImmediateWriting);
  EXPECT_TRUE(engine.immediateWriting());
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_TRUE(ui.messages.front().text.startsWith("В режиме 'Моментальная запись'"));
  EXPECT_EQ(ui.messages.front().icon, MessageIcon::Information);
  Trigger(command::kImmediateWriting);
  EXPECT_FALSE(engine.immediateWriting());
  EXPECT_EQ(ui.messages.size(), 1u) << "switching off explains nothing";

  Trigger(command::kNoAttributes);
  EXPECT_TRUE(engine.attributesSuppressed());
  ASSERT_EQ(ui.messages.size(), 2u);
  EXPECT_TRUE(ui.messages.back().text.startsWith("В режиме 'Не передавать атрибуты'"));
  Trigger(command::kNoAttributes);
  EXPECT_FALSE(engine.attributesSuppressed());
  EXPECT_EQ(ui.messages.size(), 2u);

  EXPECT_TRUE(frame->action(command::kAutomaticReading)->isChecked()) << "automatic reading starts on";
  Trigger(command::kAutomaticReading);
  EXPECT_FALSE(engine.automaticReading());
  EXPECT_EQ(ui.messages.size(), 2u);
}

TEST_F(MainFrameTest, SetDefaultsAsksFirstThenSetsThemThenAsksAboutInit) {
  SimProcess& module = StartSim();
  ASSERT_TRUE(module.running());
  MakeDocument(&module);
  const int before = framesSeen(module);

  // "No": nothing goes to the module.
  ui.answers = {false};
  Trigger(command::kSetDefaults);
  ASSERT_EQ(ui.questions.size(), 1);
  EXPECT_TRUE(ui.questions.front().startsWith("Предупреждение:\nДанная операция приведет к потере конфигурации"));
  EXPECT_EQ(framesSeen(module), before);

  // "Yes": the defaults are written, then INIT is asked about; "yes" again sends it, once.
  ui.questions.clear();
  ui.answers = {true, true};
  Trigger(command::kSetDefaults);
  ASSERT_EQ(ui.questions.size(), 2);
  EXPECT_EQ(ui.questions[1], QString::fromUtf8(kInitQuestionText.data(), kInitQuestionText.size()));
  EXPECT_GT(ui.framesAtInitQuestion, before) << "the defaults went out before INIT was asked about";
  EXPECT_EQ(framesSeen(module), ui.framesAtInitQuestion + 1) << "INIT is one request";
  EXPECT_FALSE(ui.saw("Комманда INIT вернула ошибку")) << ui.messages.back().text.toStdString();

  // INIT on its own, answered "no", sends nothing.
  const int now = framesSeen(module);
  ui.answers = {false};
  Trigger(command::kInit);
  EXPECT_EQ(framesSeen(module), now);
}

TEST_F(MainFrameTest, TitleNamesTheConfigurationAndItsChanges) {
  SimProcess& module = StartSim();
  ASSERT_TRUE(module.running());
  MakeDocument(&module);
  EXPECT_EQ(frame->windowTitle(), "Конфигуратор КВТР - безымянный файл[*]");
  EXPECT_FALSE(frame->isWindowModified());

  const std::string file = ScratchPath("Прибор А.kvtr");
  ASSERT_TRUE(document->SaveDocument(file));
  ASSERT_TRUE(frame->openFile(QString::fromStdString(file)));
  EXPECT_EQ(frame->windowTitle(), "Конфигуратор КВТР - Прибор А.kvtr[*]");
  EXPECT_FALSE(frame->isWindowModified());

  // An edit in the tree: the value typed into its cell and Enter pressed.
  ui::ParameterTreeView& view = *frame->treeView();
  ui::ParameterTreeModel& model = view.treeModel();
  QModelIndex cell;
  const QModelIndex root = model.rootIndex();
  for (int r = 0; r < model.rowCount(root) && !cell.isValid(); ++r) {
    if (model.index(r, 0, root).data().toString() != "Сетевые параметры") continue;
    const QModelIndex branch = model.index(r, 0, root);
    view.expand(branch);
    if (model.canFetchMore(branch)) model.fetchMore(branch);
    for (int p = 0; p < model.rowCount(branch); ++p) {
      const Parameter* parameter = model.parameterAt(model.index(p, 0, branch));
      if (parameter != nullptr && parameter->name == "t.Ans") cell = model.index(p, ui::ParameterTreeModel::ValueColumn, branch);
    }
  }
  ASSERT_TRUE(cell.isValid());
  view.setCurrentIndex(cell);
  view.edit(cell);
  auto* editor = qobject_cast<QLineEdit*>(view.indexWidget(cell));
  ASSERT_NE(editor, nullptr);
  editor->setText("5");
  QTest::keyClick(editor, Qt::Key_Return);
  QCoreApplication::processEvents();
  EXPECT_TRUE(document->modified());
  EXPECT_TRUE(frame->isWindowModified());
  EXPECT_EQ(frame->windowTitle(), "Конфигуратор КВТР - Прибор А.kvtr[*]");
}

// Clicks the button `which` of the message box that comes up next.
void answerNextMessageBox(QMessageBox::StandardButton which, bool* asked) {
  QTimer::singleShot(0, [which, asked] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (box == nullptr) {
      answerNextMessageBox(which, asked);  // not up yet
      return;
    }
    *asked = true;
    box->button(which)->click();
  });
}

TEST_F(MainFrameTest, ClosingAModifiedConfigurationAsksToSaveIt) {
  MakeDocument(nullptr);
  frame->show();
  document->setModified(true);  // as an edit leaves it

  bool asked = false;
  answerNextMessageBox(QMessageBox::Cancel, &asked);
  EXPECT_FALSE(frame->close()) << "cancel keeps the window";
  EXPECT_TRUE(asked);
  EXPECT_TRUE(frame->isVisible());

  asked = false;
  answerNextMessageBox(QMessageBox::No, &asked);
  EXPECT_TRUE(frame->close());
  EXPECT_TRUE(asked);

  // An unmodified configuration closes without a question.
  document->setModified(false);
  frame->show();
  EXPECT_TRUE(frame->close());
  EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

TEST_F(MainFrameTest, AWindowPlacedByTheCommandLineStaysPutUntilTheJobEnds) {
  MakeDocument(nullptr);
  frame->lockAt(QPoint(10, 10), QSize(800, 600));
  frame->show();
  frame->showMaximized();
  frame->resize(1000, 700);
  QApplication::processEvents();
  EXPECT_FALSE(frame->isMaximized());
  EXPECT_EQ(frame->size(), QSize(800, 600));

  frame->unlock();
  frame->resize(1000, 700);
  EXPECT_EQ(frame->size(), QSize(1000, 700));
  frame->showMaximized();
  EXPECT_TRUE(waitUntil([&] { return frame->isMaximized(); }, 2000));
}

// ------------------------------------------------------------------ the program started as a process

class ConfiguratorProcess : public SimFixture {
 protected:
  void SetUp() override {
    UseScratchSettings();
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
  }
  static kvtr::testing::ToolRun Run(const std::vector<std::string>& args) {
    return kvtr::testing::runTool("kvtr-configurator", args);
  }
};

TEST_F(ConfiguratorProcess, ReadJobSavesTheModuleIntoTheFileAndCloses) {
  SimProcess& sim = StartSim();
  ASSERT_TRUE(sim.running());
  const std::string file = ScratchPath("Module A.kvtr");
  const auto run = Run({"/port:" + sim.port(), "/read", file, "/close"});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  ASSERT_TRUE(std::filesystem::exists(file));
  EXPECT_GT(std::filesystem::file_size(file), 0u);
}

TEST_F(ConfiguratorProcess, WriteJobWithoutItsFileEndsWith200) {
  const auto run = Run({"/write/close", ScratchPath("missing.kvtr")});
  EXPECT_EQ(run.exitCode, 200) << run.err;
}

TEST_F(ConfiguratorProcess, ExitEventEndsARunningJobWith205) {
  // Slow answers keep the read going far longer than the test waits.
  SimProcess& sim = StartSim({"--delay-ms", "60"});
  ASSERT_TRUE(sim.running());
  auto job = std::async(std::launch::async, [&] {
    return Run({"/port:" + sim.port(), "/read/exitevent:Stop configurator", ScratchPath("out.kvtr")});
  });
  ASSERT_EQ(sim.Control("frames 10", 30s), "ok");
  const auto signal = kvtr::testing::runTool("kvtr", {"signal-exit", "Stop configurator"});
  EXPECT_EQ(signal.exitCode, 0) << signal.err;
  ASSERT_EQ(job.wait_for(60s), std::future_status::ready) << "the program did not end";
  const auto run = job.get();
  EXPECT_EQ(run.exitCode, 205) << run.err;
}

}  // namespace
}  // namespace kvtr::test
