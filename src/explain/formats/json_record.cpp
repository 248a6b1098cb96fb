#include "explain/formats/json_record.h"

#include <optional>
#include <utility>

#include "authenticode/msi_package.h"
#include "explain/formats/json_writer.h"
#include "explain/formats/text_encodings.h"
#include "explain/words/codes.h"
#include "explain/words/describe.h"
#include "explain/words/names.h"
#include "explain/words/wording.h"
#include "trust_status.h"

namespace sealprobe {
namespace {

std::string Time(const std::optional<std::time_t>& time) {
  return time ? JsonString(FormatTime(*time)) : "null";
}

std::string Certificate(const ChainResult& chain, int depth) {
  X509* cert = chain.CertificateAt(depth);
  const CertificateFacts c = DescribeCertificate(cert);
  std::vector<std::string> problems;
  for (const ChainProblem* problem : chain.ProblemsAt(depth)) {
    problems.push_back(JsonString(ProblemText(*problem, chain)));
  }
  return JsonObject(
      {{"subject", JsonString(c.subject)},
       {"issuer", JsonString(c.issuer)},
       {"serial", JsonString(c.serial)},
       {"sha256", JsonString(CertificateDigest(cert, true))},
       {"not_before", JsonString(c.not_before)},
       {"not_after", JsonString(c.not_after)},
       {"key", JsonString(c.key)},
       {"signature_algorithm", JsonString(c.signature_algorithm)},
       {"key_usage", JsonStringOrNull(c.key_usage)},
       {"extended_key_usage", JsonStringOrNull(c.extended_key_usage)},
       {"basic_constraints", JsonStringOrNull(c.basic_constraints)},
       {"problems", JsonArray(problems)}});
}

std::string Chain(const std::optional<ChainResult>& chain) {
  std::vector<std::string> certificates;
  for (int i = 0; chain && i < sk_X509_num(chain->chain.get()); ++i) {
    certificates.push_back(Certificate(*chain, i));
  }
  return JsonArray(certificates);
}

// The subject of the anchor `chain` ended in, or null.
std::string Anchor(const std::optional<ChainResult>& chain) {
  if (!chain || chain->anchor_depth < 0) return "null";
  return JsonString(SubjectOf(chain->CertificateAt(chain->anchor_depth)));
}

std::string DecidedBy(const FileRecord& r) {
  const Verification& v = r.verification;
  const ChainResult* chain = v.DecidingChain();
  const ChainProblem* problem = chain ? chain->deciding() : nullptr;
  const char* property = problem ? PropertyName(problem->finding) : nullptr;
  return JsonObject(
      {{"rule", JsonString(DecidingRule(r))},
       {"certificate", JsonStringOrNull(SubjectOf(v.DecidingCertificate()))},
       {"property", property == nullptr
                        ? "null"
                        : JsonObject({{"name", JsonString(property)},
                                      {"date", Time(problem->date)}})}});
}

// Where sealprobe-roots fetched the root program from, and when.
std::string Origin(const std::optional<FolderOrigin>& origin) {
  if (!origin) return "null";
  return JsonObject({{"source", JsonString(origin->source)},
                     {"fetched", Time(origin->fetched)}});
}

std::string Trust(const FileRecord& r) {
  const TrustFacts& t = r.trust;
  const std::optional<ChainResult>& chain = r.verification.chain;
  const bool anchored = chain && chain->anchor_depth >= 0;
  return JsonObject(
      {{"store", JsonString(StoreName(t.source))},
       {"location", JsonStringOrNull(t.location)},
       {"ctl_this_update", Time(t.ctl_this_update)},
       {"ctl_sequence_number", JsonStringOrNull(t.ctl_sequence_number)},
       {"origin", Origin(t.origin)},
       {"disallowed_list",
        t.ctl_this_update ? std::string(t.disallowed_list ? "true" : "false")
                          : "null"},
       {"anchor", Anchor(chain)},
       {"anchor_source",
        anchored ? JsonString(AnchorSourceText(chain->anchor_source))
                 : "null"}});
}

std::string Image(const Verification& v) {
  if (!v.image) return "null";
  const PeImage& image = *v.image;
  const std::string table =
      image.cert_table_size != 0
          ? JsonObject({{"offset", std::to_string(image.cert_table_offset)},
                        {"size", std::to_string(image.cert_table_size)}})
          : "null";
  const bool decoded = v.signature && v.signature->indirect;
  const std::optional<bool> matches = v.HashMatches();
  return JsonObject(
      {{"format", JsonString(image.pe32_plus ? "PE32+" : "PE32")},
       {"machine", JsonString(MachineName(image.machine))},
       {"certificate_table", table},
       {"digest", decoded ? JsonString(AlgorithmName(
                                v.signature->image_digest_algorithm()))
                          : "null"},
       {"hash_matches", !matches   ? "null"
                        : *matches ? "true"
                                   : "false"}});
}

// A count the file gave, or null.
std::string Count(const std::optional<uint64_t>& count) {
  return count ? std::to_string(*count) : "null";
}

std::string Installer(const Verification& v) {
  if (!v.compound) return "null";
  const CompoundEvidence& c = *v.compound;
  const CompoundLayout& layout = c.layout;
  const bool installer = v.format == SubjectFormat::kInstaller;
  // A compound file whose header did not read has no class to show.
  const bool classed = installer || c.fault == CompoundFault::kNone;
  const std::string kind = NamesOf(InstallerClassOf(layout.root_clsid)).json;
  const auto read = [&layout](uint64_t value) {
    return layout.major_version != 0 ? std::to_string(value) : "null";
  };
  const bool decoded = installer && v.signature && v.signature->indirect;
  const std::optional<bool> matches = v.HashMatches();
  return JsonObject(
      {{"kind", classed ? JsonStringOrNull(kind) : "null"},
       {"class", classed ? JsonString(ClsidText(layout.root_clsid)) : "null"},
       {"version", read(layout.major_version)},
       {"sector_size", read(layout.sector_size)},
       {"streams", read(layout.streams)},
       {"storages", read(layout.storages)},
       {"fault", JsonStringOrNull(CompoundFaultName(c.fault))},
       {"signature_stream", Count(c.signature_size)},
       {"metadata_stream", Count(c.metadata_size)},
       {"metadata_held", c.metadata_stored.empty()
                             ? "null"
                             : JsonString(HexOf(c.metadata_stored))},
       {"metadata_computed",
        c.metadata_hash ? JsonString(HexOf(*c.metadata_hash)) : "null"},
       {"digest", decoded ? JsonString(AlgorithmName(
                                v.signature->image_digest_algorithm()))
                          : "null"},
       {"hash_matches", !matches || !installer ? "null"
                        : *matches             ? "true"
                                               : "false"}});
}

std::string Unsupported(const FileRecord& r) {
  if (!r.unsupported) return "null";
  return JsonObject({{"format", JsonString(NamesOf(*r.unsupported).json)},
                     {"allowed", r.unsupported_allowed ? "true" : "false"}});
}

std::string Signer(const Verification& v) {
  if (!v.signer || v.signer->certificate == nullptr) return "null";
  const CertificateFacts c = DescribeCertificate(v.signer->certificate);
  const PKCS7_SIGNER_INFO* info = v.signature ? v.signature->signer : nullptr;
  const auto algorithm = [info](const X509_ALGOR* which) {
    return info != nullptr ? JsonString(AlgorithmName(which)) : "null";
  };
  return JsonObject(
      {{"subject", JsonString(c.subject)},
       {"issuer", JsonString(c.issuer)},
       {"serial", JsonString(c.serial)},
       {"key", JsonString(c.key)},
       {"digest_algorithm", algorithm(info ? info->digest_alg : nullptr)},
       {"signature_algorithm",
        algorithm(info ? info->digest_enc_alg : nullptr)}});
}

std::string Stamp(const Verification& v) {
  const StampCheck* stamp = v.stamp ? &*v.stamp : nullptr;
  // The verification may stop before it looks for one.
  const char* kind = stamp ? NamesOf(stamp->form).json : "not_examined";
  return JsonObject(
      {{"kind", JsonString(kind)},
       {"time", stamp && stamp->valid() ? Time(stamp->time) : "null"},
       {"authority", stamp && stamp->authority != nullptr
                         ? JsonString(SubjectOf(stamp->authority))
                         : "null"},
       {"status", JsonStringOrNull(StampStatusText(v))},
       {"anchor", Anchor(v.authority_chain)},
       {"chain", Chain(v.authority_chain)}});
}

std::string CheckedAt(const Verification& v) {
  if (!v.checked_at) return "null";
  return JsonObject({{"time", JsonString(FormatTime(v.checked_at->time))},
                     {"why", JsonString(NamesOf(v.checked_at->basis).json)}});
}

// The signer's certificate digests, as --signer takes them.
std::string SignerDigests(const Verification& v) {
  X509* cert = v.signer ? v.signer->certificate : nullptr;
  if (cert == nullptr) return "null";
  return JsonObject({{"sha1", JsonString(CertificateDigest(cert, false))},
                     {"sha256", JsonString(CertificateDigest(cert, true))}});
}

// Every signature of the file, the primary first, each by its own rules.
std::string Signatures(const FileRecord& r) {
  std::vector<std::string> items;
  for (size_t i = 0; i <= r.others.size() && r.found(); ++i) {
    const Verification& v = i == 0 ? r.verification : r.others[i - 1];
    const bool valid = v.result.status == 0;
    const bool decoded = v.signature && v.signature->indirect;
    const StampCheck* stamp = v.stamp ? &*v.stamp : nullptr;
    items.push_back(JsonObject(
        {{"primary", i == 0 ? "true" : "false"},
         {"valid", valid ? "true" : "false"},
         {"status", JsonString(status::StatusHex(v.result.status))},
         {"status_name", JsonString(status::StatusNameOf(v.result.status))},
         {"code", valid ? "null" : JsonString(RuleCode(v))},
         {"rule", JsonString(RuleText(v, nullptr))},
         {"digest", decoded ? JsonString(AlgorithmName(
                                  v.signature->image_digest_algorithm()))
                            : "null"},
         {"signer", v.signer && v.signer->certificate != nullptr
                        ? JsonString(SubjectOf(v.signer->certificate))
                        : "null"},
         {"signer_digests", SignerDigests(v)},
         {"timestamp", stamp && stamp->valid() ? Time(stamp->time) : "null"}}));
  }
  return JsonArray(items);
}

std::string PolicyOf(const FileRecord& r) {
  if (!r.policy) return "null";
  return JsonObject({{"code", JsonString(PolicyCode(r.policy->kind))},
                     {"rule", JsonString(DecidingRule(r))},
                     {"signature", std::to_string(r.policy->signature)}});
}

std::string Staging(const FileRecord& r) {
  if (!r.entry) return "null";
  const StagingEntry& e = *r.entry;
  return JsonObject(
      {{"name", JsonString(e.name)},
       {"common_files_path", JsonString(e.common_files_path)},
       {"product_path", JsonString(e.product_path)},
       {"found", e.found ? JsonString(NamesOf(*e.found).json) : "null"}});
}

}  // namespace

std::string JsonRecord(const FileRecord& r, const std::string& version) {
  const Verification& v = r.verification;
  const bool found = r.found();
  const auto if_found = [found](const std::string& text) {
    return found ? JsonString(text) : "null";
  };
  JsonMembers members = {
      {"tool", JsonObject({{"name", JsonString("sealprobe-explain")},
                           {"version", JsonString(version)}})},
      {"file", JsonString(r.file)},
      {"valid", r.valid() ? "true" : "false"},
      {"code", JsonStringOrNull(DecidingCode(r))},
      {"status", if_found(status::StatusHex(v.result.status))},
      {"status_name", if_found(status::StatusNameOf(v.result.status))},
      {"verdict", JsonStringOrNull(r.verdict)},
      {"decided_by", DecidedBy(r)},
      {"trust", Trust(r)},
      {"image", Image(v)},
      {"installer", Installer(v)},
      {"bytes_after_signature", Count(v.bytes_after_signature)},
      {"signer", Signer(v)},
      {"chain", Chain(v.chain)},
      {"timestamp", found ? Stamp(v) : "null"},
      {"checked_at", CheckedAt(v)},
      {"signatures", Signatures(r)},
      {"policy", PolicyOf(r)},
      {"staging", Staging(r)},
      {"unsupported", Unsupported(r)}};
  // A path is bytes: where they are not UTF-8, the exact ones beside it.
  if (!IsUtf8(r.file)) {
    members.insert(members.begin() + 2,
                   {"file_base64", JsonString(Base64(r.file))});
  }
  return JsonObject(members);
}

}  // namespace sealprobe
