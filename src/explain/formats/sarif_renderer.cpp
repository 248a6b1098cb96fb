#include "explain/formats/sarif_renderer.h"

#include <string>
#include <utility>
#include <vector>

#include "explain/formats/json_writer.h"
#include "explain/words/codes.h"
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

class SarifRenderer : public ReportRenderer {
 public:
  explicit SarifRenderer(std::string version) : version_(std::move(version)) {}

  std::string Add(const FileRecord& record) override {
    if (record.valid()) return {};
    const std::string code = DecidingCode(record);
    size_t index = 0;
    while (index < rules_.size() && rules_[index] != code) ++index;
    if (index == rules_.size()) rules_.push_back(code);
    const std::string location = JsonObject(
        {{"physicalLocation",
          JsonObject(
              {{"artifactLocation",
                JsonObject({{"uri", JsonString(PathUri(record.file))}})}})}});
    // A policy fails a file Windows calls valid: its rule comes first.
    std::string text = DecidingRule(record);
    if (record.policy) {
      text = "The policy fails it: " + text +
             ". Windows' verdict: " + record.verdict;
    } else if (!record.verdict.empty()) {
      text = record.verdict + " (" + text + ")";
    }
    if (record.unsupported) {
      text = (record.unsupported_allowed
                  ? "Not checked, which --allow-unsupported lets pass: "
                  : "Not checked: ") +
             text;
    }
    JsonMembers properties = {{"file", JsonString(record.file)}};
    if (record.found()) {
      const uint32_t status = record.verification.result.status;
      properties.push_back({"status", JsonString(status::StatusHex(status))});
      properties.push_back(
          {"status_name", JsonString(status::StatusNameOf(status))});
    }
    results_.push_back(
        JsonObject({{"ruleId", JsonString(code)},
                    {"ruleIndex", std::to_string(index)},
                    {"level", JsonString(record.passes() ? "note" : "error")},
                    {"message", JsonObject({{"text", JsonString(text)}})},
                    {"locations", JsonArray({location})},
                    {"properties", JsonObject(properties)}}));
    return {};
  }

  std::string End() override {
    std::vector<std::string> rules;
    for (const std::string& code : rules_) {
      rules.push_back(JsonObject({{"id", JsonString(code)}}));
    }
    const std::string driver =
        JsonObject({{"name", JsonString("sealprobe-explain")},
                    {"version", JsonString(version_)},
                    {"rules", JsonArray(rules)}});
    std::string out =
        "{\"$schema\": "
        "\"https://json.schemastore.org/sarif-2.1.0.json\",\n"
        " \"version\": \"2.1.0\",\n"
        " \"runs\": [{\"tool\": {\"driver\": " +
        driver + "},\n  \"results\": [";
    for (size_t i = 0; i < results_.size(); ++i) {
      out += (i == 0 ? "\n   " : ",\n   ") + results_[i];
    }
    return out + "]}]}\n";
  }

 private:
  std::string version_;
  std::vector<std::string> rules_;    // the codes met, in order
  std::vector<std::string> results_;  // written
};

}  // namespace

std::unique_ptr<ReportRenderer> MakeSarifRenderer(
    const RendererSettings& settings) {
  return std::make_unique<SarifRenderer>(settings.version);
}

}  // namespace sealprobe
