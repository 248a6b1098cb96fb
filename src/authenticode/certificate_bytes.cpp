#include "authenticode/certificate_bytes.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>

#include <climits>
#include <cstring>
#include <new>

namespace sealprobe {
namespace {

using Bytes = std::vector<uint8_t>;

void FreeBytes(void*, void* ptr, CRYPTO_EX_DATA*, int, long, void*) {
  delete static_cast<Bytes*>(ptr);
}

// X509_dup copies the certificate's ex_data: the copy gets its own bytes.
int DupBytes(CRYPTO_EX_DATA*, const CRYPTO_EX_DATA*, void** from, int, long,
             void*) {
  if (*from == nullptr) return 1;
  *from = new (std::nothrow) Bytes(*static_cast<Bytes*>(*from));
  return *from != nullptr;
}

// The slot each X509 has for its original bytes; -1 when OpenSSL has none.
int EncodingIndex() {
  static const int index =
      X509_get_ex_new_index(0, nullptr, nullptr, DupBytes, FreeBytes);
  return index;
}

Bytes Reencoded(X509* cert) {
  unsigned char* out = nullptr;
  const int size = i2d_X509(cert, &out);
  const ossl::OpenSslBuffer owned(out);
  return size > 0 ? Bytes(out, out + size) : Bytes();
}

template <typename Digest>
Digest DigestOfBytes(const uint8_t* data, size_t size, const EVP_MD* md) {
  Digest digest{};
  unsigned got = 0;
  EVP_Digest(data, size, digest.data(), &got, md, nullptr);
  return digest;
}

template <typename Digest>
Digest DigestOf(X509* cert, const EVP_MD* md) {
  const Bytes der = EncodingOf(cert);
  return DigestOfBytes<Digest>(der.data(), der.size(), md);
}

}  // namespace

bool KeepEncoding(X509* cert, const uint8_t* der, size_t size) {
  const Bytes given(der, der + size);
  if (Reencoded(cert) == given) return true;
  const int index = EncodingIndex();
  if (index < 0) return false;
  auto* kept = new (std::nothrow) Bytes(given);
  if (kept == nullptr) return false;
  delete static_cast<Bytes*>(X509_get_ex_data(cert, index));
  if (X509_set_ex_data(cert, index, kept) != 1) {
    delete kept;
    return false;
  }
  return true;
}

ossl::X509Ptr DecodeCertificate(const uint8_t* der, size_t size) {
  if (size > static_cast<size_t>(LONG_MAX)) return nullptr;
  const unsigned char* p = der;
  ossl::X509Ptr cert(d2i_X509(nullptr, &p, static_cast<long>(size)));
  if (!cert || p != der + size || !KeepEncoding(cert.get(), der, size)) {
    return nullptr;
  }
  return cert;
}

Bytes EncodingOf(X509* cert) {
  const int index = EncodingIndex();
  if (index >= 0) {
    if (const auto* kept = static_cast<Bytes*>(X509_get_ex_data(cert, index))) {
      return *kept;
    }
  }
  return Reencoded(cert);
}

Sha1 Sha1Of(X509* cert) { return DigestOf<Sha1>(cert, EVP_sha1()); }
Sha256 Sha256Of(X509* cert) { return DigestOf<Sha256>(cert, EVP_sha256()); }

Sha1 Sha1OfBytes(const uint8_t* data, size_t size) {
  return DigestOfBytes<Sha1>(data, size, EVP_sha1());
}

Sha256 Sha256OfBytes(const uint8_t* data, size_t size) {
  return DigestOfBytes<Sha256>(data, size, EVP_sha256());
}

}  // namespace sealprobe
