// The parameter tree for commands that work on the descriptor without a module: where the
// descriptor is ("--descriptor PATH", else beside the program, else the installed data folder)
// and the whole tree loaded from it, with the loader's own messages on the error stream.
#pragma once

#include "command.h"

#include "common/program_directory.h"
#include "common/user_interface.h"
#include "model/parameter_tree.h"

#include <cstdio>
#include <filesystem>
#include <mutex>
#include <string>

namespace kvtr::cli {

inline constexpr OptionSpec kDescriptorOption{"descriptor", 0, OptionArgument::Required};

// The descriptor file a command works on: its own --descriptor, else one given before the
// command name, else the one found beside the program or in the installed data folder.
[[nodiscard]] std::filesystem::path descriptorPath(const CommandContext& context, const ParsedOptions& options);

// The program's messages on the error stream, one "caption: text" line each; questions are
// answered "no", as nobody is there to answer them. Messages may come from any thread.
class TerminalMessages : public UserInterface {
 public:
  explicit TerminalMessages(std::FILE* err) : err_(err) {}
  void showMessage(const std::string& text, const std::string& caption, MessageIcon icon) override;
  bool askYesNo(const std::string& text, const std::string& caption) override;

  int shown = 0;  // counted under mutex_

 private:
  std::mutex mutex_;
  std::FILE* err_;
};

// Reads the descriptor file into `text`. False after the failure has been reported on the error
// stream.
bool readDescriptorText(CommandContext& context, const Command& command, const ParsedOptions& options,
                        std::string& text);

// Reads the descriptor and builds the whole tree into `tree`. False after the failure has been
// reported on the error stream: a file that cannot be read, or a descriptor that stops before
// the tree is whole.
bool loadDescriptorTree(CommandContext& context, const Command& command, const ParsedOptions& options,
                        ParameterTree& tree);

}  // namespace kvtr::cli
