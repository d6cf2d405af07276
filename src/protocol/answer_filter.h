// What the device link tells the serial port about the answer it waits for. A native answer
// ends at its carriage return; the filter then says whether that line is the answer to the
// request just sent. A line it turns down (an answer that came late for an earlier request, or
// one for another parameter or index) is dropped, and the port waits on for the right one within
// the same reply time-out, so that a late answer never takes the place of the one awaited.
#pragma once

#include <string_view>

namespace kvtr {

class AnswerFilter {
 public:
  virtual ~AnswerFilter() = default;
  // `line` runs from its first character up to and including the carriage return.
  virtual bool accept(std::string_view line) = 0;
};

}  // namespace kvtr
