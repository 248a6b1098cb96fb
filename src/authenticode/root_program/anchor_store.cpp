#include "authenticode/root_program/anchor_store.h"

#include <openssl/x509.h>

namespace sealprobe {

std::unique_ptr<AnchorStore> AnchorStore::Make(
    std::shared_ptr<const FileDescriptor> opened, std::vector<RootBody> bodies,
    Fault* fault) {
  std::unique_ptr<AnchorStore> out(new AnchorStore());
  Anchors& anchors = *out->anchors_;
  anchors.opened = std::move(opened);
  for (RootBody& body : bodies) {
    if (!anchors.sha1s.insert(body.sha1).second) {
      continue;  // seen as <SHA1>.crt and in a store: kept once
    }
    const unsigned char* p = body.subject.data();
    const ossl::X509NamePtr name(
        d2i_X509_NAME(nullptr, &p, static_cast<long>(body.subject.size())));
    int ok = 0;
    const unsigned long hash =
        name ? X509_NAME_hash_ex(name.get(), nullptr, nullptr, &ok) : 0;
    if (!ok) {
      *fault = Fault::kSubject;
      return nullptr;
    }
    if (anchors.by_subject.count(hash) == kMaxAnchorsPerSubject) {
      *fault = Fault::kSameSubject;
      return nullptr;
    }
    anchors.by_subject.emplace(hash, anchors.bodies.size());
    body.subject = {};  // done with; the store's own copy comes with the
                        // certificate
    anchors.bodies.push_back({std::move(body), false, nullptr});
  }
  out->method_.reset(X509_LOOKUP_meth_new("windows-roots"));
  if (!out->method_ ||
      X509_LOOKUP_meth_set_get_by_subject(out->method_.get(), LookUp) != 1 ||
      !(out->store_ = out->NewStore())) {
    *fault = Fault::kNoMemory;
    return nullptr;
  }
  *fault = Fault::kNone;
  return out;
}

ossl::X509StorePtr AnchorStore::NewStore() const {
  ossl::X509StorePtr store(X509_STORE_new());
  X509_LOOKUP* lookup = nullptr;
  if (!store ||
      (lookup = X509_STORE_add_lookup(store.get(), method_.get())) == nullptr ||
      X509_LOOKUP_set_method_data(lookup, anchors_.get()) != 1) {
    return nullptr;
  }
  return store;
}

ossl::X509StorePtr AnchorStore::StoreWith(
    const std::vector<X509*>& extra) const {
  ossl::X509StorePtr own = NewStore();
  for (X509* cert : extra) {
    if (own && X509_STORE_add_cert(own.get(), cert) != 1) own.reset();
  }
  return own;
}

int AnchorStore::LookUp(X509_LOOKUP* lookup, X509_LOOKUP_TYPE type,
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
  // Chains on other threads may ask for the same roots meanwhile.
  const std::lock_guard<std::mutex> hold(anchors->mutex);
  X509* first = nullptr;
  // At most kMaxAnchorsPerSubject: the store's own index, which each add
  // sorts again, stays as small as what chains have asked for.
  const auto range = anchors->by_subject.equal_range(hash);
  for (auto it = range.first; it != range.second; ++it) {
    Body& body = anchors->bodies[it->second];
    if (!body.read) {
      body.read = true;
      const std::optional<std::vector<uint8_t>> der =
          anchors->opened ? ReadRootBody(*anchors->opened, body.where)
                          : std::nullopt;
      if (der) body.cert = DecodeCertificate(der->data(), der->size());
    }
    // One that no longer reads, or does not decode, anchors nothing. The
    // store keeps one copy of each, however often it is added.
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

}  // namespace sealprobe
