#include "authenticode/authenticode.h"

#include <gtest/gtest.h>
#include <openssl/cms.h>
#include <openssl/pem.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "authenticode/file_byte_source.h"
#include "authenticode/openssl_ptr.h"
#include "testing/test_support.h"
#include "trust_status.h"

namespace sealprobe {

// For EXPECT_EQ: both codes must match, and a failure shows them in hex.
bool operator==(const TrustResult& a, const TrustResult& b) {
  return a.status == b.status && a.last_error == b.last_error;
}
void PrintTo(const TrustResult& r, std::ostream* out) {
  *out << std::hex << "{status 0x" << r.status << ", last error 0x"
       << r.last_error << "}";
}

namespace {

using Bytes = std::vector<uint8_t>;

// A fixture's bytes: OUT/files/`name` of make_fixtures.sh.
Bytes ReadFixture(const std::string& name) {
  return ReadFileBytes(FixturePath("files/" + name));
}

Verification VerifyBytes(const Bytes& bytes, TrustAnchors& anchors,
                         std::time_t now = std::time(nullptr)) {
  MemoryByteSource source(bytes.data(), bytes.size());
  return VerifyAuthenticode(source, anchors, now);
}

// OUT/pki/`name`, a PEM file, or a folder OUT/windows/... of Windows' root
// program when `name` starts with "windows/".
TrustAnchors Anchors(const std::string& name = "anchors.pem") {
  if (name.rfind("windows/", 0) == 0) {
    return TrustAnchors::WindowsRootProgram(FixturePath(name));
  }
  return TrustAnchors::FromFile(FixturePath("pki/" + name));
}

// The result of `code` when the last error is the same code, as it is for
// every status but the malformed signature's.
TrustResult Result(uint32_t code) { return {code, code}; }
const TrustResult kMalformed{status::kTrustNoSignature,
                             status::kCryptAsn1BadTag};

class AuthenticodeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(FixturePath("").empty()) << "SEALPROBE_FIXTURES is not set";
  }
  TrustAnchors anchors_ = Anchors();
};

// OUT/files/expected.txt lists every fixture with its status.
TEST_F(AuthenticodeTest, EveryFixtureGetsItsStatus) {
  std::ifstream list(FixturePath("files/expected.txt"));
  std::string name;
  std::string hex;
  int checked = 0;
  while (list >> name >> hex) {
    SCOPED_TRACE(name);
    const uint32_t expected = std::stoul(hex, nullptr, 16);
    const auto file = FileByteSource::Open(FixturePath("files/" + name));
    ASSERT_NE(file, nullptr);
    const Verification v = VerifyAuthenticode(*file, anchors_);
    EXPECT_EQ(v.result, Result(expected));
    EXPECT_EQ(v.rule == Rule::kValid, expected == 0);
    // The other signatures never change the file's.
    const std::vector<Verification> all =
        VerifyEverySignature(*file, anchors_, std::time(nullptr));
    EXPECT_EQ(all.at(0).result, v.result);
    EXPECT_EQ(all.at(0).rule, v.rule);
    ++checked;
  }
  EXPECT_GE(checked, 25);
}

// Our image hash against osslsigncode's, for every signed fixture whose
// verification gets as far as hashing: SHA-1 to SHA-512, PE32 and PE32+,
// files changed after signing included.
TEST_F(AuthenticodeTest, ImageHashMatchesOsslsigncode) {
  const std::vector<SignedFixture> fixtures = SignedFixtures();
  size_t hashed = 0;
  for (const SignedFixture& f : fixtures) {
    SCOPED_TRACE(f.name);
    const Verification v = VerifyBytes(ReadFixture(f.name), anchors_);
    if (!v.image_hash) continue;
    std::ostringstream ours;
    for (const uint8_t b : *v.image_hash) {
      static const char kHex[] = "0123456789ABCDEF";
      ours << kHex[b >> 4] << kHex[b & 15];
    }
    EXPECT_EQ(ours.str(), f.hash);
    ++hashed;
  }
  EXPECT_GE(hashed, 20u);
}

// Each signature of a file judged alone, the primary first: nested ones,
// then those of later table entries.
TEST_F(AuthenticodeTest, EverySignatureOfAFile) {
  struct Judged {
    TrustResult result;
    SignatureLimitCheck cap = SignatureLimitCheck::kWithinLimits;
  };
  const Judged kValid{Result(0)};
  const Judged kUntrusted{Result(status::kCertUntrustedRoot)};
  const struct {
    const char* file;
    std::vector<Judged> expected;
  } kCases[] = {
      {"no such file.exe", {{Result(status::kCryptFileError)}}},
      {"notpe.txt", {{Result(status::kTrustSubjectFormUnknown)}}},
      {"valid.exe", {kValid}},
      {"msi-nested.msi", {kValid, kValid}},
      {"tampered.exe", {{Result(status::kTrustBadDigest)}}},
      {"dual-signed.exe", {kValid, kValid}},
      {"nested.exe", {kValid, kUntrusted}},
      {"attrcert-nested-64k.exe", {kValid, kValid}},
      // A nested signature over a cap is a bad signature, not a bad file.
      {"nested-overcap.exe",
       {kValid, {kMalformed, SignatureLimitCheck::kTooManyCertificates}}},
      {"later-entries.exe", {kValid, kValid, kUntrusted}},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.file);
    const std::vector<Verification> all =
        VerifyEverySignatureFile(FixturePath("files/") + c.file, anchors_);
    ASSERT_EQ(all.size(), c.expected.size());
    for (size_t i = 0; i < all.size(); ++i) {
      SCOPED_TRACE(i);
      EXPECT_EQ(all[i].result, c.expected[i].result);
      EXPECT_EQ(all[i].signature ? all[i].signature->cap
                                 : SignatureLimitCheck::kWithinLimits,
                c.expected[i].cap);
    }
  }
}

// What a file is, and what its signature's container holds after it.
// Bytes after a PE's PKCS#7 and its padding change nothing (Windows calls
// such a file signed); after an installer's they fail closed (see
// make_fixtures.sh). The statuses of the others are EveryFixtureGetsItsStatus'.
TEST_F(AuthenticodeTest, FormatsAndBytesAfterTheSignature) {
  const std::optional<uint64_t> kNone;
  const struct {
    const char* file;
    SubjectFormat format;
    Rule rule;
    std::optional<uint64_t> after;
  } kCases[] = {
      {"notpe.txt", SubjectFormat::kUnknown, Rule::kNotPe, kNone},
      {"valid.exe", SubjectFormat::kPe, Rule::kValid, 0},
      {"trailing.exe", SubjectFormat::kPe, Rule::kValid, 16},
      {"notinstaller.doc", SubjectFormat::kCompoundFile, Rule::kNotInstaller,
       kNone},
      {"msi-unsigned.msi", SubjectFormat::kInstaller, Rule::kNoSignature,
       kNone},
      {"msi-dse.msi", SubjectFormat::kInstaller, Rule::kValid, 0},
      {"msi-trailing.msi", SubjectFormat::kInstaller, Rule::kMalformedSignature,
       8},
      {"msi-tampered.msi", SubjectFormat::kInstaller, Rule::kImageHashMismatch,
       0},
      {"msi-dse-renamed-kept.msi", SubjectFormat::kInstaller,
       Rule::kMetadataHashMismatch, 0},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.file);
    const Verification v = VerifyBytes(ReadFixture(c.file), anchors_);
    EXPECT_EQ(v.format, c.format);
    EXPECT_EQ(v.rule, c.rule);
    EXPECT_EQ(v.bytes_after_signature, c.after);
  }
  const Verification trailing =
      VerifyBytes(ReadFixture("msi-trailing.msi"), anchors_);
  EXPECT_EQ(trailing.result, kMalformed);
  EXPECT_EQ(trailing.signature->fault, SignatureFault::kBytesAfterSignature);
}

// Offset of the first (`nth` = 0) or a later occurrence of `needle`.
size_t Find(const Bytes& hay, const Bytes& needle, int nth = 0) {
  auto at = hay.begin();
  for (;;) {
    at = std::search(at, hay.end(), needle.begin(), needle.end());
    if (at == hay.end() || nth-- == 0) break;
    ++at;
  }
  EXPECT_NE(at, hay.end());
  return static_cast<size_t>(at - hay.begin());
}

struct SignedFile {
  Bytes bytes;
  PeImage image;
  size_t der_size = 0;  // of the SignedData, padding left out
  size_t der() const { return image.cert_table_offset + 8; }
  ossl::Pkcs7Ptr Decode() const {
    const unsigned char* p = bytes.data() + der();
    return ossl::Pkcs7Ptr(d2i_PKCS7(nullptr, &p, static_cast<long>(der_size)));
  }
};

SignedFile LoadSigned(const std::string& name) {
  SignedFile file{ReadFixture(name), {}, 0};
  MemoryByteSource source(file.bytes.data(), file.bytes.size());
  file.image = ParsePeImage(source).image;
  const unsigned char* p = file.bytes.data() + file.der();
  const ossl::Pkcs7Ptr pkcs7(d2i_PKCS7(
      nullptr, &p, static_cast<long>(file.bytes.size() - file.der())));
  EXPECT_TRUE(pkcs7);
  file.der_size = static_cast<size_t>(p - (file.bytes.data() + file.der()));
  return file;
}

void Put32(Bytes& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

// Grows the certificate table by `extra` bytes at the end of the file,
// and the first entry with it when `in_entry`.
void GrowTable(SignedFile& f, const Bytes& extra, bool in_entry) {
  f.bytes.insert(f.bytes.end(), extra.begin(), extra.end());
  const uint32_t grow = static_cast<uint32_t>(extra.size());
  Put32(f.bytes, f.image.cert_entry_offset + 4, f.image.cert_table_size + grow);
  if (in_entry) {
    const size_t at = f.image.cert_table_offset;
    uint32_t length = 0;
    for (int i = 3; i >= 0; --i) length = length << 8 | f.bytes[at + i];
    Put32(f.bytes, at, length + grow);
  }
}

template <typename T, typename Read>
T* ReadPem(const std::string& name, Read read) {
  const ossl::BioPtr pem(BIO_new_file(FixturePath("pki/" + name).c_str(), "r"));
  return read(pem.get(), nullptr, nullptr, nullptr);
}

const Bytes kSha256Oid = {0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x02, 0x01};
const Bytes kRsaEncryptionOid = {0x2a, 0x86, 0x48, 0x86, 0xf7,
                                 0x0d, 0x01, 0x01, 0x01};
const Bytes kIndirectDataOid = {0x2b, 0x06, 0x01, 0x04, 0x01,
                                0x82, 0x37, 0x02, 0x01, 0x04};
// root.crt's common name, which leaf.crt's issuer and the SignerInfo carry.
const Bytes kRootName = {'S', 'e', 'a', 'l', 'P', 'r', 'o', 'b', 'e', ' ',
                         'T', 'e', 's', 't', ' ', 'R', 'o', 'o', 't'};
constexpr uint8_t kUtf8String = 0x0c;
constexpr uint8_t kPrintableString = 0x13;

// `file` with its signature replaced by `object`, encoded by `encode` (an
// i2d function).
template <typename T>
Bytes WithSignature(const SignedFile& file, const T* object,
                    int (*encode)(const T*, unsigned char**)) {
  unsigned char* der = nullptr;
  const int size = encode(object, &der);
  const ossl::OpenSslBuffer owned(der);
  Bytes bytes(file.bytes.begin(), file.bytes.begin() + file.der());
  bytes.insert(bytes.end(), der, der + size);
  bytes.resize(file.der() + ((size + 7) & ~7));
  Put32(bytes, file.image.cert_table_offset, 8 + size);
  Put32(bytes, file.image.cert_entry_offset + 4,
        static_cast<uint32_t>(bytes.size() - file.image.cert_table_offset));
  return bytes;
}

// `file` with its signer's unsigned attributes (its timestamp) taken from
// the signer of the fixture `donor`, which signs other content.
Bytes WithUnsignedAttributesOf(const SignedFile& file,
                               const std::string& donor) {
  const ossl::Pkcs7Ptr target = file.Decode();
  const ossl::Pkcs7Ptr source = LoadSigned(donor).Decode();
  PKCS7_SIGNER_INFO* to =
      sk_PKCS7_SIGNER_INFO_value(PKCS7_get_signer_info(target.get()), 0);
  const PKCS7_SIGNER_INFO* from =
      sk_PKCS7_SIGNER_INFO_value(PKCS7_get_signer_info(source.get()), 0);
  sk_X509_ATTRIBUTE_pop_free(to->unauth_attr, X509_ATTRIBUTE_free);
  to->unauth_attr = sk_X509_ATTRIBUTE_deep_copy(
      from->unauth_attr, X509_ATTRIBUTE_dup, X509_ATTRIBUTE_free);
  return WithSignature(file, target.get(), i2d_PKCS7);
}

// Changes to a signature, each caught where Windows catches it.
TEST_F(AuthenticodeTest, DamagedSignatures) {
  struct Case {
    const char* name;
    std::function<void(SignedFile&)> damage;
    TrustResult expected;
    const char* file = "valid.exe";
    // For a malformed signature: why, and which cap.
    SignatureFault fault = SignatureFault::kNone;
    SignatureLimitCheck cap = SignatureLimitCheck::kWithinLimits;
  };
  // Changes `plus` octets into the `nth` occurrence of `pattern`.
  const auto set = [](const Bytes& pattern, int nth, size_t plus, uint8_t to) {
    return [=](SignedFile& f) {
      f.bytes[Find(f.bytes, pattern, nth) + plus] = to;
    };
  };
  const auto flip = [](const Bytes& pattern, int nth, size_t plus,
                       uint8_t bits = 0x01) {
    return [=](SignedFile& f) {
      f.bytes[Find(f.bytes, pattern, nth) + plus] ^= bits;
    };
  };
  // A byte of the signature value, the last element of the SignedData.
  const auto flip_last_signature = [](SignedFile& f) {
    f.bytes[f.der() + f.der_size - 10] ^= 0x01;
  };
  // The signer's serial number: in its certificate, then in the SignerInfo.
  const ossl::X509Ptr leaf(ReadPem<X509>("leaf.crt", PEM_read_bio_X509));
  const ASN1_INTEGER* serial = X509_get0_serialNumber(leaf.get());
  const Bytes serial_bytes(serial->data, serial->data + serial->length);
  const std::vector<Case> cases = {
      {"not DER at all", [&](SignedFile& f) { f.bytes[f.der()] = 0x04; },
       kMalformed, "valid.exe", SignatureFault::kNotSignedData},
      {"content type other than SpcIndirectDataContent",
       flip(kIndirectDataOid, 0, kIndirectDataOid.size() - 1), kMalformed,
       "valid.exe", SignatureFault::kNotIndirectData},
      // Checked before anything decodes it, and named.
      {"65 certificates",
       [&](SignedFile& f) {
         const ossl::Pkcs7Ptr pkcs7 = f.Decode();
         for (int i = 0; i < 64; ++i)
           PKCS7_add_certificate(pkcs7.get(), leaf.get());
         f.bytes = WithSignature(f, pkcs7.get(), i2d_PKCS7);
       },
       kMalformed, "valid.exe", SignatureFault::kOverCap,
       SignatureLimitCheck::kTooManyCertificates},
      // digestAlgorithms set, then DigestInfo, then the signer's algorithm.
      {"image digest SHA-224", set(kSha256Oid, 1, 8, 4),
       Result(status::kNteBadAlgId)},
      {"signer digest SHA-224", set(kSha256Oid, 2, 8, 4),
       Result(status::kNteBadAlgId)},
      // The leaf's key, then the signer's signature algorithm.
      {"signer's signature algorithm sha256WithRSAEncryption",
       set(kRsaEncryptionOid, 1, 8, 0x0b), Result(0)},
      {"signer's signature algorithm RSASSA-PSS for a PKCS#1 key",
       set(kRsaEncryptionOid, 1, 8, 0x0a), Result(status::kNteBadAlgId)},
      {"signer's signature algorithm unknown",
       set(kRsaEncryptionOid, 1, 8, 0x7f), Result(status::kNteBadAlgId)},
      {"signature value", flip_last_signature, Result(status::kTrustBadDigest)},
      {"signed image hash", flip(kSha256Oid, 1, kSha256Oid.size() + 6),
       Result(status::kTrustBadDigest)},
      {"signer names a certificate not included", flip(serial_bytes, 1, 2),
       Result(status::kTrustNoSignerCert)},
      {"checksum, not hashed",
       [&](SignedFile& f) { f.bytes[f.image.checksum_offset] ^= 0x01; },
       Result(0)},
      {"padding after the SignedData",
       [&](SignedFile& f) { GrowTable(f, Bytes(16, 0xAA), true); }, Result(0)},
      {"a second table entry",
       [&](SignedFile& f) {
         GrowTable(f, {16, 0, 0, 0, 0, 2, 1, 0, 1, 2, 3, 4, 5, 6, 7, 8}, false);
       },
       Result(0)},
      {"a byte after the table", [&](SignedFile& f) { f.bytes.push_back(0); },
       Result(status::kTrustNoSignature)},
      // A timestamp that is there has to verify, here where the signer has
      // expired since (expired-ts.exe): "The time stamp signer and or
      // certificate could not be verified or is malformed",
      // TRUST_E_TIME_STAMP (TRUST Error Codes,
      // learn.microsoft.com/en-us/previous-versions/aa915318). The token
      // ends the SignedData.
      {"timestamp token's signature value", flip_last_signature,
       Result(status::kTrustTimeStamp), "expired-ts.exe"},
      {"timestamp token imprinting another file's signature",
       [&](SignedFile& f) {
         f.bytes = WithUnsignedAttributesOf(f, "expired-ts32.exe");
       },
       Result(status::kTrustTimeStamp), "expired-ts.exe"},

      // -- The signer is found as Windows finds it --
      // The SignerInfo names its certificate by issuer and serial number,
      // and Windows looks it up with CertGetSubjectCertificateFromStore,
      // whose CertCompareCertificateName compares the encoded names octet
      // for octet: Wine's dlls/crypt32/tests/cert.c (testCompareCertName:
      // "It doesn't have to be a valid encoded name", "Leading zeroes
      // matter", "As do trailing extra bytes"; testCompareCert), which run
      // on Windows. The issuer is not signed, so these still verify.
      {"signer's issuer in another letter case", flip(kRootName, 1, 0, 0x20),
       Result(status::kTrustNoSignerCert)},
      {"signer's issuer in another string type",
       [&](SignedFile& f) {
         uint8_t& type = f.bytes[Find(f.bytes, kRootName, 1) - 2];
         type = type == kUtf8String ? kPrintableString : kUtf8String;
       },
       Result(status::kTrustNoSignerCert)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SignedFile file = LoadSigned(c.file);
    c.damage(file);
    const Verification v = VerifyBytes(file.bytes, anchors_);
    EXPECT_EQ(v.result, c.expected);
    EXPECT_EQ(v.signature ? v.signature->fault : SignatureFault::kNone,
              c.fault);
    EXPECT_EQ(
        v.signature ? v.signature->cap : SignatureLimitCheck::kWithinLimits,
        c.cap);
  }
}

// A source over another that runs `hook` on the first piece of the first
// stream over 1 MiB, an image's bulk; the hook returns false to stop there.
class HookedSource final : public ByteSource {
 public:
  HookedSource(ByteSource& inner, std::function<bool()> hook)
      : inner_(inner), hook_(std::move(hook)) {}
  uint64_t size() const override { return inner_.size(); }
  bool ReadAt(uint64_t offset, uint8_t* out, size_t length) override {
    return inner_.ReadAt(offset, out, length);
  }
  bool Stream(uint64_t offset, uint64_t length,
              const ChunkSink& sink) override {
    bool first = length > (1u << 20) && !std::exchange(hooked_, true);
    return inner_.Stream(offset, length, [&](const uint8_t* data, size_t n) {
      return (!std::exchange(first, false) || hook_()) && sink(data, n);
    });
  }

 private:
  ByteSource& inner_;
  std::function<bool()> hook_;
  bool hooked_ = false;
};

// valid.exe grown by `pad` bytes before its table, no two 64 KiB of them
// alike, read from a file that is cut while it is hashed: after the first
// piece, when a stream read ahead (4 MiB or more) has only a few blocks in
// hand, so the rest is gone whatever the threads' timing.
TEST_F(AuthenticodeTest, FileCutWhileItIsHashed) {
  constexpr size_t kMiB = size_t{1} << 20;
  const struct {
    const char* name;
    size_t pad;
    std::optional<size_t> cut_to;
    bool stop = false;  // the sink stops the stream instead
  } kCases[] = {
      {"read ahead, not cut", 12 * kMiB, std::nullopt},
      {"read ahead, emptied", 12 * kMiB, 0},
      {"read ahead, cut in the middle", 12 * kMiB, 6 * kMiB + 1},
      // In the last block: valid.exe's table starts past 8 KiB.
      {"read ahead, cut at the end", 12 * kMiB, 12 * kMiB + 8192},
      {"read ahead, the sink stops", 12 * kMiB, std::nullopt, true},
      {"in line, cut", 3 * kMiB, kMiB},
  };
  const TempFolder dir;
  const std::string path = dir / "big.exe";
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    SignedFile f = LoadSigned("valid.exe");
    Bytes pad(c.pad);
    for (size_t i = 0; i < c.pad; ++i)
      pad[i] = static_cast<uint8_t>(i + (i >> 16));
    f.bytes.insert(f.bytes.begin() + f.image.cert_table_offset, pad.begin(),
                   pad.end());
    Put32(f.bytes, f.image.cert_entry_offset,
          static_cast<uint32_t>(f.image.cert_table_offset + c.pad));
    ASSERT_TRUE(WriteFileBytes(
        path, {reinterpret_cast<const char*>(f.bytes.data()), f.bytes.size()}));
    const auto file = FileByteSource::Open(path);
    ASSERT_NE(file, nullptr);
    HookedSource source(*file, [&] {
      if (c.cut_to) std::filesystem::resize_file(path, *c.cut_to);
      return !c.stop;
    });
    const Verification v = VerifyAuthenticode(source, anchors_, 0);
    const bool whole = !c.cut_to && !c.stop;
    EXPECT_EQ(v.result, Result(whole ? status::kTrustBadDigest
                                     : status::kCryptFileError));
    if (whole) {  // the same bytes in the same order as from memory
      EXPECT_EQ(v.image_hash, VerifyBytes(f.bytes, anchors_).image_hash);
    }
  }
}

// Fixtures checked at another time, or against other anchors, than in
// EveryFixtureGetsItsStatus.
TEST_F(AuthenticodeTest, OtherTimesAndAnchors) {
  const std::time_t now = std::time(nullptr);
  const std::time_t y2040 = 2208988800;  // after leaf.crt expires
  const struct {
    const char* file;
    std::time_t now;
    const char* anchors;
    uint32_t expected;
  } kCases[] = {
      {"valid.exe", y2040, "anchors.pem", status::kCertExpired},
      // Timestamped while old.crt was valid: the present does not matter.
      {"expired-ts.exe", y2040, "anchors.pem", 0},
      // A certificate signature that does not verify outranks expiry (Wine
      // dlls/crypt32/tests/chain.c: chain1, not time valid and not
      // signature valid, is TRUST_E_CERT_SIGNATURE in
      // authenticodePolicyCheck).
      {"badsig.exe", y2040, "anchors.pem", status::kTrustCertSignature},
      // Trust settings on the anchor itself: a rejection is explicit
      // distrust; trust for other uses only is the wrong usage.
      {"valid.exe", now, "root-reject.pem", status::kTrustExplicitDistrust},
      {"valid.exe", now, "root-serveronly.pem", status::kCertWrongUsage},

      // -- Windows' root program (make_fixtures.sh: OUT/windows) --
      // Its roots, as the root list names them: listed roots whose bodies
      // are in the folder (as <SHA1>.crt, in a store), or carried by the
      // signature (intermediate.exe's chain is root's, stranger.exe's
      // root is not listed).
      {"valid.exe", now, "windows/program", 0},
      {"intermediate.exe", now, "windows/program", 0},
      {"expired-ts.exe", now, "windows/program", 0},
      {"stranger.exe", now, "windows/program", status::kCertUntrustedRoot},
      // A listed root the folder lacks anchors only the signature that
      // carries it.
      {"carries-root.exe", now, "windows/bare", 0},
      {"valid.exe", now, "windows/bare", status::kCertChaining},
      // A certificate in the Disallowed list, the end certificate too:
      // "effectively revokes the certificate" (Deprecation Definitions,
      // learn.microsoft.com/en-us/security/trusted-root/deprecation).
      {"distrusted.exe", now, "windows/program",
       status::kTrustExplicitDistrust},
      // The EKU property restricts the root to its uses: "EKU Removal ...
      // can no longer utilize the removed EKU" (Deprecation Definitions);
      // a certificate "is valid only for the uses that are on both lists"
      // of its extension and property (CertGetEnhancedKeyUsage, remarks,
      // learn.microsoft.com). A root for server authentication only:
      {"valid.exe", now, "windows/eku-tls", status::kCertWrongUsage},
      // NotBefore: "Certificates issued AFTER the NotBefore date will no
      // longer be trusted" (Deprecation Definitions). Issued before it (a
      // date in 2100, windows/program above) they are. Which status
      // Windows gives is not documented: for the whole root, as if it
      // were removed (CERT_E_UNTRUSTEDROOT); narrowed to code signing, as
      // if that use were (CERT_E_WRONG_USAGE).
      {"valid.exe", now, "windows/notbefore", status::kCertUntrustedRoot},
      {"expired-ts.exe", now, "windows/notbefore", status::kCertWrongUsage},
      // Disable: "digital signatures with a timestamp prior to the disable
      // date will continue to validate" (Deprecation Definitions): stamped
      // in 2020, before a 2021 date, valid; without a stamp, judged now,
      // not. The statuses as for NotBefore.
      {"expired-ts.exe", now, "windows/disable", 0},
      {"valid.exe", now, "windows/disable", status::kCertUntrustedRoot},
      {"expired-ts.exe", now, "windows/eku-tls", status::kCertWrongUsage},
      // Two paths up, and Windows keeps the better: CAPI2 "tries to select
      // the best quality chain", which "may not be the shortest chain
      // found" ("Certificate path validation in Bridge CA and cross
      // certification", Microsoft Tech Community). cross.exe carries
      // xroot's certificate issued by root besides xroot itself.
      {"cross.exe", now, "windows/cross", 0},
      {"cross-direct.exe", now, "windows/cross", status::kCertWrongUsage},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(testing::Message()
                 << c.file << " at " << c.now << " under " << c.anchors);
    TrustAnchors anchors = Anchors(c.anchors);
    EXPECT_EQ(VerifyBytes(ReadFixture(c.file), anchors, c.now).result,
              Result(c.expected));
  }
  // And OUT/windows/expected.txt's rows: folder, file, status, now.
  std::ifstream list(FixturePath("windows/expected.txt"));
  std::string folder;
  std::string file;
  std::string hex;
  int checked = 0;
  while (list >> folder >> file >> hex) {
    SCOPED_TRACE(file + " under windows/" + folder);
    TrustAnchors anchors = Anchors("windows/" + folder);
    EXPECT_EQ(VerifyBytes(ReadFixture(file), anchors, now).result,
              Result(std::stoul(hex, nullptr, 16)));
    ++checked;
  }
  EXPECT_GE(checked, 8);
}

TEST_F(AuthenticodeTest, LoadsTheAnchorsOnlyForAChain) {
  TrustAnchors anchors = Anchors();
  for (const char* name : {"notpe.txt", "unsigned.exe", "tampered.exe"}) {
    VerifyBytes(ReadFixture(name), anchors);
    EXPECT_FALSE(anchors.loaded()) << name;
  }
  VerifyBytes(ReadFixture("valid.exe"), anchors);
  EXPECT_TRUE(anchors.loaded());
}

template <typename T, void (*kFree)(T*)>
struct Free {
  void operator()(T* p) const { kFree(p); }
};
using Asn1StringPtr =
    std::unique_ptr<ASN1_STRING, Free<ASN1_STRING, ASN1_STRING_free>>;
using AttributePtr =
    std::unique_ptr<X509_ATTRIBUTE, Free<X509_ATTRIBUTE, X509_ATTRIBUTE_free>>;

struct CounterSigner {
  std::time_t when;
  bool covers_signature;  // false: signs all but the last byte of it
  std::string tsa_name = "tsa";
  // SHA-1 makes the counter-signature shorter, and DER puts the shorter
  // first in the set of attributes.
  const EVP_MD* (*digest)() = EVP_sha256;
};

// PKCS#9 counter-signatures: osslsigncode makes them only online, so this
// adds them to expired.exe, each in an attribute of its own, in order.
Bytes WithCounterSignatures(const std::vector<CounterSigner>& counters) {
  SignedFile file = LoadSigned("expired.exe");
  const ossl::Pkcs7Ptr pkcs7 = file.Decode();
  PKCS7_SIGNER_INFO* signer =
      sk_PKCS7_SIGNER_INFO_value(PKCS7_get_signer_info(pkcs7.get()), 0);
  for (const CounterSigner& c : counters) {
    const ossl::X509Ptr tsa(
        ReadPem<X509>(c.tsa_name + ".crt", PEM_read_bio_X509));
    const ossl::EvpPkeyPtr key(
        ReadPem<EVP_PKEY>(c.tsa_name + ".key", PEM_read_bio_PrivateKey));
    const ossl::Pkcs7SignerInfoPtr counter(PKCS7_SIGNER_INFO_new());
    EXPECT_EQ(
        PKCS7_SIGNER_INFO_set(counter.get(), tsa.get(), key.get(), c.digest()),
        1);
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned size = 0;
    const ASN1_OCTET_STRING* stamped = signer->enc_digest;
    EVP_Digest(
        stamped->data,
        static_cast<size_t>(stamped->length) - (c.covers_signature ? 0 : 1),
        digest, &size, EVP_sha256(), nullptr);
    // Each value passes to what it is added to, once it is added.
    Asn1StringPtr message_digest(ASN1_OCTET_STRING_new());
    ASN1_OCTET_STRING_set(message_digest.get(), digest, static_cast<int>(size));
    if (PKCS7_add_signed_attribute(counter.get(), NID_pkcs9_messageDigest,
                                   V_ASN1_OCTET_STRING,
                                   message_digest.get()) == 1) {
      message_digest.release();
    }
    Asn1StringPtr signing_time(ASN1_UTCTIME_set(nullptr, c.when));
    if (PKCS7_add_signed_attribute(counter.get(), NID_pkcs9_signingTime,
                                   V_ASN1_UTCTIME, signing_time.get()) == 1) {
      signing_time.release();
    }
    EXPECT_EQ(PKCS7_SIGNER_INFO_sign(counter.get()), 1);
    unsigned char* der = nullptr;
    const int der_size = i2d_PKCS7_SIGNER_INFO(counter.get(), &der);
    const ossl::OpenSslBuffer owned(der);
    Asn1StringPtr sequence(ASN1_STRING_type_new(V_ASN1_SEQUENCE));
    ASN1_STRING_set(sequence.get(), der, der_size);
    AttributePtr attribute(X509_ATTRIBUTE_create(
        NID_pkcs9_countersignature, V_ASN1_SEQUENCE, sequence.get()));
    if (attribute) sequence.release();
    // An attribute of its own: PKCS7_add_attribute would replace the last.
    if (signer->unauth_attr == nullptr) {
      signer->unauth_attr = sk_X509_ATTRIBUTE_new_null();
    }
    if (sk_X509_ATTRIBUTE_push(signer->unauth_attr, attribute.get()) > 0) {
      attribute.release();
    }
    PKCS7_add_certificate(pkcs7.get(), tsa.get());
  }
  return WithSignature(file, pkcs7.get(), i2d_PKCS7);
}

TEST_F(AuthenticodeTest, LegacyCounterSignature) {
  const std::time_t in_2020 = 1590969600;  // old.crt: 2019 to 2021
  const std::time_t in_2022 = 1654041600;
  const struct {
    const char* name;
    std::vector<CounterSigner> counters;
    uint32_t expected;
  } kCases[] = {
      {"stamped while valid", {{in_2020, true}}, 0},
      // A good stamp, at a time the signer's certificate was not valid:
      // CERT_E_EXPIRED, "not within its validity period when verifying
      // against the current system clock or the timestamp in the signed
      // file" (Error Messages (Winhttp.h), ERROR_WINHTTP_SECURE_CERT_DATE_
      // INVALID, learn.microsoft.com).
      {"stamped after expiry", {{in_2022, true}}, status::kCertExpired},
      // A stamp that is there has to verify: TRUST_E_TIME_STAMP, "The time
      // stamp signer and or certificate could not be verified or is
      // malformed" (TRUST Error Codes,
      // learn.microsoft.com/en-us/previous-versions/aa915318).
      {"stamp over other bytes", {{in_2020, false}}, status::kTrustTimeStamp},
      // A counter-signer without the time-stamping usage is no authority.
      {"stamp by a non-authority",
       {{in_2020, true, "old"}},
       status::kTrustTimeStamp},
      {"stamp by an authority the store does not trust",
       {{in_2020, true, "tsa-stranger"}},
       status::kTrustTimeStamp},
      // Anyone can add unsigned attributes: only the first stamp counts, so
      // a pile of them costs one check, not one each.
      {"good stamp behind a bad one",
       {{in_2020, true}, {in_2020, false, "tsa", EVP_sha1}},
       status::kTrustTimeStamp},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(VerifyBytes(WithCounterSignatures(c.counters), anchors_).result,
              Result(c.expected));
  }
}

// valid.exe's content signed again by the leaf through CMS, which encodes
// the content in an OCTET STRING; `extra_flags` shape the signer.
Bytes ResignedWithCms(int extra_flags) {
  const SignedFile file = LoadSigned("valid.exe");
  const ossl::Pkcs7Ptr original = file.Decode();
  const ASN1_STRING* content =
      original->d.sign->contents->d.other->value.sequence;
  const ossl::X509Ptr leaf(ReadPem<X509>("leaf.crt", PEM_read_bio_X509));
  const ossl::EvpPkeyPtr key(
      ReadPem<EVP_PKEY>("leaf.key", PEM_read_bio_PrivateKey));
  const ossl::BioPtr data(BIO_new_mem_buf(content->data, content->length));
  const int flags = CMS_BINARY | CMS_PARTIAL | CMS_NOSMIMECAP | extra_flags;
  const ossl::CmsPtr cms(
      CMS_sign(leaf.get(), key.get(), nullptr, nullptr, flags));
  EXPECT_TRUE(cms);
  if (!cms) return {};
  const ossl::Asn1ObjectPtr type(OBJ_txt2obj("1.3.6.1.4.1.311.2.1.4", 1));
  EXPECT_EQ(CMS_set1_eContentType(cms.get(), type.get()), 1);
  EXPECT_EQ(CMS_final(cms.get(), data.get(), nullptr, flags), 1);
  return WithSignature(file, cms.get(), i2d_CMS_ContentInfo);
}

// Offset of the SignedData's version number (one octet) in a signed file.
size_t VersionOffset(const Bytes& bytes, size_t signature) {
  const unsigned char* p = bytes.data() + signature;
  const unsigned char* const end = bytes.data() + bytes.size();
  long length = 0;
  int tag = 0;
  int tag_class = 0;
  // ContentInfo, its content type (skipped), [0], SignedData, version.
  for (const bool skip : {false, true, false, false, false}) {
    ASN1_get_object(&p, &length, &tag, &tag_class, end - p);
    if (skip) p += length;
  }
  EXPECT_EQ(tag, V_ASN1_INTEGER);
  EXPECT_EQ(length, 1);
  return static_cast<size_t>(p - bytes.data());
}

Bytes WithVersion(Bytes bytes, uint8_t version) {
  const size_t signature = LoadSigned("valid.exe").der();
  bytes[VersionOffset(bytes, signature)] = version;
  return bytes;
}

// The content is the shape Windows accepts for the SignedData's version,
// which no signature covers. PKCS#7 (version 1) puts content other than
// data in [0] as it is, the SpcIndirectDataContent SEQUENCE: so the
// Authenticode format document (Authenticode_PE.docx, "SignedData": version
// "must be set to 1", content "must be set to an SpcIndirectDataContent
// structure"), and CryptMsgOpenToEncode's documentation, where only
// CMSG_CMS_ENCAPSULATED_CONTENT_FLAG wraps non-data content in an OCTET
// STRING. Windows' message layer hands that content to the
// SpcIndirectDataContent decoder, and an OCTET STRING is the wrong tag
// there (CRYPT_E_ASN1_BADTAG). CMS (version 3, RFC 5652) always wraps it:
// signtool verifies such signatures and Windows installs their programs
// without a warning (field reports on install4j's signer,
// mtrojnar/osslsigncode#504 and #505, google/authenticode-rs#272), so that
// pair stands. Nothing public shows Windows accepting other versions or the
// other pairings; they are refused.
TEST_F(AuthenticodeTest, ContentShapeFollowsTheVersion) {
  const Bytes bare = ReadFixture("valid.exe");  // version 1
  const Bytes wrapped = ResignedWithCms(0);     // version 3
  const struct {
    const char* name;
    Bytes file;
    TrustResult expected;
    SignatureFault fault = SignatureFault::kContentShape;
  } kCases[] = {
      {"version 1, bare", bare, Result(0), SignatureFault::kNone},
      // The messageDigest attribute then covers the whole
      // SpcIndirectDataContent.
      {"version 3, in an OCTET STRING", wrapped, Result(0),
       SignatureFault::kNone},
      {"version 1, in an OCTET STRING", WithVersion(wrapped, 1), kMalformed},
      {"version 3, bare", WithVersion(bare, 3), kMalformed},
      {"version 0", WithVersion(bare, 0), kMalformed},
      {"version 2", WithVersion(bare, 2), kMalformed},
      {"version 4", WithVersion(wrapped, 4), kMalformed},
      {"version 5", WithVersion(wrapped, 5), kMalformed},
      // A CMS signer named by subject key identifier (SignerInfo version
      // 3). Windows' message layer reads one (Wine's
      // dlls/crypt32/tests/msg.c, signedKeyIdEmptyContent), but the
      // Authenticode format document names the signer by issuer and serial
      // number and nothing public shows WinVerifyTrust accepting another:
      // the decoder refuses it, as before.
      {"signer named by key identifier", ResignedWithCms(CMS_USE_KEYID),
       kMalformed, SignatureFault::kNotSignedData},
      // A signature straight over the content, with no signed attributes
      // naming it, could stand for any content: not an Authenticode
      // signature.
      {"signer without authenticated attributes", ResignedWithCms(CMS_NOATTR),
       kMalformed, SignatureFault::kContentTypeNotSigned},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    const Verification v = VerifyBytes(c.file, anchors_);
    EXPECT_EQ(v.result, c.expected);
    EXPECT_EQ(v.signature->fault, c.fault);
  }
}

}  // namespace
}  // namespace sealprobe
