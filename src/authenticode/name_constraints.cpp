#include "authenticode/name_constraints.h"

#include <openssl/objects.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <utility>

#include "authenticode/openssl_ptr.h"

namespace sealprobe {
namespace {

constexpr char kLegacySubjectAltNameOid[] = "2.5.29.7";
constexpr char kUserPrincipalNameOid[] = "1.3.6.1.4.1.311.20.2.3";
constexpr uint64_t kOctetsPerUnit = 16;

// How much there is to match: names, or subtrees, and the octets they take.
struct Load {
  uint64_t count = 0;
  uint64_t octets = 0;
};

uint64_t ExtensionOctets(X509* cert, int index) {
  const ASN1_OCTET_STRING* value =
      X509_EXTENSION_get_data(X509_get_ext(cert, index));
  return value != nullptr ? static_cast<uint64_t>(ASN1_STRING_length(value))
                          : 0;
}

// The names of a certificate's legacy subjectAltName extensions, all of
// them: OpenSSL knows nothing of 2.5.29.7, so it refuses no repeated one.
struct LegacyNames {
  bool present = false;
  ossl::GeneralNamesPtr names;  // null when one does not decode
  uint64_t octets = 0;
};

LegacyNames ReadLegacyNames(X509* cert, const ASN1_OBJECT* oid) {
  LegacyNames legacy;
  for (int i = X509_get_ext_by_OBJ(cert, oid, -1); i >= 0;
       i = X509_get_ext_by_OBJ(cert, oid, i)) {
    const bool first = !legacy.present;
    legacy.present = true;
    legacy.octets += ExtensionOctets(cert, i);
    const ASN1_OCTET_STRING* value =
        X509_EXTENSION_get_data(X509_get_ext(cert, i));
    const unsigned char* p = ASN1_STRING_get0_data(value);
    const long size = ASN1_STRING_length(value);
    ossl::GeneralNamesPtr names(d2i_GENERAL_NAMES(nullptr, &p, size));
    // The same syntax as 2.5.29.17, and nothing after it.
    if (!names || p != ASN1_STRING_get0_data(value) + size) {
      legacy.names.reset();
      break;
    }
    if (first) {
      legacy.names = std::move(names);
      continue;
    }
    // Any order will do: every name is matched.
    while (GENERAL_NAME* name = sk_GENERAL_NAME_pop(names.get())) {
      if (sk_GENERAL_NAME_push(legacy.names.get(), name) <= 0) {
        GENERAL_NAME_free(name);
        legacy.names.reset();
        return legacy;
      }
    }
  }
  return legacy;
}

// The names OpenSSL matches against constraints: the subject (as a whole,
// and each value of its relative names), its subjectAltName, and for the
// end certificate its common names again as DNS names; and the legacy
// subjectAltName this module matches.
Load NamesOf(X509* cert, bool end, const ASN1_OBJECT* legacy_oid) {
  Load load;
  const X509_NAME* subject = X509_get_subject_name(cert);
  const unsigned char* der = nullptr;
  size_t der_size = 0;
  if (X509_NAME_get0_der(subject, &der, &der_size) != 1) der_size = 0;
  load.count =
      static_cast<uint64_t>(std::max(X509_NAME_entry_count(subject), 0));
  load.octets = der_size;
  if (end) {
    load.count *= 2;
    load.octets *= 2;
  }
  int critical = -1;
  const ossl::GeneralNamesPtr alt(static_cast<GENERAL_NAMES*>(
      X509_get_ext_d2i(cert, NID_subject_alt_name, &critical, nullptr)));
  load.count +=
      static_cast<uint64_t>(std::max(sk_GENERAL_NAME_num(alt.get()), 0));
  const int alt_index = X509_get_ext_by_NID(cert, NID_subject_alt_name, -1);
  if (alt_index >= 0) load.octets += ExtensionOctets(cert, alt_index);
  if (legacy_oid != nullptr) {
    const LegacyNames legacy = ReadLegacyNames(cert, legacy_oid);
    load.count += static_cast<uint64_t>(
        std::max(sk_GENERAL_NAME_num(legacy.names.get()), 0));
    load.octets += legacy.octets;
  }
  return load;
}

ossl::NameConstraintsPtr ReadConstraints(X509* cert) {
  int critical = -1;
  return ossl::NameConstraintsPtr(static_cast<NAME_CONSTRAINTS*>(
      X509_get_ext_d2i(cert, NID_name_constraints, &critical, nullptr)));
}

Load SubtreesOf(X509* cert) {
  Load load;
  const ossl::NameConstraintsPtr constraints = ReadConstraints(cert);
  if (!constraints) return load;
  for (const STACK_OF(GENERAL_SUBTREE) * subtrees :
       {constraints->permittedSubtrees, constraints->excludedSubtrees}) {
    load.count +=
        static_cast<uint64_t>(std::max(sk_GENERAL_SUBTREE_num(subtrees), 0));
  }
  load.octets = ExtensionOctets(
      cert, X509_get_ext_by_NID(cert, NID_name_constraints, -1));
  return load;
}

bool IsZero(const ASN1_INTEGER* value) {
  const unsigned char* data = ASN1_STRING_get0_data(value);
  for (int i = 0; i < ASN1_STRING_length(value); ++i) {
    if (data[i] != 0) return false;
  }
  return true;
}

// A subtree Windows does not support (CERT_TRUST_HAS_NOT_SUPPORTED_NAME_
// CONSTRAINT). RFC 5280 4.2.1.10 leaves the minimum at 0 and the maximum
// absent, and Windows supports no other bounds.
bool Unsupported(const GENERAL_SUBTREE* subtree,
                 const ASN1_OBJECT* user_principal_name) {
  if (subtree->maximum != nullptr ||
      (subtree->minimum != nullptr && !IsZero(subtree->minimum))) {
    return true;
  }
  switch (subtree->base->type) {
    case GEN_X400:
    case GEN_EDIPARTY:
    case GEN_RID:
      return true;
    case GEN_OTHERNAME:
      return user_principal_name == nullptr ||
             OBJ_cmp(subtree->base->d.otherName->type_id,
                     user_principal_name) != 0;
    default:
      return false;
  }
}

bool HoldsUnsupported(const NAME_CONSTRAINTS& constraints,
                      const ASN1_OBJECT* user_principal_name) {
  for (const STACK_OF(GENERAL_SUBTREE) * subtrees :
       {constraints.permittedSubtrees, constraints.excludedSubtrees}) {
    for (int i = 0; i < sk_GENERAL_SUBTREE_num(subtrees); ++i) {
      if (Unsupported(sk_GENERAL_SUBTREE_value(subtrees, i),
                      user_principal_name)) {
        return true;
      }
    }
  }
  return false;
}

// A certificate carrying `names` as its subjectAltName and nothing else, so
// that OpenSSL's matcher judges them as it judges 2.5.29.17's; its empty
// subject is not matched. Null when OpenSSL cannot make one.
ossl::X509Ptr CarrierOf(GENERAL_NAMES* names) {
  ossl::X509Ptr carrier(X509_new());
  if (!carrier || X509_add1_ext_i2d(carrier.get(), NID_subject_alt_name, names,
                                    0, X509V3_ADD_DEFAULT) != 1) {
    return nullptr;
  }
  // Decodes the extensions into the fields NAME_CONSTRAINTS_check reads.
  X509_get_extension_flags(carrier.get());
  return carrier;
}

}  // namespace

uint64_t NameConstraintWork(const STACK_OF(X509) * chain) {
  const ossl::Asn1ObjectPtr legacy_oid(
      OBJ_txt2obj(kLegacySubjectAltNameOid, 1));
  const int count = sk_X509_num(chain);
  std::vector<Load> names;
  std::vector<Load> subtrees;
  for (int i = 0; i < count; ++i) {
    X509* cert = sk_X509_value(chain, i);
    names.push_back(NamesOf(cert, i == 0, legacy_oid.get()));
    subtrees.push_back(SubtreesOf(cert));
  }
  // OpenSSL matches each name against every subtree, whatever its form,
  // and the octets one match compares are at most those of the shorter of
  // the two: the total of a certificate's against a list's is at most its
  // names times the list's octets, and at most the subtrees times its own.
  uint64_t work = 0;
  for (int i = 0; i < count; ++i) {
    for (int j = i + 1; j < count; ++j) {
      const Load& n = names[i];
      const Load& s = subtrees[j];
      work += n.count * s.count +
              std::min(n.count * s.octets, s.count * n.octets) / kOctetsPerUnit;
    }
  }
  return work;
}

std::vector<ChainProblem> CheckNameConstraints(const STACK_OF(X509) * chain) {
  std::vector<ChainProblem> faults;
  const auto add = [&faults](int depth, Finding finding, int x509_error = 0) {
    ChainProblem problem;
    problem.depth = depth;
    problem.fault = ChainFault::kInvalidName;
    problem.finding = finding;
    problem.x509_error = x509_error;
    faults.push_back(problem);
  };
  const ossl::Asn1ObjectPtr user_principal_name(
      OBJ_txt2obj(kUserPrincipalNameOid, 1));
  const int count = sk_X509_num(chain);
  std::vector<ossl::NameConstraintsPtr> constraints(count > 0 ? count : 0);
  for (int j = 1; j < count; ++j) {
    constraints[j] = ReadConstraints(sk_X509_value(chain, j));
    if (constraints[j] &&
        HoldsUnsupported(*constraints[j], user_principal_name.get())) {
      add(j, Finding::kUnsupportedConstraint);
    }
  }
  const ossl::Asn1ObjectPtr legacy_oid(
      OBJ_txt2obj(kLegacySubjectAltNameOid, 1));
  for (int i = 0; i + 1 < count && legacy_oid; ++i) {
    X509* cert = sk_X509_value(chain, i);
    // As OpenSSL does with 2.5.29.17 (RFC 5280 6.1.3 (b)): a self-issued
    // certificate's names are matched only when it ends the chain.
    if (i != 0 && (X509_get_extension_flags(cert) & EXFLAG_SI) != 0) continue;
    const auto constrained = [](const ossl::NameConstraintsPtr& c) {
      return c != nullptr;
    };
    if (std::none_of(constraints.begin() + i + 1, constraints.end(),
                     constrained)) {
      continue;
    }
    LegacyNames legacy = ReadLegacyNames(cert, legacy_oid.get());
    if (!legacy.present) continue;
    const ossl::X509Ptr carrier =
        legacy.names ? CarrierOf(legacy.names.get()) : nullptr;
    if (!carrier) {
      add(i, Finding::kLegacyAltNameUndecodable);
      continue;
    }
    for (int j = count - 1; j > i; --j) {
      if (!constraints[j]) continue;
      const int result =
          NAME_CONSTRAINTS_check(carrier.get(), constraints[j].get());
      if (result != X509_V_OK) {
        add(i, Finding::kLegacyAltNameOutside, result);
        break;
      }
    }
  }
  return faults;
}

}  // namespace sealprobe
