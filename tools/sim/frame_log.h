// The simulator's frame log: one line per frame heard ("RX "), one per answer sent ("TX "), and
// notes ("-- ") that say why a frame got no answer or what a fault did. Every line is flushed at
// once, so that a test may count the frames while the simulator runs.
#pragma once

#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>

namespace kvtr::sim {

// The frame as one line: printable ASCII as it is, a trailing carriage return (and line feed)
// left out, every other byte as \xNN.
[[nodiscard]] std::string printableFrame(std::string_view bytes);

class FrameLog {
 public:
  FrameLog() = default;
  ~FrameLog();
  FrameLog(const FrameLog&) = delete;
  FrameLog& operator=(const FrameLog&) = delete;

  // Appends to the file (created when missing). False with `error` on failure.
  bool Open(const std::filesystem::path& path, std::string& error);
  [[nodiscard]] bool isOpen() const { return file_ != nullptr; }

  void Received(std::string_view bytes) { Line("RX ", printableFrame(bytes)); }
  void Sent(std::string_view bytes) { Line("TX ", printableFrame(bytes)); }
  void Note(std::string_view text) { Line("-- ", text); }

 private:
  void Line(std::string_view mark, std::string_view text);

  std::FILE* file_ = nullptr;
};

}  // namespace kvtr::sim
