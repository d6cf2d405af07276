#include "ui/main_frame.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QIcon>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>
#include <QUrl>
#include <system_error>

#include "app/application.h"
#include "ui/ui_text.h"
#include "app/html_export.h"
#include "app/settings_store.h"
#include "common/program_directory.h"
#include "common/strings.h"
#include "exchange/group_operations.h"
#include "exchange/init_command.h"
#include "protocol/apply_sequence.h"
#include "protocol/network_settings.h"
#include "ui/about_dialog.h"
#include "ui/apply_dialog.h"
#include "ui/edit_history.h"
#include "ui/inputs_outputs_window.h"
#include "ui/language.h"
#include "ui/parameter_tree_view.h"
#include "ui/progress_dialog.h"
#include "ui/qt_user_interface.h"
#include "ui/resources.h"
#include "ui/recent_files.h"
#include "ui/setup_carrier_dialog.h"
#include "ui/single_parameter_dialog.h"
#include "ui/task_runner.h"

namespace kvtr::ui {

namespace {

constexpr const char* kProgramTitle = trMark("Конфигуратор КВТР");
constexpr const char* kFileFilter = trMark("Файлы конфигураций (*.kvtr)");
constexpr const char* kUndoText = trMark("&Отменить");
constexpr const char* kRedoText = trMark("&Повторить");
constexpr const char* kUndoPrompt = trMark(
    "Отменить последнее изменение в дереве параметров (чтение, сравнение и запись параметров прибора "
    "очищают список изменений этих параметров)\nОтменить");
constexpr const char* kRedoPrompt = trMark("Повторить отмененное изменение в дереве параметров\nПовторить");

QString qpath(const std::filesystem::path& path) { return QString::fromStdU16String(path.u16string()); }
std::filesystem::path fspath(const QString& path) { return std::filesystem::path(path.toStdU16String()); }

// Our own icon, or the desktop theme's where it has one.
QIcon commandIcon(const QString& name, const QString& theme = {}) {
  const QIcon own(QStringLiteral(":/icons/%1.svg").arg(name));
  if (!theme.isEmpty() && QIcon::hasThemeIcon(theme)) return QIcon::fromTheme(theme, own);
  return own;
}

}  // namespace

MainFrame::MainFrame(QtUserInterface& ui, QWidget* parent)
    : QMainWindow(parent), ui_(ui), recent_(std::make_unique<RecentFiles>()) {
  LoadResources();
  setWindowIcon(QIcon(QStringLiteral(":/icons/kvtr.svg")));
  setAcceptDrops(true);
  treeView_ = new ParameterTreeView(ui, this);
  setCentralWidget(treeView_);
  // An edit in the tree changes the configuration: the title shows it.
  connect(treeView_, &ParameterTreeView::documentModified, this, [this] {
    if (document_ != nullptr) document_->setModified(true);
    UpdateTitle();
  });
  CreateActions();
  CreateMenus();
  CreateToolBar();
  statusBar()->showMessage(uiText(kIdlePrompt));
  // The idle prompt comes back whenever no menu item is highlighted.
  connect(statusBar(), &QStatusBar::messageChanged, this, [this](const QString& message) {
    if (message.isEmpty()) statusBar()->showMessage(uiText(kIdlePrompt));
  });
  unlockedFlags_ = windowFlags();
  UpdateTitle();
}

MainFrame::~MainFrame() = default;

// ------------------------------------------------------------------ actions, menus, toolbar

QAction* MainFrame::AddAction(int command, const QString& text, const QString& prompt, const QString& shortcut,
                              const QString& icon) {
  auto* action = new QAction(text, this);
  // The prompt before the line break goes to the status bar, the text after it is the tooltip.
  const qsizetype split = prompt.indexOf(QLatin1Char('\n'));
  const QString status = split < 0 ? prompt : prompt.left(split);
  const QString tip = split < 0 ? QString() : prompt.mid(split + 1);
  action->setStatusTip(status);
  if (!tip.isEmpty()) action->setToolTip(tip);
  if (!shortcut.isEmpty()) action->setShortcut(QKeySequence(shortcut));
  if (!icon.isEmpty()) action->setIcon(commandIcon(icon));
  actions_[command] = action;
  connect(action, &QAction::triggered, this, [this, command] { runCommand(command); });
  return action;
}

QAction* MainFrame::action(int command) const {
  const auto it = actions_.find(command);
  return it != actions_.end() ? it->second : nullptr;
}

void MainFrame::CreateActions() {
  using namespace command;
  AddAction(kNew, uiText("&Новый"), uiText("Создать новую конфигурацию\nНовый"), "Ctrl+N", "new")
      ->setIcon(commandIcon("new", "document-new"));
  AddAction(kOpen, uiText("&Открыть..."), uiText("Открыть конфигурацию\nОткрыть"), "Ctrl+O", "open")
      ->setIcon(commandIcon("open", "document-open"));
  AddAction(kSave, uiText("&Сохранить"), uiText("Сохранить конфигурацию\nСохранить"), "Ctrl+S", "save")
      ->setIcon(commandIcon("save", "document-save"));
  AddAction(kSaveAs, uiText("Сохранить &как..."), uiText("Сохранить конфигурацию, определив имя\nСохранить как"), "", "");
  AddAction(kExit, uiText("Вы&ход"), uiText("Закрыть конфигуратор\nЗакончить работу"), "", "exit");

  AddAction(kUndo, uiText(kUndoText), uiText(kUndoPrompt), "", "")
      ->setShortcuts({QKeySequence(Qt::CTRL | Qt::Key_Z), QKeySequence(Qt::ALT | Qt::Key_Backspace)});
  AddAction(kRedo, uiText(kRedoText), uiText(kRedoPrompt), "Ctrl+Y", "");

  AddAction(kReadAll, uiText("Прочитать все параметры"), uiText("Прочитать все параметры из прибора\nПрочитать"), "Alt+R", "read");
  AddAction(kWriteAll, uiText("Записать все параметры"), uiText("Записать все параметры в прибор\nЗаписать"), "Alt+W", "write");
  AddAction(kWriteChanged, uiText("Записать только измененные"),
            uiText("Записать только измененные параметры в прибор\nЗаписать измененные"), "Alt+U", "write_changed");
  AddAction(kCompare, uiText("Сравнить с реальными значениями"),
            uiText("Сравнить со значениями параметров в приборе\nСравнить"), "Alt+C", "compare");
  AddAction(kSetDefaults, uiText("Инициализировать прибор"),
            uiText("Инициализировать основные параметры значениями по умолчанию\nУстановить значения по умолчанию"), "",
            "defaults");
  AddAction(kInit, uiText("Послать команду &INIT"),
            uiText("Специальная команда INIT нужна для того, что бы вступили в силу новые значения некоторых параметров\nПослать команду INIT"),
            "Alt+I", "init");
  AddAction(kApply, uiText("Послать команду &APLY"), "", "Alt+A", "");
  AddAction(kInputsOutputs, uiText("Состояние входов и выходов..."), uiText("\nСостояние входов и выходов"), "", "inputs_outputs");
  AddAction(kSingleParameter, uiText("Опрос отдельного параметра"), "", "Alt+S", "");
  AddAction(kCheckConnection, uiText("Проверка связи с прибором"), "", "Alt+N", "");
  AddAction(kConverterSemiAutomatic, uiText("Полуавтоматический (PX-3)"), "", "", "")->setCheckable(true);
  AddAction(kConverterAutomatic, uiText("Автоматический"), "", "", "")->setCheckable(true);
  AddAction(kPortSetup, uiText("Настройка порта"), uiText("Настройка сетевых параметров порта"), "", "port_setup");

  AddAction(kReadBranch, uiText("Прочитать все параметры выделеной ветви"),
            uiText("Прочитать параметры выбранной ветви из прибора\nПрочитать параметры ветви"), "Alt+Ctrl+R",
            "branch_read");
  AddAction(kWriteBranch, uiText("Записать все параметры выделеной ветви"),
            uiText("Записать  параметры выбранной ветви в прибор\nЗаписать параметры ветви"), "Alt+Ctrl+W", "branch_write");
  AddAction(kWriteBranchChanged, uiText("Записать только измененные параметры ветви"),
            uiText("Записать только измененные параметры выбранной ветви в прибор\nЗаписать измененные параметры ветви"),
            "Alt+Ctrl+U", "branch_write_changed");
  AddAction(kCompareBranch, uiText("Сравнить значения с реальными в рамках ветви"), "", "Alt+Ctrl+C", "");
  AddAction(kPreviousProblem, uiText("К предыдущему проблемному параметру"),
            uiText("Переход к ближайшему сверху параметру, имеющему ошибку или несоответствие\nПред.проблемный пар-р"),
            "Alt+Up", "previous_problem");
  AddAction(kNextProblem, uiText("К следующему проблемному параметру"),
            uiText("Переход к ближайшему снизу параметру, имеющему ошибку или несоответствие\nСлед.проблемный пар-р"),
            "Alt+Down", "next_problem");

  AddAction(kLinearIndexes, uiText("Показывать линейные индексы"), "", "", "")->setCheckable(true);
  AddAction(kAutomaticReading, uiText("Режим автоматического чтения"), uiText("При раскрытии содержимое ветви будет прочитано"), "",
            "")
      ->setCheckable(true);
  AddAction(kImmediateWriting, uiText("Режим немедленной записи"),
            uiText("Сразу после изменения значение параметра будет записано в прибор"), "", "")
      ->setCheckable(true);
  AddAction(kNoAttributes, uiText("Не передавать атрибуты параметров"), "", "", "")->setCheckable(true);
  action(kAutomaticReading)->setChecked(true);

  AddAction(kHelp, uiText("&Справка"), "", "F1", "help")->setIcon(commandIcon("help", "help-contents"));
  AddAction(kExportHtml, uiText("Экспорт списка параметров в HTML"), "", "", "export");
  // The languages are named each in itself, so that an operator who cannot read the other finds his.
  AddAction(kLanguageRussian, QStringLiteral("Русский"), "", "", "")->setCheckable(true);
  AddAction(kLanguageEnglish, QStringLiteral("English"), "", "", "")->setCheckable(true);
  AddAction(kAbout, uiText("&О программе..."), uiText("О программе (верия, копирайт и.т.п.)\nО программе"), "", "about");
}

void MainFrame::CreateMenus() {
  using namespace command;
  QMenu* file = menuBar()->addMenu(uiText("&Файл"));
  file->addAction(action(kNew));
  file->addAction(action(kOpen));
  file->addAction(action(kSave));
  file->addAction(action(kSaveAs));
  file->addSeparator();
  QAction* recentEnd = file->addSeparator();
  file->addAction(action(kExit));
  // The recent files sit between the two separators, rebuilt each time the menu opens.
  connect(file, &QMenu::aboutToShow, this, [this, file, recentEnd] {
    for (QAction* old : file->actions()) {
      if (old->property("recentFile").isValid()) {
        file->removeAction(old);
        old->deleteLater();
      }
    }
    int number = 1;
    for (const QString& path : recent_->files()) {
      auto* entry = new QAction(QStringLiteral("&%1 %2").arg(number++).arg(path), file);
      entry->setProperty("recentFile", path);
      entry->setStatusTip(uiText("Открыть этот документ"));
      connect(entry, &QAction::triggered, this, [this, path] {
        if (!openFile(path)) recent_->remove(path);
      });
      file->insertAction(recentEnd, entry);
    }
  });

  CreateEditMenu();

  QMenu* device = menuBar()->addMenu(uiText("&Прибор"));
  device->addAction(action(kReadAll));
  device->addAction(action(kWriteAll));
  device->addAction(action(kWriteChanged));
  device->addAction(action(kCompare));
  device->addSeparator();
  QMenu* service = device->addMenu(uiText("С&ервис"));
  service->addAction(action(kSetDefaults));
  service->addAction(action(kInit));
  service->addAction(action(kApply));
  device->addAction(action(kInputsOutputs));
  device->addAction(action(kSingleParameter));
  device->addAction(action(kCheckConnection));
  device->addSeparator();
  QMenu* converter = device->addMenu(uiText("Преобразователь"));
  auto* converterGroup = new QActionGroup(this);
  for (const int id : {kConverterSemiAutomatic, kConverterAutomatic}) {
    converterGroup->addAction(action(id));
    converter->addAction(action(id));
  }
  device->addAction(action(kPortSetup));
  connect(device, &QMenu::aboutToShow, this, [this] { UpdateModeMarks(); });

  QMenu* tree = menuBar()->addMenu(uiText("&Дерево"));
  for (const int id : {kReadBranch, kWriteBranch, kWriteBranchChanged, kCompareBranch}) tree->addAction(action(id));
  tree->addSeparator();
  tree->addAction(action(kPreviousProblem));
  tree->addAction(action(kNextProblem));

  QMenu* modes = menuBar()->addMenu(uiText("Режимы программы"));
  for (const int id : {kLinearIndexes, kAutomaticReading, kImmediateWriting, kNoAttributes}) modes->addAction(action(id));
  modes->addSeparator();
  QMenu* language = modes->addMenu(uiText("Язык (Language)"));
  auto* languageGroup = new QActionGroup(this);
  for (const int id : {kLanguageRussian, kLanguageEnglish}) {
    languageGroup->addAction(action(id));
    language->addAction(action(id));
  }
  action(runningLanguage() == Language::English ? kLanguageEnglish : kLanguageRussian)->setChecked(true);
  connect(modes, &QMenu::aboutToShow, this, [this] { UpdateModeMarks(); });

  QMenu* help = menuBar()->addMenu(uiText("&Справка"));
  help->addAction(action(kHelp));
  help->addAction(action(kExportHtml));
  help->addSeparator();
  help->addAction(action(kAbout));

  toolBar_ = new QToolBar(uiText("Панель инструментов"), this);
  toolBar_->setObjectName("toolBar");
  QAction* showToolBar = toolBar_->toggleViewAction();
  showToolBar->setText(uiText("Панель инструментов"));
  showToolBar->setStatusTip(uiText("Показать панель кнопок"));
  showToolBar->setToolTip(uiText("Панель инструментов"));
  actions_[kToolBar] = showToolBar;
  auto* showStatusBar = new QAction(uiText("Панель состояния"), this);
  showStatusBar->setCheckable(true);
  showStatusBar->setChecked(true);
  showStatusBar->setStatusTip(uiText("Показать панель подсказок"));
  showStatusBar->setToolTip(uiText("Панель состояния"));
  connect(showStatusBar, &QAction::toggled, this, [this](bool on) { statusBar()->setVisible(on); });
  actions_[kStatusBar] = showStatusBar;
  modes->addAction(showToolBar);
  modes->addAction(showStatusBar);
}

void MainFrame::CreateEditMenu() {
  QMenu* edit = menuBar()->addMenu(uiText("&Правка"));
  edit->addAction(action(command::kUndo));
  edit->addAction(action(command::kRedo));
  QUndoStack& stack = treeView_->editHistory().stack();
  // The items name the edit they undo or redo, and are enabled only when there is one.
  const auto follow = [this, &stack] {
    const auto name = [](const char* text, const QString& what) {
      return what.isEmpty() ? uiText(text) : QStringLiteral("%1 %2").arg(uiText(text), what);
    };
    action(command::kUndo)->setText(name(kUndoText, stack.undoText()));
    action(command::kUndo)->setEnabled(stack.canUndo());
    action(command::kRedo)->setText(name(kRedoText, stack.redoText()));
    action(command::kRedo)->setEnabled(stack.canRedo());
  };
  connect(&stack, &QUndoStack::indexChanged, this, follow);
  connect(&stack, &QUndoStack::undoTextChanged, this, follow);
  connect(&stack, &QUndoStack::redoTextChanged, this, follow);
  follow();
  connect(treeView_, &ParameterTreeView::modificationChanged, this, [this] { UpdateTitle(); });
}

void MainFrame::CreateToolBar() {
  using namespace command;
  toolBar_->setIconSize(QSize(22, 22));
  toolBar_->setAllowedAreas(Qt::AllToolBarAreas);
  addToolBar(Qt::TopToolBarArea, toolBar_);
  const int layout[] = {kNew,         kOpen,           kSave, 0, kReadAll, kWriteAll, kWriteChanged, 0, kReadBranch,
                        kWriteBranch, kWriteBranchChanged, 0, kSetDefaults, kInit, kInputsOutputs, 0,
                        kPreviousProblem, kNextProblem, 0, kAbout};
  for (const int id : layout) {
    if (id == 0) toolBar_->addSeparator();
    else toolBar_->addAction(action(id));
  }
}

// ------------------------------------------------------------------ document

void MainFrame::setDocument(Document* document) {
  document_ = document;
  if (document != nullptr && &document->engine() != progressEngine_) {
    delete progress_;
    progressEngine_ = &document->engine();
    progress_ = new ProgressDialog(ui_, *progressEngine_, this);
  }
  treeView_->setDocument(document);
  UpdateModeMarks();
  RefreshViews();
  UpdateTitle();
}

QString MainFrame::documentName() const {
  if (document_ == nullptr || document_->filePath().empty()) return uiText(kUntitledName);
  return qpath(document_->filePath().filename());
}

void MainFrame::UpdateTitle() {
  setWindowTitle(QStringLiteral("%1 - %2[*]").arg(uiText(kProgramTitle), documentName()));
  setWindowModified(document_ != nullptr && document_->modified());
}

void MainFrame::UpdateModeMarks() {
  if (document_ == nullptr) return;
  ExchangeEngine& engine = document_->engine();
  // The engine switches automatic reading off by itself after repeated time-outs.
  action(command::kAutomaticReading)->setChecked(engine.automaticReading());
  action(command::kImmediateWriting)->setChecked(engine.immediateWriting());
  action(command::kNoAttributes)->setChecked(engine.attributesSuppressed());
  const bool automatic = engine.serialPort().settings().automaticConverter != 0;
  action(command::kConverterAutomatic)->setChecked(automatic);
  action(command::kConverterSemiAutomatic)->setChecked(!automatic);
}

void MainFrame::RefreshViews() { treeView_->refreshAll(); }

void MainFrame::documentChanged() {
  RefreshViews();
  UpdateTitle();
}

void MainFrame::SetCurrentFile(const std::filesystem::path& path) {
  if (!path.empty()) recent_->add(qpath(path));
  documentChanged();
}

// ------------------------------------------------------------------ commands

void MainFrame::runCommand(int command) {
  using namespace command;
  switch (command) {
    case kNew: NewDocument(); break;
    case kOpen: OpenDocument(); break;
    case kSave: (void)SaveDocument(); break;
    case kSaveAs: (void)SaveDocumentAs(); break;
    case kExit: close(); break;
    case kUndo: treeView_->editHistory().stack().undo(); break;
    case kRedo: treeView_->editHistory().stack().redo(); break;
    case kReadAll: (void)RunWholeTreeTask(TaskKind::ReadAll); break;
    case kWriteAll: (void)RunWholeTreeTask(TaskKind::WriteAll); break;
    case kWriteChanged: (void)RunWholeTreeTask(TaskKind::WriteChanged); break;
    case kCompare: (void)RunWholeTreeTask(TaskKind::Compare); break;
    case kSetDefaults: SetDefaults(); break;
    case kInit: SendInitCommand(); break;
    case kApply: SendApply(); break;
    case kSingleParameter:
      if (document_ != nullptr && document_->tree() != nullptr) {
        SingleParameterDialog dialog(document_->engine(), document_->tree()->templates(), ui_, this);
        (void)dialog.exec();
      }
      break;
    case kCheckConnection: CheckConnection(); break;
    case kConverterSemiAutomatic: SetConverter(0); break;
    case kConverterAutomatic: SetConverter(1); break;
    case kPortSetup: PortSetup(); break;
    case kInputsOutputs:
      if (document_ == nullptr || document_->tree() == nullptr || document_->tree()->scanners() == nullptr) {
        ui_.showMessage(std::string(kNoTreeText), std::string(kOperationImpossibleCaption), MessageIcon::Stop);
      } else {
        InputsOutputsWindow window(*document_, this);
        window.exec();
        documentChanged();
      }
      break;
    case kLinearIndexes: treeView_->setShowLinearIndexes(action(kLinearIndexes)->isChecked()); break;
    case kReadBranch: treeView_->readBranch(); break;
    case kWriteBranch: treeView_->writeBranch(); break;
    case kWriteBranchChanged: treeView_->writeBranchChanged(); break;
    case kCompareBranch: treeView_->compareBranch(); break;
    case kPreviousProblem: treeView_->previousProblem(); break;
    case kNextProblem: treeView_->nextProblem(); break;
    case kAutomaticReading:
      if (document_ != nullptr) document_->engine().setAutomaticReading(action(kAutomaticReading)->isChecked());
      break;
    case kImmediateWriting: ToggleImmediateWriting(action(kImmediateWriting)->isChecked()); break;
    case kNoAttributes: ToggleNoAttributes(action(kNoAttributes)->isChecked()); break;
    case kHelp: ShowHelp(); break;
    case kLanguageRussian:
    case kLanguageEnglish: ChooseLanguage(command); break;
    case kExportHtml: ExportParameterList(); break;
    case kAbout: ShowAbout(); break;
    default: break;
  }
}

bool MainFrame::RunWholeTreeTask(TaskKind kind) {
  const TaskRunner run = [this](TaskKind taskKind, ObjectWithParameters* root) {
    ++tasksRunning_;
    const bool ran = RunTask(document_->engine(), taskKind, root);
    --tasksRunning_;
    treeView_->editHistory().exchanged(root);
    documentChanged();
    UpdateModeMarks();
    if (tasksRunning_ == 0 && closePending_) {
      closePending_ = false;
      QMetaObject::invokeMethod(this, [this] { close(); }, Qt::QueuedConnection);
    }
    return ran;
  };
  if (document_ == nullptr) {
    ui_.showMessage(std::string(kNoTreeText), std::string(kOperationImpossibleCaption), MessageIcon::Stop);
    return false;
  }
  // Reading and writing the whole tree may be the command-line job: the application then knows
  // it has run.
  if (application_ != nullptr && (kind == TaskKind::ReadAll || kind == TaskKind::WriteAll)) {
    return application_->RunCommand(kind == TaskKind::ReadAll ? kCommandReadAll : kCommandWriteAll, run);
  }
  return document_->RunWholeTreeTask(kind, run);
}

void MainFrame::SetDefaults() {
  if (document_ == nullptr || document_->root() == nullptr) {
    ui_.showMessage(std::string(kNoTreeText), std::string(kOperationImpossibleCaption), MessageIcon::Stop);
    return;
  }
  if (!ui_.askYesNo(std::string(kSetDefaultsQuestionText), kProgramTitle)) return;
  if (!RunWholeTreeTask(TaskKind::Initialise)) return;
  SendInitCommand();
}

void MainFrame::SendInitCommand() {
  if (document_ == nullptr) return;
  if (!ui_.askYesNo(std::string(kInitQuestionText), kProgramTitle)) return;
  QApplication::setOverrideCursor(Qt::WaitCursor);
  std::string error;
  const int result = SendInit(document_->engine(), document_->engine().clock(), &error);
  QApplication::restoreOverrideCursor();
  if (result != 0) ui_.showMessage(error, kProgramTitle, MessageIcon::None);
}

void MainFrame::SendApply() {
  if (document_ == nullptr) return;
  ExchangeEngine& engine = document_->engine();
  if (tasksRunning_ > 0 || engine.taskRunning()) {
    // A task wrote a network setting: the switch-over follows once the task has ended.
    QTimer::singleShot(100, this, [this] { SendApply(); });
    return;
  }
  if (RunApplyCommand(engine, engine.operations(), ui_, this)) RefreshViews();
}

void MainFrame::CheckConnection() {
  if (document_ == nullptr) return;
  // A short exchange on this thread, as the program has always done it; the identification shows
  // what the module answered, or why nothing did.
  (void)document_->engine().operations().Identify(true);
}

void MainFrame::SetConverter(int mode) {
  if (document_ != nullptr) document_->engine().serialPort().settings().automaticConverter = mode;
  UpdateModeMarks();
}

void MainFrame::PortSetup() {
  if (document_ == nullptr) return;
  SetupCarrierDialog dialog(*document_, ui_, false, this);
  (void)dialog.exec();
  // The module's network settings may have been restored: their edits are history.
  if (ObjectWithParameters* network = document_->engine().deviceNetworkNode()) {
    treeView_->editHistory().exchanged(network);
  }
  // The program's port settings or the module's may have changed.
  RefreshViews();
  UpdateModeMarks();
}

void MainFrame::ToggleImmediateWriting(bool on) {
  if (document_ != nullptr) document_->engine().setImmediateWriting(on);
  if (on) ui_.showMessage(kImmediateWritingText, kProgramTitle, MessageIcon::Information);
}

void MainFrame::ToggleNoAttributes(bool on) {
  if (document_ != nullptr) document_->engine().setAttributesSuppressed(on);
  if (on) ui_.showMessage(kNoAttributesText, kProgramTitle, MessageIcon::Information);
}

void MainFrame::ShowHelp() {
  const std::filesystem::path page = findHelpPage("user_guide.html");
  if (page.empty() ||
      !QDesktopServices::openUrl(QUrl::fromLocalFile(qpath(page)))) {
    ui_.showMessage(kHelpNotFoundText, kProgramTitle, MessageIcon::Exclamation);
  }
}

void MainFrame::setSettings(SettingsStore* settings) {
  settings_ = settings;
  // The menu marks the stored choice, which the next start takes, else the running language.
  const std::optional<Language> stored = settings_ != nullptr ? storedLanguage(*settings_) : std::nullopt;
  const Language marked = stored.value_or(runningLanguage());
  action(marked == Language::English ? command::kLanguageEnglish : command::kLanguageRussian)->setChecked(true);
}

void MainFrame::ChooseLanguage(int command) {
  const Language chosen = command == command::kLanguageEnglish ? Language::English : Language::Russian;
  if (settings_ == nullptr || !storeLanguage(*settings_, chosen)) {
    ui_.showMessage(kLanguageNotStoredText, kProgramTitle, MessageIcon::Exclamation);
    return;
  }
  ui_.showMessage(kLanguageChosenText, kProgramTitle, MessageIcon::Information);
}

void MainFrame::ExportParameterList() {
  if (document_ == nullptr || document_->tree() == nullptr || document_->root() == nullptr) {
    ui_.showMessage(std::string(kNoTreeText), std::string(kOperationImpossibleCaption), MessageIcon::Stop);
    return;
  }
  std::optional<std::string> fragment;
  if (const auto found = FindExportFragment(programDirectory())) fragment = LoadExportFragment(*found);
  std::error_code ec;
  const std::filesystem::path target = std::filesystem::current_path(ec) / kParameterListFileName;
  std::string error;
  if (!WriteParameterList(target, *document_->tree(), fragment, &error)) {
    ui_.showMessage(error, trMark("Ошибка"), MessageIcon::Stop);
    return;
  }
  QDesktopServices::openUrl(QUrl::fromLocalFile(qpath(target)));
}

void MainFrame::ShowAbout() {
  AboutDialog about(this);
  about.exec();
}

// ------------------------------------------------------------------ files

bool MainFrame::MayDiscard() {
  if (document_ == nullptr || !document_->modified()) return true;
  const auto answer = QMessageBox::question(this, uiText(kProgramTitle),
                                            uiText("Сохранить изменения в %1?").arg(documentName()),
                                            QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
  if (answer == QMessageBox::Cancel) return false;
  if (answer == QMessageBox::Yes) return SaveDocument();
  return true;
}

void MainFrame::NewDocument() {
  if (document_ == nullptr || !MayDiscard()) return;
  Document* document = document_;
  setDocument(nullptr);
  (void)document->NewDocument();
  setDocument(document);
}

void MainFrame::OpenDocument() {
  if (document_ == nullptr || !MayDiscard()) return;
  const QString path = QFileDialog::getOpenFileName(this, uiText("Открыть"), QString(), uiText(kFileFilter));
  if (path.isEmpty()) return;
  Document* document = document_;
  setDocument(nullptr);
  if (document->OpenDocument(fspath(path), false)) {
    setDocument(document);
    SetCurrentFile(document->filePath());
  } else {
    setDocument(document);
  }
}

bool MainFrame::openFile(const QString& path) {
  if (document_ == nullptr || !MayDiscard()) return false;
  Document* document = document_;
  setDocument(nullptr);
  const bool opened = document->OpenDocument(fspath(path), false);
  setDocument(document);
  if (opened) SetCurrentFile(document->filePath());
  return opened;
}

bool MainFrame::SaveDocument() {
  if (document_ == nullptr) return false;
  if (document_->filePath().empty()) return SaveDocumentAs();
  std::string error;
  if (!document_->SaveDocument(document_->filePath(), &error)) {
    ui_.showMessage(error, trMark("Ошибка"), MessageIcon::Stop);
    return false;
  }
  treeView_->editHistory().saved();
  SetCurrentFile(document_->filePath());
  return true;
}

bool MainFrame::SaveDocumentAs() {
  if (document_ == nullptr) return false;
  QFileDialog dialog(this, uiText("Сохранить как"), QString(), uiText(kFileFilter));
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setDefaultSuffix("kvtr");
  if (!document_->filePath().empty()) {
    dialog.selectFile(qpath(document_->filePath()));
  }
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return false;
  std::string error;
  if (!document_->SaveDocument(fspath(dialog.selectedFiles().front()), &error)) {
    ui_.showMessage(error, trMark("Ошибка"), MessageIcon::Stop);
    return false;
  }
  treeView_->editHistory().saved();
  SetCurrentFile(document_->filePath());
  return true;
}

// ------------------------------------------------------------------ window

void MainFrame::closeAsRequested() {
  closeWithoutAsking_ = true;
  close();
}

void MainFrame::closeEvent(QCloseEvent* event) {
  if (tasksRunning_ > 0) {
    // The task's nested loop is still running: the close comes once it has ended.
    closePending_ = true;
    event->ignore();
    return;
  }
  if (document_ != nullptr && document_->engine().taskRunning()) {
    // A task of the tree view (a branch, a parameter): the close is tried again shortly.
    event->ignore();
    QTimer::singleShot(100, this, [this] { close(); });
    return;
  }
  if (!closeWithoutAsking_ && !MayDiscard()) {
    event->ignore();
    return;
  }
  emit frameClosing();
  event->accept();
}

void MainFrame::lockAt(const QPoint& position, const QSize& size) {
  locked_ = true;
  lockedPosition_ = position;
  unlockedFlags_ = windowFlags();
  setWindowFlags((unlockedFlags_ & ~(Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint)) |
                 Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowCloseButtonHint);
  setFixedSize(size);
  move(position);
}

void MainFrame::unlock() {
  if (!locked_) return;
  locked_ = false;
  const bool visible = isVisible();
  setMinimumSize(0, 0);
  setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
  setWindowFlags(unlockedFlags_);
  if (visible) show();
}

void MainFrame::changeEvent(QEvent* event) {
  QMainWindow::changeEvent(event);
  if (event->type() == QEvent::WindowStateChange && locked_ &&
      (windowState() & (Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen)) != 0) {
    QMetaObject::invokeMethod(this, [this] { if (locked_) setWindowState(Qt::WindowNoState); }, Qt::QueuedConnection);
  }
}

void MainFrame::moveEvent(QMoveEvent* event) {
  QMainWindow::moveEvent(event);
  if (locked_ && pos() != lockedPosition_) {
    QMetaObject::invokeMethod(this, [this] { if (locked_) move(lockedPosition_); }, Qt::QueuedConnection);
  }
}

void MainFrame::dragEnterEvent(QDragEnterEvent* event) {
  const QList<QUrl> urls = event->mimeData()->urls();
  if (!urls.isEmpty() && urls.front().isLocalFile()) event->acceptProposedAction();
}

void MainFrame::dropEvent(QDropEvent* event) {
  const QList<QUrl> urls = event->mimeData()->urls();
  if (urls.isEmpty() || !urls.front().isLocalFile()) return;
  event->acceptProposedAction();
  const QString path = urls.front().toLocalFile();
  // The drop's own event ends before the file is opened: opening may ask questions.
  QMetaObject::invokeMethod(this, [this, path] { (void)openFile(path); }, Qt::QueuedConnection);
}

}  // namespace kvtr::ui
