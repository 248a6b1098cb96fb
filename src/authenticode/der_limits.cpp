#include "authenticode/der_limits.h"

#include <climits>
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

template <size_t N>
bool ContentsEqual(const uint8_t* contents, size_t size,
                   const uint8_t (&oid)[N]) {
  return size == N && std::memcmp(contents, oid, N) == 0;
}

// What an element is, as far as the caps go. Everything not named here is
// kPlain and counts only towards the depth and the elements.
enum class Kind : uint8_t {
  kPlain,
  kStringRegion,     // the DER inside an OCTET or BIT STRING
  kSignedContent,    // the [0] of a ContentInfo of a signed type
  kSignedData,       // SignedData or SignedAndEnvelopedData
  kCertificates,     // its [0]
  kCertificate,      // in that set
  kTbsCertificate,   // its first element
  kName,             // that one's issuer or subject
  kCrls,             // its [1]
  kSignedDataSet,    // its digest algorithms, signer infos
  kSignerInfo,       // in those sets, or a counter-signature
  kAttributeSet,     // a SignerInfo's [0] or [1]
  kAttribute,        // SEQUENCE { type, SET OF value }
  kAttributeValues,  // that SET
  kPolicies,         // a certificatePolicies' SEQUENCE OF PolicyInformation
  kPolicyMappings,   // a policyMappings' SEQUENCE OF pairs
  kNameConstraints,  // SEQUENCE { [0] permitted, [1] excluded }
  kNameSubtrees,     // one of those lists of GeneralSubtrees
  kAltNames,         // a subjectAltName's GeneralNames
  kOpaque            // a value nothing decodes: not walked
};

// The extension an Extension SEQUENCE is, when its value is walked.
enum class Extension : uint8_t {
  kOther,
  kCertificatePolicies,
  kPolicyMappings,
  kNameConstraints,
  kSubjectAltName
};

enum class AttributeType : uint8_t {
  kOther,
  kTimestampToken,
  kCounterSignature,
  kNestedSignature
};

struct Frame {
  size_t element = 0;   // offset of its first header octet
  size_t contents = 0;  // offset of its contents
  // End of its contents; for an indefinite length, the end of the frame
  // around it, past which its end-of-contents octets cannot lie.
  size_t end = 0;
  size_t children = 0;
  uint8_t identifier = 0;
  bool indefinite = false;
  Kind kind = Kind::kPlain;
  // Inside a certificate or CRL and not inside one of its strings.
  bool strict = false;
  // A ContentInfo whose content type is a signed one.
  bool signed_content_info = false;
  // A TBSCertificate that starts with its [0] version.
  bool versioned = false;
  bool authenticated = false;  // a kAttributeSet that is a [0]
  bool timestamp = false;      // a value of a timestamp attribute
  AttributeType attribute = AttributeType::kOther;
  // A SEQUENCE whose first element names one of these extensions, and the
  // string region of its value.
  Extension extension = Extension::kOther;
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

  // Takes one step: the next element of the innermost open frame, or the
  // end of that frame.
  Check Step() {
    const Frame& top = stack_.back();
    // A string's contents are decoded as one element; anything after it is
    // never read as DER.
    if (top.kind == Kind::kStringRegion && top.children > 0) {
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
    next.identifier = h.identifier;
    next.indefinite = h.indefinite;
    if (!stack_.empty()) {
      Frame& parent = stack_.back();
      next.strict = parent.strict;
      const Check check = Classify(h, &parent, &next);
      if (check != Check::kWithinLimits) return check;
    }
    if (!h.indefinite) {
      const Check check = CheckSize(next, h.length, next.end - next.element);
      if (check != Check::kWithinLimits) return check;
    }

    if (next.kind == Kind::kOpaque) return Skip(next);
    if (h.constructed()) {
      // A string in pieces would hide the DER it holds from this walk.
      if (next.strict && h.universal() && h.tag != kTagSequence &&
          h.tag != kTagSet) {
        return Check::kConstructedStringInCertificate;
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
        string.kind = Kind::kStringRegion;
        // The value of the extension the enclosing SEQUENCE names.
        if (!stack_.empty()) string.extension = stack_.back().extension;
        return Push(string, region);
      }
    }
    return Check::kWithinLimits;
  }

  // Moves past `frame`, an element that is not walked. When its length is
  // indefinite, its end is found the way OpenSSL's decoder finds it
  // (asn1_find_end, tasn_dec.c): with a count of the indefinite lengths
  // opened inside it, each definite one skipped whole, and no stack.
  Check Skip(const Frame& frame) {
    if (!frame.indefinite) {
      pos_ = frame.end;
      return Check::kWithinLimits;
    }
    size_t at = frame.contents;
    size_t open = 1;
    while (at < frame.end) {
      if (frame.end - at >= 2 && der_[at] == 0 && der_[at + 1] == 0) {
        at += 2;
        if (--open == 0) {
          pos_ = at;
          return Check::kWithinLimits;
        }
        continue;
      }
      const std::optional<Header> header =
          ReadHeader(der_ + at, frame.end - at);
      if (!header) break;
      at += header->size + header->length;
      if (header->indefinite) ++open;
    }
    // No end: the decoder refuses it, and nothing after it is decoded.
    pos_ = at;
    Abandon();
    return Check::kWithinLimits;
  }

  Check Push(const Frame& frame, size_t contents) {
    if (stack_.size() >= limits_.depth) return Check::kTooDeep;
    stack_.push_back(frame);
    pos_ = contents;
    return Check::kWithinLimits;
  }

  // Decides what `next`, a new child of `parent`, is, and checks the caps
  // on the number of children.
  Check Classify(const Header& h, Frame* parent, Frame* next) {
    const size_t index = parent->children++;
    const uint8_t* contents = der_ + next->contents;
    switch (parent->kind) {
      case Kind::kPlain:
        if (parent->identifier == kSequence && index == 0 && h.Is(kTagOid)) {
          if (ContentsEqual(contents, h.length, kSignedDataOid) ||
              ContentsEqual(contents, h.length, kSignedAndEnvelopedDataOid)) {
            parent->signed_content_info = true;
          } else if (ContentsEqual(contents, h.length,
                                   kCertificatePoliciesOid)) {
            parent->extension = Extension::kCertificatePolicies;
          } else if (ContentsEqual(contents, h.length, kPolicyMappingsOid)) {
            parent->extension = Extension::kPolicyMappings;
          } else if (ContentsEqual(contents, h.length, kNameConstraintsOid)) {
            parent->extension = Extension::kNameConstraints;
          } else if (ContentsEqual(contents, h.length, kSubjectAltNameOid) ||
                     ContentsEqual(contents, h.length,
                                   kLegacySubjectAltNameOid)) {
            parent->extension = Extension::kSubjectAltName;
          }
        } else if (parent->signed_content_info && index == 1 &&
                   h.identifier == kContext0) {
          next->kind = Kind::kSignedContent;
        }
        break;
      case Kind::kStringRegion:
        if (index == 0 && h.identifier == kSequence) {
          switch (parent->extension) {
            case Extension::kCertificatePolicies:
              next->kind = Kind::kPolicies;
              break;
            case Extension::kPolicyMappings:
              next->kind = Kind::kPolicyMappings;
              break;
            case Extension::kNameConstraints:
              next->kind = Kind::kNameConstraints;
              break;
            case Extension::kSubjectAltName:
              next->kind = Kind::kAltNames;
              break;
            case Extension::kOther:
              break;
          }
        }
        break;
      case Kind::kPolicies:
        if (parent->children > limits_.policies) {
          return Check::kTooManyPolicies;
        }
        break;
      case Kind::kPolicyMappings:
        if (parent->children > limits_.policy_mappings) {
          return Check::kTooManyPolicyMappings;
        }
        break;
      case Kind::kNameConstraints:
        if (h.identifier == kContext0 || h.identifier == kContext1) {
          next->kind = Kind::kNameSubtrees;
        }
        break;
      case Kind::kNameSubtrees:
        if (parent->children > limits_.name_subtrees) {
          return Check::kTooManyNameSubtrees;
        }
        break;
      case Kind::kAltNames:
        if (parent->children > limits_.alt_names) {
          return Check::kTooManyAltNames;
        }
        break;
      case Kind::kOpaque:
        break;
      case Kind::kSignedContent:
        if (index == 0 && h.identifier == kSequence) {
          next->kind = Kind::kSignedData;
        }
        break;
      case Kind::kSignedData:
        if (h.identifier == kContext0) next->kind = Kind::kCertificates;
        if (h.identifier == kContext1) next->kind = Kind::kCrls;
        if (h.identifier == kSet) next->kind = Kind::kSignedDataSet;
        break;
      case Kind::kCertificates:
        if (parent->children > limits_.certificates) {
          return Check::kTooManyCertificates;
        }
        next->strict = true;
        if (h.identifier == kSequence) next->kind = Kind::kCertificate;
        break;
      case Kind::kCertificate:
        if (index == 0 && h.identifier == kSequence) {
          next->kind = Kind::kTbsCertificate;
        }
        break;
      case Kind::kTbsCertificate: {
        // version [0] (optional), serialNumber, signature, issuer,
        // validity, subject, ...
        if (index == 0 && h.identifier == kContext0) parent->versioned = true;
        const size_t skip = parent->versioned ? 1 : 0;
        if ((index == skip + 2 || index == skip + 4) &&
            h.identifier == kSequence) {
          next->kind = Kind::kName;
        }
        break;
      }
      case Kind::kName:
        if (parent->children > limits_.name_entries) {
          return Check::kTooManyNameEntries;
        }
        break;
      case Kind::kCrls:
        if (parent->children > limits_.crls) return Check::kTooManyCrls;
        next->strict = true;
        break;
      case Kind::kSignedDataSet:
        if (parent->children > limits_.set_members) {
          return Check::kTooManySetMembers;
        }
        if (h.identifier == kSequence) next->kind = Kind::kSignerInfo;
        break;
      case Kind::kSignerInfo:
        if (h.identifier == kContext0 || h.identifier == kContext1) {
          next->kind = Kind::kAttributeSet;
          next->authenticated = h.identifier == kContext0;
        }
        break;
      case Kind::kAttributeSet:
        if (parent->children > limits_.attributes) {
          return Check::kTooManyAttributes;
        }
        if (h.identifier == kSequence) next->kind = Kind::kAttribute;
        break;
      case Kind::kAttribute:
        if (index == 0 && h.Is(kTagOid)) {
          if (ContentsEqual(contents, h.length, kTimestampTokenOid)) {
            parent->attribute = AttributeType::kTimestampToken;
          } else if (ContentsEqual(contents, h.length, kCounterSignatureOid)) {
            parent->attribute = AttributeType::kCounterSignature;
          } else if (ContentsEqual(contents, h.length, kNestedSignatureOid)) {
            parent->attribute = AttributeType::kNestedSignature;
          }
        } else if (index == 1 && h.identifier == kSet) {
          next->kind = Kind::kAttributeValues;
          next->attribute = parent->attribute;
        }
        break;
      case Kind::kAttributeValues:
        if (parent->children > limits_.values) return Check::kTooManyValues;
        next->timestamp = parent->attribute == AttributeType::kTimestampToken ||
                          parent->attribute == AttributeType::kCounterSignature;
        if (parent->attribute == AttributeType::kCounterSignature &&
            h.identifier == kSequence) {
          next->kind = Kind::kSignerInfo;
        }
        // A nested signature is not verified, and its value is kept as its
        // encoding: whatever it holds is not the file's to answer for.
        if (parent->attribute == AttributeType::kNestedSignature) {
          next->kind = Kind::kOpaque;
        }
        break;
    }
    return Check::kWithinLimits;
  }

  // The caps on sizes, once the sizes of `frame`'s contents and of the
  // whole element are known.
  Check CheckSize(const Frame& frame, size_t contents, size_t element) const {
    switch (frame.kind) {
      case Kind::kCertificates:
        if (contents > limits_.certificate_bytes) {
          return Check::kCertificatesTooLarge;
        }
        break;
      case Kind::kCrls:
        if (contents > limits_.crl_bytes) return Check::kCrlsTooLarge;
        break;
      case Kind::kAttributeSet:
        if (frame.authenticated &&
            contents > limits_.authenticated_attribute_bytes) {
          return Check::kAuthenticatedAttributesTooLarge;
        }
        break;
      default:
        break;
    }
    if (frame.timestamp && element > limits_.timestamp_bytes) {
      return Check::kTimestampTooLarge;
    }
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

SignatureLimitCheck CheckSignatureLimits(const uint8_t* der, size_t size,
                                         const SignatureLimits& limits) {
  if (der == nullptr) return SignatureLimitCheck::kWithinLimits;
  return Walker(der, size, limits).Run();
}

}  // namespace sealprobe
