#include "model/zlib_codec.h"

#include <zlib.h>

#include <algorithm>
#include <array>
#include <limits>

#include "common/catalogue.h"
#include "common/format.h"

namespace kvtr {

struct ZlibInflater::Stream {
  z_stream z{};
  bool initialised = false;
};

ZlibInflater::ZlibInflater(std::size_t outputLimit) : stream_(std::make_unique<Stream>()), limit_(outputLimit) {
  output_.reserve(kInitialOutput);
  if (inflateInit(&stream_->z) == Z_OK) {
    stream_->initialised = true;
  } else {
    error_ = tr("не удалось запустить zlib");
  }
}

ZlibInflater::~ZlibInflater() {
  if (stream_->initialised) inflateEnd(&stream_->z);
}

bool ZlibInflater::feed(std::span<const std::uint8_t> input) {
  if (!error_.empty()) return false;
  if (finished_) return true;
  z_stream& z = stream_->z;
  // zlib counts input in uInt; feed larger pieces in parts.
  while (!input.empty()) {
    const std::size_t piece = std::min<std::size_t>(input.size(), std::numeric_limits<uInt>::max());
    z.next_in = const_cast<Bytef*>(input.data());  // zlib's API is not const-correct; it only reads
    z.avail_in = static_cast<uInt>(piece);
    std::array<std::uint8_t, kBlockSize> block;
    do {
      z.next_out = block.data();
      z.avail_out = static_cast<uInt>(block.size());
      const int rc = inflate(&z, Z_NO_FLUSH);
      if (rc == Z_NEED_DICT || rc == Z_DATA_ERROR || rc == Z_STREAM_ERROR || rc == Z_MEM_ERROR) {
        error_ = strprintf(trFormat("сжатые данные повреждены (%s)"),
                           z.msg != nullptr ? z.msg : (rc == Z_NEED_DICT ? tr("нужен заданный словарь") : tr("ошибка zlib")));
        return false;
      }
      const std::size_t produced = block.size() - z.avail_out;
      if (produced > limit_ - output_.size()) {
        error_ = strprintf(trFormat("текст распаковывается больше чем в %zu байт"), limit_);
        return false;
      }
      output_.append(reinterpret_cast<const char*>(block.data()), produced);
      if (rc == Z_STREAM_END) {
        finished_ = true;
        return true;
      }
      // Z_BUF_ERROR only says no progress was possible: more input is needed.
      if (rc == Z_BUF_ERROR) break;
    } while (z.avail_out == 0 || z.avail_in > 0);
    input = input.subspan(piece);
  }
  return true;
}

bool ZlibInflater::finish() {
  if (!error_.empty()) return false;
  if (!finished_) {
    error_ = tr("сжатые данные оборваны");
    return false;
  }
  return true;
}

InflateResult inflateZlib(std::span<const std::uint8_t> compressed, std::size_t outputLimit) {
  ZlibInflater inflater(outputLimit);
  InflateResult result;
  while (!compressed.empty() && !inflater.finished()) {
    const auto block = compressed.first(std::min(compressed.size(), ZlibInflater::kBlockSize));
    compressed = compressed.subspan(block.size());
    if (!inflater.feed(block)) break;
  }
  result.ok = inflater.finish();
  result.error = inflater.error();
  if (result.ok) result.data = inflater.takeOutput();
  return result;
}

std::optional<std::vector<std::uint8_t>> deflateZlib(std::span<const std::uint8_t> data, int level) {
  if (data.size() > std::numeric_limits<uLong>::max()) return std::nullopt;
  uLongf capacity = compressBound(static_cast<uLong>(data.size()));
  std::vector<std::uint8_t> out(capacity);
  if (compress2(out.data(), &capacity, data.data(), static_cast<uLong>(data.size()), level) != Z_OK) {
    return std::nullopt;
  }
  out.resize(capacity);
  return out;
}

}  // namespace kvtr
