// A slow or damaged medium for the window tests: an image served read-only by the damagedfs
// fixture as file(), every read request of which is logged; unmounted when the object goes.
#pragma once

#include <signal.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/app/wait_until.h"
#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"

namespace testing_support {

struct DamagedMedium {
  // `options` are damagedfs's own (--bad, --slow ...).
  DamagedMedium(const TempDir& dir, const std::string& image, std::vector<std::string> options)
      : folder(dir.Path("medium")), requests(dir.Path("requests")), fs(DAMAGEDFS_PATH, [&] {
          std::filesystem::create_directory(folder);
          options.insert(options.begin(), {"--image", image, "--trace", requests, "--parent",
                                           std::to_string(::getpid())});
          options.push_back(folder);
          return options;
        }()) {
    served =
        WaitUntil([&] { return !fs.Running() || std::filesystem::exists(file()); }) && fs.Running();
  }
  ~DamagedMedium() {
    fs.Signal(SIGTERM);
    fs.Wait(std::chrono::seconds(10));
  }

  std::string file() const { return folder + "/image"; }
  // The read requests so far, a line "OFFSET SIZE RESULT" each.
  std::string Requests() const {
    std::ifstream log(requests);
    return {std::istreambuf_iterator<char>(log), std::istreambuf_iterator<char>()};
  }

  std::string folder;
  std::string requests;
  ChildProcess fs;
  bool served = false;
};

}  // namespace testing_support
