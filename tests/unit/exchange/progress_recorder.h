// A user interface that records the progress window as the engine drives it (from the transmit
// thread) and every message, for tests.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "common/user_interface.h"
#include "unit/model/recording_user_interface.h"

namespace kvtr::test {

class ProgressRecorder : public UserInterface {
 public:
  using Message = testing_support::ShownMessage;

  void showMessage(const std::string& text, const std::string& caption, MessageIcon icon) override {
    std::lock_guard lock(mutex_);
    messages_.push_back({text, caption, icon});
  }
  bool askYesNo(const std::string&, const std::string&) override { return false; }
  void taskStarted(const std::string& caption, int total) override {
    std::lock_guard lock(mutex_);
    captions_.push_back(caption);
    totals_.push_back(total);
    log_.clear();
    progress_.clear();
    finished_ = false;
  }
  void logLine(const std::string& line) override {
    std::lock_guard lock(mutex_);
    log_.push_back(line);
  }
  void taskProgress(const TaskProgress& update) override {
    std::lock_guard lock(mutex_);
    progress_.push_back(update);
  }
  void taskFinished(const std::string&) override {
    std::lock_guard lock(mutex_);
    finished_ = true;
  }

  std::vector<std::string> log() const {
    std::lock_guard lock(mutex_);
    return log_;
  }
  std::vector<TaskProgress> progress() const {
    std::lock_guard lock(mutex_);
    return progress_;
  }
  std::vector<Message> messages() const {
    std::lock_guard lock(mutex_);
    return messages_;
  }
  std::vector<std::string> captions() const {
    std::lock_guard lock(mutex_);
    return captions_;
  }
  std::vector<int> totals() const {
    std::lock_guard lock(mutex_);
    return totals_;
  }
  bool finished() const {
    std::lock_guard lock(mutex_);
    return finished_;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> log_;
  std::vector<TaskProgress> progress_;
  std::vector<Message> messages_;
  std::vector<std::string> captions_;
  std::vector<int> totals_;
  bool finished_ = false;
};

}  // namespace kvtr::test
