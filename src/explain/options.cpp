#include "explain/options.h"

#include <utility>

namespace sealprobe {
namespace {

// A whole number from 1 to `most`, in decimal; nullopt otherwise.
std::optional<unsigned> Count(const std::string& text, unsigned most) {
  if (text.empty() || text.size() > 4) return std::nullopt;
  unsigned value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<unsigned>(c - '0');
  }
  if (value < 1 || value > most) return std::nullopt;
  return value;
}

}  // namespace

std::optional<ExplainOptions> ParseExplainOptions(
    const std::vector<std::string>& args, std::string* error) {
  ExplainOptions o;
  bool options = true;
  const auto fail = [error](std::string why) {
    *error = std::move(why);
    return std::nullopt;
  };
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    // The value after an option, when there is one.
    const auto value = [&args, &i]() -> const std::string* {
      return i + 1 < args.size() ? &args[++i] : nullptr;
    };
    if (!options || arg.empty() || arg[0] != '-' || arg == "-") {
      o.paths.push_back(arg);
    } else if (arg == "--") {
      options = false;
    } else if (arg == "--help" || arg == "--version") {
      if (args.size() != 1) return fail(arg + " takes nothing else");
      (arg == "--help" ? o.help : o.version) = true;
    } else if (arg == "--json") {
      o.format = ReportFormat::kJson;
    } else if (arg == "--format") {
      const std::string* name = value();
      const std::optional<ReportFormat> format =
          name ? ParseReportFormat(*name) : std::nullopt;
      if (!format) {
        return fail("--format takes text, json, jsonl, junit or sarif");
      }
      o.format = *format;
    } else if (arg == "--signer") {
      const std::string* hash = value();
      std::optional<std::vector<uint8_t>> digest =
          hash ? ParseCertificateDigest(*hash) : std::nullopt;
      if (!digest) {
        return fail(
            "--signer takes a certificate's SHA-256 or SHA-1 in hexadecimal" +
            (hash ? ", not " + *hash : std::string()));
      }
      o.policy.signers.push_back(std::move(*digest));
    } else if (arg == "--require-timestamp") {
      o.policy.require_timestamp = true;
    } else if (arg == "--all-signatures") {
      o.policy.all_signatures = true;
    } else if (arg == "--jobs") {
      const std::string* text = value();
      const std::optional<unsigned> jobs =
          text ? Count(*text, kMaxJobs) : std::nullopt;
      if (!jobs) {
        return fail("--jobs takes a number from 1 to " +
                    std::to_string(kMaxJobs));
      }
      o.jobs = *jobs;
    } else if (arg == "--anchors") {
      const std::string* file = value();
      if (!file) return fail("--anchors needs a PEM file");
      o.trust.anchors_file = *file;
    } else if (arg == "--windows-trust") {
      const std::string* folder = value();
      if (!folder) return fail("--windows-trust needs a folder");
      o.trust.windows_folder = *folder;
    } else if (arg == "--staging") {
      if (i + 2 >= args.size()) {
        return fail("--staging needs PRODUCT_DIR and COMMONFILES_DIR");
      }
      o.staging.emplace(args[i + 1], args[i + 2]);
      i += 2;
    } else {
      return fail("unknown option " + arg);
    }
  }
  if (o.help || o.version) return o;
  if (o.staging && !o.paths.empty()) {
    return fail("--staging checks the product's files: give no PATH besides");
  }
  if (!o.staging && o.paths.empty()) return fail("no PATH given");
  return o;
}

}  // namespace sealprobe
