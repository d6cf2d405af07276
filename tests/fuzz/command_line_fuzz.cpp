// The program's own command line: the input is split at NUL bytes into arguments, as the system
// hands them over, and parsed with both path rules.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/startup_options.h"
#include "nul_split_arguments.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::vector<std::string> args = nulSplitArguments(data, size);
  for (const auto syntax : {kvtr::CommandLineSyntax::Posix, kvtr::CommandLineSyntax::Windows}) {
    const kvtr::CommandLine c = kvtr::parseCommandLine(args, "/work", syntax);
    const kvtr::StartupOptions& o = c.options;
    if (o.address.size() > kvtr::kMaxAddressText || o.stopBits.size() > kvtr::kMaxStopBitsText) std::abort();
    if (o.parity > 3 || o.rs485 > 3) std::abort();
    // Any option token means batch mode; without one, no option field may be set.
    bool anyOption = false;
    for (const std::string& arg : args) anyOption = anyOption || kvtr::isOptionArgument(arg, syntax);
    if (!anyOption && !(o == kvtr::StartupOptions{})) std::abort();
    if (o.flags != 0 && !o.batchMode()) std::abort();
    if (!c.filePath.empty() && !c.filePath.is_absolute()) std::abort();
  }
  for (const std::string& arg : args) (void)kvtr::scanInteger(arg);
  return 0;
}
