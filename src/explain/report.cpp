#include "explain/report.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <utility>

#include "trust/verdict.h"
#include "trust_status.h"

namespace sealprobe {
namespace {

constexpr size_t kWidth = 80;
constexpr char kTick[] = "\u2713";
constexpr char kCross[] = "\u2717";
constexpr char kRed[] = "\x1b[31m";
constexpr char kPlain[] = "\x1b[0m";

std::string Hex(uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof(text), "0x%x", static_cast<unsigned>(value));
  return text;
}

std::string StatusNameOf(uint32_t code) {
  const char* name = status::StatusName(code);
  return name != nullptr ? name : "(no name)";
}

std::string MachineName(uint16_t machine) {
  switch (machine) {
    case 0x8664:
      return "x64";
    case 0x14c:
      return "x86";
    case 0xaa64:
      return "ARM64";
    case 0x1c4:
      return "ARM";
    default:
      return "machine " + Hex(machine);
  }
}

using Why = Explanation::CheckedAt::Why;
using Kind = Explanation::Timestamp::Kind;

const char* WhyName(Why why) {
  switch (why) {
    case Why::kStamp:
      return "stamp";
    case Why::kNow:
      return "now";
    case Why::kLifetimeSigning:
      return "lifetime-signing";
    case Why::kNotChecked:
      break;
  }
  return "not-checked";
}

const char* KindName(Kind kind) {
  switch (kind) {
    case Kind::kRfc3161:
      return "rfc3161";
    case Kind::kLegacy:
      return "legacy";
    case Kind::kNone:
      break;
  }
  return "none";
}

// --- For a person -----------------------------------------------------------

// Lines of at most kWidth columns: `first` begins the first, `rest` the
// others, and words move on whole (one longer than a line is cut). Each
// octet of the text is looked at a bounded number of times, however long
// its words: a subject can be a megabyte without a space.
class Lines {
 public:
  explicit Lines(bool colour) : colour_(colour) {}

  void Add(const std::string& first, const std::string& text,
           const std::string& rest) {
    std::string line = first;
    size_t columns = Columns(first, 0, first.size());
    bool empty = true;  // no word on `line` yet
    size_t at = 0;
    while (at < text.size()) {
      size_t end = text.find(' ', at);
      if (end == std::string::npos) end = text.size();
      size_t word = at;  // where what is left of the word starts
      size_t word_columns = Columns(text, word, end);
      at = end + 1;
      while (word < end) {
        const size_t used = columns + (empty ? 0 : 1);
        const size_t room = used < kWidth ? kWidth - used : 0;
        if (word_columns <= room) {
          if (!empty) line += ' ';
          line.append(text, word, end - word);
          columns = used + word_columns;
          empty = false;
          break;
        }
        if (empty) {
          // Longer than a whole line: cut it, between characters.
          size_t cut = word + std::min(std::max<size_t>(room, 1), end - word);
          while (cut > word + 1 &&
                 (static_cast<unsigned char>(text[cut]) & 0xc0) == 0x80) {
            --cut;
          }
          line.append(text, word, cut - word);
          word_columns -= Columns(text, word, cut);
          word = cut;
        }
        Flush(&line);
        line = rest;
        columns = Columns(rest, 0, rest.size());
        empty = true;
      }
    }
    Flush(&line);
  }

  // A certificate's mark: a tick, or a cross (red with colour).
  std::string Mark(bool ok) const {
    if (ok) return kTick;
    return colour_ ? std::string(kRed) + kCross + kPlain : kCross;
  }

  std::string str() const { return out_; }

 private:
  // Columns on a terminal of text[from, to): UTF-8 continuation bytes and
  // colour codes take none.
  static size_t Columns(const std::string& text, size_t from, size_t to) {
    size_t columns = 0;
    bool escape = false;
    for (size_t i = from; i < to; ++i) {
      const char c = text[i];
      const auto byte = static_cast<unsigned char>(c);
      if (byte == 0x1b) escape = true;
      if (escape) {
        if (c == 'm') escape = false;
        continue;
      }
      if ((byte & 0xc0) != 0x80) ++columns;
    }
    return columns;
  }

  void Flush(std::string* line) {
    while (!line->empty() && line->back() == ' ') line->pop_back();
    out_ += *line + "\n";
    line->clear();
  }

  bool colour_;
  std::string out_;
};

void AddCertificate(Lines& lines, const CertificateFacts& c,
                    const std::string& indent) {
  const std::string more = indent + "    ";
  lines.Add(more, "valid " + c.not_before + " to " + c.not_after, more);
  lines.Add(more, "key " + c.key + ", signed with " + c.signature_algorithm,
            more);
  if (!c.key_usage.empty()) lines.Add(more, "key usage " + c.key_usage, more);
  if (!c.extended_key_usage.empty()) {
    lines.Add(more, "extended key usage " + c.extended_key_usage, more);
  }
  if (!c.basic_constraints.empty()) {
    lines.Add(more, "basic constraints " + c.basic_constraints, more);
  }
  for (const std::string& problem : c.problems) {
    lines.Add(more + lines.Mark(false) + " ", problem, more + "  ");
  }
}

// A chain as a tree: each issuer under the certificate it issued.
void AddChain(Lines& lines, const ChainFacts& chain,
              const std::string& indent) {
  std::string at = indent;
  for (size_t i = 0; i < chain.certificates.size(); ++i) {
    const CertificateFacts& c = chain.certificates[i];
    const std::string branch = i == 0 ? "" : "\u2514\u2500";
    const std::string anchor = i + 1 == chain.certificates.size() &&
                                       chain.problems.empty() &&
                                       c.subject == c.issuer
                                   ? " (self-signed)"
                                   : "";
    lines.Add(at + branch + lines.Mark(c.problems.empty()) + " ",
              c.subject + anchor, at + (i == 0 ? "  " : "    "));
    AddCertificate(lines, c, i == 0 ? at : at + "  ");
    if (i > 0) at += "  ";
  }
  for (const std::string& problem : chain.problems) {
    lines.Add(indent + lines.Mark(false) + " ", problem, indent + "  ");
  }
}

// --- As JSON
// ------------------------------------------------------------------

// The UTF-8 character at text[i]: its length and whether it is one (RFC
// 3629: shortest form, no surrogates, nothing past U+10FFFF). When it is
// not, the length is that of the longest start of one there, at least 1,
// which is replaced as a whole.
struct Utf8Step {
  size_t length;
  bool valid;
};

Utf8Step NextUtf8(const std::string& text, size_t i) {
  const auto lead = static_cast<unsigned char>(text[i]);
  if (lead < 0x80) return {1, true};
  size_t follow = 0;
  unsigned char low = 0x80;  // the range of the second byte
  unsigned char high = 0xbf;
  if (lead >= 0xc2 && lead <= 0xdf) {
    follow = 1;
  } else if (lead >= 0xe0 && lead <= 0xef) {
    follow = 2;
    if (lead == 0xe0) low = 0xa0;   // no overlong forms
    if (lead == 0xed) high = 0x9f;  // no surrogates
  } else if (lead >= 0xf0 && lead <= 0xf4) {
    follow = 3;
    if (lead == 0xf0) low = 0x90;
    if (lead == 0xf4) high = 0x8f;  // nothing past U+10FFFF
  } else {
    return {1, false};
  }
  for (size_t k = 1; k <= follow; ++k) {
    if (i + k >= text.size()) return {k, false};
    const auto byte = static_cast<unsigned char>(text[i + k]);
    if (byte < (k == 1 ? low : 0x80) || byte > (k == 1 ? high : 0xbf)) {
      return {k, false};
    }
  }
  return {follow + 1, true};
}

bool IsUtf8(const std::string& text) {
  for (size_t i = 0; i < text.size();) {
    const Utf8Step step = NextUtf8(text, i);
    if (!step.valid) return false;
    i += step.length;
  }
  return true;
}

std::string Base64(const std::string& bytes) {
  static const char kDigits[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  for (size_t i = 0; i < bytes.size(); i += 3) {
    uint32_t group = 0;
    const size_t n = std::min<size_t>(3, bytes.size() - i);
    for (size_t k = 0; k < 3; ++k) {
      const uint32_t byte =
          k < n ? static_cast<unsigned char>(bytes[i + k]) : 0;
      group = (group << 8) | byte;
    }
    for (size_t k = 0; k < 4; ++k) {
      out += k <= n ? kDigits[(group >> (18 - 6 * k)) & 0x3f] : '=';
    }
  }
  return out;
}

// `text` as a JSON string, strict UTF-8 whatever it holds: UTF-8 kept,
// anything that is not written as U+FFFD, control characters escaped.
std::string Json(const std::string& text) {
  std::string out = "\"";
  for (size_t i = 0; i < text.size();) {
    const Utf8Step step = NextUtf8(text, i);
    const auto byte = static_cast<unsigned char>(text[i]);
    if (!step.valid) {
      out += "\\ufffd";
    } else if (byte == '"' || byte == '\\') {
      out += '\\';
      out += static_cast<char>(byte);
    } else if (byte < 0x20 || byte == 0x7f) {
      char escaped[8];
      std::snprintf(escaped, sizeof(escaped), "\\u%04x", byte);
      out += escaped;
    } else {
      out.append(text, i, step.length);
    }
    i += step.length;
  }
  return out + "\"";
}

std::string JsonOrNull(const std::string& text) {
  return text.empty() ? "null" : Json(text);
}

// An object from its members, in order.
std::string Object(const std::vector<std::pair<const char*, std::string>>& m) {
  std::string out = "{";
  for (size_t i = 0; i < m.size(); ++i) {
    if (i > 0) out += ", ";
    out += Json(m[i].first) + ": " + m[i].second;
  }
  return out + "}";
}

std::string Array(const std::vector<std::string>& items) {
  std::string out = "[";
  for (size_t i = 0; i < items.size(); ++i) {
    out += (i > 0 ? ", " : "") + items[i];
  }
  return out + "]";
}

std::string JsonCertificate(const CertificateFacts& c) {
  std::vector<std::string> problems;
  for (const std::string& p : c.problems) problems.push_back(Json(p));
  return Object({{"subject", Json(c.subject)},
                 {"issuer", Json(c.issuer)},
                 {"serial", Json(c.serial)},
                 {"not_before", Json(c.not_before)},
                 {"not_after", Json(c.not_after)},
                 {"key", Json(c.key)},
                 {"signature_algorithm", Json(c.signature_algorithm)},
                 {"key_usage", JsonOrNull(c.key_usage)},
                 {"extended_key_usage", JsonOrNull(c.extended_key_usage)},
                 {"basic_constraints", JsonOrNull(c.basic_constraints)},
                 {"problems", Array(problems)}});
}

std::string JsonChain(const ChainFacts& chain) {
  std::vector<std::string> certificates;
  for (const CertificateFacts& c : chain.certificates) {
    certificates.push_back(JsonCertificate(c));
  }
  return Array(certificates);
}

std::string JsonTime(const std::optional<std::time_t>& time) {
  return time ? Json(FormatTime(*time)) : "null";
}

std::string JsonReportOf(const FileReport& r) {
  const Explanation& e = r.explanation;
  const std::string trust =
      Object({{"store", Json(r.trust.store)},
              {"location", JsonOrNull(r.trust.location)},
              {"ctl_this_update", JsonTime(r.trust.ctl_this_update)},
              {"ctl_sequence_number", JsonOrNull(r.trust.ctl_sequence_number)},
              {"anchor", JsonOrNull(e.chain.anchor)},
              {"anchor_source", JsonOrNull(e.chain.anchor_source)}});
  const std::string property =
      e.decided_property.empty()
          ? "null"
          : Object({{"name", Json(e.decided_property)},
                    {"date", JsonTime(e.decided_property_date)}});
  std::string image = "null";
  if (e.image.parsed) {
    const std::string table =
        e.image.has_table
            ? Object({{"offset", std::to_string(e.image.table_offset)},
                      {"size", std::to_string(e.image.table_size)}})
            : "null";
    image = Object({{"format", Json(e.image.pe32_plus ? "PE32+" : "PE32")},
                    {"machine", Json(MachineName(e.image.machine))},
                    {"certificate_table", table},
                    {"digest", JsonOrNull(e.image.digest)},
                    {"hash_matches", !e.image.hash_matches   ? "null"
                                     : *e.image.hash_matches ? "true"
                                                             : "false"}});
  }
  std::string signer = "null";
  if (e.signer.certificate) {
    const CertificateFacts& c = *e.signer.certificate;
    signer =
        Object({{"subject", Json(c.subject)},
                {"issuer", Json(c.issuer)},
                {"serial", Json(c.serial)},
                {"key", Json(c.key)},
                {"digest_algorithm", Json(e.signer.digest_algorithm)},
                {"signature_algorithm", Json(e.signer.signature_algorithm)}});
  }
  const Explanation::Timestamp& t = e.timestamp;
  const std::string timestamp =
      Object({{"kind", Json(KindName(t.kind))},
              {"time", JsonTime(t.time)},
              {"authority", t.authority ? Json(t.authority->subject) : "null"},
              {"status", JsonOrNull(t.status)},
              {"anchor", JsonOrNull(t.chain.anchor)},
              {"chain", JsonChain(t.chain)}});
  const std::string checked_at =
      e.checked_at.why == Why::kNotChecked
          ? "null"
          : Object({{"time", Json(FormatTime(e.checked_at.time))},
                    {"why", Json(WhyName(e.checked_at.why))}});
  std::vector<std::pair<const char*, std::string>> members = {
      {"file", Json(r.file)},
      {"valid", r.valid() ? "true" : "false"},
      {"status", Json(Hex(r.result.status))},
      {"status_name", Json(StatusNameOf(r.result.status))},
      {"verdict", Json(r.verdict)},
      {"decided_by", Object({{"rule", Json(e.decided_by)},
                             {"certificate", JsonOrNull(e.decided_on)},
                             {"property", property}})},
      {"trust", trust},
      {"image", image},
      {"signer", signer},
      {"chain", JsonChain(e.chain)},
      {"timestamp", timestamp},
      {"checked_at", checked_at}};
  // A path is bytes: where they are not UTF-8, the exact ones beside it.
  if (!IsUtf8(r.file)) {
    members.insert(members.begin() + 1, {"file_base64", Json(Base64(r.file))});
  }
  return Object(members);
}

TrustFacts DescribeTrust(const TrustAnchors& anchors) {
  TrustFacts trust;
  switch (anchors.kind()) {
    case TrustAnchors::Kind::kSystem:
      trust.store = "system";
      break;
    case TrustAnchors::Kind::kPemFile:
    case TrustAnchors::Kind::kSystemAndPemFile:
      trust.store = "anchors";
      break;
    case TrustAnchors::Kind::kWindowsRootProgram:
      trust.store = "windows-root-program";
      break;
  }
  trust.location = anchors.location();
  if (const WindowsRoots* roots = anchors.windows_roots()) {
    trust.ctl_this_update = roots->roots().this_update;
    trust.ctl_sequence_number = roots->roots().sequence_number;
  }
  return trust;
}

// The store, in words.
std::string TrustText(const TrustFacts& trust) {
  if (trust.store == "system") {
    return "OpenSSL's default store (SSL_CERT_FILE, SSL_CERT_DIR)";
  }
  if (trust.store == "anchors") {
    return "the default store and " + trust.location;
  }
  std::string text = "Windows' root program in " + trust.location;
  if (trust.ctl_this_update) {
    text += ", CTL of " + FormatTime(*trust.ctl_this_update);
  }
  if (!trust.ctl_sequence_number.empty()) {
    text += ", sequence number " + trust.ctl_sequence_number;
  }
  return text;
}

}  // namespace

FileReport ExplainFile(const std::string& path, TrustAnchors& anchors) {
  FileReport report;
  report.file = path;
  report.result = VerifyAuthenticodeFile(path, anchors, &report.explanation);
  report.trust = DescribeTrust(anchors);
  report.verdict = DescribeTrustResult(
                       {report.result.status, report.result.last_error}, path)
                       .line;
  if (!report.verdict.empty() && report.verdict.back() == '\n') {
    report.verdict.pop_back();
  }
  return report;
}

std::string HumanReport(const FileReport& r, bool colour) {
  const Explanation& e = r.explanation;
  Lines lines(colour);
  lines.Add("", r.file, "  ");
  lines.Add("  " + lines.Mark(r.valid()) + " ", r.verdict, "    ");
  std::string decision = StatusNameOf(r.result.status) + " (" +
                         Hex(r.result.status) + "): " + e.decided_by;
  if (!e.decided_on.empty()) decision += ", on " + e.decided_on;
  lines.Add("    ", decision, "    ");

  const std::string label = "  ";
  const std::string column = "              ";
  lines.Add(label + "trust       ", TrustText(r.trust), column);
  if (!e.chain.anchor.empty()) {
    lines.Add(label + "anchor      ",
              e.chain.anchor + " (" + e.chain.anchor_source + ")", column);
  }
  if (e.image.parsed) {
    std::string image = std::string(e.image.pe32_plus ? "PE32+" : "PE32") +
                        ", " + MachineName(e.image.machine);
    if (e.image.has_table) {
      image += ", certificate table at offset " +
               std::to_string(e.image.table_offset) + ", " +
               std::to_string(e.image.table_size) + " bytes";
    }
    if (!e.image.digest.empty()) image += ", image hash " + e.image.digest;
    if (e.image.hash_matches) {
      image += *e.image.hash_matches ? ", matches the signed one"
                                     : ", does not match the signed one";
    }
    lines.Add(label + "image       ", image, column);
  }
  if (e.signer.certificate) {
    const CertificateFacts& c = *e.signer.certificate;
    lines.Add(label + "signer      ", c.subject, column);
    lines.Add(column, "issued by " + c.issuer, column);
    lines.Add(column,
              "serial " + c.serial + ", key " + c.key + ", signs with " +
                  e.signer.digest_algorithm + " and " +
                  e.signer.signature_algorithm,
              column);
  }
  if (e.checked_at.why != Why::kNotChecked) {
    const char* why = e.checked_at.why == Why::kStamp ? "the timestamp's time"
                      : e.checked_at.why == Why::kNow
                          ? "now: no timestamp"
                          : "now: lifetime signing, whatever the timestamp";
    lines.Add(label + "checked at  ",
              FormatTime(e.checked_at.time) + " (" + why + ")", column);
  }
  if (e.chain.checked) {
    lines.Add(label + "chain, end certificate first:", "", "");
    AddChain(lines, e.chain, "    ");
  }
  const Explanation::Timestamp& t = e.timestamp;
  if (t.kind == Kind::kNone) {
    if (e.image.hash_matches) lines.Add(label + "timestamp   ", "none", column);
  } else {
    std::string stamp = t.kind == Kind::kRfc3161 ? "RFC 3161" : "legacy";
    if (t.time) stamp += ", " + FormatTime(*t.time);
    if (t.authority) stamp += ", by " + t.authority->subject;
    lines.Add(label + "timestamp   ", stamp, column);
    lines.Add(column, t.status, column);
    if (t.chain.checked) {
      lines.Add(column, "its authority's chain:", column);
      AddChain(lines, t.chain, column + "  ");
    }
  }
  return lines.str();
}

std::string JsonReport(const std::vector<FileReport>& reports) {
  std::string out = "[\n";
  for (size_t i = 0; i < reports.size(); ++i) {
    out += "  " + JsonReportOf(reports[i]) +
           (i + 1 < reports.size() ? ",\n" : "\n");
  }
  return out + "]\n";
}

}  // namespace sealprobe
