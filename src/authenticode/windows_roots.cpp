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
#include "authenticode/explanation.h"
#include "authenticode/serialized_store.h"
#include "authenticode/signed_data.h"

namespace sealprobe {
namespace {

namespace fs = std::filesystem;

constexpr size_t kMaxFiles = 10000;
constexpr size_t kMaxFileBytes = size_t{16} << 20;
constexpr size_t kMaxFolderBytes = size_t{256} << 20;
constexpr size_t kMaxCertificateBytes = size_t{1} << 20;

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

  // The bytes of `path`, at most `cap`; nullopt (and the error set) when it
  // cannot be read or is larger.
  std::optional<std::vector<uint8_t>> Read(const fs::path& path, size_t cap) {
    std::FILE* file = std::fopen(path.string().c_str(), "rb");
    if (file == nullptr) return Fail(path, "cannot be read");
    std::vector<uint8_t> bytes;
    uint8_t block[64 * 1024];
    size_t got = 0;
    bool over = false;
    while ((got = std::fread(block, 1, sizeof(block), file)) > 0) {
      if (bytes.size() + got > cap ||
          used_ + bytes.size() + got > kMaxFolderBytes) {
        over = true;
        break;
      }
      bytes.insert(bytes.end(), block, block + got);
    }
    const bool failed = std::ferror(file) != 0;
    std::fclose(file);
    if (failed) return Fail(path, "cannot be read");
    if (over) {
      return Fail(path, "is over its cap (" + std::to_string(cap) +
                            " bytes a file, " +
                            std::to_string(kMaxFolderBytes) + " in all)");
    }
    used_ += bytes.size();
    return bytes;
  }

  std::nullopt_t Fail(const fs::path& path, std::string reason) {
    error_->file = path.string();
    error_->reason = std::move(reason);
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
    bare = reader.Read(bare_path, kMaxFileBytes);
    if (!bare) return std::nullopt;
  }
  if (cab_name) {
    const std::optional<std::vector<uint8_t>> cabinet =
        reader.Read(cab_path, kMaxFileBytes);
    if (!cabinet) return std::nullopt;
    CabinetMember member =
        ReadCabinetMember(cabinet->data(), cabinet->size(), stl, kMaxFileBytes);
    if (!member.ok) return reader.Fail(cab_path, member.error);
    packed = std::move(member.bytes);
  }
  if (bare && packed && *bare != *packed) {
    return reader.Fail(cab_path, "holds another list than " + stl);
  }
  const std::vector<uint8_t>& bytes = bare ? *bare : *packed;
  TrustListRead read = ReadTrustList(bytes.data(), bytes.size(), kind);
  if (!read.list) {
    return reader.Fail(bare ? bare_path : cab_path,
                       "is not a valid trust list: " + read.error);
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
    if (!read.ok) {
      reader.Fail(path, "is not a valid serialized store: " + read.error);
      return false;
    }
    found = std::move(read.certificates);
  } else if (bytes.size() > kMaxCertificateBytes) {
    reader.Fail(path, "is larger than a certificate may be");
    return false;
  } else {
    found.push_back(std::move(bytes));
  }
  std::vector<uint8_t> subject;
  for (size_t i = 0; i < found.size(); ++i) {
    if (!CertificateSubject(found[i].data(), found[i].size(), &subject)) {
      reader.Fail(path, store ? "holds a certificate that does not decode "
                                "(number " +
                                    std::to_string(i + 1) + ")"
                              : "is not a DER certificate");
      return false;
    }
    ders->push_back(std::move(found[i]));
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

const char* UseName(ChainUse use) {
  return use == ChainUse::kCodeSigning ? "code signing" : "time stamping";
}

bool Lists(const UsageList& list, ChainUse use) {
  return use == ChainUse::kCodeSigning ? list.code_signing : list.time_stamping;
}

}  // namespace

const std::vector<BuiltInRoot>& BuiltInRoots() {
  // The roots "necessary and trusted" in Windows 7 and later, with their
  // intended purposes, from Microsoft's "Required trusted root
  // certificates" (KB293781); the fingerprints are those of the
  // certificates it lists by serial number.
  static const std::vector<BuiltInRoot> kRoots = {
      {"Microsoft Root Authority",
       FromHex("a43489159a520f0d93d032ccaf37e7fe20a8b419"), true, true},
      {"Microsoft Root Certificate Authority",
       FromHex("cdd4eeae6000ac7f40c3802c171e30148030c072"), true, true},
      {"Thawte Timestamping CA",
       FromHex("be36a4562fb2ee05dbb3d32323adf445084ed656"), false, true},
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
  std::error_code ec;
  if (!fs::is_directory(dir, ec)) {
    reader.Fail(dir, ec ? "cannot be read: " + ec.message()
                        : "is not a folder, or does not exist");
    return nullptr;
  }
  std::set<std::string> names;
  fs::directory_iterator it(dir, ec);
  for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
    if (names.size() == kMaxFiles) {
      reader.Fail(dir,
                  "holds more than " + std::to_string(kMaxFiles) + " files");
      return nullptr;
    }
    std::error_code type_error;
    if (it->is_regular_file(type_error)) {
      names.insert(it->path().filename().string());
    }
  }
  if (ec) {
    reader.Fail(dir, "cannot be read: " + ec.message());
    return nullptr;
  }

  std::unique_ptr<WindowsRoots> roots(new WindowsRoots());
  std::optional<TrustList> list =
      LoadList(dir, names, "authroot.stl", "authrootstl.cab",
               TrustListKind::kRoots, reader);
  if (!list) {
    if (error->file.empty()) {
      reader.Fail(dir, "holds no root list (authroot.stl or authrootstl.cab)");
    }
    return nullptr;
  }
  roots->roots_ = std::move(*list);
  std::optional<TrustList> disallowed =
      LoadList(dir, names, "disallowedcert.stl", "disallowedcertstl.cab",
               TrustListKind::kDisallowed, reader);
  if (!error->file.empty()) return nullptr;
  if (disallowed) {
    for (const auto& subject : disallowed->subjects) {
      roots->disallowed_.insert(subject.first);
    }
  }

  std::vector<std::vector<uint8_t>> bodies;
  std::vector<std::vector<uint8_t>> disallowed_bodies;
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
    std::optional<std::vector<uint8_t>> bytes =
        reader.Read(path, kMaxFileBytes);
    if (!bytes ||
        !AddCertificates(
            path, std::move(*bytes), store,
            lower == "disallowedcert.sst" ? &disallowed_bodies : &bodies,
            reader)) {
      return nullptr;
    }
  }
  for (const std::vector<uint8_t>& der : disallowed_bodies) {
    roots->disallowed_.insert(Sha1OfDer(der));
  }

  // The anchors, indexed by subject for the store's lookup; a certificate
  // Windows' program does not trust is left out, one seen twice (as
  // <SHA1>.crt and in a store) kept once.
  Anchors& anchors = *roots->anchors_;
  std::vector<uint8_t> subject;
  for (std::vector<uint8_t>& der : bodies) {
    const Sha1 sha1 = Sha1OfDer(der);
    if ((roots->roots_.subjects.count(sha1) == 0 && !FindBuiltIn(sha1)) ||
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
    if (!ok) {
      reader.Fail(dir, "holds a root whose subject does not decode");
      return nullptr;
    }
    anchors.by_subject.emplace(hash, anchors.bodies.size());
    anchors.bodies.push_back({std::move(der), nullptr});
  }

  roots->method_.reset(X509_LOOKUP_meth_new("Windows' root program"));
  if (!roots->method_ ||
      X509_LOOKUP_meth_set_get_by_subject(roots->method_.get(), LookUp) != 1 ||
      !(roots->store_ = roots->NewStore())) {
    reader.Fail(dir, "could not be held in memory");
    return nullptr;
  }
  return roots;
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

std::string WindowsRoots::AnchorSource(X509* anchor) const {
  const Sha1 sha1 = Sha1Of(anchor);
  if (FindBuiltIn(sha1)) return "built into Windows";
  if (roots_.subjects.count(sha1) != 0) return "listed in the CTL";
  return {};
}

void WindowsRoots::Check(const STACK_OF(X509) * chain, ChainUse use,
                         std::time_t when,
                         std::vector<ChainProblem>* problems) const {
  const int count = sk_X509_num(chain);
  const auto add = [&](int depth, ChainFault fault, std::string detail,
                       const char* property,
                       std::optional<std::time_t> date = std::nullopt) {
    ChainProblem problem;
    problem.depth = depth;
    problem.fault = fault;
    problem.detail = std::move(detail);
    problem.property = property;
    problem.property_date = date;
    problems->push_back(std::move(problem));
  };
  for (int i = 0; i < count; ++i) {
    if (disallowed_.count(Sha1Of(sk_X509_value(chain, i))) != 0) {
      add(i, ChainFault::kDistrusted, "it is in Windows' Disallowed list",
          "Disallowed");
    }
  }
  if (count == 0) return;
  const int top = count - 1;
  X509* root = sk_X509_value(chain, top);
  const Sha1 sha1 = Sha1Of(root);
  const std::string use_name = UseName(use);
  // Windows trusts its built-in roots for their own purposes, whatever the
  // CTL says of them.
  if (const BuiltInRoot* built_in = FindBuiltIn(sha1)) {
    if (!(use == ChainUse::kCodeSigning ? built_in->code_signing
                                        : built_in->time_stamping)) {
      add(top, ChainFault::kWrongUsage,
          "Windows trusts this built-in root for other uses than " + use_name,
          "built-in root");
    }
    return;
  }
  const auto found = roots_.subjects.find(sha1);
  if (found == roots_.subjects.end()) return;
  const RootProperties& p = found->second;

  if (p.usages.present && !Lists(p.usages, use)) {
    add(top, ChainFault::kWrongUsage,
        "its EKU property leaves out " + use_name +
            ": the root program trusts it for other uses only",
        "EKU");
  }
  // NotBefore: certificates issued under the root on or after the date are
  // not trusted, for every use or for those listed.
  if (p.not_before) {
    for (int i = 0; i < top; ++i) {
      X509* cert = sk_X509_value(chain, i);
      const std::optional<std::time_t> issued =
          ToUnixTime(X509_get0_notBefore(cert));
      if (issued && *issued < *p.not_before) continue;
      const std::string why =
          "its NotBefore property (" + FormatTime(*p.not_before) +
          ") distrusts certificates issued under it "
          "from then on" +
          (p.not_before_usages.present ? " for " + use_name : std::string()) +
          ", and " + DescribeCertificate(cert).subject + " was issued " +
          (issued ? FormatTime(*issued) : "at no valid time");
      if (!p.not_before_usages.present) {
        add(top, ChainFault::kUntrustedRoot, why, "NotBefore", p.not_before);
      } else if (Lists(p.not_before_usages, use)) {
        add(top, ChainFault::kWrongUsage, why, "NotBefore", p.not_before);
      }
      break;
    }
  } else if (p.not_before_usages.present && Lists(p.not_before_usages, use)) {
    add(top, ChainFault::kWrongUsage,
        "its NotBefore property lists " + use_name + " without a date",
        "NotBefore");
  }
  // Disable: signatures made on or after the date are not trusted, for
  // every use or for those listed.
  if (p.disabled) {
    if (when >= *p.disabled) {
      const std::string why =
          "its Disable property (" + FormatTime(*p.disabled) +
          ") distrusts signatures made from then on" +
          (p.disabled_usages.present ? " for " + use_name : std::string()) +
          ", and this chain is judged as of " + FormatTime(when);
      if (!p.disabled_usages.present) {
        add(top, ChainFault::kUntrustedRoot, why, "Disable", p.disabled);
      } else if (Lists(p.disabled_usages, use)) {
        add(top, ChainFault::kWrongUsage, why, "Disable", p.disabled);
      }
    }
  } else if (p.disabled_usages.present && Lists(p.disabled_usages, use)) {
    add(top, ChainFault::kWrongUsage,
        "its Disable property lists " + use_name + " without a date",
        "Disable");
  }
}

}  // namespace sealprobe
