// The frames of the exchanges made on one thread while a trace is alive, written into a protocol
// log as lines of their own beside the transaction's lines: "=> " and the request as it went
// out, "<= " and what came back, without the closing carriage return. The service dialog traces
// its exchange so that the operator sees the frames themselves and what they say; the exchange
// and polling threads, which trace nothing, are left alone.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kvtr {

inline constexpr std::string_view kSentFramePrefix = "=> ";
inline constexpr std::string_view kReceivedFramePrefix = "<= ";

class FrameTrace {
 public:
  explicit FrameTrace(std::vector<std::string>& log);
  ~FrameTrace();
  FrameTrace(const FrameTrace&) = delete;
  FrameTrace& operator=(const FrameTrace&) = delete;

  // Called by the link for each frame it sends and each line it receives; nothing happens unless
  // a trace is alive on the calling thread.
  static void NoteSent(std::string_view line);
  static void NoteReceived(std::string_view line);

 private:
  std::vector<std::string>& log_;
  FrameTrace* previous_;
};

// A traced frame line of a log: its direction and the frame's characters from '#'.
struct TracedFrameLine {
  bool sent = false;
  std::string_view frame;
};
[[nodiscard]] std::optional<TracedFrameLine> SplitTracedFrameLine(std::string_view line);

}  // namespace kvtr
