#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <memory>

#include "authenticode/root_program/root_folder.h"
#include "authenticode/root_program/sync.h"
#include "file_descriptor.h"
#include "roots/file_fetcher.h"

namespace sealprobe {
bool FileFetcher::AddFile(const std::string& path, const std::string& name,
                          std::string* error) {
  const auto [at, added] = files_.emplace(NameKey(name), path);
  if (!added) {
    *error = path + " and " + at->second + " both stand for " + at->first +
             ": give one";
  }
  return added;
}

bool FileFetcher::Add(const std::string& path, std::string* error) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) {
    *error = path + ": " + std::strerror(errno);
    return false;
  }
  if (S_ISREG(info.st_mode)) {
    const std::string name = path.substr(path.rfind('/') + 1);
    if (!IsSyncFileName(name)) {
      *error = path +
               " is none of Microsoft's files (authroot.stl, "
               "authrootstl.cab, disallowedcert.stl, disallowedcertstl.cab, "
               "disallowedcert.sst, <SHA1>.crt)";
      return false;
    }
    return AddFile(path, name, error);
  }
  const std::optional<std::vector<std::string>> names =
      S_ISDIR(info.st_mode)
          ? FolderNames(OpenFolder(path), static_cast<size_t>(-1))
          : std::nullopt;
  if (!names) {
    *error = path + ": neither a file nor a folder that can be read";
    return false;
  }
  const std::string folder = path.back() == '/' ? path : path + "/";
  for (const std::string& name : *names) {
    if (IsSyncFileName(name) && !AddFile(folder + name, name, error)) {
      return false;
    }
  }
  return true;
}

Fetched FileFetcher::Fetch(const std::string& name, size_t max_bytes) {
  Fetched got;
  const auto found = files_.find(NameKey(name));
  if (found == files_.end()) {
    got.outcome = Fetched::Outcome::kNotFound;
    return got;
  }
  WholeFile file = ReadWholeFile(found->second, max_bytes);
  switch (file.fault) {
    case WholeFile::Fault::kNone:
      got.outcome = Fetched::Outcome::kOk;
      got.bytes = std::move(file.bytes);
      break;
    case WholeFile::Fault::kTooLarge:
      got.outcome = Fetched::Outcome::kOverCap;
      break;
    case WholeFile::Fault::kNotRegular:
      got.detail = found->second + " is not a regular file";
      break;
    case WholeFile::Fault::kOpen:
    case WholeFile::Fault::kRead:
      got.detail = found->second + ": " + std::strerror(file.error);
      break;
  }
  return got;
}

}  // namespace sealprobe
