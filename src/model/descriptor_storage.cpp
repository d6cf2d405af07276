#include "model/descriptor_storage.h"

#include <array>

#include "common/catalogue.h"
#include "common/format.h"
#include "common/utf8_path.h"
#include "model/compound_file_writer.h"
#include "model/text_encoding.h"
#include "model/zlib_codec.h"

namespace kvtr {

namespace {

DescriptorReadResult failure(DescriptorReadStatus status, std::string message) {
  DescriptorReadResult result;
  result.status = status;
  result.message = std::move(message);
  return result;
}

DescriptorReadResult storageFailure(const CompoundFileError& error) {
  return failure(error.code == CompoundFileErrc::notCompoundFile ? DescriptorReadStatus::notCompoundFile
                                                                 : DescriptorReadStatus::storageUnreadable,
                 error.message);
}

// Length of the UTF-8 sequence that starts with `lead` (1 for a stray byte).
std::size_t sequenceLength(unsigned char lead) {
  if ((lead & 0xE0) == 0xC0) return 2;
  if ((lead & 0xF0) == 0xE0) return 3;
  if ((lead & 0xF8) == 0xF0) return 4;
  return 1;
}

}  // namespace

DescriptorReadResult readDescriptorStream(const CompoundFile& file, std::string_view streamName) {
  auto stream = file.openStream(streamName);
  if (!stream) {
    return failure(stream.code() == CompoundFileErrc::streamNotFound ? DescriptorReadStatus::streamMissing
                                                                     : DescriptorReadStatus::streamUnreadable,
                   stream.message());
  }
  CompoundStreamReader& reader = stream.value();
  if (reader.size() == 0) return failure(DescriptorReadStatus::emptyText, tr("поток описателя пуст"));

  // The stream is read in blocks and inflated as it comes; the end of the compressed data ends
  // the read, whatever follows it in the stream.
  ZlibInflater inflater;
  std::array<std::uint8_t, ZlibInflater::kBlockSize> block;
  while (!inflater.finished()) {
    auto n = reader.read(block);
    if (!n) return failure(DescriptorReadStatus::streamUnreadable, n.message());
    if (n.value() == 0) break;
    if (!inflater.feed(std::span(block).first(n.value()))) break;
  }
  if (!inflater.finish()) {
    return failure(DescriptorReadStatus::streamUnreadable,
                   strprintf(trFormat("поток «%.*s»: %s"), static_cast<int>(streamName.size()), streamName.data(),
                             inflater.error().c_str()));
  }
  if (inflater.output().empty()) return failure(DescriptorReadStatus::emptyText, tr("текст описателя пуст"));
  DescriptorReadResult result;
  result.text = cp1251ToUtf8(inflater.output());
  return result;
}

DescriptorReadResult readDescriptorFile(const std::filesystem::path& path, std::string_view streamName) {
  std::error_code ec;
  const auto status = std::filesystem::status(path, ec);
  if (status.type() == std::filesystem::file_type::not_found) {
    return failure(DescriptorReadStatus::fileMissing, strprintf(trFormat("%s не существует"), utf8FromPath(path).c_str()));
  }
  auto file = CompoundFile::open(path);
  if (!file) return storageFailure(file.error());
  return readDescriptorStream(file.value(), streamName);
}

DescriptorReadResult readDescriptorBytes(std::vector<std::uint8_t> bytes, std::string_view streamName) {
  auto file = CompoundFile::fromBytes(std::move(bytes));
  if (!file) return storageFailure(file.error());
  return readDescriptorStream(file.value(), streamName);
}

std::string_view descriptorReadFailureText(DescriptorReadStatus status) {
  switch (status) {
    case DescriptorReadStatus::ok:
      return {};
    case DescriptorReadStatus::emptyText:
      return tr(kDescriptorTreeFailedText.data());
    default:
      return tr(kDescriptorOpenFailedText.data());
  }
}

std::string findUnencodableText(std::string_view utf8Text) {
  std::size_t line = 1;
  for (std::size_t i = 0; i < utf8Text.size();) {
    const auto lead = static_cast<unsigned char>(utf8Text[i]);
    if (lead == '\n') ++line;
    if (lead < 0x80) {
      ++i;
      continue;
    }
    const std::size_t length = std::min(sequenceLength(lead), utf8Text.size() - i);
    const std::string_view character = utf8Text.substr(i, length);
    if (length == 1 || !isValidUtf8(character)) {
      return strprintf(trFormat("строка %zu: текст — не правильный UTF-8 (байт 0x%02X)"), line, lead);
    }
    bool lossless = false;
    (void)utf8ToCp1251(character, &lossless);
    if (!lossless) {
      return strprintf(trFormat("строка %zu: для символа «%.*s» нет байта в Windows-1251"), line,
                       static_cast<int>(character.size()), character.data());
    }
    i += length;
  }
  return {};
}

CompoundFileResult<std::vector<std::uint8_t>> packDescriptor(std::string_view utf8Text, std::string_view streamName) {
  if (std::string problem = findUnencodableText(utf8Text); !problem.empty()) {
    return CompoundFileError{CompoundFileErrc::invalidArgument, std::move(problem)};
  }
  const std::string cp1251 = utf8ToCp1251(utf8Text);
  auto compressed =
      deflateZlib(std::span(reinterpret_cast<const std::uint8_t*>(cp1251.data()), cp1251.size()), 9);
  if (!compressed) return CompoundFileError{CompoundFileErrc::ioError, tr("zlib не смог сжать текст")};
  const std::array<CompoundStreamData, 1> streams{CompoundStreamData{std::string(streamName), std::move(*compressed)}};
  return buildCompoundFile(streams);
}

}  // namespace kvtr
