// Replays fuzz inputs without libFuzzer: every file named on the command line, or every file
// inside a folder named there, goes once through LLVMFuzzerTestOneInput. A crash or a sanitizer
// report fails the run; a clean pass prints how many inputs it replayed.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {
bool replayFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "cannot read %s\n", path.c_str());
    return false;
  }
  std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
  return true;
}
}  // namespace

int main(int argc, char** argv) {
  std::size_t count = 0;
  for (int i = 1; i < argc; ++i) {
    std::filesystem::path arg(argv[i]);
    if (std::filesystem::is_directory(arg)) {
      for (const auto& entry : std::filesystem::recursive_directory_iterator(arg)) {
        if (entry.is_regular_file()) {
          if (!replayFile(entry.path())) return 1;
          ++count;
        }
      }
    } else {
      if (!replayFile(arg)) return 1;
      ++count;
    }
  }
  std::printf("replayed %zu inputs\n", count);
  return 0;
}
