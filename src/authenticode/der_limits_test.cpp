#include "authenticode/der_limits.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "authenticode/byte_source.h"
#include "authenticode/pe_image.h"
#include "testing/der_builder.h"
#include "testing/test_support.h"

namespace sealprobe {
namespace {

using Check = SignatureLimitCheck;

// The same element with an indefinite length.
Bytes Indefinite(uint8_t tag, const Bytes& contents) {
  return Cat({{tag, 0x80}, contents, {0x00, 0x00}});
}

const Bytes kNull = {0x05, 0x00};
const Bytes kTokenOid =
    Tlv(0x06, {0x2b, 0x06, 0x01, 0x04, 0x01, 0x82, 0x37, 0x03, 0x03, 0x01});
const Bytes kCounterSignatureOid =
    Tlv(0x06, {0x2a, 0x86, 0x48, 0x86, 0xf7, 0x0d, 0x01, 0x09, 0x06});
const Bytes kNestedSignatureOid =
    Tlv(0x06, {0x2b, 0x06, 0x01, 0x04, 0x01, 0x82, 0x37, 0x02, 0x04, 0x01});
const Bytes kAlgorithm =
    Seq({Tlv(0x06, {0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x02, 0x01})});

Bytes Attribute(const Bytes& type, const Bytes& values) {
  return Seq({type, SetOf(values)});
}

// A SignerInfo with the contents of its two attribute sets (none when
// empty).
Bytes SignerInfo(const Bytes& authenticated, const Bytes& unauthenticated) {
  return Seq({kInteger1, Seq({Seq({}), kInteger1}), kAlgorithm,
              authenticated.empty() ? Bytes() : Tlv(0xa0, authenticated),
              kAlgorithm, Octets(4),
              unauthenticated.empty() ? Bytes() : Tlv(0xa1, unauthenticated)});
}

struct Parts {
  Bytes certificates;  // contents of [0]; none when empty
  Bytes crls;          // contents of [1]; none when empty
  Bytes signers = SignerInfo({}, {});
  Bytes digest_algorithms = kAlgorithm;
  Bytes content = Seq({kDataOid});
};

// ContentInfo { signedData, [0] SignedData }.
Bytes SignedData(const Parts& p) {
  return Seq({kSignedDataOid,
              Tlv(0xa0, Seq({kInteger1, SetOf(p.digest_algorithms), p.content,
                             p.certificates.empty() ? Bytes()
                                                    : Tlv(0xa0, p.certificates),
                             p.crls.empty() ? Bytes() : Tlv(0xa1, p.crls),
                             SetOf(p.signers)}))});
}

// A stand-in for a certificate, CRL or token of exactly `size` octets.
Bytes Blob(size_t size) {
  return Sized(size, [](size_t n) { return Tlv(0x30, Octets(n)); });
}

// An attribute of exactly `size` octets.
Bytes AttributeOfSize(size_t size) {
  return Sized(size, [](size_t n) {
    return Seq({kOtherOid, SetOf(Octets(n))});
  });
}

// SignedData as above, every length indefinite, with these certificates.
Bytes IndefiniteSignedData(const Bytes& certificates) {
  return Indefinite(
      0x30,
      Cat({kSignedDataOid,
           Indefinite(0xa0,
                      Indefinite(0x30, Cat({kInteger1, SetOf(kAlgorithm),
                                            Seq({kDataOid}),
                                            Indefinite(0xa0, certificates),
                                            SetOf(SignerInfo({}, {}))})))}));
}

// A certificate: its TBSCertificate with the contents of its issuer and
// subject and one extension, `oid` (contents octets) holding `value`; a
// version 1 one (no [0] version, no extensions) when `oid` is empty.
Bytes Certificate(const Bytes& issuer, const Bytes& subject, const Bytes& oid,
                  const Bytes& value) {
  const Bytes validity = Seq({});
  const Bytes key = Seq({kAlgorithm, Tlv(0x03, {0x00})});
  Bytes tbs = Cat({kInteger1, kAlgorithm, Tlv(0x30, issuer), validity,
                   Tlv(0x30, subject), key});
  if (!oid.empty()) {
    tbs = Cat({Tlv(0xa0, kInteger1), tbs,
               Tlv(0xa3, Seq({Seq({Tlv(0x06, oid), Tlv(0x04, value)})}))});
  }
  return Seq({Tlv(0x30, tbs), kAlgorithm, Tlv(0x03, {0x00})});
}

Bytes WithExtension(const Bytes& oid, const Bytes& value) {
  return Certificate({}, {}, oid, value);
}

Bytes Nested(size_t depth) {
  Bytes out = kNull;
  for (size_t i = 0; i < depth; ++i) out = Tlv(0x30, out);
  return out;
}

// Small caps, so that a row can sit just under or just over one.
SignatureLimits Small() {
  SignatureLimits l;
  l.depth = 16;
  l.elements = 300;
  l.certificates = 3;
  l.certificate_bytes = 400;
  l.crls = 2;
  l.crl_bytes = 200;
  l.set_members = 2;
  l.attributes = 3;
  l.values = 3;
  l.authenticated_attribute_bytes = 100;
  l.timestamp_bytes = 1000;
  l.policies = 3;
  l.policy_mappings = 3;
  l.name_subtrees = 3;
  l.alt_names = 3;
  l.name_entries = 3;
  return l;
}

// SignedData({}) with `part` made `value`.
Bytes With(Bytes Parts::*part, const Bytes& value) {
  Parts p;
  p.*part = value;
  return SignedData(p);
}

Bytes WithCertificates(const Bytes& certificates) {
  return With(&Parts::certificates, certificates);
}

Bytes WithUnsigned(const Bytes& attributes) {
  return With(&Parts::signers, SignerInfo({}, attributes));
}

Bytes WithAuthenticated(const Bytes& attributes) {
  return With(&Parts::signers, SignerInfo(attributes, {}));
}

TEST(DerLimitsTest, EachCapJustUnderAndJustOver) {
  const Bytes value = Attribute(kOtherOid, kNull);
  const Bytes kPoliciesOid = {0x55, 0x1d, 0x20};
  const Bytes kNameConstraintsOid = {0x55, 0x1d, 0x1e};
  const Bytes policy = Seq({kOtherOid});
  const Bytes dns_name = Tlv(0x82, {'a'});
  const Bytes subtree = Seq({dns_name});
  const Bytes rdn = SetOf(Seq({kOtherOid, Tlv(0x0c, {'a'})}));
  const auto token_with = [](size_t certificates) {
    return Attribute(kTokenOid,
                     WithCertificates(Repeat(Blob(20), certificates)));
  };
  struct Row {
    const char* name;
    Bytes der;
    Check expected;
  };
  const std::vector<Row> rows = {
      {"plain signature", SignedData({}), Check::kWithinLimits},
      {"certificates at the cap", WithCertificates(Repeat(Blob(20), 3)),
       Check::kWithinLimits},
      {"one certificate over", WithCertificates(Repeat(Blob(20), 4)),
       Check::kTooManyCertificates},
      {"attribute certificates count as members",
       WithCertificates(Cat({Repeat(Blob(20), 3), Tlv(0xa1, Octets(4))})),
       Check::kTooManyCertificates},
      {"certificate bytes at the cap", WithCertificates(Blob(400)),
       Check::kWithinLimits},
      {"one certificate byte over", WithCertificates(Blob(401)),
       Check::kCertificatesTooLarge},
      {"one CRL over", With(&Parts::crls, Repeat(Blob(20), 3)),
       Check::kTooManyCrls},
      {"CRL bytes at the cap", With(&Parts::crls, Blob(200)),
       Check::kWithinLimits},
      {"one CRL byte over", With(&Parts::crls, Blob(201)),
       Check::kCrlsTooLarge},
      {"signer infos at the cap",
       With(&Parts::signers, Repeat(SignerInfo({}, {}), 2)),
       Check::kWithinLimits},
      {"one signer info over",
       With(&Parts::signers, Repeat(SignerInfo({}, {}), 3)),
       Check::kTooManySetMembers},
      {"one digest algorithm over",
       With(&Parts::digest_algorithms, Repeat(kAlgorithm, 3)),
       Check::kTooManySetMembers},
      {"unauthenticated attributes at the cap", WithUnsigned(Repeat(value, 3)),
       Check::kWithinLimits},
      {"one unauthenticated attribute over", WithUnsigned(Repeat(value, 4)),
       Check::kTooManyAttributes},
      {"one authenticated attribute over", WithAuthenticated(Repeat(value, 4)),
       Check::kTooManyAttributes},
      {"values at the cap",
       WithUnsigned(Attribute(kOtherOid, Repeat(kNull, 3))),
       Check::kWithinLimits},
      {"one unauthenticated value over",
       WithUnsigned(Attribute(kOtherOid, Repeat(kNull, 4))),
       Check::kTooManyValues},
      {"one authenticated value over",
       WithAuthenticated(Attribute(kOtherOid, Repeat(kNull, 4))),
       Check::kTooManyValues},
      {"authenticated bytes at the cap",
       WithAuthenticated(AttributeOfSize(100)), Check::kWithinLimits},
      {"one authenticated byte over", WithAuthenticated(AttributeOfSize(101)),
       Check::kAuthenticatedAttributesTooLarge},
      {"token at the size cap", WithUnsigned(Attribute(kTokenOid, Blob(1000))),
       Check::kWithinLimits},
      {"token one byte over", WithUnsigned(Attribute(kTokenOid, Blob(1001))),
       Check::kTimestampTooLarge},
      {"counter-signature one byte over",
       WithUnsigned(Attribute(kCounterSignatureOid, Blob(1001))),
       Check::kTimestampTooLarge},
      {"other attributes have no size cap",
       WithUnsigned(Attribute(kOtherOid, Blob(1001))), Check::kWithinLimits},
      {"a token's certificates", WithUnsigned(token_with(4)),
       Check::kTooManyCertificates},
      {"a counter-signer's attributes",
       WithUnsigned(
           Attribute(kCounterSignatureOid, SignerInfo(Repeat(value, 4), {}))),
       Check::kTooManyAttributes},
      // Nothing decodes a nested signature: its value is not walked, however
      // far over the caps, and its indefinite lengths are followed to its
      // end. Only how many there are counts.
      {"a nested signature over the caps",
       WithUnsigned(Attribute(kNestedSignatureOid,
                              WithCertificates(Repeat(Blob(20), 4)))),
       Check::kWithinLimits},
      {"and one of indefinite lengths, followed by an attribute over a cap",
       WithUnsigned(Cat(
           {Attribute(kNestedSignatureOid,
                      IndefiniteSignedData(Cat({Repeat({0x30, 0x80}, 20),
                                                Repeat({0x00, 0x00}, 20)}))),
            Attribute(kOtherOid, Repeat(kNull, 4))})),
       Check::kTooManyValues},
      {"nested signatures over the values cap",
       WithUnsigned(Attribute(kNestedSignatureOid, Repeat(SignedData({}), 4))),
       Check::kTooManyValues},
      // A SignedData as the content of a SignedData: its caps apply too.
      {"a SignedData as content",
       With(&Parts::content, WithCertificates(Repeat(Blob(20), 4))),
       Check::kTooManyCertificates},
      {"depth at the cap", Nested(16), Check::kWithinLimits},
      {"one level deeper", Nested(17), Check::kTooDeep},
      {"DER in an OCTET STRING is a level", Tlv(0x04, Nested(16)),
       Check::kTooDeep},
      {"elements at the cap", Tlv(0x30, Repeat(kNull, 299)),
       Check::kWithinLimits},
      {"one element over", Tlv(0x30, Repeat(kNull, 300)),
       Check::kTooManyElements},
      {"elements in an OCTET STRING count",
       Tlv(0x04, Tlv(0x30, Repeat(kNull, 300))), Check::kTooManyElements},
      {"and in a BIT STRING",
       Tlv(0x03, Cat({{0x00}, Tlv(0x30, Repeat(kNull, 300))})),
       Check::kTooManyElements},
      {"only a string's first element is DER",
       Tlv(0x04, Cat({Seq({}), Repeat(kNull, 300)})), Check::kWithinLimits},
      {"a string that is not DER", Tlv(0x04, Cat({{0x30, 0x7f}, Octets(9)})),
       Check::kWithinLimits},
      {"indefinite lengths are followed",
       IndefiniteSignedData(Repeat(Blob(20), 4)), Check::kTooManyCertificates},
      {"and sizes checked at the end", IndefiniteSignedData(Blob(401)),
       Check::kCertificatesTooLarge},
      {"indefinite, within the caps", IndefiniteSignedData(Blob(400)),
       Check::kWithinLimits},
      {"a string in pieces inside a certificate",
       WithCertificates(Seq({Tlv(0x24, Octets(4))})),
       Check::kConstructedStringInCertificate},
      {"a string in pieces elsewhere",
       WithUnsigned(Attribute(kOtherOid, Tlv(0x24, Octets(4)))),
       Check::kWithinLimits},
      {"policies at the cap",
       WithCertificates(
           WithExtension(kPoliciesOid, Seq({policy, policy, policy}))),
       Check::kWithinLimits},
      {"one policy over",
       WithCertificates(
           WithExtension(kPoliciesOid, Tlv(0x30, Repeat(policy, 4)))),
       Check::kTooManyPolicies},
      {"one policy mapping over",
       WithCertificates(
           WithExtension({0x55, 0x1d, 0x21},
                         Tlv(0x30, Repeat(Seq({kOtherOid, kOtherOid}), 4)))),
       Check::kTooManyPolicyMappings},
      {"name subtrees at the cap",
       WithCertificates(WithExtension(kNameConstraintsOid,
                                      Seq({Tlv(0xa0, Repeat(subtree, 3)),
                                           Tlv(0xa1, Repeat(subtree, 3))}))),
       Check::kWithinLimits},
      {"one excluded subtree over",
       WithCertificates(WithExtension(kNameConstraintsOid,
                                      Seq({Tlv(0xa0, Repeat(subtree, 3)),
                                           Tlv(0xa1, Repeat(subtree, 4))}))),
       Check::kTooManyNameSubtrees},
      {"alternative names at the cap",
       WithCertificates(
           WithExtension({0x55, 0x1d, 0x11}, Tlv(0x30, Repeat(dns_name, 3)))),
       Check::kWithinLimits},
      {"one alternative name over",
       WithCertificates(
           WithExtension({0x55, 0x1d, 0x11}, Tlv(0x30, Repeat(dns_name, 4)))),
       Check::kTooManyAltNames},
      {"and under the legacy identifier",
       WithCertificates(
           WithExtension({0x55, 0x1d, 0x07}, Tlv(0x30, Repeat(dns_name, 4)))),
       Check::kTooManyAltNames},
      {"name entries at the cap",
       WithCertificates(Certificate(Repeat(rdn, 3), Repeat(rdn, 3), {}, {})),
       Check::kWithinLimits},
      {"one subject entry over",
       WithCertificates(Certificate({}, Repeat(rdn, 4), kPoliciesOid, {})),
       Check::kTooManyNameEntries},
      {"one issuer entry over, version 1",
       WithCertificates(Certificate(Repeat(rdn, 4), {}, {}, {})),
       Check::kTooManyNameEntries},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(CheckSignatureLimits(row.der.data(), row.der.size(), Small()),
              row.expected);
  }
}

// Bytes that are not DER are the decoder's to refuse; the walk must only
// stay inside them and stop.
TEST(DerLimitsTest, MalformedBytesAreLeftToTheDecoder) {
  const std::vector<Bytes> rows = {
      {},
      {0x30},
      {0x30, 0x05, 0x05, 0x00},                    // contents overrun
      {0x30, 0x84, 0xff, 0xff, 0xff, 0xff},        // length past the end
      {0x30, 0x89, 1, 0, 0, 0, 0, 0, 0, 0, 0},     // nine length octets
      {0x04, 0x80, 0x00, 0x00},                    // primitive, indefinite
      {0x30, 0x80, 0x05, 0x00},                    // no end-of-contents
      {0x3f, 0x80, 0x80},                          // tag never ends
      {0x3f, 0x8f, 0xff, 0xff, 0xff, 0x7f, 0x00},  // tag number too large
  };
  for (const Bytes& der : rows) {
    EXPECT_EQ(CheckSignatureLimits(der.data(), der.size()),
              Check::kWithinLimits);
  }
  // What OpenSSL reads is read: long tag numbers, zeros before a length.
  const Bytes long_forms =
      Tlv(0x30, Repeat(Bytes{0x1f, 0x81, 0x00, 0x82, 0x00, 0x00}, 400));
  EXPECT_EQ(CheckSignatureLimits(long_forms.data(), long_forms.size(), Small()),
            Check::kTooManyElements);
  // A million levels of nesting: refused at the cap, with no recursion.
  const Bytes deep =
      Cat({Repeat({0x30, 0x80}, 1000000), Repeat({0x00, 0x00}, 1000000)});
  EXPECT_EQ(CheckSignatureLimits(deep.data(), deep.size()), Check::kTooDeep);
}

// Every cap halved.
SignatureLimits Halved() {
  SignatureLimits l;
  for (size_t* cap :
       {&l.depth, &l.elements, &l.certificates, &l.certificate_bytes, &l.crls,
        &l.crl_bytes, &l.set_members, &l.attributes, &l.values,
        &l.authenticated_attribute_bytes, &l.timestamp_bytes, &l.policies,
        &l.policy_mappings, &l.name_subtrees, &l.alt_names, &l.name_entries}) {
    *cap /= 2;
  }
  return l;
}

// Every signed fixture, made the way real programs are signed (chains,
// timestamps, nested signatures, page hashes, constrained names), is well
// under every cap: within half of it, but those made at a cap (cap-*); the
// programs', read from their certificate tables. And
// every prefix of one is read without going past its end (the sanitizer
// build checks that).
TEST(DerLimitsTest, RealSignaturesAreWellUnderTheCaps) {
  const std::vector<SignedFixture> fixtures = SignedFixtures();
  EXPECT_GE(fixtures.size(), 20u);
  for (const SignedFixture& f : fixtures) {
    SCOPED_TRACE(f.name);
    if (f.name.rfind("cap-", 0) == 0 ||
        f.name.rfind(".exe") == std::string::npos) {
      continue;
    }
    const Bytes bytes = ReadFileBytes(FixturePath("files/" + f.name));
    MemoryByteSource source(bytes.data(), bytes.size());
    const SignatureEntry entry =
        ReadSignatureEntry(source, ParsePeImage(source).image);
    ASSERT_EQ(entry.status, SignatureStatus::kOk);
    EXPECT_EQ(
        CheckSignatureLimits(entry.pkcs7.data(), entry.pkcs7.size(), Halved()),
        Check::kWithinLimits);
    if (&f != &fixtures.front()) continue;
    // Each prefix in a buffer of its own size, where a read past its end
    // is one the sanitizers see.
    for (size_t n = 0; n < entry.pkcs7.size(); ++n) {
      const Bytes prefix(entry.pkcs7.begin(), entry.pkcs7.begin() + n);
      CheckSignatureLimits(prefix.data(), prefix.size());
    }
  }
}

}  // namespace
}  // namespace sealprobe
