// JUnit XML, as Jenkins and GitLab read it: one test suite, one test case
// per report, named by its file; a report that is not valid has a failure
// whose type is its code.
#include <string>
#include <utility>

#include "explain/formats/format_table.h"
#include "explain/formats/json_writer.h"
#include "explain/words/codes.h"
#include "explain/words/wording.h"
#include "trust_status.h"

namespace sealprobe {
namespace {

// `text` as XML 1.0 character data or attribute value: UTF-8 (ValidUtf8),
// the markup characters and line breaks as references, and each character
// XML 1.0 cannot hold at all (C0 controls but tab, line feed and carriage
// return; U+FFFE and U+FFFF) as U+FFFD.
std::string Xml(const std::string& text) {
  const std::string utf8 = ValidUtf8(text);
  std::string out;
  for (size_t i = 0; i < utf8.size(); ++i) {
    const auto c = static_cast<unsigned char>(utf8[i]);
    switch (c) {
      case '&':
        out += "&amp;";
        continue;
      case '<':
        out += "&lt;";
        continue;
      case '>':
        out += "&gt;";
        continue;
      case '"':
        out += "&quot;";
        continue;
      case '\t':
        out += "&#9;";
        continue;
      case '\n':
        out += "&#10;";
        continue;
      case '\r':
        out += "&#13;";
        continue;
      default:
        break;
    }
    const bool noncharacter = c == 0xef && i + 2 < utf8.size() &&
                              static_cast<unsigned char>(utf8[i + 1]) == 0xbf &&
                              static_cast<unsigned char>(utf8[i + 2]) >= 0xbe;
    if (c < 0x20 || noncharacter) {
      out += "\xef\xbf\xbd";
      if (noncharacter) i += 2;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

class JUnitRenderer : public ReportRenderer {
 public:
  explicit JUnitRenderer(std::string version) : version_(std::move(version)) {}

  std::string Add(const FileRecord& report) override {
    ++tests_;
    cases_ += "    <testcase classname=\"sealprobe-explain\" name=\"" +
              Xml(report.file) + "\"";
    if (report.valid()) {
      cases_ += "/>\n";
      return {};
    }
    ++failures_;
    const std::string code = DecidingCode(report);
    std::string body = report.verdict;
    if (report.found()) {
      const uint32_t status = report.verification.result.status;
      body += (body.empty() ? "" : "\n") + status::StatusNameOf(status) + " (" +
              status::StatusHex(status) + ")";
    }
    cases_ += ">\n      <failure type=\"" + Xml(code) + "\" message=\"" +
              Xml(code + ": " + DecidingRule(report)) + "\">" + Xml(body) +
              "</failure>\n    </testcase>\n";
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
           counts + " skipped=\"0\">\n" +
           "    <properties>\n"
           "      <property name=\"version\" value=\"" +
           Xml(version_) +
           "\"/>\n"
           "    </properties>\n" +
           cases_ + "  </testsuite>\n</testsuites>\n";
  }

 private:
  std::string version_;
  std::string cases_;
  size_t tests_ = 0;
  size_t failures_ = 0;
};

}  // namespace

std::unique_ptr<ReportRenderer> MakeJUnitRenderer(const std::string& version) {
  return std::make_unique<JUnitRenderer>(version);
}

}  // namespace sealprobe
