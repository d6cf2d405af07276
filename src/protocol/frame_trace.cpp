#include "protocol/frame_trace.h"

#include "common/format.h"

namespace kvtr {

namespace {

thread_local FrameTrace* currentTrace = nullptr;

// A line from the wire may hold anything: bytes outside printable ASCII are shown as \xHH so
// that the log stays valid text.
std::string printable(std::string_view line) {
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  std::string out;
  out.reserve(line.size());
  for (const char c : line) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 32 && byte < 127) {
      out += c;
    } else {
      out += strprintf("\\x%02X", byte);
    }
  }
  return out;
}

}  // namespace

FrameTrace::FrameTrace(std::vector<std::string>& log) : log_(log), previous_(currentTrace) { currentTrace = this; }

FrameTrace::~FrameTrace() { currentTrace = previous_; }

void FrameTrace::NoteSent(std::string_view line) {
  if (currentTrace != nullptr) currentTrace->log_.push_back(std::string(kSentFramePrefix) + printable(line));
}

void FrameTrace::NoteReceived(std::string_view line) {
  if (currentTrace != nullptr) currentTrace->log_.push_back(std::string(kReceivedFramePrefix) + printable(line));
}

std::optional<TracedFrameLine> SplitTracedFrameLine(std::string_view line) {
  for (const bool sent : {true, false}) {
    const std::string_view prefix = sent ? kSentFramePrefix : kReceivedFramePrefix;
    if (line.substr(0, prefix.size()) == prefix) return TracedFrameLine{sent, line.substr(prefix.size())};
  }
  return std::nullopt;
}

}  // namespace kvtr
