// kvtr-mkdesc INPUT.txt OUTPUT.dat
//
// Packs a descriptor text into the descriptor file the programs read: the UTF-8 text becomes
// Windows-1251, is deflated (zlib format, best compression) and stored as the stream "kvtr.tree"
// of a compound file. The output is replaced atomically and read back before the tool reports
// success. Exit codes: 0 done, 1 the text or a file could not be handled, 2 wrong usage.
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "common/atomic_file.h"
#include "common/utf8_path.h"
#include "model/descriptor_storage.h"

namespace {

constexpr const char* kUsage =
    "usage: kvtr-mkdesc INPUT.txt OUTPUT.dat\n"
    "Packs a UTF-8 descriptor text into a descriptor file (stream \"kvtr.tree\",\n"
    "Windows-1251, zlib-compressed, in a compound file).\n";

int fail(const std::string& message) {
  std::fprintf(stderr, "kvtr-mkdesc: %s\n", message.c_str());
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args = kvtr::utf8Arguments(argc, argv);
  if (argc == 2 && (args[1] == "--help" || args[1] == "-h")) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (argc != 3) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  const std::string& input = args[1];
  const std::string& output = args[2];

  std::ifstream in(kvtr::pathFromUtf8(input), std::ios::binary);
  if (!in) return fail("cannot read " + input);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) return fail("cannot read " + input);
  // Editors on Windows like to start UTF-8 files with a byte order mark; it is not part of the text.
  if (text.starts_with("\xEF\xBB\xBF")) text.erase(0, 3);
  if (text.empty()) return fail(input + ": the text is empty");

  auto packed = kvtr::packDescriptor(text);
  if (!packed) return fail(input + ": " + packed.message());
  if (std::string error; !kvtr::writeFileAtomically(kvtr::pathFromUtf8(output), packed.value(), &error)) return fail(error);
  const auto check = kvtr::readDescriptorFile(kvtr::pathFromUtf8(output));
  if (!check.ok() || check.text != text) {
    return fail(output + ": the written file does not read back" + (check.message.empty() ? "" : ": " + check.message));
  }
  return 0;
}
