// Command-line arguments through the option parser and the value readers of the tool. The input
// is split at NUL bytes into arguments, as the system hands them over.
#include "app/option_parser.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "nul_split_arguments.h"

namespace {
constexpr kvtr::OptionSpec kSpecs[] = {
    {"write", 'w', kvtr::OptionArgument::None},
    {"address", 'a', kvtr::OptionArgument::Required},
    {"data", 0, kvtr::OptionArgument::List},
};
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::vector<std::string> args = nulSplitArguments(data, size);

  for (const bool stop : {false, true}) {
    kvtr::ParsedOptions options;
    const kvtr::OptionParseResult result = kvtr::parseOptions(args, kSpecs, options, stop);
    if (result.next > args.size()) std::abort();
    if (result.ok == !result.error.empty()) std::abort();
    (void)options.value("address");
    (void)options.values("data");
  }

  for (const std::string& arg : args) {
    std::vector<std::uint8_t> bytes;
    if (kvtr::parseHexBytes(arg, bytes)) {
      // What was read must be written back the same, apart from separators and case.
      std::vector<std::uint8_t> again;
      if (!kvtr::parseHexBytes(kvtr::formatHexBytes(bytes), again) || again != bytes) std::abort();
    }
    if (const auto n = kvtr::parseNumber(arg, -2047, 2047); n && (*n < -2047 || *n > 2047)) std::abort();
    (void)kvtr::parseHashText(arg);
  }
  return 0;
}
