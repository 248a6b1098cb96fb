#include "explain/formats/sarif_renderer.h"

#include <openssl/sha.h>

#include <string>
#include <utility>
#include <vector>

#include "explain/formats/json_writer.h"
#include "explain/words/code_help.h"
#include "explain/words/codes.h"
#include "explain/words/describe.h"
#include "explain/words/wording.h"
#include "trust_status.h"

namespace sealprobe {
namespace {

// `path` as a URI reference: relative stays relative (to the folder the
// run started in, which a pipeline's checkout is), absolute is a file URI;
// every octet but the unreserved ones and '/' percent-encoded.
std::string PathUri(const std::string& path) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string uri = !path.empty() && path[0] == '/' ? "file://" : "";
  for (const char ch : path) {
    const auto c = static_cast<unsigned char>(ch);
    const bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                       (c >= '0' && c <= '9') || c == '-' || c == '.' ||
                       c == '_' || c == '~' || c == '/';
    if (plain) {
      uri += ch;
    } else {
      uri += '%';
      uri += kHex[c >> 4];
      uri += kHex[c & 0xf];
    }
  }
  return uri;
}

// What code scanning tracks an alert by across runs. Its own would hash
// the file's first line, which for a program changes with every build: so
// the code and the path alone, the same every run for the same finding.
std::string Fingerprint(const std::string& code, const std::string& uri) {
  const std::string what = code + '\0' + uri;
  unsigned char digest[SHA256_DIGEST_LENGTH];
  SHA256(reinterpret_cast<const unsigned char*>(what.data()), what.size(),
         digest);
  return HexOf(digest, 16);
}

// `text` as a sentence: a capital first, a full stop last.
std::string Sentence(std::string text) {
  if (!text.empty() && text[0] >= 'a' && text[0] <= 'z') {
    text[0] = static_cast<char>(text[0] - 'a' + 'A');
  }
  return text.empty() || text.back() == '.' ? text : text + ".";
}

// A result's message, which code scanning shows as the alert's title,
// cut to its first sentence where room is short: the reason first, then
// Windows' verdict when there was a file.
std::string Message(const FileRecord& record) {
  const std::string verdict = WindowsVerdict(record);
  const std::string text = Sentence(FailureReason(record)) +
                           (verdict.empty() ? "" : " " + verdict);
  if (!record.unsupported) return text;
  return (record.unsupported_allowed
              ? "Not checked, which --allow-unsupported lets pass: "
              : "Not checked: ") +
         text;
}

std::string Text(const std::string& text) {
  return JsonObject({{"text", JsonString(text)}});
}

// The rule of `code`, with the help code scanning shows beside an alert
// and, with `docs_url`, the address of the code's row in the verifier's
// guide.
std::string Rule(const std::string& code, const std::string& docs_url) {
  const std::optional<CodeHelp> help = HelpFor(code);
  const std::string title = help ? help->title : code;
  const std::string description = help ? help->description : code;
  const std::string uri =
      docs_url.empty() ? std::string() : docs_url + "verifier.md#" + code;
  const std::string evidence =
      "the rule that decided and the certificate it was found on, the "
      "signer, the chain and the timestamp.";
  std::string text =
      description +
      "\n\nsealprobe-explain FILE shows the evidence: " + evidence;
  std::string markdown =
      "**" + title + "** (`" + code + "`)\n\n" + description +
      "\n\n`sealprobe-explain FILE` shows the evidence: " + evidence;
  if (!uri.empty()) {
    text += "\n\nThe stable codes: " + uri;
    markdown += "\n\n[`" + code + "` among the stable codes](" + uri + ")";
  }
  JsonMembers members = {
      {"id", JsonString(code)},
      {"shortDescription", Text(title)},
      {"fullDescription", Text(description)},
      {"defaultConfiguration", JsonObject({{"level", JsonString("error")}})},
      {"help", JsonObject({{"text", JsonString(text)},
                           {"markdown", JsonString(markdown)}})}};
  if (!uri.empty()) members.push_back({"helpUri", JsonString(uri)});
  members.push_back(
      {"properties", JsonObject({{"tags", JsonArray({JsonString("security")})},
                                 {"precision", JsonString("very-high")}})});
  return JsonObject(members);
}

class SarifRenderer : public ReportRenderer {
 public:
  explicit SarifRenderer(const RendererSettings& settings)
      : settings_(settings) {}

  std::string Add(const FileRecord& record) override {
    const Outcome outcome = OutcomeOf(record);
    if (outcome == Outcome::kValid) return {};
    const std::string code = DecidingCode(record);
    size_t index = 0;
    while (index < rules_.size() && rules_[index] != code) ++index;
    if (index == rules_.size()) rules_.push_back(code);
    const std::string uri = PathUri(record.file);
    // A program has no lines: its first stands for the whole file.
    const std::string region = JsonObject({{"startLine", "1"},
                                           {"startColumn", "1"},
                                           {"endLine", "1"},
                                           {"endColumn", "1"}});
    const std::string location =
        JsonObject({{"physicalLocation",
                     JsonObject({{"artifactLocation",
                                  JsonObject({{"uri", JsonString(uri)}})},
                                 {"region", region}})}});
    JsonMembers properties = {{"file", JsonString(record.file)}};
    if (record.found()) {
      const uint32_t status = record.verification.result.status;
      properties.push_back({"status", JsonString(status::StatusHex(status))});
      properties.push_back(
          {"status_name", JsonString(status::StatusNameOf(status))});
    }
    const char* level = outcome == Outcome::kNotChecked ? "note" : "error";
    results_.push_back(
        JsonObject({{"ruleId", JsonString(code)},
                    {"ruleIndex", std::to_string(index)},
                    {"level", JsonString(level)},
                    {"message", Text(Message(record))},
                    {"locations", JsonArray({location})},
                    {"partialFingerprints",
                     JsonObject({{"primaryLocationLineHash",
                                  JsonString(Fingerprint(code, uri))}})},
                    {"properties", JsonObject(properties)}}));
    return {};
  }

  std::string End(const RunEnd& end) override {
    std::vector<std::string> rules;
    for (const std::string& code : rules_) {
      rules.push_back(Rule(code, settings_.docs_url));
    }
    const std::string driver =
        JsonObject({{"name", JsonString("sealprobe-explain")},
                    {"version", JsonString(settings_.version)},
                    {"rules", JsonArray(rules)}});
    std::string out =
        "{\"$schema\": "
        "\"https://json.schemastore.org/sarif-2.1.0.json\",\n"
        " \"version\": \"2.1.0\",\n"
        " \"runs\": [{\"tool\": {\"driver\": " +
        driver + "},\n  \"invocations\": [" + Invocation(end) +
        "],\n  \"results\": [";
    for (size_t i = 0; i < results_.size(); ++i) {
      out += (i == 0 ? "\n   " : ",\n   ") + results_[i];
    }
    return out + "]}]}\n";
  }

 private:
  // How the run went: its exit status (2 and up: the check could not be
  // made whole) and the store it judged by.
  std::string Invocation(const RunEnd& end) const {
    const std::vector<std::pair<std::string, std::string>> fields =
        TrustFields(settings_.trust);
    JsonMembers trust;
    for (const auto& [name, value] : fields) {
      trust.push_back({name.c_str(), JsonString(value)});
    }
    return JsonObject(
        {{"executionSuccessful", end.exit_status <= 1 ? "true" : "false"},
         {"exitCode", std::to_string(end.exit_status)},
         {"properties", JsonObject({{"trust", JsonObject(trust)}})}});
  }

  RendererSettings settings_;
  std::vector<std::string> rules_;    // the codes met, in order
  std::vector<std::string> results_;  // written
};

}  // namespace

std::unique_ptr<ReportRenderer> MakeSarifRenderer(
    const RendererSettings& settings) {
  return std::make_unique<SarifRenderer>(settings);
}

}  // namespace sealprobe
