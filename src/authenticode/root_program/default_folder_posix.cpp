#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

#include "authenticode/root_program/default_folder.h"

namespace sealprobe {
namespace {

std::string Environment(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

bool IsFile(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

}  // namespace

std::string DefaultWindowsTrustFolder() {
  if (::geteuid() == 0) return "/var/lib/sealprobe/windows-trust";
  std::string data = Environment("XDG_DATA_HOME");
  // The XDG base directories: a relative path is invalid and ignored.
  if (data.empty() || data[0] != '/') {
    const std::string home = Environment("HOME");
    if (home.empty() || home[0] != '/') return {};
    data = home + "/.local/share";
  }
  return data + "/sealprobe/windows-trust";
}

bool HoldsRootList(const std::string& folder) {
  return !folder.empty() && (IsFile(folder + "/authroot.stl") ||
                             IsFile(folder + "/authrootstl.cab"));
}

}  // namespace sealprobe
