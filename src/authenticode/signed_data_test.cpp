#include "authenticode/signed_data.h"

#include <gtest/gtest.h>
#include <openssl/pkcs7.h>

#include <utility>
#include <vector>

#include "authenticode/openssl_ptr.h"
#include "testing/der_builder.h"

namespace sealprobe {
namespace {

// The element with its length in four octets, more than DER allows below
// 2^24 but what OpenSSL's decoder reads.
Bytes LongTlv(uint8_t tag, const Bytes& contents) {
  const size_t n = contents.size();
  return Cat(
      {{tag, 0x84, static_cast<uint8_t>(n >> 24), static_cast<uint8_t>(n >> 16),
        static_cast<uint8_t>(n >> 8), static_cast<uint8_t>(n)},
       contents});
}
using Header = Bytes (*)(uint8_t, const Bytes&);

// A certificate OpenSSL decodes, exactly `size` octets long.
Bytes Certificate(size_t size) {
  const Bytes algorithm = Seq({kOtherOid});
  const Bytes time = {0x17, 0x00};
  const Bytes tbs = Seq({kInteger1, algorithm, Seq({}), Seq({time, time}),
                         Seq({}), Seq({algorithm, Tlv(0x03, {0x00})})});
  return Sized(size, [&](size_t n) {
    return Seq({tbs, algorithm, Tlv(0x03, Bytes(n, 0x00))});
  });
}

// ContentInfo { signedData, [0] SignedData { 1, {}, data of `data`
// octets, [0] `certificates`, {} } }, the headers of the four elements
// down to the set written by `header`.
Bytes SignedData(const Bytes& certificates, size_t data, Header header) {
  const Bytes content = Seq({kDataOid, Tlv(0xa0, Octets(data))});
  return header(
      0x30, Cat({kSignedDataOid,
                 header(0xa0, header(0x30, Cat({kInteger1, SetOf({}), content,
                                                header(0xa0, certificates),
                                                SetOf({})})))}));
}

Bytes Reencoded(const PKCS7* pkcs7) {
  unsigned char* der = nullptr;
  const int size = pkcs7 == nullptr ? 0 : i2d_PKCS7(pkcs7, &der);
  const ossl::OpenSslBuffer owned(der);
  return size > 0 ? Bytes(der, der + size) : Bytes();
}

// Leaving an attribute certificate out shortens the set and the three
// elements around it, and a shorter length may take fewer octets. Around
// each size where DER's length takes one more octet, each of the four lands
// on either side of it: the set with one certificate kept, the others with
// none kept over a window of content sizes; with lengths in DER and in four
// octets. What decodes is what the signature without the attribute
// certificate decodes to.
TEST(SignedDataTest, AttributeCertificatesLeftOutAtEveryLengthForm) {
  for (const size_t boundary : {128, 256, 65536}) {
    const Bytes attribute_certificate = Tlv(0xa1, Octets(boundary));
    std::vector<std::pair<Bytes, size_t>> layouts = {
        {Certificate(boundary - 1), 0}, {Certificate(boundary), 0}};
    for (size_t data = boundary - 72; data < boundary - 24; ++data) {
      layouts.push_back({{}, data});
    }
    for (const Header header : {&Tlv, &LongTlv}) {
      for (const auto& [kept, data] : layouts) {
        SCOPED_TRACE(testing::Message()
                     << boundary << ", " << kept.size() << ", " << data);
        const Bytes plain = SignedData(kept, data, header);
        const unsigned char* p = plain.data();
        const ossl::Pkcs7Ptr expected(
            d2i_PKCS7(nullptr, &p, static_cast<long>(plain.size())));
        ASSERT_NE(expected, nullptr);
        const ossl::Pkcs7Ptr decoded = DecodeSignedData(
            SignedData(Cat({attribute_certificate, kept}), data, header));
        EXPECT_TRUE(Reencoded(decoded.get()) == Reencoded(expected.get()));
      }
    }
  }
}

}  // namespace
}  // namespace sealprobe
