// A loop device over an image file, standing in for a disc or disk read through its device, and
// a file system mounted from one.
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>

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

// Runs a shell command; true when it exits with 0.
inline bool Shell(const std::string& command) {
  return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

// A file system mounted read-only for the object's life.
class Mounted {
 public:
  Mounted(const std::string& device, const std::string& type, const std::string& folder)
      : folder_(folder) {
    ::mkdir(folder.c_str(), 0700);
    ok_ = Shell("mount -o ro -t " + type + " '" + device + "' '" + folder + "'");
  }
  ~Mounted() {
    if (ok_) {
      EXPECT_TRUE(Shell("umount '" + folder_ + "'"));
    }
  }
  bool ok() const { return ok_; }

 private:
  std::string folder_;
  bool ok_;
};

}  // namespace testing_support
