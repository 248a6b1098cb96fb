#include "authenticode/root_program/root_folder.h"

#include <openssl/evp.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <utility>

#include "authenticode/der_reader.h"
#include "file_descriptor.h"
#include "utc_time.h"

namespace sealprobe {
namespace {

bool EndsWith(const std::string& text, const char* suffix) {
  const size_t n = std::strlen(suffix);
  return text.size() >= n && text.compare(text.size() - n, n, suffix) == 0;
}

// Whether the folder reads a file of this lower-case name.
bool Reads(const std::string& lower) {
  return EndsWith(lower, ".stl") || EndsWith(lower, ".cab") ||
         EndsWith(lower, ".crt") || EndsWith(lower, ".sst") ||
         lower == kOriginFile;
}

// Reads the folder's files against the caps and keeps the first error.
class FolderReader {
 public:
  FolderReader(std::string folder, const FolderLimits& limits,
               TrustLoadError* error)
      : folder_(std::move(folder)), limits_(limits), error_(error) {}

  // The folder opened; its files are read through that from then on.
  const std::shared_ptr<const FileDescriptor>& opened() const {
    return opened_;
  }

  std::string PathOf(const std::string& name) const {
    return folder_.empty() || folder_.back() == '/' ? folder_ + name
                                                    : folder_ + "/" + name;
  }
  const std::string& folder() const { return folder_; }
  const FolderLimits& limits() const { return limits_; }

  // The names in the folder by their lower-case form, at most
  // FolderLimits::entries of any kind (links and folders count: each costs
  // the listing as much as a file); nullopt (and the error set) when it
  // cannot be listed, is over the cap, or holds two names that differ only
  // in letter case among those it reads.
  std::optional<std::map<std::string, std::string>> List() {
    int error = 0;
    auto opened = std::make_shared<FileDescriptor>(OpenFolder(folder_, &error));
    const std::optional<std::vector<std::string>> listed =
        opened->valid() ? FolderNames(*opened, limits_.entries, &error)
                        : std::nullopt;
    if (!listed) {
      if (error == E2BIG) return Fail(folder_, LoadFault::kTooManyFiles);
      return Fail(folder_,
                  error == ENOENT || error == ENOTDIR
                      ? LoadFault::kNotAFolder
                      : LoadFault::kFolderUnreadable,
                  std::strerror(error));
    }
    opened_ = std::move(opened);
    std::map<std::string, std::string> names;
    for (const std::string& name : *listed) {
      const auto [at, added] = names.emplace(NameKey(name), name);
      if (!added && Reads(at->first)) {
        const std::string& other = at->second;
        return Fail(PathOf(std::min(name, other)), LoadFault::kNamesDiffer,
                    std::max(name, other));
      }
    }
    return names;
  }

  // The bytes of the file `name`, within `cap` and the folder's budget;
  // nullopt (and the error set) when it cannot be read or is larger: over
  // `cap`, `over_cap`.
  std::optional<std::vector<uint8_t>> Read(
      const std::string& name, size_t cap,
      LoadFault over_cap = LoadFault::kFileOverCap) {
    const std::string path = PathOf(name);
    const size_t left = limits_.folder_bytes - used_;
    WholeFile file = ReadWholeFileAt(*opened_, name, std::min(cap, left));
    switch (file.fault) {
      case WholeFile::Fault::kNone:
        used_ += file.bytes.size();
        return std::move(file.bytes);
      case WholeFile::Fault::kNotRegular:
        return Fail(path, LoadFault::kNotRegularFile);
      case WholeFile::Fault::kTooLarge:
        return Fail(path, cap <= left ? over_cap : LoadFault::kFileOverCap);
      case WholeFile::Fault::kOpen:
      case WholeFile::Fault::kRead:
        break;
    }
    return Fail(path, LoadFault::kFileUnreadable, std::strerror(file.error));
  }

  // Sets the error: `fault`, found on `path`, with `detail`.
  TrustLoadError& Failed(const std::string& path, LoadFault fault,
                         std::string detail = {}) {
    error_->file = path;
    error_->fault = fault;
    error_->detail = std::move(detail);
    return *error_;
  }
  std::nullopt_t Fail(const std::string& path, LoadFault fault,
                      std::string detail = {}) {
    Failed(path, fault, std::move(detail));
    return std::nullopt;
  }
  // The same, where what `path` holds gave `cause`.
  template <typename Cause>
  std::nullopt_t FailWith(const std::string& path, LoadFault fault, Cause cause,
                          std::string detail = {}) {
    Failed(path, fault, std::move(detail)).cause = std::move(cause);
    return std::nullopt;
  }
  bool failed() const { return error_->fault != LoadFault::kNone; }

 private:
  std::string folder_;
  FolderLimits limits_;
  TrustLoadError* error_;
  std::shared_ptr<const FileDescriptor> opened_;
  size_t used_ = 0;
};

using Names = std::map<std::string, std::string>;

// The list named `stl`, bare or in the cabinet `cab`; both must say the
// same when both are there. nullopt with no error set when neither is.
std::optional<TrustList> LoadList(const Names& names, const std::string& stl,
                                  const std::string& cab, TrustListKind kind,
                                  FolderReader& reader) {
  const auto bare_name = names.find(stl);
  const auto cab_name = names.find(cab);
  if (bare_name == names.end() && cab_name == names.end()) return std::nullopt;
  const size_t cap = reader.limits().file_bytes;
  std::optional<std::vector<uint8_t>> bare;
  std::optional<std::vector<uint8_t>> packed;
  if (bare_name != names.end()) {
    bare = reader.Read(bare_name->second, cap);
    if (!bare) return std::nullopt;
  }
  std::string cab_path;
  if (cab_name != names.end()) {
    cab_path = reader.PathOf(cab_name->second);
    const std::optional<std::vector<uint8_t>> cabinet =
        reader.Read(cab_name->second, cap);
    if (!cabinet) return std::nullopt;
    CabinetMember member =
        ReadCabinetMember(cabinet->data(), cabinet->size(), stl, cap);
    if (!member.ok()) {
      return reader.FailWith(cab_path, LoadFault::kCabinet, member.error, stl);
    }
    packed = std::move(member.bytes);
  }
  if (bare && packed && *bare != *packed) {
    return reader.Fail(cab_path, LoadFault::kListsDiffer, stl);
  }
  const std::vector<uint8_t>& bytes = bare ? *bare : *packed;
  TrustListRead read = ReadTrustList(bytes.data(), bytes.size(), kind);
  if (!read.list) {
    return reader.FailWith(bare ? reader.PathOf(bare_name->second) : cab_path,
                           LoadFault::kTrustList, read.error);
  }
  return std::move(read.list);
}

// A certificate of a file, while the file is read.
struct FoundCertificate {
  const uint8_t* der;
  size_t size;
  uint64_t offset;  // in the file
};

// The file `name`'s bytes and the certificates in them: one DER
// certificate, or a serialized store's; nullopt (and the error set) when
// they are not.
std::optional<std::vector<uint8_t>> ReadCertificates(
    const std::string& name, bool store, FolderReader& reader,
    std::vector<FoundCertificate>* found) {
  const std::string path = reader.PathOf(name);
  std::optional<std::vector<uint8_t>> bytes =
      store ? reader.Read(name, reader.limits().file_bytes)
            : reader.Read(name, reader.limits().certificate_bytes,
                          LoadFault::kCertificateTooLarge);
  if (!bytes) return std::nullopt;
  found->clear();
  if (store) {
    const SerializedStore read =
        ReadSerializedStore(bytes->data(), bytes->size());
    if (!read.ok()) return reader.FailWith(path, LoadFault::kStore, read.error);
    for (const StoredCertificate& c : read.certificates) {
      found->push_back({bytes->data() + c.offset, c.size, c.offset});
    }
  } else {
    found->push_back({bytes->data(), bytes->size(), 0});
  }
  std::vector<uint8_t> subject;
  for (size_t i = 0; i < found->size(); ++i) {
    if (!CertificateSubject((*found)[i].der, (*found)[i].size, &subject)) {
      if (!store) return reader.Fail(path, LoadFault::kNotACertificate);
      reader.Failed(path, LoadFault::kStoreCertificate).index = i + 1;
      return std::nullopt;
    }
  }
  return bytes;
}

// The folder's own record of where it came from, when it has one that
// reads.
std::optional<FolderOrigin> ReadOrigin(const Names& names,
                                       FolderReader& reader) {
  const auto found = names.find(kOriginFile);
  if (found == names.end()) return std::nullopt;
  const WholeFile file = ReadWholeFileAt(*reader.opened(), found->second, 4096);
  if (!file.ok()) return std::nullopt;
  return ParseOrigin(std::string(file.bytes.begin(), file.bytes.end()));
}

}  // namespace

std::string NameKey(std::string name) {
  std::transform(name.begin(), name.end(), name.begin(),
                 [](unsigned char c) { return std::tolower(c); });
  return name;
}

std::string FormatOrigin(const FolderOrigin& origin) {
  const std::string when = UtcText(origin.fetched).value_or("");
  return "source " + origin.source + "\nfetched " + when + "\ndisallowed " +
         (origin.without_disallowed ? "no" : "yes") + "\n";
}

std::optional<FolderOrigin> ParseOrigin(const std::string& text) {
  FolderOrigin origin;
  bool source = false;
  bool fetched = false;
  bool disallowed = false;
  size_t at = 0;
  while (at < text.size()) {
    const size_t end = std::min(text.find('\n', at), text.size());
    const std::string line = text.substr(at, end - at);
    at = end + 1;
    const size_t space = line.find(' ');
    if (space == std::string::npos) return std::nullopt;
    const std::string key = line.substr(0, space);
    const std::string value = line.substr(space + 1);
    if (key == "source") {
      origin.source = value;
      source = true;
    } else if (key == "fetched") {
      std::tm utc{};
      int consumed = 0;
      if (std::sscanf(value.c_str(), "%4d-%2d-%2dT%2d:%2d:%2dZ%n", &utc.tm_year,
                      &utc.tm_mon, &utc.tm_mday, &utc.tm_hour, &utc.tm_min,
                      &utc.tm_sec, &consumed) != 6 ||
          static_cast<size_t>(consumed) != value.size()) {
        return std::nullopt;
      }
      utc.tm_year -= 1900;
      utc.tm_mon -= 1;
      origin.fetched = timegm(&utc);
      fetched = true;
    } else if (key == "disallowed" && (value == "yes" || value == "no")) {
      origin.without_disallowed = value == "no";
      disallowed = true;
    } else {
      return std::nullopt;
    }
  }
  if (!source || !fetched || !disallowed) return std::nullopt;
  return origin;
}

std::optional<std::vector<uint8_t>> ReadRootBody(const FileDescriptor& opened,
                                                 const RootBody& body) {
  std::optional<std::vector<uint8_t>> der =
      ReadFileRangeAt(opened, body.file, body.offset, body.size);
  if (!der || Sha1OfBytes(der->data(), der->size()) != body.sha1) {
    return std::nullopt;
  }
  return der;
}

bool CertificateSubject(const uint8_t* der, size_t size,
                        std::vector<uint8_t>* subject) {
  // Certificate ::= SEQUENCE { tbsCertificate SEQUENCE { [0] version
  // OPTIONAL, serialNumber, signature, issuer, validity, subject, ... },
  // ... }, spanning all the bytes.
  Der all(der, size);
  Der certificate;
  Der tbs;
  Der field;
  Der whole;
  if (!all.Expect(der::kSequence, &certificate) || !all.empty() ||
      !certificate.Expect(der::kSequence, &tbs)) {
    return false;
  }
  if (tbs.PeekTag() == der::kContext0) tbs.Expect(der::kContext0, &field);
  if (!tbs.Expect(der::kInteger, &field) ||
      !tbs.Expect(der::kSequence, &field) ||
      !tbs.Expect(der::kSequence, &field) ||
      !tbs.Expect(der::kSequence, &field) ||
      !tbs.Expect(der::kSequence, &field, &whole)) {
    return false;
  }
  subject->assign(whole.data(), whole.data() + whole.size());
  return true;
}

std::optional<RootFolder> ReadRootFolder(
    const std::string& folder,
    const std::function<bool(const Sha1&)>& also_wanted, TrustLoadError* error,
    const FolderLimits& limits) {
  FolderReader reader(folder, limits, error);
  const std::optional<Names> names = reader.List();
  if (!names) return std::nullopt;
  RootFolder out;
  std::optional<TrustList> roots = LoadList(
      *names, "authroot.stl", "authrootstl.cab", TrustListKind::kRoots, reader);
  if (!roots) {
    if (!reader.failed()) reader.Fail(folder, LoadFault::kNoRootList);
    return std::nullopt;
  }
  out.roots = std::move(*roots);
  out.disallowed =
      LoadList(*names, "disallowedcert.stl", "disallowedcertstl.cab",
               TrustListKind::kDisallowed, reader);
  if (reader.failed()) return std::nullopt;
  std::set<Sha1> kept;
  std::vector<FoundCertificate> found;
  for (const auto& [lower, name] : *names) {
    const bool store = EndsWith(lower, ".sst");
    if (!store && !EndsWith(lower, ".crt")) continue;
    // The bytes go when the next file is read: only what is kept of a
    // body (its SHA-1, subject and place) stays.
    const std::optional<std::vector<uint8_t>> bytes =
        ReadCertificates(name, store, reader, &found);
    if (!bytes) return std::nullopt;
    for (const FoundCertificate& c : found) {
      const Sha1 sha1 = Sha1OfBytes(c.der, c.size);
      if (lower == "disallowedcert.sst") {
        out.disallowed_certificates.insert(sha1);
      } else if ((out.roots.subjects.count(sha1) != 0 || also_wanted(sha1)) &&
                 kept.insert(sha1).second) {
        RootBody body{sha1, {}, name, c.offset, c.size};
        CertificateSubject(c.der, c.size, &body.subject);
        out.bodies.push_back(std::move(body));
      }
    }
  }
  out.origin = ReadOrigin(*names, reader);
  out.opened = reader.opened();
  return out;
}

}  // namespace sealprobe
