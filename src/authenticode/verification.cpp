#include "authenticode/verification.h"

namespace sealprobe {

const ChainResult* Verification::DecidingChain() const {
  const std::optional<ChainResult>& deciding =
      rule == Rule::kAuthorityChain ? authority_chain : chain;
  const bool by_chain =
      rule == Rule::kSignerChain || rule == Rule::kAuthorityChain;
  return by_chain && deciding && deciding->deciding() != nullptr ? &*deciding
                                                                 : nullptr;
}

X509* Verification::DecidingCertificate() const {
  if (const ChainResult* deciding = DecidingChain()) {
    return deciding->CertificateAt(deciding->deciding()->depth);
  }
  if (rule == Rule::kTimestampInvalid && stamp) return stamp->authority;
  const bool by_signer = rule == Rule::kSignerAlgorithmUnsupported ||
                         rule == Rule::kSignerSignatureBad;
  return by_signer && signer ? signer->certificate : nullptr;
}

std::optional<bool> Verification::HashMatches() const {
  if (!image_hash) return std::nullopt;
  return rule != Rule::kImageHashMismatch;
}

}  // namespace sealprobe
