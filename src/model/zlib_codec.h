// zlib-format compression (deflate with the zlib header and Adler-32 check) for the descriptor
// stream: inflating when the program reads it, deflating when kvtr-mkdesc packs it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace kvtr {

class ZlibInflater {
 public:
  // Input is read and output produced in blocks of this size.
  static constexpr std::size_t kBlockSize = 16384;
  // The output buffer starts this large and grows as needed.
  static constexpr std::size_t kInitialOutput = 1024;
  // A descriptor is some tens of kilobytes; 64 MiB stops a small stream that inflates without end
  // long before memory runs out.
  static constexpr std::size_t kDefaultOutputLimit = std::size_t{64} << 20;

  explicit ZlibInflater(std::size_t outputLimit = kDefaultOutputLimit);
  ~ZlibInflater();
  ZlibInflater(const ZlibInflater&) = delete;
  ZlibInflater& operator=(const ZlibInflater&) = delete;

  // Inflates one piece of input. False on corrupt data or when the output would pass the limit;
  // error() then says why, and every later call fails too. Input after the end of the compressed
  // data is ignored.
  [[nodiscard]] bool feed(std::span<const std::uint8_t> input);
  // Call when the input has run out: false (with error()) when the compressed data had not ended.
  [[nodiscard]] bool finish();

  bool finished() const { return finished_; }
  const std::string& error() const { return error_; }
  const std::string& output() const { return output_; }
  std::string takeOutput() { return std::move(output_); }

 private:
  struct Stream;
  std::unique_ptr<Stream> stream_;
  std::size_t limit_;
  std::string output_;
  std::string error_;
  bool finished_ = false;
};

struct InflateResult {
  bool ok = false;
  std::string data;
  std::string error;
};

// Inflates a whole zlib stream held in memory, in blocks of ZlibInflater::kBlockSize.
[[nodiscard]] InflateResult inflateZlib(std::span<const std::uint8_t> compressed,
                                        std::size_t outputLimit = ZlibInflater::kDefaultOutputLimit);

// Deflates into the zlib format; level 9 is the best compression. Empty only if zlib fails.
[[nodiscard]] std::optional<std::vector<std::uint8_t>> deflateZlib(std::span<const std::uint8_t> data, int level = 9);

}  // namespace kvtr
