// A loop device over an image file, standing in for a disc or disk read through its device.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

namespace testing_support {

class LoopDevice {
 public:
  // Attaches `image` read-only; device() is empty when that is not possible here (no losetup,
  // no loop devices, no privilege), and why() says so.
  explicit LoopDevice(const std::string& image) {
    const std::string command = "losetup --find --show --read-only '" + image + "' 2>&1";
    FILE* out = ::popen(command.c_str(), "r");
    if (out == nullptr) {
      why_ = "cannot run losetup";
      return;
    }
    char line[512] = {};
    const bool got = std::fgets(line, sizeof line, out) != nullptr;
    const int status = ::pclose(out);
    std::string text = got ? line : "";
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    if (status == 0 && text.rfind("/dev/", 0) == 0) {
      device_ = text;
    } else {
      why_ = "losetup failed: " + text;
    }
  }
  ~LoopDevice() {
    if (!device_.empty()) std::system(("losetup -d '" + device_ + "'").c_str());
  }
  LoopDevice(const LoopDevice&) = delete;
  LoopDevice& operator=(const LoopDevice&) = delete;

  const std::string& device() const { return device_; }
  const std::string& why() const { return why_; }

 private:
  std::string device_;
  std::string why_;
};

}  // namespace testing_support
