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
    FILE* out = ::popen(("losetup --find --show --read-only '" + image + "' 2>&1").c_str(), "r");
    char line[512] = "cannot run losetup";
    if (out != nullptr && std::fgets(line, sizeof line, out) == nullptr) line[0] = '\0';
    std::string text = line;
    if (text.ends_with('\n')) text.pop_back();
    const bool attached = out != nullptr && ::pclose(out) == 0 && text.starts_with("/dev/");
    device_ = attached ? text : "";
    why_ = attached ? "" : "losetup failed: " + text;
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
