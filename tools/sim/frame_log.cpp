#include "sim/frame_log.h"

#include "common/catalogue.h"

#include "common/format.h"
#include "common/utf8_path.h"

namespace kvtr::sim {

std::string printableFrame(std::string_view bytes) {
  if (!bytes.empty() && bytes.back() == '\n') bytes.remove_suffix(1);
  if (!bytes.empty() && bytes.back() == '\r') bytes.remove_suffix(1);
  std::string text;
  for (const char c : bytes) {
    const auto u = static_cast<unsigned char>(c);
    if (u >= 0x20 && u < 0x7F && c != '\\') {
      text.push_back(c);
    } else {
      text += strprintf("\\x%02X", u);
    }
  }
  return text;
}

FrameLog::~FrameLog() {
  if (file_ != nullptr) std::fclose(file_);
}

bool FrameLog::Open(const std::filesystem::path& path, std::string& error) {
  file_ = std::fopen(path.c_str(), "a");
  if (file_ == nullptr) {
    error = strprintf(trFormat("не удалось открыть журнал %s"), utf8FromPath(path).c_str());
    return false;
  }
  return true;
}

void FrameLog::Line(std::string_view mark, std::string_view text) {
  if (file_ == nullptr) return;
  std::fwrite(mark.data(), 1, mark.size(), file_);
  std::fwrite(text.data(), 1, text.size(), file_);
  std::fputc('\n', file_);
  std::fflush(file_);
}

}  // namespace kvtr::sim
