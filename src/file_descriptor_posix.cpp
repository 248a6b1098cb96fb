#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

#include "file_descriptor.h"

namespace sealprobe {

FileDescriptor& FileDescriptor::operator=(FileDescriptor&& other) noexcept {
  if (this != &other) {
    const FileDescriptor previous(fd_);  // closed on the way out
    fd_ = other.fd_;
    other.fd_ = -1;
  }
  return *this;
}

FileDescriptor::~FileDescriptor() {
  if (fd_ >= 0) ::close(fd_);
}

std::optional<RegularFile> OpenRegularFile(const std::string& path,
                                           int* error) {
  const auto fail = [error](int why) -> std::nullopt_t {
    if (error != nullptr) *error = why;
    return std::nullopt;
  };
  // O_NONBLOCK so that a FIFO or a device under the name cannot hold the run
  // up; the regular-file check comes right after. Reads from a regular file
  // never block, flag or not.
  FileDescriptor fd(
      ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  if (!fd.valid()) return fail(errno);
  struct stat info {};
  if (::fstat(fd.get(), &info) != 0) return fail(errno);
  if (!S_ISREG(info.st_mode)) return fail(0);
  return RegularFile{std::move(fd), static_cast<uint64_t>(info.st_size)};
}

}  // namespace sealprobe
