// Cost of one settings store write as a copy makes them: progress text after every block.
//
// Usage: store_write_bench [folder]   (default /tmp; give a folder on the disk to be measured)
//
// Also times the bare file replacement two ways (exchange + unlink, and rename over the file),
// without the store's parsing, to show what the replacement step itself costs there.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>  // rename, renameat2
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <iomanip>
#include <iostream>
#include <string>
#include <vector>

#include "platform/core/progress_channel.h"
#include "platform/core/settings_store.h"
#include "platform/core/unique_fd.h"

namespace {

constexpr int kWrites = 10001;

using Clock = std::chrono::steady_clock;

struct Figures {
  double mean_us = 0;
  double median_us = 0;
  double p99_us = 0;
  double max_us = 0;
};

Figures Summarise(std::vector<double> us) {
  Figures f;
  if (us.empty()) return f;
  double sum = 0;
  for (double v : us) sum += v;
  f.mean_us = sum / static_cast<double>(us.size());
  std::sort(us.begin(), us.end());
  f.median_us = us[us.size() / 2];
  f.p99_us = us[us.size() * 99 / 100];
  f.max_us = us.back();
  return f;
}

void Print(const char* label, const Figures& f) {
  std::cout << std::fixed << std::setprecision(2) << label << ": mean " << f.mean_us
            << " us/write\n"
            << label << ": median " << f.median_us << " us/write\n"
            << label << ": p99 " << f.p99_us << " us/write\n"
            << label << ": max " << f.max_us << " us/write\n";
}

// "0", "0.01", ... "99.99", "100": the percent text of step i of 10000.
std::string PercentText(int i) {
  std::string text =
      std::to_string(i / 100) + "." + std::to_string(i % 100 / 10) + std::to_string(i % 10);
  while (text.back() == '0') text.pop_back();
  if (text.back() == '.') text.pop_back();
  return text;
}

// Times fn(i) for i in [0, kWrites); false when any call fails.
bool TimeEach(const std::function<bool(int)>& fn, std::vector<double>* us) {
  us->clear();
  us->reserve(kWrites);
  for (int i = 0; i < kWrites; ++i) {
    const auto start = Clock::now();
    if (!fn(i)) return false;
    const auto end = Clock::now();
    us->push_back(std::chrono::duration<double, std::micro>(end - start).count());
  }
  return true;
}

bool WriteTemp(const std::string& temp, const std::string& text) {
  platform::UniqueFd fd(::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
  if (!fd.valid()) {
    std::cerr << "open " << temp << ": " << std::strerror(errno) << "\n";
    return false;
  }
  if (::write(fd.get(), text.data(), text.size()) != static_cast<ssize_t>(text.size())) {
    std::cerr << "write " << temp << ": " << std::strerror(errno) << "\n";
    return false;
  }
  if (const int e = fd.Close(); e != 0) {
    std::cerr << "close " << temp << ": " << std::strerror(e) << "\n";
    return false;
  }
  return true;
}

std::string RawText(int i) {
  return "[Info]\nStatus=" + PercentText(i) + "\nPercent=" + PercentText(i) + "\n";
}

// Removes the folder, with everything in it, on every way out of main.
struct RemovedAtExit {
  std::string path;
  ~RemovedAtExit() {
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
    if (ec) std::cerr << "cannot remove " << path << ": " << ec.message() << "\n";
  }
};

}  // namespace

int main(int argc, char** argv) {
  const std::string base = argc > 1 ? argv[1] : "/tmp";
  std::string pattern = base + "/store-write-bench-XXXXXX";
  if (::mkdtemp(pattern.data()) == nullptr) {
    std::cerr << "mkdtemp " << pattern << ": " << std::strerror(errno) << "\n";
    return 1;
  }
  const RemovedAtExit folder{pattern};
  const std::string& root = folder.path;
  ::setenv("XDG_CONFIG_HOME", root.c_str(), 1);

  int status = 0;
  std::vector<double> us;
  {
    platform::SettingsStore store("StoreBench");
    std::string error;
    const bool ok = TimeEach(
        [&](int i) {
          if (store.Write(platform::kChannelSection,
                          i % 2 ? platform::kStatusKey : platform::kPercentKey, PercentText(i),
                          &error)) {
            return true;
          }
          std::cerr << "write " << i << " failed: " << error << "\n";
          return false;
        },
        &us);
    if (ok) {
      std::cout << "writes per run: " << kWrites << ", folder: " << root << "\n";
      Print("store write", Summarise(us));
    } else {
      status = 1;
    }
  }

  const std::string path = root + "/raw.ini";
  const std::string temp = path + ".tmp";
  if (!WriteTemp(path, RawText(0))) return 1;

  const bool exchange_ok = TimeEach(
      [&](int i) {
        if (!WriteTemp(temp, RawText(i))) return false;
        if (::renameat2(AT_FDCWD, temp.c_str(), AT_FDCWD, path.c_str(), RENAME_EXCHANGE) != 0 ||
            ::unlink(temp.c_str()) != 0) {
          std::cerr << "exchange " << path << ": " << std::strerror(errno) << "\n";
          return false;
        }
        return true;
      },
      &us);
  if (exchange_ok) {
    Print("bare exchange+unlink", Summarise(us));
  } else {
    status = 1;
  }

  const bool rename_ok = TimeEach(
      [&](int i) {
        if (!WriteTemp(temp, RawText(i))) return false;
        if (::rename(temp.c_str(), path.c_str()) != 0) {
          std::cerr << "rename " << path << ": " << std::strerror(errno) << "\n";
          return false;
        }
        return true;
      },
      &us);
  if (rename_ok) {
    Print("bare rename over file", Summarise(us));
  } else {
    status = 1;
  }
  return status;
}
