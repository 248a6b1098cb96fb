#include "authenticode/cert_chain.h"

#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/x509v3.h>

#include <optional>

#include "authenticode/key_policy.h"
#include "authenticode/name_constraints.h"
#include "authenticode/openssl_ptr.h"
#include "authenticode/root_program/windows_roots.h"
#include "trust_status.h"

namespace sealprobe {
namespace {

constexpr char kLifetimeSigningOid[] = "1.3.6.1.4.1.311.10.3.13";
constexpr int kMaxChainDepth = 16;

// Where a check of the chain records what it finds.
class Problems {
 public:
  explicit Problems(std::vector<ChainProblem>* list) : list_(list) {}
  void Add(int depth, ChainFault fault, Finding finding, int x509_error = 0) {
    ChainProblem problem;
    problem.depth = depth;
    problem.fault = fault;
    problem.finding = finding;
    problem.x509_error = x509_error;
    list_->push_back(problem);
  }

 private:
  std::vector<ChainProblem>* list_;
};

// What the verify callback and the verify stage share, as the context's
// application data.
struct ChainCheck {
  Problems* problems;
  // OpenSSL's own stage that verifies signatures and validity.
  X509_STORE_CTX_verify_fn verify = nullptr;
  // Set once the chain is built, its signatures are verified and its name
  // work is within the budget: what OpenSSL checks from then on is names,
  // then policies.
  bool past_signatures = false;
};

bool IsCa(X509* cert) {
  const uint32_t flags = X509_get_extension_flags(cert);
  return (flags & EXFLAG_BCONS) != 0 && (flags & EXFLAG_CA) != 0;
}

// Whether the certificate at `depth` of the chain `ctx` built is the trust
// anchor: the last, taken from the store. RFC 5280 (6.1) takes the anchor
// as an input to path validation, and checks basic constraints and the
// certificate-signing key usage ((k), (n) of 6.1.4) on the certificates
// below it only; Windows trusts Microsoft Root Authority (1997, no basic
// constraints) as a root for code signing (KB293781).
bool IsAnchor(X509_STORE_CTX* ctx, int depth) {
  const int count = sk_X509_num(X509_STORE_CTX_get0_chain(ctx));
  return depth == count - 1 && depth >= X509_STORE_CTX_get_num_untrusted(ctx);
}

// The fault an error of OpenSSL's chain engine is, where the error alone
// tells; nullopt where it does not (see RecordChainError).
std::optional<ChainFault> FaultOfError(int error) {
  switch (error) {
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
    case X509_V_ERR_CERT_UNTRUSTED:
      return ChainFault::kUntrustedRoot;
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
      return ChainFault::kChaining;
    case X509_V_ERR_CERT_HAS_EXPIRED:
    case X509_V_ERR_CERT_NOT_YET_VALID:
      return ChainFault::kExpired;
    case X509_V_ERR_CERT_SIGNATURE_FAILURE:
    case X509_V_ERR_UNABLE_TO_DECRYPT_CERT_SIGNATURE:
    case X509_V_ERR_UNABLE_TO_DECODE_ISSUER_PUBLIC_KEY:
      return ChainFault::kCertSignature;
    case X509_V_ERR_PATH_LENGTH_EXCEEDED:
      return ChainFault::kBasicConstraints;
    case X509_V_ERR_NO_EXPLICIT_POLICY:
    case X509_V_ERR_INVALID_POLICY_EXTENSION:
      return ChainFault::kPolicy;
    case X509_V_ERR_UNHANDLED_CRITICAL_EXTENSION:
      return ChainFault::kCritical;
    case X509_V_ERR_PERMITTED_VIOLATION:
    case X509_V_ERR_EXCLUDED_VIOLATION:
    case X509_V_ERR_SUBTREE_MINMAX:
    case X509_V_ERR_UNSUPPORTED_CONSTRAINT_TYPE:
    case X509_V_ERR_UNSUPPORTED_CONSTRAINT_SYNTAX:
    case X509_V_ERR_UNSUPPORTED_NAME_SYNTAX:
      return ChainFault::kInvalidName;
    default:
      return std::nullopt;
  }
}

// OpenSSL's verdict on one certificate, recorded; verification goes on, so
// that every fault is found whatever order they come in.
int RecordChainError(int ok, X509_STORE_CTX* ctx) {
  if (ok == 1) return 1;
  auto* check = static_cast<ChainCheck*>(X509_STORE_CTX_get_app_data(ctx));
  Problems* problems = check->problems;
  const int error = X509_STORE_CTX_get_error(ctx);
  const int depth = X509_STORE_CTX_get_error_depth(ctx);
  const auto add = [&](ChainFault fault) {
    problems->Add(depth, fault, Finding::kEngineError, error);
  };
  if (const std::optional<ChainFault> fault = FaultOfError(error)) {
    add(*fault);
    return 1;
  }
  switch (error) {
    case X509_V_ERR_INVALID_CA: {
      // OpenSSL says so for a CA whose key usage leaves out certificate
      // signing too; that is wrong usage, which the walk over the chain
      // reports. Anything else is the basic constraints, but on the anchor,
      // which is not checked as a CA.
      X509* cert = X509_STORE_CTX_get_current_cert(ctx);
      if ((cert == nullptr || !IsCa(cert)) && !IsAnchor(ctx, depth)) {
        add(ChainFault::kBasicConstraints);
      }
      break;
    }
    case X509_V_ERR_KEYUSAGE_NO_CERTSIGN:
      break;  // wrong usage, reported by the walk over the chain
    case X509_V_ERR_UNSPECIFIED:
      // After the signatures, only the name check reports this: for a name
      // or constraint it cannot match (NAME_CONSTRAINTS_check's own
      // ceiling on names times constraints among them, a subtree that is
      // no valid A-label), so a name that cannot be checked.
      if (check->past_signatures) {
        problems->Add(depth, ChainFault::kInvalidName,
                      Finding::kUnmatchableName);
      } else {
        add(ChainFault::kOther);
      }
      break;
    case X509_V_ERR_CERT_REJECTED:
      problems->Add(depth, ChainFault::kWrongUsage,
                    Finding::kStoreTrustsOtherUses);
      break;
    default:
      add(ChainFault::kOther);
      break;
  }
  return 1;
}

// The critical extensions Windows' chain engine acts on (and OpenSSL does
// too, so that what they say is enforced). Any other that is critical
// makes the certificate unusable.
bool HandledCriticalExtension(const ASN1_OBJECT* oid) {
  switch (OBJ_obj2nid(oid)) {
    case NID_key_usage:
    case NID_subject_alt_name:
    case NID_basic_constraints:
    case NID_name_constraints:
    case NID_certificate_policies:
    case NID_policy_mappings:
    case NID_policy_constraints:
    case NID_ext_key_usage:
    case NID_inhibit_any_policy:
      return true;
    default:
      return false;
  }
}

bool HasUnhandledCriticalExtension(X509* cert) {
  for (int i = 0; i < X509_get_ext_count(cert); ++i) {
    X509_EXTENSION* ext = X509_get_ext(cert, i);
    if (X509_EXTENSION_get_critical(ext) &&
        !HandledCriticalExtension(X509_EXTENSION_get_object(ext))) {
      return true;
    }
  }
  return false;
}

// The faults of the built chain (leaf first) that OpenSSL does not report
// the way Windows does. `anchor_depth` is the anchor's, or -1.
void WalkChain(const STACK_OF(X509) * chain, int anchor_depth,
               Problems& problems) {
  const int count = sk_X509_num(chain);
  for (int i = 0; i < count; ++i) {
    X509* cert = sk_X509_value(chain, i);
    // A key Windows refuses, anywhere from the leaf to the anchor, leaves
    // the chain's signatures not valid, as its weak RSA key block does.
    switch (ClassifyKey(cert)) {
      case KeyClass::kAccepted:
        break;
      case KeyClass::kWeak:
        problems.Add(i, ChainFault::kCertSignature, Finding::kWeakRsaKey);
        break;
      case KeyClass::kUnsupported:
        problems.Add(i, ChainFault::kCertSignature, Finding::kUnsupportedKey);
        break;
    }
    // Windows blocks a certificate signed with a broken digest the same
    // way; an anchor's signature on itself is never checked.
    if ((X509_get_extension_flags(cert) & EXFLAG_SS) == 0 &&
        SignedWithBrokenDigest(cert)) {
      problems.Add(i, ChainFault::kCertSignature, Finding::kBrokenDigest);
    }
    if (HasUnhandledCriticalExtension(cert)) {
      problems.Add(i, ChainFault::kCritical, Finding::kUnhandledCritical);
    }
    const bool key_usage =
        (X509_get_extension_flags(cert) & EXFLAG_KUSAGE) != 0;
    const bool cert_sign = (X509_get_key_usage(cert) & KU_KEY_CERT_SIGN) != 0;
    if (i == 0) {
      // OpenSSL lets an end certificate claim certificate signing.
      if (key_usage && cert_sign && !IsCa(cert)) {
        problems.Add(i, ChainFault::kWrongUsage, Finding::kEndCertificateSigns);
      }
      continue;
    }
    // An issuer's key usage, when it has one, must allow it; the anchor's
    // is not checked (IsAnchor).
    if (key_usage && !cert_sign && i != anchor_depth) {
      problems.Add(i, ChainFault::kWrongUsage, Finding::kIssuerCannotSign);
    }
  }
}

int PurposeNid(ChainUse use) {
  return use == ChainUse::kCodeSigning ? NID_code_sign : NID_time_stamp;
}

// Whether `cert`'s own trust settings reject it for `purpose_nid` or for
// every use.
bool RejectsPurpose(X509* cert, int purpose_nid) {
  const STACK_OF(ASN1_OBJECT)* reject = X509_get0_reject_objects(cert);
  for (int i = 0; i < sk_ASN1_OBJECT_num(reject); ++i) {
    const int nid = OBJ_obj2nid(sk_ASN1_OBJECT_value(reject, i));
    if (nid == purpose_nid || nid == NID_anyExtendedKeyUsage) return true;
  }
  return false;
}

// Like the Disallowed store: a certificate is distrusted when the store
// holds a copy of it that rejects the use, whether or not that copy is the
// one the chain was built from.
bool ExplicitlyDistrusted(X509_STORE_CTX* ctx, X509* cert, int purpose_nid) {
  if (RejectsPurpose(cert, purpose_nid)) return true;
  const ossl::X509StackPtr copies(
      X509_STORE_CTX_get1_certs(ctx, X509_get_subject_name(cert)));
  for (int i = 0; i < sk_X509_num(copies.get()); ++i) {
    X509* copy = sk_X509_value(copies.get(), i);
    if (X509_cmp(copy, cert) == 0 && RejectsPurpose(copy, purpose_nid)) {
      return true;
    }
  }
  return false;
}

// Extended key usages that leave out the chain's use.
void CheckExtendedKeyUsage(const STACK_OF(X509) * chain, ChainUse use,
                           Problems& problems) {
  const bool code_signing = use == ChainUse::kCodeSigning;
  for (int i = 0; i < sk_X509_num(chain); ++i) {
    const ExtendedKeyUsage eku = ReadExtendedKeyUsage(sk_X509_value(chain, i));
    if (eku.present && !(code_signing ? eku.code_signing : eku.time_stamping)) {
      problems.Add(i, ChainFault::kWrongUsage, Finding::kUseNotInEku);
    }
    // A time-stamping authority has to say so; a code signer need not.
    if (i == 0 && !code_signing && !eku.present) {
      problems.Add(i, ChainFault::kWrongUsage, Finding::kNoTimeStampingEku);
    }
  }
}

// OpenSSL's stage that verifies the chain's signatures and validity, then
// the budget on the work of the name check. X509_verify_cert runs this
// stage once the chain is built and right before it matches the chain's
// names against its name constraints (verify_chain in x509_vfy.c, OpenSSL
// 3.0 on), so the budget is decided on the very chain that work would be
// done on, before any of it. Over the budget, the verification stops here.
int VerifyWithinNameBudget(X509_STORE_CTX* ctx) {
  auto* check = static_cast<ChainCheck*>(X509_STORE_CTX_get_app_data(ctx));
  const int verified = check->verify(ctx);
  if (verified <= 0) return verified;
  if (NameConstraintWork(X509_STORE_CTX_get0_chain(ctx)) >
      kMaxNameConstraintWork) {
    check->problems->Add(-1, ChainFault::kInvalidName,
                         Finding::kNameWorkOverBudget);
    return 0;
  }
  check->past_signatures = true;
  return verified;
}

// Whether RFC 5280 policy processing of `chain` fails for want of room: past
// OPENSSL_POLICY_TREE_NODES_MAX nodes (pcy_tree.c), OpenSSL's policy check
// gives up as if out of memory, without a word to the verify callback. Run
// only then, and as cheap as that check: it stops at the same ceiling.
bool PolicyTreeTooLarge(STACK_OF(X509) * chain) {
  // The tree grows the same whatever policies the caller asks for: they
  // are looked at only once it is built.
  X509_POLICY_TREE* built = nullptr;
  int explicit_policy = 0;
  const int result =
      X509_policy_check(&built, &explicit_policy, chain, nullptr, 0);
  const ossl::X509PolicyTreePtr tree(built);
  return result == X509_PCY_TREE_INTERNAL;
}

// Readies `ctx` to build and verify the chain of `leaf` through
// `untrusted` to an anchor in `store`, as of `when`, for `use`, recording
// into `check`. False when OpenSSL cannot.
bool StartChain(X509_STORE_CTX* ctx, X509_STORE* store, X509* leaf,
                STACK_OF(X509) * untrusted, std::time_t when, ChainUse use,
                ChainCheck* check) {
  if (leaf == nullptr || store == nullptr ||
      X509_STORE_CTX_init(ctx, store, leaf, untrusted) != 1) {
    return false;
  }
  X509_VERIFY_PARAM* param = X509_STORE_CTX_get0_param(ctx);
  X509_VERIFY_PARAM_set_time(param, when);
  // Far deeper than any real chain, and a bound on the work a signature
  // full of made-up certificates can cause.
  X509_VERIFY_PARAM_set_depth(param, kMaxChainDepth);
  // No purpose is set (OpenSSL's know nothing of code signing and would
  // reject good signers). The trust setting makes the store's per-use
  // rejections count for this use.
  X509_VERIFY_PARAM_set_trust(param, use == ChainUse::kCodeSigning
                                         ? X509_TRUST_OBJECT_SIGN
                                         : X509_TRUST_TSA);
  // RFC 5280 policy processing, so that a requireExplicitPolicy (or an
  // inhibitAnyPolicy or inhibitPolicyMapping that leaves it unmet) fails.
  // The initial policy set is anyPolicy: OpenSSL's empty set would fail
  // every chain that requires an explicit policy.
  ossl::Asn1ObjectPtr any_policy(OBJ_dup(OBJ_nid2obj(NID_any_policy)));
  if (!any_policy ||
      X509_VERIFY_PARAM_add0_policy(param, any_policy.get()) != 1) {
    return false;
  }
  any_policy.release();  // the parameters own it now
  X509_VERIFY_PARAM_set_flags(param, X509_V_FLAG_POLICY_CHECK);
  check->verify = X509_STORE_CTX_get_verify(ctx);
  if (check->verify == nullptr) return false;
  X509_STORE_CTX_set_app_data(ctx, check);
  X509_STORE_CTX_set_verify_cb(ctx, RecordChainError);
  X509_STORE_CTX_set_verify(ctx, VerifyWithinNameBudget);
  return true;
}

// The faults of `result`'s chain, built by `ctx` (X509_verify_cert gave
// `verified`), that OpenSSL's callback did not report; and its anchor.
void JudgeBuiltChain(X509_STORE_CTX* ctx, int verified, const ChainCheck& check,
                     const WindowsRoots* program, ChainResult* result) {
  STACK_OF(X509)* chain = result->chain.get();
  Problems problems(&result->problems);
  if (check.past_signatures) {
    if (verified < 0 &&
        X509_STORE_CTX_get_error(ctx) == X509_V_ERR_OUT_OF_MEM &&
        PolicyTreeTooLarge(chain)) {
      problems.Add(-1, ChainFault::kPolicy, Finding::kPolicyTreeTooLarge);
    }
    for (const ChainProblem& problem : CheckNameConstraints(chain)) {
      result->problems.push_back(problem);
    }
  }
  for (int i = 0; i < sk_X509_num(chain); ++i) {
    if (ExplicitlyDistrusted(ctx, sk_X509_value(chain, i),
                             PurposeNid(result->use))) {
      problems.Add(i, ChainFault::kDistrusted, Finding::kStoreRejects);
    }
  }
  if (sk_X509_num(chain) > X509_STORE_CTX_get_num_untrusted(ctx)) {
    result->anchor_depth = sk_X509_num(chain) - 1;
    if (program != nullptr) {
      result->anchor_source =
          program->SourceOf(sk_X509_value(chain, result->anchor_depth));
    }
  }
  WalkChain(chain, result->anchor_depth, problems);
  CheckExtendedKeyUsage(chain, result->use, problems);
  if (program != nullptr) {
    program->Check(chain, result->use, result->when, &result->problems);
  }
  if (verified != 1 && result->problems.empty()) {
    problems.Add(-1, ChainFault::kOther, Finding::kEngineFailed);
  }
}

// The problem that decides: the first of the first kind, nearest the end
// certificate; -1 when there is none.
int Deciding(const std::vector<ChainProblem>& problems) {
  int deciding = -1;
  for (size_t i = 0; i < problems.size(); ++i) {
    if (deciding < 0) {
      deciding = static_cast<int>(i);
      continue;
    }
    const ChainProblem& best = problems[deciding];
    const ChainProblem& p = problems[i];
    if (p.fault < best.fault || (p.fault == best.fault && p.depth >= 0 &&
                                 (best.depth < 0 || p.depth < best.depth))) {
      deciding = static_cast<int>(i);
    }
  }
  return deciding;
}

// Which way a chain is built where a store's certificate and a carried
// one could both issue the next: the store's first, the path that ends
// soonest, or the carried one's.
enum class Path { kDirect, kCarried };

ChainResult BuildChain(X509* leaf, STACK_OF(X509) * untrusted,
                       X509_STORE* store, std::time_t when, ChainUse use,
                       const WindowsRoots* program, Path path) {
  ChainResult result;
  result.use = use;
  result.when = when;
  Problems problems(&result.problems);
  // Outlives the context built on it.
  const ossl::X509StorePtr own_store =
      program != nullptr ? program->StoreWithCarriedRoots(untrusted) : nullptr;
  if (own_store) store = own_store.get();
  const ossl::X509StoreCtxPtr ctx(X509_STORE_CTX_new());
  ChainCheck check{&problems};
  if (!ctx ||
      !StartChain(ctx.get(), store, leaf, untrusted, when, use, &check)) {
    problems.Add(-1, ChainFault::kChaining, Finding::kNotStarted);
  } else {
    if (path == Path::kCarried) {
      X509_VERIFY_PARAM_clear_flags(X509_STORE_CTX_get0_param(ctx.get()),
                                    X509_V_FLAG_TRUSTED_FIRST);
    }
    const int verified = X509_verify_cert(ctx.get());
    result.chain.reset(X509_STORE_CTX_get1_chain(ctx.get()));
    JudgeBuiltChain(ctx.get(), verified, check, program, &result);
  }
  result.deciding_index = Deciding(result.problems);
  if (const ChainProblem* deciding = result.deciding()) {
    result.status = StatusOf(deciding->fault);
  }
  return result;
}

// The carried certificates to build `built`'s chain again with, so that
// it goes on past the self-signed certificate it ended in, trusted or
// not: null unless one of them is a cross-certificate for that one (its
// subject, issued by another). Copies of the one it ended in are left
// out, or the path would end there again.
ossl::X509ViewStackPtr PastTheTop(const ChainResult& built,
                                  STACK_OF(X509) * untrusted) {
  // Not the end certificate itself: a self-signed signer stays one.
  const int last = sk_X509_num(built.chain.get()) - 1;
  X509* top = last >= 1 ? built.CertificateAt(last) : nullptr;
  if (top == nullptr || (X509_get_extension_flags(top) & EXFLAG_SS) == 0) {
    return nullptr;
  }
  const X509_NAME* subject = X509_get_subject_name(top);
  ossl::X509ViewStackPtr kept(sk_X509_new_null());
  bool crossed = false;
  for (int i = 0; kept && i < sk_X509_num(untrusted); ++i) {
    X509* cert = sk_X509_value(untrusted, i);
    const bool named = X509_NAME_cmp(X509_get_subject_name(cert), subject) == 0;
    const bool self_signed = (X509_get_extension_flags(cert) & EXFLAG_SS) != 0;
    if (named && self_signed) continue;
    crossed = crossed || named;
    if (sk_X509_push(kept.get(), cert) <= 0) return nullptr;
  }
  if (!crossed) return nullptr;
  return kept;
}

}  // namespace

uint32_t StatusOf(ChainFault fault) {
  switch (fault) {
    case ChainFault::kDistrusted:
      return status::kTrustExplicitDistrust;
    case ChainFault::kCertSignature:
      return status::kTrustCertSignature;
    case ChainFault::kUntrustedRoot:
      return status::kCertUntrustedRoot;
    case ChainFault::kChaining:
    case ChainFault::kOther:
      return status::kCertChaining;
    case ChainFault::kWrongUsage:
      return status::kCertWrongUsage;
    case ChainFault::kExpired:
      return status::kCertExpired;
    case ChainFault::kPolicy:
      return status::kCertInvalidPolicy;
    case ChainFault::kBasicConstraints:
      return status::kTrustBasicConstraints;
    case ChainFault::kCritical:
      return status::kCertCritical;
    case ChainFault::kInvalidName:
      return status::kCertInvalidName;
  }
  return status::kCertChaining;
}

ChainResult CheckCertificateChain(X509* leaf, STACK_OF(X509) * untrusted,
                                  X509_STORE* store, std::time_t when,
                                  ChainUse use, const WindowsRoots* program) {
  ChainResult result =
      BuildChain(leaf, untrusted, store, when, use, program, Path::kDirect);
  if (result.status == 0) return result;
  // Where a certificate has two paths up, Windows keeps the better one.
  // Past the root the chain ended in, through a cross-certificate the
  // signature carries, may be a path on which nothing fails (a timestamp
  // authority whose own root is not listed for time stamping,
  // cross-signed by one that is); that path is then the verdict.
  const ossl::X509ViewStackPtr past = PastTheTop(result, untrusted);
  if (past) {
    ChainResult other =
        BuildChain(leaf, past.get(), store, when, use, program, Path::kCarried);
    if (other.status == 0) return other;
  }
  return result;
}

ExtendedKeyUsage ReadExtendedKeyUsage(X509* cert) {
  ExtendedKeyUsage usage;
  int critical = -1;
  const ossl::EkuPtr eku(static_cast<EXTENDED_KEY_USAGE*>(
      X509_get_ext_d2i(cert, NID_ext_key_usage, &critical, nullptr)));
  // One that does not decode is there, and names nothing.
  usage.present = eku != nullptr || critical != -1;
  const ossl::Asn1ObjectPtr lifetime(OBJ_txt2obj(kLifetimeSigningOid, 1));
  for (int i = 0; i < sk_ASN1_OBJECT_num(eku.get()); ++i) {
    const ASN1_OBJECT* oid = sk_ASN1_OBJECT_value(eku.get(), i);
    switch (OBJ_obj2nid(oid)) {
      case NID_code_sign:
        usage.code_signing = true;
        break;
      case NID_time_stamp:
        usage.time_stamping = true;
        break;
      default:
        if (lifetime && OBJ_cmp(oid, lifetime.get()) == 0) {
          usage.lifetime_signing = true;
        }
        break;
    }
  }
  return usage;
}

X509* ChainResult::CertificateAt(int depth) const {
  if (depth < 0 || depth >= sk_X509_num(chain.get())) return nullptr;
  return sk_X509_value(chain.get(), depth);
}

std::vector<const ChainProblem*> ChainResult::ProblemsAt(int depth) const {
  std::vector<const ChainProblem*> found;
  for (const ChainProblem& problem : problems) {
    const bool on_one = CertificateAt(problem.depth) != nullptr;
    if (on_one ? problem.depth == depth : depth < 0) found.push_back(&problem);
  }
  return found;
}

}  // namespace sealprobe
