// A user interface that shows nothing and remembers every message, for tests that check what the
// core tells the user.
#pragma once

#include <string>
#include <vector>

#include "common/user_interface.h"

namespace kvtr::testing_support {

struct ShownMessage {
  std::string text;
  std::string caption;
  MessageIcon icon = MessageIcon::None;

  friend bool operator==(const ShownMessage&, const ShownMessage&) = default;
};

class RecordingUserInterface : public UserInterface {
 public:
  void showMessage(const std::string& text, const std::string& caption, MessageIcon icon) override {
    messages.push_back({text, caption, icon});
  }
  bool askYesNo(const std::string&, const std::string&) override { return false; }

  // Text and caption of every message, in order, as "caption: text".
  std::vector<std::string> lines() const {
    std::vector<std::string> out;
    for (const auto& m : messages) out.push_back(m.caption + ": " + m.text);
    return out;
  }

  std::vector<ShownMessage> messages;
};

}  // namespace kvtr::testing_support
