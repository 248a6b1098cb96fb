#include "authenticode/root_program/root_rules.h"

#include <openssl/evp.h>
#include <openssl/objects.h>

#include <utility>

#include "authenticode/der_reader.h"
#include "authenticode/signed_data.h"

namespace sealprobe {
namespace {

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

bool Lists(const UsageList& list, ChainUse use) {
  return use == ChainUse::kCodeSigning ? list.code_signing : list.time_stamping;
}

std::vector<uint8_t> Digest(const EVP_MD* md, const uint8_t* data,
                            size_t size) {
  std::vector<uint8_t> out(EVP_MAX_MD_SIZE);
  unsigned got = 0;
  if (md == nullptr ||
      EVP_Digest(data, size, out.data(), &got, md, nullptr) != 1) {
    return {};
  }
  out.resize(got);
  return out;
}

// The names a Disallowed list keyed by signature hash may give `cert`:
// the hash of its TBSCertificate, as encoded, under the digest of its own
// signature, and the MD5 of its public key (the subjectPublicKey bits).
std::vector<std::vector<uint8_t>> SignatureHashNames(X509* cert) {
  std::vector<std::vector<uint8_t>> names;
  const std::vector<uint8_t> der = EncodingOf(cert);
  Der all(der.data(), der.size());
  Der certificate;
  Der tbs;
  Der tbs_whole;
  int md_nid = NID_undef;
  if (all.Expect(der::kSequence, &certificate) &&
      certificate.Expect(der::kSequence, &tbs, &tbs_whole) &&
      X509_get_signature_info(cert, &md_nid, nullptr, nullptr, nullptr) == 1) {
    names.push_back(Digest(EVP_get_digestbynid(md_nid), tbs_whole.data(),
                           tbs_whole.size()));
  }
  const ASN1_BIT_STRING* key = X509_get0_pubkey_bitstr(cert);
  if (key != nullptr) {
    names.push_back(Digest(EVP_md5(), key->data, key->length));
  }
  return names;
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

const BuiltInRoot* FindBuiltInRoot(const Sha1& sha1) {
  for (const BuiltInRoot& root : BuiltInRoots()) {
    if (root.sha1 == sha1) return &root;
  }
  return nullptr;
}

RootRules::RootRules(TrustList roots, std::optional<TrustList> disallowed,
                     std::set<Sha1> disallowed_certificates)
    : roots_(std::move(roots)),
      disallowed_(std::move(disallowed)),
      disallowed_certificates_(std::move(disallowed_certificates)) {}

bool RootRules::Trusts(const Sha1& sha1) const {
  return roots_.subjects.count(sha1) != 0 || FindBuiltInRoot(sha1) != nullptr;
}

AnchorSource RootRules::SourceOf(X509* anchor) const {
  const Sha1 sha1 = Sha1Of(anchor);
  if (FindBuiltInRoot(sha1)) return AnchorSource::kBuiltIn;
  if (roots_.subjects.count(sha1) != 0) return AnchorSource::kListed;
  return AnchorSource::kStore;
}

bool RootRules::Disallows(X509* cert) const {
  const Sha1 sha1 = Sha1Of(cert);
  if (disallowed_certificates_.count(sha1) != 0) return true;
  if (!disallowed_) return false;
  const std::set<std::vector<uint8_t>>& listed = disallowed_->identifiers;
  if (disallowed_->key == SubjectKey::kSha1) {
    return listed.count(std::vector<uint8_t>(sha1.begin(), sha1.end())) != 0;
  }
  for (const std::vector<uint8_t>& name : SignatureHashNames(cert)) {
    if (!name.empty() && listed.count(name) != 0) return true;
  }
  return false;
}

void RootRules::Check(const STACK_OF(X509) * chain, ChainUse use,
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
    if (Disallows(sk_X509_value(chain, i))) {
      add(i, ChainFault::kDistrusted, Finding::kDisallowed);
    }
  }
  if (count == 0) return;
  const int top = count - 1;
  const Sha1 sha1 = Sha1Of(sk_X509_value(chain, top));
  // Windows trusts its built-in roots for their own purposes, whatever the
  // CTL says of them.
  if (const BuiltInRoot* built_in = FindBuiltInRoot(sha1)) {
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
