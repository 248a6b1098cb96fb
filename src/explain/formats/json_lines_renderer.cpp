#include "explain/formats/json_lines_renderer.h"

#include <string>
#include <utility>

#include "explain/formats/json_record.h"

namespace sealprobe {
namespace {

class JsonLinesRenderer : public ReportRenderer {
 public:
  explicit JsonLinesRenderer(std::string version)
      : version_(std::move(version)) {}
  std::string Add(const FileRecord& record) override {
    return JsonRecord(record, version_) + "\n";
  }
  std::string End(const RunEnd&) override { return {}; }

 private:
  std::string version_;
};

}  // namespace

std::unique_ptr<ReportRenderer> MakeJsonLinesRenderer(
    const RendererSettings& settings) {
  return std::make_unique<JsonLinesRenderer>(settings.version);
}

}  // namespace sealprobe
