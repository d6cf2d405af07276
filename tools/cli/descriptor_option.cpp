#include "descriptor_option.h"

#include "common/catalogue.h"
#include "common/utf8_path.h"
#include "model/descriptor_loader.h"
#include "model/descriptor_storage.h"

#include <string_view>
#include <system_error>

namespace kvtr::cli {

std::filesystem::path descriptorPath(const CommandContext& context, const ParsedOptions& options) {
  if (auto given = options.value(kDescriptorOption.longName)) return pathFromUtf8(*given);
  if (context.global != nullptr) {
    if (auto given = context.global->value(kDescriptorOption.longName)) return pathFromUtf8(*given);
  }
  return FindDescriptorFile(programDirectory());
}

void TerminalMessages::showMessage(const std::string& text, const std::string& caption, MessageIcon) {
  std::string_view body = text;
  while (!body.empty() && body.back() == '\n') body.remove_suffix(1);
  std::lock_guard lock(mutex_);
  std::fprintf(err_, "%s: %.*s\n", caption.c_str(), static_cast<int>(body.size()), body.data());
  ++shown;
}

bool TerminalMessages::askYesNo(const std::string&, const std::string&) { return false; }

bool readDescriptorText(CommandContext& context, const Command& command, const ParsedOptions& options,
                        std::string& text) {
  const std::filesystem::path path = descriptorPath(context, options);
  DescriptorReadResult read = readDescriptorFile(path);
  if (!read.ok()) {
    failure(context, command,
            std::string(descriptorReadFailureText(read.status)) + " (" + utf8FromPath(path) + ": " + read.message + ")");
    return false;
  }
  text = std::move(read.text);
  return true;
}

bool loadDescriptorTree(CommandContext& context, const Command& command, const ParsedOptions& options,
                        ParameterTree& tree) {
  std::string text;
  if (!readDescriptorText(context, command, options, text)) return false;
  TerminalMessages messages(context.err);
  const DescriptorLoadResult loaded = LoadDescriptorText(tree, text, messages);
  if (!loaded.complete) {
    failure(context, command, tr("описатель не дает целого дерева параметров"));
    return false;
  }
  return true;
}

}  // namespace kvtr::cli
