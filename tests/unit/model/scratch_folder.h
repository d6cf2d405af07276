// A temporary folder of the running test's own, removed with everything in it when the test ends.
// Several checkouts may run the same tests at the same time, so the name carries a random part
// and the folder must be new.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <random>
#include <string>

namespace kvtr::testing_support {

class ScratchFolder {
 public:
  ScratchFolder() {
    const auto* info = testing::UnitTest::GetInstance()->current_test_info();
    // Parameterised suites carry a "/" in their names.
    std::string name = std::string(info->test_suite_name()) + "." + info->name();
    std::replace(name.begin(), name.end(), '/', '_');
    std::random_device random;
    for (int attempt = 0; attempt < 100; ++attempt) {
      path_ = std::filesystem::path(testing::TempDir()) / ("kvtr_" + name + "." + std::to_string(random()));
      if (std::filesystem::create_directory(path_)) return;
    }
    ADD_FAILURE() << "cannot create a scratch folder under " << testing::TempDir();
  }
  ~ScratchFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

}  // namespace kvtr::testing_support
