#include "explain/formats/text_renderer.h"

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "authenticode/msi_package.h"
#include "explain/formats/line_wrap.h"
#include "explain/words/codes.h"
#include "explain/words/describe.h"
#include "explain/words/names.h"
#include "explain/words/wording.h"
#include "terminal_text.h"
#include "trust_status.h"

namespace sealprobe {
namespace {

constexpr char kTick[] = "\u2713";
constexpr char kCross[] = "\u2717";
constexpr char kRed[] = "\x1b[31m";
constexpr char kPlain[] = "\x1b[0m";
constexpr char kLabel[] = "  ";
constexpr char kColumn[] = "              ";

// A report's lines: wrapped, each text made terminal-safe, the marks
// between them as they are.
class Writer {
 public:
  explicit Writer(bool colour) : colour_(colour) {}

  void Add(const std::string& first, const std::string& text,
           const std::string& rest) {
    wrap_.Add(first, TerminalSafe(text), rest);
  }

  // A tick, or a cross (red with colour).
  std::string Mark(bool ok) const {
    if (ok) return kTick;
    return colour_ ? std::string(kRed) + kCross + kPlain : kCross;
  }

  const std::string& str() const { return wrap_.str(); }

 private:
  bool colour_;
  LineWrap wrap_;
};

void AddProblems(Writer& w, const ChainResult& chain, int depth,
                 const std::string& indent) {
  for (const ChainProblem* problem : chain.ProblemsAt(depth)) {
    w.Add(indent + w.Mark(false) + " ", ProblemText(*problem, chain),
          indent + "  ");
  }
}

void AddCertificate(Writer& w, const CertificateFacts& c,
                    const std::string& indent) {
  const std::string more = indent + "    ";
  w.Add(more, "valid " + c.not_before + " to " + c.not_after, more);
  w.Add(more, "key " + c.key + ", signed with " + c.signature_algorithm, more);
  if (!c.key_usage.empty()) w.Add(more, "key usage " + c.key_usage, more);
  if (!c.extended_key_usage.empty()) {
    w.Add(more, "extended key usage " + c.extended_key_usage, more);
  }
  if (!c.basic_constraints.empty()) {
    w.Add(more, "basic constraints " + c.basic_constraints, more);
  }
}

// A chain as a tree: each issuer under the certificate it issued.
void AddChain(Writer& w, const ChainResult& chain, const std::string& indent) {
  const int count = sk_X509_num(chain.chain.get());
  const bool whole_sound = chain.ProblemsAt(-1).empty();
  std::string at = indent;
  for (int i = 0; i < count; ++i) {
    const CertificateFacts c = DescribeCertificate(chain.CertificateAt(i));
    const std::string branch = i == 0 ? "" : "\u2514\u2500";
    const std::string anchor =
        i + 1 == count && whole_sound && c.subject == c.issuer
            ? " (self-signed)"
            : "";
    w.Add(at + branch + w.Mark(chain.ProblemsAt(i).empty()) + " ",
          c.subject + anchor, at + (i == 0 ? "  " : "    "));
    const std::string details = i == 0 ? at : at + "  ";
    AddCertificate(w, c, details);
    AddProblems(w, chain, i, details + "    ");
    if (i > 0) at += "  ";
  }
  AddProblems(w, chain, -1, indent);
}

std::string TrustText(const TrustFacts& trust) {
  switch (trust.source) {
    case TrustAnchors::Source::kSystem:
      break;
    case TrustAnchors::Source::kPemFile:
      return "the certificates in " + trust.location;
    case TrustAnchors::Source::kSystemAndPemFile:
      return "the default store and " + trust.location;
    case TrustAnchors::Source::kWindowsRootProgram: {
      std::string text = "Windows' root program in " + trust.location;
      if (trust.ctl_this_update) {
        text += ", CTL of " + FormatTime(*trust.ctl_this_update);
      }
      if (!trust.ctl_sequence_number.empty()) {
        text += ", sequence number " + trust.ctl_sequence_number;
      }
      if (trust.origin) {
        text += trust.origin->source == kImportedSource
                    ? ", imported " + FormatTime(trust.origin->fetched)
                    : ", fetched from " + trust.origin->source + " " +
                          FormatTime(trust.origin->fetched);
      }
      if (!trust.disallowed_list) text += ", without a Disallowed list";
      return text;
    }
  }
  return "OpenSSL's default store (SSL_CERT_FILE, SSL_CERT_DIR)";
}

// What a digest the signature carries was found to be, as a sentence's end.
std::string HashText(const Verification& v) {
  const std::optional<bool> matches = v.HashMatches();
  if (!matches) return {};
  return *matches ? ", matches the signed one"
                  : ", does not match the signed one";
}

void AddImage(Writer& w, const Verification& v) {
  if (!v.image) return;
  const PeImage& image = *v.image;
  std::string text = std::string(image.pe32_plus ? "PE32+" : "PE32") + ", " +
                     MachineName(image.machine);
  if (image.cert_table_size != 0) {
    text += ", certificate table at offset " +
            std::to_string(image.cert_table_offset) + ", " +
            std::to_string(image.cert_table_size) + " bytes";
  }
  if (v.signature && v.signature->indirect) {
    text +=
        ", image hash " + AlgorithmName(v.signature->image_digest_algorithm());
  }
  w.Add(std::string(kLabel) + "image       ", text + HashText(v), kColumn);
  if (v.bytes_after_signature.value_or(0) != 0) {
    w.Add(kColumn,
          std::to_string(*v.bytes_after_signature) +
              " bytes follow the signature in its certificate-table entry, "
              "past its padding: Windows ignores them, and so does the "
              "verdict",
          kColumn);
  }
}

// A compound file: its class and layout, an installer's signature streams
// and the pre-hash of its entries, and its digest.
void AddInstaller(Writer& w, const Verification& v) {
  if (!v.compound) return;
  const CompoundEvidence& c = *v.compound;
  const CompoundLayout& layout = c.layout;
  const bool installer = v.format == SubjectFormat::kInstaller;
  // A compound file whose header did not read has no class to show.
  std::string text = "compound file";
  if (installer || c.fault == CompoundFault::kNone) {
    text = std::string(NamesOf(InstallerClassOf(layout.root_clsid)).text) +
           ", class " + ClsidText(layout.root_clsid);
  }
  if (layout.major_version != 0) {
    text += ", version " + std::to_string(layout.major_version) + ", " +
            std::to_string(layout.sector_size) + "-byte sectors, " +
            std::to_string(layout.streams) + " streams, " +
            std::to_string(layout.storages) + " storages";
  }
  w.Add(std::string(kLabel) + (installer ? "installer   " : "compound    "),
        text, kColumn);
  if (c.signature_size || c.metadata_size) {
    std::string streams = c.signature_size
                              ? "\\x05DigitalSignature " +
                                    std::to_string(*c.signature_size) + " bytes"
                              : "no \\x05DigitalSignature";
    if (c.metadata_size) {
      streams += ", \\x05MsiDigitalSignatureEx " +
                 std::to_string(*c.metadata_size) + " bytes";
      if (!c.metadata_stored.empty()) {
        streams += ", holding " + HexOf(c.metadata_stored);
      }
    }
    w.Add(kColumn, streams, kColumn);
  }
  if (c.metadata_hash) {
    w.Add(kColumn,
          "the entries' pre-hash " + HexOf(*c.metadata_hash) +
              (*c.metadata_hash == c.metadata_stored ? ", the one held"
                                                     : ", not the one held"),
          kColumn);
  }
  if (installer && v.signature && v.signature->indirect) {
    w.Add(kColumn,
          "digest " + AlgorithmName(v.signature->image_digest_algorithm()) +
              HashText(v),
          kColumn);
  }
}

void AddSigner(Writer& w, const Verification& v) {
  if (!v.signer || v.signer->certificate == nullptr) return;
  const CertificateFacts c = DescribeCertificate(v.signer->certificate);
  w.Add(std::string(kLabel) + "signer      ", c.subject, kColumn);
  w.Add(kColumn, "issued by " + c.issuer, kColumn);
  std::string more = "serial " + c.serial + ", key " + c.key;
  if (v.signature && v.signature->signer != nullptr) {
    more += ", signs with " + AlgorithmName(v.signature->signer->digest_alg) +
            " and " + AlgorithmName(v.signature->signer->digest_enc_alg);
  }
  w.Add(kColumn, more, kColumn);
  w.Add(kColumn, "SHA-256, as --signer takes it:", kColumn);
  w.Add(kColumn, CertificateDigest(v.signer->certificate, true), kColumn);
}

void AddCheckedAt(Writer& w, const Verification& v) {
  if (!v.checked_at) return;
  w.Add(std::string(kLabel) + "checked at  ",
        FormatTime(v.checked_at->time) + " (" +
            NamesOf(v.checked_at->basis).text + ")",
        kColumn);
}

void AddTimestamp(Writer& w, const Verification& v) {
  if (!v.stamp) return;
  const StampCheck& stamp = *v.stamp;
  const std::string label = std::string(kLabel) + "timestamp   ";
  if (!stamp.present()) {
    w.Add(label, "none", kColumn);
    return;
  }
  std::string text = NamesOf(stamp.form).text;
  if (stamp.valid()) text += ", " + FormatTime(stamp.time);
  if (stamp.authority != nullptr) text += ", by " + SubjectOf(stamp.authority);
  w.Add(label, text, kColumn);
  w.Add(kColumn, StampStatusText(v), kColumn);
  if (v.authority_chain) {
    w.Add(kColumn, "its authority's chain:", kColumn);
    AddChain(w, *v.authority_chain, std::string(kColumn) + "  ");
  }
}

// Each signature besides the primary, and what its own rules say of it.
void AddOtherSignatures(Writer& w, const FileRecord& r) {
  for (size_t i = 0; i < r.others.size(); ++i) {
    const Verification& v = r.others[i];
    std::string text = "signature " + std::to_string(i + 2);
    if (v.signature && v.signature->indirect) {
      text += ", " + AlgorithmName(v.signature->image_digest_algorithm());
    }
    if (v.signer && v.signer->certificate != nullptr) {
      text += ", by " + SubjectOf(v.signer->certificate);
    }
    text += ": " + status::StatusNameOf(v.result.status) + " (" +
            status::StatusHex(v.result.status) + "), " + RuleText(v, nullptr);
    w.Add(std::string(kLabel) + w.Mark(v.result.status == 0) + " also      ",
          text, kColumn);
  }
}

// Once a run, before its first report: verdicts under OpenSSL's store are
// not the ones Windows gives, and how to get those.
std::string OpenSslStoreNote(const TrustFacts& trust) {
  if (trust.source == TrustAnchors::Source::kWindowsRootProgram) return {};
  return "These verdicts rest on OpenSSL's store, not on Windows' root "
         "program: roots\nWindows trusts for code signing may be missing, "
         "and roots it restricts trusted.\nFor Windows' verdicts, run "
         "sealprobe-roots sync once (or give --windows-trust).\n\n";
}

// What a run's records come to, for its last line.
class Tally {
 public:
  void Count(const FileRecord& record) {
    ++files_;
    switch (OutcomeOf(record)) {
      case Outcome::kValid:
        ++valid_;
        return;
      case Outcome::kUnreadable:
        ++unreadable_;
        return;
      case Outcome::kNotChecked:
        ++not_checked_;
        return;
      case Outcome::kFailed:
        break;
    }
    const std::string code = DecidingCode(record);
    for (auto& [known, count] : failed_) {
      if (known == code) {
        ++count;
        return;
      }
    }
    failed_.emplace_back(code, 1);
  }

  // "34 files: 31 valid, 2 failed (1 chain.wrong_usage, 1
  // staging.missing), 1 unreadable, 0 not checked", the codes in the order
  // first met.
  std::string Line() const {
    size_t failed = 0;
    std::string codes;
    for (const auto& [code, count] : failed_) {
      failed += count;
      codes +=
          (codes.empty() ? " (" : ", ") + std::to_string(count) + " " + code;
    }
    return std::to_string(files_) + (files_ == 1 ? " file: " : " files: ") +
           std::to_string(valid_) + " valid, " + std::to_string(failed) +
           " failed" + (codes.empty() ? "" : codes + ")") + ", " +
           std::to_string(unreadable_) + " unreadable, " +
           std::to_string(not_checked_) + " not checked\n";
  }

 private:
  size_t files_ = 0;
  size_t valid_ = 0;
  size_t unreadable_ = 0;
  size_t not_checked_ = 0;
  std::vector<std::pair<std::string, size_t>> failed_;  // by code
};

class TextRenderer : public ReportRenderer {
 public:
  TextRenderer(bool colour, bool quiet, const TrustFacts& trust)
      : colour_(colour), quiet_(quiet), trust_(trust) {}
  std::string Add(const FileRecord& record) override {
    tally_.Count(record);
    const Outcome outcome = OutcomeOf(record);
    if (quiet_ &&
        (outcome == Outcome::kValid || outcome == Outcome::kNotChecked)) {
      return {};
    }
    std::string out = first_ ? OpenSslStoreNote(record.trust) : "\n";
    first_ = false;
    return out + HumanReport(record, colour_);
  }
  // With no report before it, the line that sums up still says what its
  // verdicts rest on.
  std::string End(const RunEnd&) override {
    return (first_ ? OpenSslStoreNote(trust_) : "\n") + tally_.Line();
  }

 private:
  bool colour_;
  bool quiet_;
  TrustFacts trust_;
  bool first_ = true;  // no report written yet
  Tally tally_;
};

}  // namespace

std::string HumanReport(const FileRecord& r, bool colour) {
  const Verification& v = r.verification;
  Writer w(colour);
  w.Add("", r.file, "  ");
  if (!r.found()) {
    w.Add("  " + w.Mark(false) + " ", "not found", "    ");
    w.Add("    ", std::string(kStagingMissingCode) + ": " + DecidingRule(r),
          "    ");
    return w.str();
  }
  // A file let pass unverified is neither ticked nor crossed.
  const std::string mark =
      OutcomeOf(r) != Outcome::kNotChecked ? w.Mark(r.valid())
                                             : std::string("-");
  w.Add("  " + mark + " ", r.verdict, "    ");
  std::string decision = status::StatusNameOf(v.result.status) + " (" +
                         status::StatusHex(v.result.status) +
                         "): " + VerificationRule(r);
  if (X509* on = v.DecidingCertificate()) decision += ", on " + SubjectOf(on);
  w.Add("    ", decision, "    ");
  if (r.unsupported) {
    w.Add("    ",
          std::string(r.unsupported_allowed
                          ? "not checked, which --allow-unsupported lets pass, "
                          : "not checked, ") +
              DecidingCode(r) + ": " + DecidingRule(r),
          "    ");
    AddInstaller(w, v);
    return w.str();
  }
  if (r.policy) {
    w.Add(
        "    ",
        "but the policy fails it, " + DecidingCode(r) + ": " + DecidingRule(r),
        "    ");
  }
  if (r.entry) {
    w.Add(std::string(kLabel) + "staged      ",
          "entry " + r.entry->name + ", found in the " +
              NamesOf(*r.entry->found).text,
          kColumn);
  }
  w.Add(std::string(kLabel) + "trust       ", TrustText(r.trust), kColumn);
  if (v.chain && v.chain->anchor_depth >= 0) {
    w.Add(std::string(kLabel) + "anchor      ",
          SubjectOf(v.chain->CertificateAt(v.chain->anchor_depth)) + " (" +
              AnchorSourceText(v.chain->anchor_source) + ")",
          kColumn);
  }
  AddImage(w, v);
  AddInstaller(w, v);
  AddSigner(w, v);
  AddCheckedAt(w, v);
  if (v.chain) {
    w.Add(std::string(kLabel) + "chain, end certificate first:", "", "");
    AddChain(w, *v.chain, "    ");
  }
  AddTimestamp(w, v);
  AddOtherSignatures(w, r);
  return w.str();
}

std::unique_ptr<ReportRenderer> MakeTextRenderer(
    const RendererSettings& settings) {
  return std::make_unique<TextRenderer>(settings.colour, settings.quiet,
                                        settings.trust);
}

}  // namespace sealprobe
