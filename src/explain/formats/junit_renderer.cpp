#include "explain/formats/junit_renderer.h"

#include <cstdio>
#include <string>
#include <utility>

#include "explain/formats/xml_writer.h"
#include "explain/words/codes.h"
#include "explain/words/describe.h"
#include "explain/words/wording.h"

namespace sealprobe {
namespace {

// A time attribute: seconds, to the millisecond.
std::string Seconds(double seconds) {
  char text[32];
  std::snprintf(text, sizeof(text), "%.3f", seconds > 0 ? seconds : 0.0);
  return text;
}

// What a failure or an error says. GitLab shows its text alone, never its
// message, so the text leads with the code and the reason in words; then,
// on a line of its own, Windows' verdict when there was a file.
std::string Body(const FileRecord& record, const std::string& code) {
  const std::string verdict = WindowsVerdict(record);
  return code + ": " + FailureReason(record) +
         (verdict.empty() ? "" : "\n" + verdict);
}

// Whether the check of `record` could not be made, which JUnit calls an
// error, not a failure of the file: it could not be read, or the trust
// data did not load.
bool CouldNotCheck(const FileRecord& record) {
  return OutcomeOf(record) == Outcome::kUnreadable ||
         (record.found() && record.verification.rule == Rule::kTrustNotLoaded);
}

class JUnitRenderer : public ReportRenderer {
 public:
  JUnitRenderer(std::string version, const TrustFacts& trust)
      : version_(std::move(version)), trust_(trust) {}

  std::string Add(const FileRecord& record) override {
    ++tests_;
    cases_ += "    <testcase classname=\"sealprobe-explain\" name=\"" +
              XmlText(record.file) + "\" time=\"" + Seconds(record.seconds) +
              "\"";
    const Outcome outcome = OutcomeOf(record);
    if (outcome == Outcome::kValid) {
      cases_ += "/>\n";
      return {};
    }
    const std::string code = DecidingCode(record);
    const std::string message = XmlText(code + ": " + FailureReason(record));
    if (outcome == Outcome::kNotChecked) {
      ++skipped_;
      cases_ +=
          ">\n      <skipped message=\"" + message + "\"/>\n    </testcase>\n";
      return {};
    }
    const bool error = CouldNotCheck(record);
    ++(error ? errors_ : failures_);
    const std::string element = error ? "error" : "failure";
    cases_ += ">\n      <" + element + " type=\"" + XmlText(code) +
              "\" message=\"" + message + "\">" + XmlText(Body(record, code)) +
              "</" + element + ">\n    </testcase>\n";
    return {};
  }

  std::string End(const RunEnd& end) override {
    const std::string counts = " tests=\"" + std::to_string(tests_) +
                               "\" failures=\"" + std::to_string(failures_) +
                               "\" errors=\"" + std::to_string(errors_) + "\"";
    const std::string time = " time=\"" + Seconds(end.seconds) + "\"";
    std::string properties = Property("version", version_);
    for (const auto& [name, value] : TrustFields(trust_)) {
      properties += Property("trust." + name, value);
    }
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<testsuites name=\"sealprobe-explain\"" +
           counts + time +
           ">\n"
           "  <testsuite name=\"sealprobe-explain\"" +
           counts + " skipped=\"" + std::to_string(skipped_) + "\"" + time +
           ">\n    <properties>\n" + properties + "    </properties>\n" +
           cases_ + "  </testsuite>\n</testsuites>\n";
  }

 private:
  static std::string Property(const std::string& name,
                              const std::string& value) {
    return "      <property name=\"" + XmlText(name) + "\" value=\"" +
           XmlText(value) + "\"/>\n";
  }

  std::string version_;
  TrustFacts trust_;
  std::string cases_;
  size_t tests_ = 0;
  size_t failures_ = 0;
  size_t errors_ = 0;
  size_t skipped_ = 0;
};

}  // namespace

std::unique_ptr<ReportRenderer> MakeJUnitRenderer(
    const RendererSettings& settings) {
  return std::make_unique<JUnitRenderer>(settings.version, settings.trust);
}

}  // namespace sealprobe
