// Arbitrary bytes as a descriptor file: the compound-file reader, every stream in it, and the
// inflate path, both through the descriptor stream and on the raw bytes.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "model/compound_file.h"
#include "model/descriptor_storage.h"
#include "model/zlib_codec.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::vector<std::uint8_t> bytes(data, data + size);
  if (auto file = kvtr::CompoundFile::fromBytes(bytes); file.ok()) {
    (void)kvtr::readDescriptorStream(file.value());
    if (auto names = file.value().streamNames(); names.ok()) {
      for (const auto& name : names.value()) (void)file.value().readStream(name);
    }
  }
  // 1 MiB keeps a small input that inflates without end from slowing the run down.
  (void)kvtr::inflateZlib(bytes, std::size_t{1} << 20);
  return 0;
}
