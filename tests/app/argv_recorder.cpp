// argv_recorder: a stand-in for the copy worker that records how it was started (see
// argv_recorder.h for the record).
#include <dirent.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "tests/app/argv_recorder.h"

namespace {

std::string LinkTarget(const std::string& link) {
  char target[PATH_MAX];
  const ssize_t n = ::readlink(link.c_str(), target, sizeof target);
  return n < 0 ? std::string("?") : std::string(target, static_cast<size_t>(n));
}

// Open descriptors other than 0, 1, 2 and the one that lists them.
int OtherDescriptors() {
  DIR* dir = ::opendir("/proc/self/fd");
  if (dir == nullptr) return -1;
  int count = 0;
  while (const dirent* entry = ::readdir(dir)) {
    if (entry->d_name[0] == '.') continue;
    const int fd = std::atoi(entry->d_name);
    if (fd > 2 && fd != ::dirfd(dir)) ++count;
  }
  ::closedir(dir);
  return count;
}

}  // namespace

int main(int argc, char** argv) {
  const char* path = std::getenv(testing_support::kArgvRecordVariable);
  if (path == nullptr || *path == '\0') return 2;

  std::vector<std::string> fields{argv[0], std::to_string(argc - 1)};
  for (int i = 1; i < argc; ++i) fields.emplace_back(argv[i]);
  char cwd[PATH_MAX];
  fields.emplace_back(::getcwd(cwd, sizeof cwd) != nullptr ? cwd : "?");
  for (int fd = 0; fd <= 2; ++fd)
    fields.push_back(LinkTarget("/proc/self/fd/" + std::to_string(fd)));
  fields.push_back(std::to_string(OtherDescriptors()));

  const std::string part = std::string(path) + ".part";
  {
    std::ofstream out(part, std::ios::binary);
    for (const std::string& field : fields)
      out.write(field.c_str(), static_cast<long>(field.size() + 1));
    if (!out.flush()) return 3;
  }
  if (std::rename(part.c_str(), path) != 0) return 3;

  if ((argc == 2 && std::strcmp(argv[1], testing_support::kWaitArgument) == 0) ||
      std::getenv(testing_support::kWaitVariable) != nullptr) {
    for (;;) ::pause();
  }
  return 0;
}
