#include "protocol/protocol_log.h"

#include "common/catalogue.h"
#include "common/format.h"
#include "model/text_encoding.h"

namespace kvtr {

namespace {

// Control characters would break the list line, so bytes below 32 show as '.'; every other
// byte, also 128..255, shows as its Windows-1251 character.
std::string byteAsCharacter(std::uint8_t byte) {
  if (byte < 32) return ".";
  const char c = static_cast<char>(byte);
  return cp1251ToUtf8(std::string_view(&c, 1));
}

std::string byteLine(const char* prefix, int position, std::uint8_t byte) {
  return strprintf("%s #%2i : %03i = 0x%02X (%s)", prefix, position, byte, byte, byteAsCharacter(byte).c_str());
}

}  // namespace

std::vector<std::string> requestLogLines(std::span<const std::uint8_t> data) {
  std::vector<std::string> lines;
  lines.reserve(data.size() + 1);
  lines.push_back(strprintf(trFormat("Размер инф-ой части посылки %i байт."), static_cast<int>(data.size())));
  for (std::size_t i = 0; i < data.size(); ++i) lines.push_back(byteLine(tr(">> Посылка:"), static_cast<int>(i), data[i]));
  return lines;
}

std::vector<std::string> responseLogLines(std::span<const std::uint8_t> data) {
  std::vector<std::string> lines;
  lines.reserve(data.size() + 1);
  for (std::size_t i = 0; i < data.size(); ++i) lines.push_back(byteLine(tr("<< Ответ:"), static_cast<int>(i), data[i]));
  lines.push_back(
      strprintf(trFormat("Инф-ная часть квитанции ответа имеет размер %1i байт."), static_cast<int>(data.size())));
  return lines;
}

}  // namespace kvtr
