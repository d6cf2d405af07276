// The main window of the desktop program: the menus, the toolbar and the status bar, the title
// with the configuration's name, and every command of the menus. Each command is one QAction
// (text with its access key, shortcut, status prompt, tooltip and icon), found by its command
// number; the toolbar and the menus share the actions.
//
// The whole-tree commands run their task behind the progress window (ui::RunTask), the branch
// commands go to the tree view, the service commands (INIT, the defaults, APLY, the connection
// check) use the core's calls. The four program modes are checkable actions whose state is the
// engine's (automatic reading, immediate writing, attributes) or the view's (linear indexes).
//
// Threads: everything here runs on the GUI thread. The application's watchers and the engine reach
// the window only through GuiShell, which queues their calls here.
#pragma once

#include <QMainWindow>
#include <QPoint>
#include <QPointer>
#include <QSize>
#include <QString>
#include <filesystem>
#include <map>
#include <memory>

#include "app/document.h"
#include "common/catalogue.h"

class QAction;
class QLabel;
class QMenu;
class QToolBar;

namespace kvtr {
class Application;
class SettingsStore;
}

namespace kvtr::ui {

class ParameterTreeView;
class ProgressDialog;
class QtUserInterface;
class RecentFiles;

// The command numbers of the main window: a job posted from the command line names its command
// by the same number.
namespace command {
inline constexpr int kNew = 57600;
inline constexpr int kOpen = 57601;
inline constexpr int kSave = 57603;
inline constexpr int kSaveAs = 57604;
inline constexpr int kExit = 57665;
inline constexpr int kUndo = 57643;
inline constexpr int kRedo = 57644;
inline constexpr int kReadAll = 139;
inline constexpr int kWriteAll = 140;
inline constexpr int kWriteChanged = 256;
inline constexpr int kCompare = 257;
inline constexpr int kSetDefaults = 269;
inline constexpr int kInit = 301;
inline constexpr int kApply = 265;
inline constexpr int kInputsOutputs = 32821;
inline constexpr int kSingleParameter = 141;
inline constexpr int kCheckConnection = 138;
inline constexpr int kConverterSemiAutomatic = 32799;
inline constexpr int kConverterAutomatic = 32798;
inline constexpr int kPortSetup = 32819;
inline constexpr int kReadBranch = 279;
inline constexpr int kWriteBranch = 280;
inline constexpr int kWriteBranchChanged = 281;
inline constexpr int kCompareBranch = 282;
inline constexpr int kPreviousProblem = 276;
inline constexpr int kNextProblem = 277;
inline constexpr int kLinearIndexes = 145;
inline constexpr int kAutomaticReading = 134;
inline constexpr int kImmediateWriting = 268;
inline constexpr int kNoAttributes = 294;
inline constexpr int kToolBar = 59392;
inline constexpr int kStatusBar = 59393;
inline constexpr int kHelp = 57667;
inline constexpr int kExportHtml = 32804;
inline constexpr int kAbout = 57664;
inline constexpr int kLanguageRussian = 32900;
inline constexpr int kLanguageEnglish = 32901;
}  // namespace command

inline constexpr const char* kIdlePrompt = trMark("Для вызова справки нажмите F1");
inline constexpr const char* kHelpNotFoundText = trMark("Файл справки не найден!");
inline constexpr const char* kUntitledName = trMark("безымянный файл");
inline constexpr const char* kLanguageChosenText = trMark("Язык программы будет сменен при следующем запуске.");
inline constexpr const char* kLanguageNotStoredText = trMark("Не удалось сохранить выбор языка в настройках программы.");
inline constexpr const char* kImmediateWritingText = trMark(
    "В режиме 'Моментальная запись' введеные значения\nавтоматически записываются в прибор\nсразу после ввода "
    "(без нажатия на 'Записать измененные')\nЭто ускоряет работу, но снижает надежность\nи увеличивает "
    "вероятность ошибок.\nРежим 'Моментальная запись' не записывает\nизмененные атрибуты доступа.");
inline constexpr const char* kNoAttributesText = trMark(
    "В режиме 'Не передавать атрибуты' обмен информацией\nоб индивидуальных защитных атрибутах параметров\nне "
    "производится.\nЭто ускоряет работу, но не дает возможность предварительно\nконтролировать доступность "
    "параметров на запись\nсо стороны компьютера (программы-конфигуратора).\nПри попытке записи защищенного "
    "параметра запрос записи\nбудет отвергнут прибором с соответствующим сообщением\nкак ошибка записи.\nЗапись "
    "измененных атрибутов принадлежности в режиме\n'Не передавать атрибуты' также не производится.");

class MainFrame : public QMainWindow {
  Q_OBJECT

 public:
  explicit MainFrame(QtUserInterface& ui, QWidget* parent = nullptr);
  ~MainFrame() override;

  // The one document of the run (none: the commands that need one refuse). The application,
  // when there is one, runs the command-line jobs and is told when the window goes.
  void setDocument(Document* document);
  void setApplication(Application* application) { application_ = application; }
  // The program's settings, where the choice of language is kept (none: it cannot be chosen).
  void setSettings(SettingsStore* settings);
  [[nodiscard]] Document* document() const { return document_; }

  // The action of a command number; none for a number the window does not know.
  [[nodiscard]] QAction* action(int command) const;
  [[nodiscard]] ParameterTreeView* treeView() const { return treeView_; }

  // Runs a command of the menus as if the operator chose it. A job from the command line (read
  // all, write all) runs through the application, which then knows that the job has run.
  void runCommand(int command);

  // The window placed by the command line: it cannot be moved, sized, minimised or maximised
  // until unlock() (the command-line job has ended).
  void lockAt(const QPoint& position, const QSize& size);
  void unlock();
  [[nodiscard]] bool locked() const { return locked_; }

  // Closes the window without asking to save: a close asked by the command line ("close", the
  // exit event). A close while a task runs waits for the task to end.
  void closeAsRequested();

  // The title and the views follow the document (a read, a save made elsewhere).
  void documentChanged();

  // Opens a configuration file as the operator's "Открыть" does (after asking to save a modified
  // one). False when it was not opened.
  bool openFile(const QString& path);

  // The window title: "Конфигуратор КВТР - " and the document's name.
  [[nodiscard]] QString documentName() const;

 signals:
  // The window is about to go: the application's watchers end.
  void frameClosing();

 protected:
  void closeEvent(QCloseEvent* event) override;
  void changeEvent(QEvent* event) override;
  void moveEvent(QMoveEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  void CreateActions();
  void CreateMenus();
  void CreateToolBar();
  // The "&Правка" menu: undo and redo of the tree's edits, their texts naming the edit.
  void CreateEditMenu();
  QAction* AddAction(int command, const QString& text, const QString& prompt, const QString& shortcut,
                     const QString& icon);
  void UpdateTitle();
  void UpdateModeMarks();
  void RefreshViews();

  // The commands.
  void NewDocument();
  void OpenDocument();
  bool SaveDocument();
  bool SaveDocumentAs();
  // A modified configuration: asks whether to save it. False when the operator cancelled.
  bool MayDiscard();
  bool RunWholeTreeTask(TaskKind kind);
  bool RunJob(int command);
  void SetDefaults();
  void SendInitCommand();
  void SendApply();
  void CheckConnection();
  void SetConverter(int mode);
  void PortSetup();
  void ToggleImmediateWriting(bool on);
  void ToggleNoAttributes(bool on);
  void ShowHelp();
  void ChooseLanguage(int command);
  void ExportParameterList();
  void ShowAbout();
  void SetCurrentFile(const std::filesystem::path& path);

  QtUserInterface& ui_;
  Document* document_ = nullptr;
  Application* application_ = nullptr;
  SettingsStore* settings_ = nullptr;
  std::map<int, QAction*> actions_;
  QToolBar* toolBar_ = nullptr;
  ParameterTreeView* treeView_ = nullptr;
  // The progress window of the document's engine, made with the first document.
  ProgressDialog* progress_ = nullptr;
  ExchangeEngine* progressEngine_ = nullptr;
  std::unique_ptr<RecentFiles> recent_;

  bool locked_ = false;
  QPoint lockedPosition_;
  Qt::WindowFlags unlockedFlags_;
  // A task runs behind the progress window; a close asked meanwhile waits for its end.
  int tasksRunning_ = 0;
  bool closePending_ = false;
  bool closeWithoutAsking_ = false;
};

}  // namespace kvtr::ui
