#include "app/document.h"

#include "app/settings_store.h"
#include "common/catalogue.h"
#include "common/user_interface.h"
#include "model/descriptor_loader.h"
#include "storage/configuration_file.h"

namespace kvtr {

namespace {
SilentUserInterface& silentUi() {
  static SilentUserInterface ui;
  return ui;
}
}  // namespace

Document::Document(const DocumentOptions& options)
    : ui_(options.ui != nullptr ? options.ui : &silentUi()), descriptorFile_(options.descriptorFile) {
  DeviceLinkOptions link;
  link.settings = options.settings;
  link.state = options.state;
  link.ui = ui_;
  link.portChoices = options.portChoices;
  engine_ = std::make_unique<ExchangeEngine>(link, options.clock != nullptr ? *options.clock : Clock::system());
}

Document::~Document() {
  // The threads work on the tree: they end before it goes.
  (void)engine_->Shutdown();
  TakeTree(nullptr);
}

void Document::TakeTree(std::unique_ptr<ParameterTree> tree) {
  engine_->setDeviceNetworkNode(nullptr);
  tree_ = std::move(tree);
  if (tree_ != nullptr) engine_->setDeviceNetworkNode(tree_->networkSettings());
  StartPolling();
}

void Document::StartPolling() {
  // The polling thread runs over the scanners of the tree as soon as there is one: a scanner the
  // operator arms is read at its period without anything else to start. Scanners nobody armed
  // cost nothing but a waiting thread.
  if (tree_ != nullptr && tree_->scanners() != nullptr) (void)engine_->StartScanThread(*tree_->scanners());
}

bool Document::NewDocument() {
  (void)engine_->Shutdown();
  auto tree = std::make_unique<ParameterTree>();
  const DescriptorLoadResult loaded = LoadDescriptor(*tree, descriptorFile_, *ui_);
  TakeTree(std::move(tree));
  filePath_.clear();
  modified_.store(false);
  (void)engine_->OpenLink(true);
  return loaded.complete;
}

bool Document::OpenDocument(const std::filesystem::path& path, bool batchSilent) {
  (void)engine_->Shutdown();
  OpenOptions options;
  options.loadDescriptor = DescriptorFromFile(descriptorFile_);
  options.batchSilent = batchSilent;
  OpenResult opened = OpenConfigurationFile(path, *ui_, options);
  if (opened.tree != nullptr) TakeTree(std::move(opened.tree));
  else StartPolling();  // the configuration already open stays, and its scanners go on
  if (!opened.ok()) return false;
  filePath_ = path;
  modified_.store(false);
  return true;
}

bool Document::SaveDocument(const std::filesystem::path& path, std::string* error) {
  if (tree_ == nullptr) {
    if (error != nullptr) *error = tr("нет конфигурации для сохранения");
    return false;
  }
  if (!SaveConfigurationFile(*tree_, path, error)) return false;
  filePath_ = path;
  modified_.store(false);
  return true;
}

bool Document::StartWholeTreeTask(TaskKind kind, TaskCompletion done) {
  DescBranch* branch = root();
  if (branch == nullptr) {
    ui_->showMessage(tr(kNoTreeText.data()), tr(kOperationImpossibleCaption.data()), MessageIcon::Stop);
    return false;
  }
  if (done) return engine_->BeginTask(kind, branch, std::move(done));
  return engine_->StartTask(kind, branch);
}

bool Document::RunWholeTreeTask(TaskKind kind, const TaskRunner& run) {
  DescBranch* branch = root();
  if (branch == nullptr) {
    ui_->showMessage(tr(kNoTreeText.data()), tr(kOperationImpossibleCaption.data()), MessageIcon::Stop);
    return false;
  }
  return run(kind, branch);
}

bool Document::ReadAll(TaskCompletion done) { return StartWholeTreeTask(TaskKind::ReadAll, std::move(done)); }

bool Document::WriteAll(TaskCompletion done) { return StartWholeTreeTask(TaskKind::WriteAll, std::move(done)); }

}  // namespace kvtr
