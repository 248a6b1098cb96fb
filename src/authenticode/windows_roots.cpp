#include "authenticode/windows_roots.h"

#include <openssl/evp.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <map>

#include "authenticode/cabinet.h"
#include "authenticode/der_reader.h"
#include "authenticode/serialized_store.h"
#include "authenticode/signed_data.h"

namespace sealprobe {
namespace {

namespace fs = std::filesystem;

constexpr FolderLimits kLimits;

constexpr Sha1 FromHex(const char (&hex)[41]) {
  Sha1 out{};
  for (size_t i = 0; i < out.size(); ++i) {
    const auto digit = [](char c) {
      return static_cast<uint8_t>(c <= '9' ? c - '0' : c - 'a' + 10);
    };
    out[i] =
        static_cast<uint8_t>(digit(hex[2 * i]) << 4 | digit(hex[2 * i + 1]));
  }
  return out;
}

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return std::tolower(c); });
  return text;
}

// Reads folder files against a budget for the whole folder.
class FolderReader {
 public:
  explicit FolderReader(TrustLoadError* error) : error_(error) {}

  // The bytes of `path`, at most FolderLimits::file_bytes; nullopt (and the
  // error set) when it cannot be read or is larger.
  std::optional<std::vector<uint8_t>> Read(const fs::path& path) {
    std::FILE* file = std::fopen(path.string().c_str(), "rb");
    if (file == nullptr) return Fail(path, LoadFault::kFileUnreadable);
    std::vector<uint8_t> bytes;
    uint8_t block[64 * 1024];
    size_t got = 0;
    bool over = false;
    while ((got = std::fread(block, 1, sizeof(block), file)) > 0) {
      if (bytes.size() + got > kLimits.file_bytes ||
          used_ + bytes.size() + got > kLimits.folder_bytes) {
        over = true;
        break;
      }
      bytes.insert(bytes.end(), block, block + got);
    }
    const bool failed = std::ferror(file) != 0;
    std::fclose(file);
    if (failed) return Fail(path, LoadFault::kFileUnreadable);
    if (over) return Fail(path, LoadFault::kFileOverCap);
    used_ += bytes.size();
    return bytes;
  }

  // Sets the error: `fault`, found on `path`, with `detail`.
  TrustLoadError& Failed(const fs::path& path, LoadFault fault,
                         std::string detail = {}) {
    error_->file = path.string();
    error_->fault = fault;
    error_->detail = std::move(detail);
    return *error_;
  }
  std::nullopt_t Fail(const fs::path& path, LoadFault fault,
                      std::string detail = {}) {
    Failed(path, fault, std::move(detail));
    return std::nullopt;
  }
  // The same, where what `path` holds gave `cause`.
  template <typename Cause>
  std::nullopt_t FailWith(const fs::path& path, LoadFault fault, Cause cause,
                          std::string detail = {}) {
    Failed(path, fault, std::move(detail)).cause = std::move(cause);
    return std::nullopt;
  }

 private:
  TrustLoadError* error_;
  size_t used_ = 0;
};

// The name in `names` that is `lower` in lower case.
std::optional<std::string> FindName(const std::set<std::string>& names,
                                    const std::string& lower) {
  for (const std::string& name : names) {
    if (Lower(name) == lower) return name;
  }
  return std::nullopt;
}

// The list named `stl`, bare or in the cabinet `cab` of `folder`; both must
// say the same when both are there. nullopt with no error set when neither
// is.
std::optional<TrustList> LoadList(const fs::path& folder,
                                  const std::set<std::string>& names,
                                  const std::string& stl,
                                  const std::string& cab, TrustListKind kind,
                                  FolderReader& reader) {
  const std::optional<std::string> bare_name = FindName(names, stl);
  const std::optional<std::string> cab_name = FindName(names, cab);
  if (!bare_name && !cab_name) return std::nullopt;
  const fs::path bare_path = folder / bare_name.value_or(stl);
  const fs::path cab_path = folder / cab_name.value_or(cab);
  std::optional<std::vector<uint8_t>> bare;
  std::optional<std::vector<uint8_t>> packed;
  if (bare_name) {
    bare = reader.Read(bare_path);
    if (!bare) return std::nullopt;
  }
  if (cab_name) {
    const std::optional<std::vector<uint8_t>> cabinet = reader.Read(cab_path);
    if (!cabinet) return std::nullopt;
    CabinetMember member = ReadCabinetMember(cabinet->data(), cabinet->size(),
                                             stl, kLimits.file_bytes);
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
    return reader.FailWith(bare ? bare_path : cab_path, LoadFault::kTrustList,
                           read.error);
  }
  return std::move(read.list);
}

// The certificates of `bytes`, the file `path` (one DER certificate, or a
// serialized store), appended to `ders` unless they are not certificates.
bool AddCertificates(const fs::path& path, std::vector<uint8_t> bytes,
                     bool store, std::vector<std::vector<uint8_t>>* ders,
                     FolderReader& reader) {
  std::vector<std::vector<uint8_t>> found;
  if (store) {
    SerializedStore read = ReadSerializedStore(bytes.data(), bytes.size());
    if (!read.ok()) {
      reader.FailWith(path, LoadFault::kStore, read.error);
      return false;
    }
    found = std::move(read.certificates);
  } else if (bytes.size() > kLimits.certificate_bytes) {
    reader.Fail(path, LoadFault::kCertificateTooLarge);
    return false;
  } else {
    found.push_back(std::move(bytes));
  }
  std::vector<uint8_t> subject;
  for (size_t i = 0; i < found.size(); ++i) {
    if (!CertificateSubject(found[i].data(), found[i].size(), &subject)) {
      if (store) {
        reader.Failed(path, LoadFault::kStoreCertificate).index = i + 1;
      } else {
        reader.Failed(path, LoadFault::kNotACertificate);
      }
      return false;
    }
    ders->push_back(std::move(found[i]));
  }
  return true;
}

// The names of the regular files in `dir`, at most FolderLimits::files;
// nullopt (and the error set) when it cannot be listed.
std::optional<std::set<std::string>> ListFolder(const fs::path& dir,
                                                FolderReader& reader) {
  std::error_code ec;
  if (!fs::is_directory(dir, ec)) {
    return reader.Fail(
        dir, ec ? LoadFault::kFolderUnreadable : LoadFault::kNotAFolder,
        ec ? ec.message() : std::string());
  }
  std::set<std::string> names;
  fs::directory_iterator it(dir, ec);
  for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
    if (names.size() == kLimits.files) {
      return reader.Fail(dir, LoadFault::kTooManyFiles);
    }
    std::error_code type_error;
    if (it->is_regular_file(type_error)) {
      names.insert(it->path().filename().string());
    }
  }
  if (ec) return reader.Fail(dir, LoadFault::kFolderUnreadable, ec.message());
  return names;
}

// The certificates of the *.crt and *.sst files among `names`: the
// Disallowed store's in `disallowed`, the others in `bodies`.
bool ReadCertificates(const fs::path& dir, const std::set<std::string>& names,
                      FolderReader& reader,
                      std::vector<std::vector<uint8_t>>* bodies,
                      std::vector<std::vector<uint8_t>>* disallowed) {
  for (const std::string& name : names) {
    const std::string lower = Lower(name);
    const auto ends_with = [&](const char* suffix) {
      const size_t n = std::char_traits<char>::length(suffix);
      return lower.size() >= n &&
             lower.compare(lower.size() - n, n, suffix) == 0;
    };
    const bool store = ends_with(".sst");
    if (!store && !ends_with(".crt")) continue;
    const fs::path path = dir / name;
    std::optional<std::vector<uint8_t>> bytes = reader.Read(path);
    if (!bytes ||
        !AddCertificates(path, std::move(*bytes), store,
                         lower == "disallowedcert.sst" ? disallowed : bodies,
                         reader)) {
      return false;
    }
  }
  return true;
}

Sha1 Sha1OfDer(const std::vector<uint8_t>& der) {
  Sha1 sha1{};
  unsigned size = 0;
  EVP_Digest(der.data(), der.size(), sha1.data(), &size, EVP_sha1(), nullptr);
  return sha1;
}

const BuiltInRoot* FindBuiltIn(const Sha1& sha1) {
  for (const BuiltInRoot& root : BuiltInRoots()) {
    if (root.sha1 == sha1) return &root;
  }
  return nullptr;
}

bool IsSelfSigned(X509* cert) {
  return (X509_get_extension_flags(cert) & EXFLAG_SS) != 0;
}

bool Lists(const UsageList& list, ChainUse use) {
  return use == ChainUse::kCodeSigning ? list.code_signing : list.time_stamping;
}

// A root property with a date (NotBefore, Disable) and its usages: when
// `date` is there and `hit` (the chain falls after it), the root is
// distrusted, for every use, or for `use` when the usages list it; a usage
// list without a date distrusts at every time. `add` records the finding.
template <typename Add>
void JudgeDate(const std::optional<std::time_t>& date, bool hit,
               const UsageList& usages, ChainUse use, Finding dated,
               Finding undated, Add add) {
  if (!date) {
    if (usages.present && Lists(usages, use)) {
      add(ChainFault::kWrongUsage, undated);
    }
    return;
  }
  if (!hit) return;
  if (!usages.present) {
    add(ChainFault::kUntrustedRoot, dated);
  } else if (Lists(usages, use)) {
    add(ChainFault::kWrongUsage, dated)->for_use_only = true;
  }
}

}  // namespace

const std::vector<BuiltInRoot>& BuiltInRoots() {
  // The roots "necessary and trusted" in Windows 7 and later, with their
  // intended purposes, from Microsoft's "Required trusted root
  // certificates" (KB293781); the fingerprints are those of the
  // certificates it lists by serial number.
  static const std::vector<BuiltInRoot> kRoots = {
      // Microsoft Root Authority
      {FromHex("a43489159a520f0d93d032ccaf37e7fe20a8b419"), true, true},
      // Microsoft Root Certificate Authority
      {FromHex("cdd4eeae6000ac7f40c3802c171e30148030c072"), true, true},
      // Thawte Timestamping CA
      {FromHex("be36a4562fb2ee05dbb3d32323adf445084ed656"), false, true},
  };
  return kRoots;
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

Sha1 Sha1Of(X509* cert) {
  Sha1 sha1{};
  unsigned size = 0;
  X509_digest(cert, EVP_sha1(), sha1.data(), &size);
  return sha1;
}

std::unique_ptr<WindowsRoots> WindowsRoots::Load(const std::string& folder,
                                                 TrustLoadError* error) {
  FolderReader reader(error);
  const fs::path dir(folder);
  const std::optional<std::set<std::string>> names = ListFolder(dir, reader);
  if (!names) return nullptr;
  std::unique_ptr<WindowsRoots> roots(new WindowsRoots());
  std::optional<TrustList> list =
      LoadList(dir, *names, "authroot.stl", "authrootstl.cab",
               TrustListKind::kRoots, reader);
  if (!list) {
    if (error->fault == LoadFault::kNone) {
      reader.Fail(dir, LoadFault::kNoRootList);
    }
    return nullptr;
  }
  roots->roots_ = std::move(*list);
  std::optional<TrustList> disallowed =
      LoadList(dir, *names, "disallowedcert.stl", "disallowedcertstl.cab",
               TrustListKind::kDisallowed, reader);
  if (error->fault != LoadFault::kNone) return nullptr;
  if (disallowed) {
    for (const auto& subject : disallowed->subjects) {
      roots->disallowed_.insert(subject.first);
    }
  }
  std::vector<std::vector<uint8_t>> bodies;
  std::vector<std::vector<uint8_t>> disallowed_bodies;
  if (!ReadCertificates(dir, *names, reader, &bodies, &disallowed_bodies)) {
    return nullptr;
  }
  for (const std::vector<uint8_t>& der : disallowed_bodies) {
    roots->disallowed_.insert(Sha1OfDer(der));
  }
  if (!roots->AddAnchors(std::move(bodies))) {
    reader.Fail(dir, LoadFault::kRootSubject);
    return nullptr;
  }
  if (!roots->MakeStore()) {
    reader.Fail(dir, LoadFault::kNoMemory);
    return nullptr;
  }
  return roots;
}

bool WindowsRoots::AddAnchors(std::vector<std::vector<uint8_t>> bodies) {
  // The anchors, indexed by subject for the store's lookup; a certificate
  // Windows' program does not trust is left out, one seen twice (as
  // <SHA1>.crt and in a store) kept once.
  Anchors& anchors = *anchors_;
  std::vector<uint8_t> subject;
  for (std::vector<uint8_t>& der : bodies) {
    const Sha1 sha1 = Sha1OfDer(der);
    if ((roots_.subjects.count(sha1) == 0 && !FindBuiltIn(sha1)) ||
        !anchors.sha1s.insert(sha1).second) {
      continue;
    }
    CertificateSubject(der.data(), der.size(), &subject);
    const unsigned char* p = subject.data();
    const ossl::X509NamePtr name(
        d2i_X509_NAME(nullptr, &p, static_cast<long>(subject.size())));
    int ok = 0;
    const unsigned long hash =
        name ? X509_NAME_hash_ex(name.get(), nullptr, nullptr, &ok) : 0;
    if (!ok) return false;
    anchors.by_subject.emplace(hash, anchors.bodies.size());
    anchors.bodies.push_back({std::move(der), nullptr});
  }
  return true;
}

bool WindowsRoots::MakeStore() {
  method_.reset(X509_LOOKUP_meth_new("windows-roots"));
  return method_ &&
         X509_LOOKUP_meth_set_get_by_subject(method_.get(), LookUp) == 1 &&
         (store_ = NewStore()) != nullptr;
}

ossl::X509StorePtr WindowsRoots::NewStore() const {
  ossl::X509StorePtr store(X509_STORE_new());
  X509_LOOKUP* lookup = nullptr;
  if (!store ||
      (lookup = X509_STORE_add_lookup(store.get(), method_.get())) == nullptr ||
      X509_LOOKUP_set_method_data(lookup, anchors_.get()) != 1) {
    return nullptr;
  }
  return store;
}

int WindowsRoots::LookUp(X509_LOOKUP* lookup, X509_LOOKUP_TYPE type,
                         const X509_NAME* name, X509_OBJECT* found) {
  auto* anchors = static_cast<Anchors*>(X509_LOOKUP_get_method_data(lookup));
  X509_STORE* store = X509_LOOKUP_get_store(lookup);
  int ok = 0;
  const unsigned long hash =
      type == X509_LU_X509 && anchors != nullptr && store != nullptr &&
              name != nullptr
          ? X509_NAME_hash_ex(name, nullptr, nullptr, &ok)
          : 0;
  if (!ok) return 0;
  // Chains on other threads may ask for the same anchors meanwhile.
  const std::lock_guard<std::mutex> hold(anchors->mutex);
  X509* first = nullptr;
  const auto range = anchors->by_subject.equal_range(hash);
  for (auto it = range.first; it != range.second; ++it) {
    Body& body = anchors->bodies[it->second];
    if (!body.cert) {
      const unsigned char* p = body.der.data();
      body.cert.reset(
          d2i_X509(nullptr, &p, static_cast<long>(body.der.size())));
    }
    // One that does not decode anchors nothing. The store keeps one copy
    // of each, however often it is added.
    if (!body.cert) continue;
    X509_STORE_add_cert(store, body.cert.get());
    if (first == nullptr &&
        X509_NAME_cmp(X509_get_subject_name(body.cert.get()), name) == 0) {
      first = body.cert.get();
    }
  }
  if (first == nullptr) return 0;
  // The caller takes its own reference to what a lookup finds, as it does
  // for the store's own objects: `found` only borrows the certificate,
  // which the store holds.
  if (X509_OBJECT_set1_X509(found, first) != 1) return 0;
  X509_free(first);
  return 1;
}

ossl::X509StorePtr WindowsRoots::StoreWithCarriedRoots(const STACK_OF(X509) *
                                                       carried) const {
  ossl::X509StorePtr own;
  for (int i = 0; i < sk_X509_num(carried); ++i) {
    X509* cert = sk_X509_value(carried, i);
    if (!IsSelfSigned(cert)) continue;
    const Sha1 sha1 = Sha1Of(cert);
    if ((roots_.subjects.count(sha1) == 0 && !FindBuiltIn(sha1)) ||
        anchors_->sha1s.count(sha1) != 0) {
      continue;
    }
    // Without a store of its own, the root is not adopted, as if the
    // signature did not carry it.
    if (!own && !(own = NewStore())) return nullptr;
    X509_STORE_add_cert(own.get(), cert);
  }
  return own;
}

AnchorSource WindowsRoots::SourceOf(X509* anchor) const {
  const Sha1 sha1 = Sha1Of(anchor);
  if (FindBuiltIn(sha1)) return AnchorSource::kBuiltIn;
  if (roots_.subjects.count(sha1) != 0) return AnchorSource::kListed;
  return AnchorSource::kStore;
}

void WindowsRoots::Check(const STACK_OF(X509) * chain, ChainUse use,
                         std::time_t when,
                         std::vector<ChainProblem>* problems) const {
  const auto add = [problems](int depth, ChainFault fault, Finding finding) {
    ChainProblem problem;
    problem.depth = depth;
    problem.fault = fault;
    problem.finding = finding;
    problems->push_back(problem);
    return &problems->back();
  };
  const int count = sk_X509_num(chain);
  for (int i = 0; i < count; ++i) {
    if (disallowed_.count(Sha1Of(sk_X509_value(chain, i))) != 0) {
      add(i, ChainFault::kDistrusted, Finding::kDisallowed);
    }
  }
  if (count == 0) return;
  const int top = count - 1;
  const Sha1 sha1 = Sha1Of(sk_X509_value(chain, top));
  // Windows trusts its built-in roots for their own purposes, whatever the
  // CTL says of them.
  if (const BuiltInRoot* built_in = FindBuiltIn(sha1)) {
    if (!(use == ChainUse::kCodeSigning ? built_in->code_signing
                                        : built_in->time_stamping)) {
      add(top, ChainFault::kWrongUsage, Finding::kBuiltInRootOtherUses);
    }
    return;
  }
  const auto found = roots_.subjects.find(sha1);
  if (found == roots_.subjects.end()) return;
  const RootProperties& p = found->second;
  if (p.usages.present && !Lists(p.usages, use)) {
    add(top, ChainFault::kWrongUsage, Finding::kEkuProperty);
  }
  // NotBefore: certificates issued under the root on or after the date are
  // not trusted, for every use or for those listed.
  int issued_after = -1;
  for (int i = 0; p.not_before && i < top && issued_after < 0; ++i) {
    const std::optional<std::time_t> issued =
        ToUnixTime(X509_get0_notBefore(sk_X509_value(chain, i)));
    if (!issued || *issued >= *p.not_before) issued_after = i;
  }
  JudgeDate(p.not_before, issued_after >= 0, p.not_before_usages, use,
            Finding::kNotBeforeProperty, Finding::kNotBeforeUseWithoutDate,
            [&](ChainFault fault, Finding finding) {
              ChainProblem* problem = add(top, fault, finding);
              problem->date = p.not_before;
              problem->cause_depth = issued_after;
              return problem;
            });
  // Disable: signatures made on or after the date are not trusted, for
  // every use or for those listed.
  JudgeDate(p.disabled, p.disabled && when >= *p.disabled, p.disabled_usages,
            use, Finding::kDisableProperty, Finding::kDisableUseWithoutDate,
            [&](ChainFault fault, Finding finding) {
              ChainProblem* problem = add(top, fault, finding);
              problem->date = p.disabled;
              return problem;
            });
}

}  // namespace sealprobe
