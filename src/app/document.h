// The document: the one configuration of a run. It owns the exchange engine (the device link with
// the program's port-settings node, which loads the stored port settings when it is made and
// stores them when it goes) and the parameter tree, and knows its file. The desktop program and
// `kvtr batch` share it; nothing here shows a window.
#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "exchange/exchange_engine.h"
#include "model/parameter_tree.h"

namespace kvtr {

class SettingsStore;
class UserInterface;

// The connection procedure run when the document is made: true when the module answered.
using ConnectProcedure = std::function<bool(ExchangeEngine& engine)>;

// Runs a group task on a branch and returns when it has finished: the desktop program runs it
// behind its progress window while its events flow. True when the task ran.
using TaskRunner = std::function<bool(TaskKind kind, ObjectWithParameters* root)>;

struct DocumentOptions {
  // Where the program's port settings are loaded from and stored to; none: the defaults, and
  // nothing is stored.
  SettingsStore* settings = nullptr;
  UserInterface* ui = nullptr;
  // The program's failure flags; none: the process-wide ones.
  LinkState* state = nullptr;
  // The descriptor file of a new configuration.
  std::filesystem::path descriptorFile;
  // The ports offered for "Port"; empty: the system's list.
  std::string portChoices;
  Clock* clock = nullptr;  // none: the system clock
};

class Document {
 public:
  explicit Document(const DocumentOptions& options);
  // Stops the engine's threads; the port-settings node then stores the port settings.
  ~Document();
  Document(const Document&) = delete;
  Document& operator=(const Document&) = delete;

  [[nodiscard]] ExchangeEngine& engine() { return *engine_; }
  // The tree, or none while no configuration is loaded (or the descriptor failed).
  [[nodiscard]] ParameterTree* tree() const { return tree_.get(); }
  [[nodiscard]] DescBranch* root() const { return tree_ != nullptr ? tree_->root() : nullptr; }

  // A new configuration: the engine's threads stop, the tree is built again from the descriptor
  // and the port is opened again with the program's port settings; polling starts over the new
  // tree's scanners. False when the descriptor
  // gave no tree (its messages have been shown); the document then has no tree.
  bool NewDocument();
  // Opens a configuration file. False when it could not be read; the messages have been shown.
  // `batchSilent`: a malformed file leaves the document without a tree.
  bool OpenDocument(const std::filesystem::path& path, bool batchSilent);
  // Saves the configuration into `path` (through a temporary file, so that a failed save leaves
  // the old file as it was); on success the document takes that path and is no longer modified.
  bool SaveDocument(const std::filesystem::path& path, std::string* error = nullptr);

  [[nodiscard]] const std::filesystem::path& filePath() const { return filePath_; }
  void setFilePath(std::filesystem::path path) { filePath_ = std::move(path); }
  [[nodiscard]] bool modified() const { return modified_.load(); }
  void setModified(bool on) { modified_.store(on); }

  // "Прочитать все параметры" and "Записать все параметры": the whole tree as one task. With
  // `done` the task is begun and `done` is called on the transmit thread when it has finished
  // (the caller then runs engine().AfterTask on its own thread); without, the call returns when
  // the task has finished. False when no task was started: without a tree the user is told
  // "Дерево не определено".
  bool ReadAll(TaskCompletion done = {});
  bool WriteAll(TaskCompletion done = {});
  // A whole-tree command ("Прочитать все параметры", "Записать все параметры", "Записать только
  // измененные", "Сравнить с реальными значениями", the defaults) run by `run`. Without a tree
  // the user is told "Дерево не определено" and nothing runs.
  bool RunWholeTreeTask(TaskKind kind, const TaskRunner& run);

 private:
  bool StartWholeTreeTask(TaskKind kind, TaskCompletion done);
  // Takes the tree (or none) and starts the polling thread over its scanners.
  void TakeTree(std::unique_ptr<ParameterTree> tree);
  void StartPolling();

  UserInterface* ui_;
  std::filesystem::path descriptorFile_;
  std::unique_ptr<ExchangeEngine> engine_;
  std::unique_ptr<ParameterTree> tree_;
  std::filesystem::path filePath_;
  std::atomic<bool> modified_{false};
};

}  // namespace kvtr
