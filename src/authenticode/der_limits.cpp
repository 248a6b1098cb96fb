#include "authenticode/der_limits.h"

#include <climits>
#include <cstdint>
#include <cstring>
#include <optional>
#include <vector>

namespace sealprobe {
namespace {

constexpr uint8_t kConstructedBit = 0x20;
constexpr uint8_t kClassMask = 0xc0;
constexpr uint8_t kLowTagMask = 0x1f;
constexpr uint8_t kSequence = 0x30;
constexpr uint8_t kSet = 0x31;
constexpr uint8_t kContext0 = 0xa0;  // [0], constructed
constexpr uint8_t kContext1 = 0xa1;  // [1], constructed
constexpr uint32_t kTagBitString = 3;
constexpr uint32_t kTagOctetString = 4;
constexpr uint32_t kTagOid = 6;
constexpr uint32_t kTagSequence = 16;
constexpr uint32_t kTagSet = 17;

// The contents octets of the object identifiers the walk looks for.
// 1.2.840.113549.1.7.2 and .4: signedData, signedAndEnvelopedData (both
// carry certificates, CRLs and signer infos).
constexpr uint8_t kSignedDataOid[] = {0x2a, 0x86, 0x48, 0x86, 0xf7,
                                      0x0d, 0x01, 0x07, 0x02};
constexpr uint8_t kSignedAndEnvelopedDataOid[] = {0x2a, 0x86, 0x48, 0x86, 0xf7,
                                                  0x0d, 0x01, 0x07, 0x04};
// 1.3.6.1.4.1.311.3.3.1: an RFC 3161 timestamp token as an attribute.
constexpr uint8_t kTimestampTokenOid[] = {0x2b, 0x06, 0x01, 0x04, 0x01,
                                          0x82, 0x37, 0x03, 0x03, 0x01};
// 1.2.840.113549.1.9.6: a PKCS#9 counter-signature.
constexpr uint8_t kCounterSignatureOid[] = {0x2a, 0x86, 0x48, 0x86, 0xf7,
                                            0x0d, 0x01, 0x09, 0x06};
// 1.3.6.1.4.1.311.2.4.1: a nested signature.
constexpr uint8_t kNestedSignatureOid[] = {0x2b, 0x06, 0x01, 0x04, 0x01,
                                           0x82, 0x37, 0x02, 0x04, 0x01};
// 2.5.29.32, .33, .30, .17 and .7: the certificatePolicies,
// policyMappings, nameConstraints and subjectAltName extensions, the last
// under its legacy identifier too.
constexpr uint8_t kCertificatePoliciesOid[] = {0x55, 0x1d, 0x20};
constexpr uint8_t kPolicyMappingsOid[] = {0x55, 0x1d, 0x21};
constexpr uint8_t kNameConstraintsOid[] = {0x55, 0x1d, 0x1e};
constexpr uint8_t kSubjectAltNameOid[] = {0x55, 0x1d, 0x11};
constexpr uint8_t kLegacySubjectAltNameOid[] = {0x55, 0x1d, 0x07};

struct Header {
  uint8_t identifier = 0;  // class, constructed bit, low tag bits
  uint32_t tag = 0;
  bool indefinite = false;
  size_t size = 0;    // of the header itself
  size_t length = 0;  // of the contents; 0 when indefinite

  bool constructed() const { return (identifier & kConstructedBit) != 0; }
  bool universal() const { return (identifier & kClassMask) == 0; }
  bool Is(uint32_t universal_tag) const {
    return universal() && tag == universal_tag;
  }
};

// The header at `p`, within `avail` bytes. It accepts at least everything
// OpenSSL's header reader does (long tag numbers, length octets with
// leading zeros), so nothing the decoder reads can be left unwalked;
// nullopt when it is malformed or its contents overrun `avail`.
std::optional<Header> ReadHeader(const uint8_t* p, size_t avail) {
  Header h;
  size_t i = 0;
  if (avail < 2) return std::nullopt;
  h.identifier = p[i++];
  h.tag = h.identifier & kLowTagMask;
  if (h.tag == kLowTagMask) {
    uint32_t tag = 0;
    for (;;) {
      if (i == avail || tag > (INT_MAX >> 7)) return std::nullopt;
      const uint8_t octet = p[i++];
      tag = (tag << 7) | (octet & 0x7f);
      if ((octet & 0x80) == 0) break;
    }
    h.tag = tag;
  }
  if (i == avail) return std::nullopt;
  const uint8_t first = p[i++];
  if (first == 0x80) {
    // Only a constructed element can end with end-of-contents octets.
    if (!h.constructed()) return std::nullopt;
    h.indefinite = true;
  } else if ((first & 0x80) != 0) {
    size_t count = first & 0x7f;
    if (count > avail - i) return std::nullopt;
    while (count > 0 && p[i] == 0) {
      ++i;
      --count;
    }
    if (count > sizeof(uint64_t)) return std::nullopt;
    uint64_t length = 0;
    for (; count > 0; --count) length = (length << 8) | p[i++];
    if (length > avail - i) return std::nullopt;
    h.length = static_cast<size_t>(length);
  } else {
    h.length = first;
    if (h.length > avail - i) return std::nullopt;
  }
  h.size = i;
  return h;
}

// Where an element of indefinite length whose contents start at `at` ends,
// its end-of-contents octets included, found the way OpenSSL's decoder
// finds it (asn1_find_end, tasn_dec.c): with a count of the indefinite
// lengths opened inside it, each definite one skipped whole, and no stack.
// nullopt when it does not end before `limit`.
std::optional<size_t> IndefiniteEnd(const uint8_t* der, size_t at,
                                    size_t limit) {
  size_t open = 1;
  while (at < limit) {
    if (limit - at >= 2 && der[at] == 0 && der[at + 1] == 0) {
      at += 2;
      if (--open == 0) return at;
      continue;
    }
    const std::optional<Header> header = ReadHeader(der + at, limit - at);
    if (!header) return std::nullopt;
    at += header->size + header->length;
    if (header->indefinite) ++open;
  }
  return std::nullopt;
}

// What an element is, as far as the caps go: a node of the grammar below.
// An element the grammar names nothing for is kPlain (or kSequence, which
// may turn out to be a ContentInfo or an extension), and counts only
// towards the depth and the elements.
enum class Kind : uint8_t {
  kPlain,
  kSequence,          // a SEQUENCE not yet known to be anything else
  kContentInfo,       // SEQUENCE { signedData or signedAndEnvelopedData, ...
  kSignedContent,     //   [0] ... }
  kSignedData,        // in that [0]
  kCertificates,      // its [0]
  kCertificate,       // in that set
  kTbsCertificate,    // its first element
  kTbsVersioned,      // the same, starting with its [0] version
  kName,              // that one's issuer or subject
  kCrls,              // a SignedData's [1]
  kSignedDataSet,     // its digest algorithms, signer infos
  kSignerInfo,        // in those sets, or a counter-signature
  kAuthenticated,     // a SignerInfo's [0]
  kUnauthenticated,   // its [1]
  kAttribute,         // SEQUENCE { type, SET OF value } in either
  kStampAttribute,    // an RFC 3161 timestamp token's
  kCounterAttribute,  // a PKCS#9 counter-signature's
  kNestedAttribute,   // a nested signature's
  kValues,            // an attribute's SET OF value
  kStampValues,
  kCounterValues,
  kNestedValues,
  kPoliciesExtension,  // SEQUENCE { certificatePolicies, ..., OCTET STRING }
  kMappingsExtension,
  kConstraintsExtension,
  kAltNamesExtension,
  kPoliciesValue,  // the DER in that OCTET STRING
  kMappingsValue,
  kConstraintsValue,
  kAltNamesValue,
  kPolicies,         // SEQUENCE OF PolicyInformation
  kPolicyMappings,   // SEQUENCE OF pairs
  kNameConstraints,  // SEQUENCE { [0] permitted, [1] excluded }
  kNameSubtrees,     // one of those lists of GeneralSubtrees
  kAltNames,         // GeneralNames
  kOpaque,           // a value nothing decodes: not walked
  kSame,             // in a production: the parent stays what it is
};

constexpr size_t kAny = SIZE_MAX;
// Not a child's index: the DER inside an OCTET or BIT STRING it holds.
constexpr size_t kInString = SIZE_MAX - 1;
constexpr uint8_t kAnyIdentifier = 0;

// An object identifier as its contents octets.
struct Oid {
  const uint8_t* octets;
  size_t size;
};
template <size_t N>
constexpr Oid O(const uint8_t (&octets)[N]) {
  return {octets, N};
}

// One production of the grammar: a child of `parent` at `index` (from 0)
// with `identifier`, or that is the object identifier `oid`, is `child`;
// and unless `becomes` is kSame, `parent` is that kind from then on.
struct Production {
  Kind parent;
  size_t index;
  uint8_t identifier;
  Oid oid;
  Kind child;
  Kind becomes;
};

using K = Kind;

// clang-format off
constexpr Production kGrammar[] = {
  // A SEQUENCE that starts with one of these object identifiers.
  {K::kSequence, 0, 0, O(kSignedDataOid), K::kPlain, K::kContentInfo},
  {K::kSequence, 0, 0, O(kSignedAndEnvelopedDataOid), K::kPlain, K::kContentInfo},
  {K::kSequence, 0, 0, O(kCertificatePoliciesOid), K::kPlain, K::kPoliciesExtension},
  {K::kSequence, 0, 0, O(kPolicyMappingsOid), K::kPlain, K::kMappingsExtension},
  {K::kSequence, 0, 0, O(kNameConstraintsOid), K::kPlain, K::kConstraintsExtension},
  {K::kSequence, 0, 0, O(kSubjectAltNameOid), K::kPlain, K::kAltNamesExtension},
  {K::kSequence, 0, 0, O(kLegacySubjectAltNameOid), K::kPlain, K::kAltNamesExtension},
  // ContentInfo, SignedData, its certificates.
  {K::kContentInfo, 1, kContext0, {}, K::kSignedContent, K::kSame},
  {K::kSignedContent, 0, kSequence, {}, K::kSignedData, K::kSame},
  {K::kSignedData, kAny, kContext0, {}, K::kCertificates, K::kSame},
  {K::kSignedData, kAny, kContext1, {}, K::kCrls, K::kSame},
  {K::kSignedData, kAny, kSet, {}, K::kSignedDataSet, K::kSame},
  {K::kCertificates, kAny, kSequence, {}, K::kCertificate, K::kSame},
  {K::kCertificate, 0, kSequence, {}, K::kTbsCertificate, K::kSame},
  // version [0] (optional), serialNumber, signature, issuer, validity,
  // subject, ...
  {K::kTbsCertificate, 0, kContext0, {}, K::kPlain, K::kTbsVersioned},
  {K::kTbsCertificate, 2, kSequence, {}, K::kName, K::kSame},
  {K::kTbsCertificate, 4, kSequence, {}, K::kName, K::kSame},
  {K::kTbsVersioned, 3, kSequence, {}, K::kName, K::kSame},
  {K::kTbsVersioned, 5, kSequence, {}, K::kName, K::kSame},
  // SignerInfos, their attributes, the attributes' values.
  {K::kSignedDataSet, kAny, kSequence, {}, K::kSignerInfo, K::kSame},
  {K::kSignerInfo, kAny, kContext0, {}, K::kAuthenticated, K::kSame},
  {K::kSignerInfo, kAny, kContext1, {}, K::kUnauthenticated, K::kSame},
  {K::kAuthenticated, kAny, kSequence, {}, K::kAttribute, K::kSame},
  {K::kUnauthenticated, kAny, kSequence, {}, K::kAttribute, K::kSame},
  {K::kAttribute, 0, 0, O(kTimestampTokenOid), K::kPlain, K::kStampAttribute},
  {K::kAttribute, 0, 0, O(kCounterSignatureOid), K::kPlain, K::kCounterAttribute},
  {K::kAttribute, 0, 0, O(kNestedSignatureOid), K::kPlain, K::kNestedAttribute},
  {K::kAttribute, 1, kSet, {}, K::kValues, K::kSame},
  {K::kStampAttribute, 1, kSet, {}, K::kStampValues, K::kSame},
  {K::kCounterAttribute, 1, kSet, {}, K::kCounterValues, K::kSame},
  {K::kNestedAttribute, 1, kSet, {}, K::kNestedValues, K::kSame},
  {K::kCounterValues, kAny, kSequence, {}, K::kSignerInfo, K::kSame},
  // A nested signature's value is kept as its encoding: whatever it holds
  // is not the file's to answer for, only its own when it is judged.
  {K::kNestedValues, kAny, kAnyIdentifier, {}, K::kOpaque, K::kSame},
  // The values of the extensions whose lists are capped.
  {K::kPoliciesExtension, kInString, 0, {}, K::kPoliciesValue, K::kSame},
  {K::kMappingsExtension, kInString, 0, {}, K::kMappingsValue, K::kSame},
  {K::kConstraintsExtension, kInString, 0, {}, K::kConstraintsValue, K::kSame},
  {K::kAltNamesExtension, kInString, 0, {}, K::kAltNamesValue, K::kSame},
  {K::kPoliciesValue, 0, kSequence, {}, K::kPolicies, K::kSame},
  {K::kMappingsValue, 0, kSequence, {}, K::kPolicyMappings, K::kSame},
  {K::kConstraintsValue, 0, kSequence, {}, K::kNameConstraints, K::kSame},
  {K::kAltNamesValue, 0, kSequence, {}, K::kAltNames, K::kSame},
  {K::kNameConstraints, kAny, kContext0, {}, K::kNameSubtrees, K::kSame},
  {K::kNameConstraints, kAny, kContext1, {}, K::kNameSubtrees, K::kSame},
};
// clang-format on

// What is measured of an element for a cap.
enum class Measure : uint8_t {
  kChildren,   // how many elements it holds
  kContents,   // the octets of its contents
  kEachChild,  // the octets of each element it holds, header included
  kNoPieces,   // none of its elements may hold a string in pieces (BER's
               // constructed form), which would hide the DER in it
};

// A cap on a kind of element: the member of SignatureLimits that sets it
// (none for kNoPieces), and what going over it is.
struct Cap {
  Kind kind;
  Measure measure;
  size_t SignatureLimits::*limit;
  SignatureLimitCheck over;
};

using L = SignatureLimits;
using C = SignatureLimitCheck;
using M = Measure;

// clang-format off
constexpr Cap kCaps[] = {
  {K::kCertificates, M::kChildren, &L::certificates, C::kTooManyCertificates},
  {K::kCertificates, M::kContents, &L::certificate_bytes, C::kCertificatesTooLarge},
  {K::kCertificates, M::kNoPieces, nullptr, C::kConstructedStringInCertificate},
  {K::kCrls, M::kChildren, &L::crls, C::kTooManyCrls},
  {K::kCrls, M::kContents, &L::crl_bytes, C::kCrlsTooLarge},
  {K::kCrls, M::kNoPieces, nullptr, C::kConstructedStringInCertificate},
  {K::kSignedDataSet, M::kChildren, &L::set_members, C::kTooManySetMembers},
  {K::kAuthenticated, M::kChildren, &L::attributes, C::kTooManyAttributes},
  {K::kAuthenticated, M::kContents, &L::authenticated_attribute_bytes,
   C::kAuthenticatedAttributesTooLarge},
  {K::kUnauthenticated, M::kChildren, &L::attributes, C::kTooManyAttributes},
  {K::kValues, M::kChildren, &L::values, C::kTooManyValues},
  {K::kNestedValues, M::kChildren, &L::values, C::kTooManyValues},
  // The timestamp check decodes each of these again.
  {K::kStampValues, M::kChildren, &L::values, C::kTooManyValues},
  {K::kStampValues, M::kEachChild, &L::timestamp_bytes, C::kTimestampTooLarge},
  {K::kCounterValues, M::kChildren, &L::values, C::kTooManyValues},
  {K::kCounterValues, M::kEachChild, &L::timestamp_bytes, C::kTimestampTooLarge},
  {K::kName, M::kChildren, &L::name_entries, C::kTooManyNameEntries},
  {K::kPolicies, M::kChildren, &L::policies, C::kTooManyPolicies},
  {K::kPolicyMappings, M::kChildren, &L::policy_mappings, C::kTooManyPolicyMappings},
  {K::kNameSubtrees, M::kChildren, &L::name_subtrees, C::kTooManyNameSubtrees},
  {K::kAltNames, M::kChildren, &L::alt_names, C::kTooManyAltNames},
};
// clang-format on

// What the DER inside a string held by a `holder` is.
Kind StringKind(Kind holder) {
  for (const Production& p : kGrammar) {
    if (p.parent == holder && p.index == kInString) return p.child;
  }
  return Kind::kPlain;
}

bool Matches(const Production& p, Kind parent, size_t index, const Header& h,
             const uint8_t* contents) {
  if (p.parent != parent || (p.index != kAny && p.index != index)) {
    return false;
  }
  if (p.oid.octets != nullptr) {
    return h.Is(kTagOid) && h.length == p.oid.size &&
           std::memcmp(contents, p.oid.octets, p.oid.size) == 0;
  }
  return p.identifier == kAnyIdentifier || p.identifier == h.identifier;
}

struct Frame {
  size_t element = 0;   // offset of its first header octet
  size_t contents = 0;  // offset of its contents
  // End of its contents; for an indefinite length, the end of the frame
  // around it, past which its end-of-contents octets cannot lie.
  size_t end = 0;
  size_t children = 0;
  bool indefinite = false;
  Kind kind = Kind::kPlain;
  Kind held_by = Kind::kPlain;  // the kind of the frame around it
  // What a string in pieces inside it is (kWithinLimits: nothing): inside
  // a certificate or CRL and not inside one of its strings, a cap.
  SignatureLimitCheck pieces = SignatureLimitCheck::kWithinLimits;
  // The DER inside an OCTET or BIT STRING, of which only the first element
  // is decoded.
  bool in_string = false;
};

class Walker {
 public:
  Walker(const uint8_t* der, size_t size, const SignatureLimits& limits)
      : der_(der), size_(size), limits_(limits) {
    stack_.reserve(limits.depth);
  }

  SignatureLimitCheck Run() {
    const std::optional<Header> root = ReadHeader(der_, size_);
    if (!root) return SignatureLimitCheck::kWithinLimits;
    SignatureLimitCheck check = Enter(*root, 0);
    while (check == SignatureLimitCheck::kWithinLimits && !stack_.empty()) {
      check = Step();
    }
    return check;
  }

 private:
  using Check = SignatureLimitCheck;

  // The cap of `kind` on `measure` that `value` is over, if any.
  Check Over(Kind kind, Measure measure, size_t value) const {
    for (const Cap& cap : kCaps) {
      if (cap.kind == kind && cap.measure == measure &&
          (cap.limit == nullptr || value > limits_.*cap.limit)) {
        return cap.over;
      }
    }
    return Check::kWithinLimits;
  }

  // Takes one step: the next element of the innermost open frame, or the
  // end of that frame.
  Check Step() {
    const Frame& top = stack_.back();
    // A string's contents are decoded as one element; anything after it is
    // never read as DER.
    if (top.in_string && top.children > 0) {
      pos_ = top.end;
      stack_.pop_back();
      return Check::kWithinLimits;
    }
    if (!top.indefinite && pos_ == top.end) return Leave(top.end, top.end);
    if (top.indefinite && top.end - pos_ >= 2 && der_[pos_] == 0 &&
        der_[pos_ + 1] == 0) {
      return Leave(pos_, pos_ + 2);
    }
    const std::optional<Header> header =
        ReadHeader(der_ + pos_, top.end - pos_);
    if (!header) {
      Abandon();
      return Check::kWithinLimits;
    }
    return Enter(*header, pos_);
  }

  // The element whose header `h` is at `at` begins inside the innermost
  // open frame (or is the outermost element).
  Check Enter(const Header& h, size_t at) {
    if (++elements_ > limits_.elements) return Check::kTooManyElements;
    Frame next;
    next.element = at;
    next.contents = at + h.size;
    next.end = h.indefinite ? (stack_.empty() ? size_ : stack_.back().end)
                            : next.contents + h.length;
    next.indefinite = h.indefinite;
    next.kind = h.identifier == kSequence ? Kind::kSequence : Kind::kPlain;
    if (!stack_.empty()) {
      const Check check = Classify(h, &stack_.back(), &next);
      if (check != Check::kWithinLimits) return check;
    }
    if (!h.indefinite) {
      const Check check = CheckSize(next, h.length, next.end - next.element);
      if (check != Check::kWithinLimits) return check;
    }

    if (next.kind == Kind::kOpaque) return Skip(next);
    if (h.constructed()) {
      // A string in pieces would hide the DER it holds from this walk.
      if (next.pieces != Check::kWithinLimits && h.universal() &&
          h.tag != kTagSequence && h.tag != kTagSet) {
        return next.pieces;
      }
      return Push(next, next.contents);
    }
    pos_ = next.end;
    // The contents of an OCTET or BIT STRING that begin with a constructed
    // element are DER the decoder may read later (an extension's value, a
    // key, a token's TSTInfo): walk that first element too.
    if (h.Is(kTagOctetString) || h.Is(kTagBitString)) {
      const size_t region = next.contents + (h.Is(kTagBitString) ? 1 : 0);
      if (region < next.end && (der_[region] & kConstructedBit) != 0) {
        Frame string;
        string.element = at;
        string.contents = region;
        string.end = next.end;
        string.in_string = true;
        string.kind =
            stack_.empty() ? Kind::kPlain : StringKind(stack_.back().kind);
        return Push(string, region);
      }
    }
    return Check::kWithinLimits;
  }

  // What `next`, a new child of `parent`, is, by the grammar; and the cap
  // on the number of children `parent` may have.
  Check Classify(const Header& h, Frame* parent, Frame* next) {
    const size_t index = parent->children++;
    const Check over = Over(parent->kind, Measure::kChildren, parent->children);
    if (over != Check::kWithinLimits) return over;
    next->pieces = parent->pieces != Check::kWithinLimits
                       ? parent->pieces
                       : Over(parent->kind, Measure::kNoPieces, 0);
    next->held_by = parent->kind;
    for (const Production& p : kGrammar) {
      if (Matches(p, parent->kind, index, h, der_ + next->contents)) {
        next->kind = p.child;
        if (p.becomes != Kind::kSame) parent->kind = p.becomes;
        break;
      }
    }
    return Check::kWithinLimits;
  }

  // The caps on sizes, once the sizes of `frame`'s contents and of the
  // whole element are known.
  Check CheckSize(const Frame& frame, size_t contents, size_t element) const {
    const Check over = Over(frame.kind, Measure::kContents, contents);
    if (over != Check::kWithinLimits) return over;
    return Over(frame.held_by, Measure::kEachChild, element);
  }

  // Moves past `frame`, an element that is not walked.
  Check Skip(const Frame& frame) {
    if (!frame.indefinite) {
      pos_ = frame.end;
      return Check::kWithinLimits;
    }
    const std::optional<size_t> end =
        IndefiniteEnd(der_, frame.contents, frame.end);
    pos_ = end ? *end : frame.end;
    // No end: the decoder refuses it, and nothing after it is decoded.
    if (!end) Abandon();
    return Check::kWithinLimits;
  }

  Check Push(const Frame& frame, size_t contents) {
    if (stack_.size() >= limits_.depth) return Check::kTooDeep;
    stack_.push_back(frame);
    pos_ = contents;
    return Check::kWithinLimits;
  }

  // The innermost frame ends: its contents end at `contents_end`, the
  // element (with any end-of-contents octets) at `element_end`.
  Check Leave(size_t contents_end, size_t element_end) {
    const Frame frame = stack_.back();
    stack_.pop_back();
    pos_ = element_end;
    if (!frame.indefinite) return Check::kWithinLimits;  // checked on entry
    return CheckSize(frame, contents_end - frame.contents,
                     element_end - frame.element);
  }

  // What lies at pos_ is not a well-formed element. The decoder stops at
  // the same octet, so the contents of the innermost frame whose end is
  // known are left unwalked; with none, nothing after here is.
  void Abandon() {
    while (!stack_.empty()) {
      const Frame frame = stack_.back();
      stack_.pop_back();
      if (!frame.indefinite) {
        pos_ = frame.end;
        return;
      }
    }
  }

  const uint8_t* der_;
  size_t size_;
  const SignatureLimits& limits_;
  std::vector<Frame> stack_;
  size_t pos_ = 0;
  size_t elements_ = 0;
};

}  // namespace

size_t EncodedSize(const uint8_t* der, size_t size) {
  const std::optional<Header> header =
      der != nullptr ? ReadHeader(der, size) : std::nullopt;
  if (!header) return 0;
  if (!header->indefinite) return header->size + header->length;
  return IndefiniteEnd(der, header->size, size).value_or(0);
}

SignatureLimitCheck CheckSignatureLimits(const uint8_t* der, size_t size,
                                         const SignatureLimits& limits) {
  if (der == nullptr) return SignatureLimitCheck::kWithinLimits;
  return Walker(der, size, limits).Run();
}

}  // namespace sealprobe
