#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <memory>
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

namespace {

std::optional<RegularFile> OpenRegularIn(int folder, const std::string& path,
                                         int* error) {
  const auto fail = [error](int why) -> std::nullopt_t {
    if (error != nullptr) *error = why;
    return std::nullopt;
  };
  // O_NONBLOCK so that a FIFO or a device under the name cannot hold the run
  // up; the regular-file check comes right after. Reads from a regular file
  // never block, flag or not.
  FileDescriptor fd(::openat(folder, path.c_str(),
                             O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  if (!fd.valid()) return fail(errno);
  struct stat info {};
  if (::fstat(fd.get(), &info) != 0) return fail(errno);
  if (!S_ISREG(info.st_mode)) return fail(0);
  return RegularFile{std::move(fd), static_cast<uint64_t>(info.st_size)};
}

WholeFile ReadWholeIn(int folder, const std::string& path, size_t max_bytes) {
  WholeFile out;
  const auto fail = [&out](WholeFile::Fault fault, int error) {
    out.bytes.clear();
    out.fault = fault;
    out.error = error;
    return std::move(out);
  };
  int error = 0;
  const std::optional<RegularFile> file = OpenRegularIn(folder, path, &error);
  if (!file) {
    return fail(
        error == 0 ? WholeFile::Fault::kNotRegular : WholeFile::Fault::kOpen,
        error);
  }
  if (file->size > max_bytes) return fail(WholeFile::Fault::kTooLarge, 0);
  out.bytes.resize(static_cast<size_t>(file->size) + 1);
  size_t got = 0;
  // One byte more than the size it had when opened: what reads past that is
  // growth, and over the cap when it would take the file past it.
  while (true) {
    if (got == out.bytes.size()) {
      if (out.bytes.size() > max_bytes) {
        return fail(WholeFile::Fault::kTooLarge, 0);
      }
      out.bytes.resize(std::min(max_bytes + 1, 2 * out.bytes.size()));
    }
    const ssize_t n =
        ::read(file->fd.get(), out.bytes.data() + got, out.bytes.size() - got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return fail(WholeFile::Fault::kRead, errno);
    if (n == 0) break;
    got += static_cast<size_t>(n);
  }
  if (got > max_bytes) return fail(WholeFile::Fault::kTooLarge, 0);
  out.bytes.resize(got);
  return out;
}

}  // namespace

std::optional<RegularFile> OpenRegularFile(const std::string& path,
                                           int* error) {
  return OpenRegularIn(AT_FDCWD, path, error);
}

std::optional<RegularFile> OpenRegularFileAt(const FileDescriptor& folder,
                                             const std::string& name,
                                             int* error) {
  return OpenRegularIn(folder.get(), name, error);
}

FileDescriptor OpenFolder(const std::string& path, int* error) {
  FileDescriptor fd(
      ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NONBLOCK | O_CLOEXEC));
  if (!fd.valid() && error != nullptr) *error = errno;
  return fd;
}

std::optional<std::vector<std::string>> FolderNames(
    const FileDescriptor& folder, size_t max_names, int* error) {
  const auto fail = [error](int why) -> std::nullopt_t {
    if (error != nullptr) *error = why;
    return std::nullopt;
  };
  // fdopendir takes the descriptor it is given: a copy, so that `folder`
  // stays open.
  const int listing = folder.valid() ? ::dup(folder.get()) : -1;
  if (listing < 0) return fail(folder.valid() ? errno : EBADF);
  DIR* dir = ::fdopendir(listing);
  if (dir == nullptr) {
    const int why = errno;
    ::close(listing);
    return fail(why);
  }
  struct Closer {
    void operator()(DIR* d) const noexcept { ::closedir(d); }
  };
  const std::unique_ptr<DIR, Closer> owned(dir);
  std::vector<std::string> names;
  while (true) {
    errno = 0;
    const dirent* entry = ::readdir(dir);
    if (entry == nullptr) break;
    const std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    if (names.size() == max_names) return fail(E2BIG);
    names.push_back(name);
  }
  if (errno != 0) return fail(errno);
  return names;
}

WholeFile ReadWholeFile(const std::string& path, size_t max_bytes) {
  return ReadWholeIn(AT_FDCWD, path, max_bytes);
}

WholeFile ReadWholeFileAt(const FileDescriptor& folder, const std::string& name,
                          size_t max_bytes) {
  return ReadWholeIn(folder.get(), name, max_bytes);
}

std::optional<std::vector<uint8_t>> ReadFileRangeAt(
    const FileDescriptor& folder, const std::string& name, uint64_t offset,
    size_t size) {
  const std::optional<RegularFile> file = OpenRegularFileAt(folder, name);
  if (!file || offset > file->size || size > file->size - offset) {
    return std::nullopt;
  }
  std::vector<uint8_t> bytes(size);
  size_t got = 0;
  while (got < size) {
    const ssize_t n = ::pread(file->fd.get(), bytes.data() + got, size - got,
                              static_cast<off_t>(offset + got));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return std::nullopt;
    got += static_cast<size_t>(n);
  }
  return bytes;
}

bool WriteAll(int fd, const void* data, size_t size) {
  const auto* bytes = static_cast<const uint8_t*>(data);
  size_t done = 0;
  while (done < size) {
    const ssize_t n = ::write(fd, bytes + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

}  // namespace sealprobe
