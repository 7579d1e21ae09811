// A slow or damaged medium for the window tests: an image served read-only by the damagedfs
// fixture, every read request of which is logged.
#pragma once

#include <signal.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "tests/app/wait_until.h"
#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"

namespace testing_support {

class DamagedMedium {
 public:
  // Serves `image` as file(); `options` are damagedfs's (--bad, --slow ...).
  DamagedMedium(const TempDir& dir, const std::string& image, std::vector<std::string> options)
      : folder_(dir.Path("medium")), requests_(dir.Path("requests")) {
    std::filesystem::create_directory(folder_);
    options.insert(options.begin(), {"--image", image, "--trace", requests_, "--parent",
                                     std::to_string(::getpid())});
    options.push_back(folder_);
    fs_.emplace(DAMAGEDFS_PATH, options, std::map<std::string, std::string>{}, true);
    served_ = WaitUntil([&] { return !fs_->Running() || std::filesystem::exists(file()); }) &&
              fs_->Running();
  }
  ~DamagedMedium() {
    fs_->Signal(SIGTERM);
    fs_->Wait(std::chrono::seconds(10));
  }
  DamagedMedium(const DamagedMedium&) = delete;
  DamagedMedium& operator=(const DamagedMedium&) = delete;

  bool served() const { return served_; }
  std::string folder() const { return folder_; }
  std::string file() const { return folder_ + "/image"; }
  // The read requests so far, a line "OFFSET SIZE RESULT" each.
  std::string Requests() const {
    std::ifstream log(requests_);
    return {std::istreambuf_iterator<char>(log), std::istreambuf_iterator<char>()};
  }

 private:
  std::string folder_;
  std::string requests_;
  std::optional<ChildProcess> fs_;
  bool served_ = false;
};

}  // namespace testing_support
