#include "explain/formats/json_renderer.h"

#include <string>
#include <utility>

#include "explain/formats/json_record.h"

namespace sealprobe {
namespace {

class JsonRenderer : public ReportRenderer {
 public:
  explicit JsonRenderer(std::string version) : version_(std::move(version)) {}
  std::string Add(const FileRecord& record) override {
    const char* before = first_ ? "[\n  " : ",\n  ";
    first_ = false;
    return before + JsonRecord(record, version_);
  }
  std::string End(const RunEnd&) override {
    return first_ ? "[\n]\n" : "\n]\n";
  }

 private:
  std::string version_;
  bool first_ = true;
};

}  // namespace

std::unique_ptr<ReportRenderer> MakeJsonRenderer(
    const RendererSettings& settings) {
  return std::make_unique<JsonRenderer>(settings.version);
}

}  // namespace sealprobe
