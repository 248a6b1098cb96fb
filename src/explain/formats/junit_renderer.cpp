#include "explain/formats/junit_renderer.h"

#include <string>
#include <utility>

#include "explain/formats/xml_writer.h"
#include "explain/words/codes.h"
#include "explain/words/wording.h"
#include "trust_status.h"

namespace sealprobe {
namespace {

class JUnitRenderer : public ReportRenderer {
 public:
  explicit JUnitRenderer(std::string version) : version_(std::move(version)) {}

  std::string Add(const FileRecord& record) override {
    ++tests_;
    cases_ += "    <testcase classname=\"sealprobe-explain\" name=\"" +
              XmlText(record.file) + "\"";
    if (record.valid()) {
      cases_ += "/>\n";
      return {};
    }
    const std::string code = DecidingCode(record);
    // A file of a kind not verified, let pass: skipped, not passed.
    if (record.passes()) {
      ++skipped_;
      cases_ += ">\n      <skipped message=\"" +
                XmlText(code + ": " + DecidingRule(record)) +
                "\"/>\n    </testcase>\n";
      return {};
    }
    ++failures_;
    std::string body = record.verdict;
    if (record.found()) {
      const uint32_t status = record.verification.result.status;
      body += (body.empty() ? "" : "\n") + status::StatusNameOf(status) + " (" +
              status::StatusHex(status) + ")";
    }
    cases_ += ">\n      <failure type=\"" + XmlText(code) + "\" message=\"" +
              XmlText(code + ": " + DecidingRule(record)) + "\">" +
              XmlText(body) + "</failure>\n    </testcase>\n";
    return {};
  }

  std::string End() override {
    const std::string counts = " tests=\"" + std::to_string(tests_) +
                               "\" failures=\"" + std::to_string(failures_) +
                               "\" errors=\"0\"";
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<testsuites name=\"sealprobe-explain\"" +
           counts +
           ">\n"
           "  <testsuite name=\"sealprobe-explain\"" +
           counts + " skipped=\"" + std::to_string(skipped_) + "\">\n" +
           "    <properties>\n"
           "      <property name=\"version\" value=\"" +
           XmlText(version_) +
           "\"/>\n"
           "    </properties>\n" +
           cases_ + "  </testsuite>\n</testsuites>\n";
  }

 private:
  std::string version_;
  std::string cases_;
  size_t tests_ = 0;
  size_t failures_ = 0;
  size_t skipped_ = 0;
};

}  // namespace

std::unique_ptr<ReportRenderer> MakeJUnitRenderer(
    const RendererSettings& settings) {
  return std::make_unique<JUnitRenderer>(settings.version);
}

}  // namespace sealprobe
