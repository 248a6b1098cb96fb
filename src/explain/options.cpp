#include "explain/options.h"

#include <utility>

namespace sealprobe {
namespace {

// What an option takes after its name.
enum class Takes {
  kNothing,      // a flag
  kNothingElse,  // a flag that stands alone: no other argument
  kValue,        // the next argument, or what follows '=' in its own
  kTwoValues,    // the next two, the first of which may follow '='
};

size_t ValuesOf(Takes takes) {
  switch (takes) {
    case Takes::kNothing:
    case Takes::kNothingElse:
      break;
    case Takes::kValue:
      return 1;
    case Takes::kTwoValues:
      return 2;
  }
  return 0;
}

// One option: `take` puts its values (as many as it takes) into the
// options, false when they do not serve; the complaint is then the name and
// `needs`, and with `quote`, the value given.
struct Option {
  const char* name;
  Takes takes;
  bool (*take)(ExplainOptions& o, const std::vector<std::string>& values);
  std::string needs = {};
  bool quote = false;
};

// A whole number from 1 to `most`, in decimal; nothing otherwise.
std::optional<unsigned> JobCount(const std::string& text, unsigned most) {
  if (text.empty() || text.size() > 4) return std::nullopt;
  unsigned value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<unsigned>(c - '0');
  }
  if (value < 1 || value > most) return std::nullopt;
  return value;
}

using Values = std::vector<std::string>;

// Each of the values in `text`, separated by commas (so that one variable
// of a pipeline can hold several), parsed by `parse` into `into`; false,
// adding none, when one is not one.
template <typename T>
bool TakeEach(const std::string& text,
              std::optional<T> (*parse)(const std::string&),
              std::vector<T>& into) {
  std::vector<T> values;
  size_t start = 0;
  for (size_t comma; (comma = text.find(',', start)) != std::string::npos;
       start = comma + 1) {
    std::optional<T> value = parse(text.substr(start, comma - start));
    if (!value) return false;
    values.push_back(std::move(*value));
  }
  std::optional<T> last = parse(text.substr(start));
  if (!last) return false;
  values.push_back(std::move(*last));
  into.insert(into.end(), values.begin(), values.end());
  return true;
}

// The options of the policy a release's files are held to (policy.h).
std::vector<Option> PolicyOptions() {
  return {
      {"--signer", Takes::kValue,
       [](ExplainOptions& o, const Values& v) {
         return TakeEach(v[0], ParseCertificateDigest, o.policy.signers);
       },
       "takes a certificate's SHA-256 or SHA-1 in hexadecimal", true},
      {"--signer-eku", Takes::kValue,
       [](ExplainOptions& o, const Values& v) {
         return TakeEach(v[0], ParseObjectIdentifier, o.policy.signer_ekus);
       },
       "takes an object identifier in dotted decimal", true},
      {"--chain-includes", Takes::kValue,
       [](ExplainOptions& o, const Values& v) {
         return TakeEach(v[0], ParseCertificateDigest, o.policy.chain_includes);
       },
       "takes a certificate's SHA-256 or SHA-1 in hexadecimal", true},
      {"--require-timestamp", Takes::kNothing,
       [](ExplainOptions& o, const Values&) {
         o.policy.require_timestamp = true;
         return true;
       }},
      {"--all-signatures", Takes::kNothing,
       [](ExplainOptions& o, const Values&) {
         o.policy.all_signatures = true;
         return true;
       }},
      {"--allow-unsupported", Takes::kNothing,
       [](ExplainOptions& o, const Values&) {
         o.policy.allow_unsupported = true;
         return true;
       }},
  };
}

std::vector<Option> Options() {
  std::vector<Option> options = {
      {"--help", Takes::kNothingElse,
       [](ExplainOptions& o, const Values&) {
         o.help = true;
         return true;
       }},
      {"--version", Takes::kNothingElse,
       [](ExplainOptions& o, const Values&) {
         o.version = true;
         return true;
       }},
      {"--json", Takes::kNothing,
       [](ExplainOptions& o, const Values&) {
         o.format = ReportFormat::kJson;
         return true;
       }},
      {"--format", Takes::kValue,
       [](ExplainOptions& o, const Values& v) {
         const std::optional<ReportFormat> format = ParseReportFormat(v[0]);
         if (format) o.format = *format;
         return format.has_value();
       },
       "takes " + FormatNames()},
      {"--quiet", Takes::kNothing,
       [](ExplainOptions& o, const Values&) {
         o.quiet = true;
         return true;
       }},
      {"--jobs", Takes::kValue,
       [](ExplainOptions& o, const Values& v) {
         const std::optional<unsigned> jobs = JobCount(v[0], kMaxJobs);
         if (jobs) o.jobs = *jobs;
         return jobs.has_value();
       },
       "takes a number from 1 to " + std::to_string(kMaxJobs)},
      {"--anchors", Takes::kValue,
       [](ExplainOptions& o, const Values& v) {
         o.trust.anchors_file = v[0];
         return true;
       },
       "needs a PEM file"},
      {"--windows-trust", Takes::kValue,
       [](ExplainOptions& o, const Values& v) {
         o.trust.windows_folder = v[0];
         return true;
       },
       "needs a folder"},
      {"--staging", Takes::kTwoValues,
       [](ExplainOptions& o, const Values& v) {
         o.staging.emplace(v[0], v[1]);
         return true;
       },
       "needs PRODUCT_DIR and COMMONFILES_DIR"},
  };
  for (Option& option : PolicyOptions()) options.push_back(std::move(option));
  return options;
}

// Takes the option args[*i] (--name or --name=value) and its values into
// `o`, moving *i past what it took; why not, when it cannot.
std::optional<std::string> TakeOption(const std::vector<Option>& options,
                                      const std::vector<std::string>& args,
                                      size_t* i, ExplainOptions& o) {
  const std::string& arg = args[*i];
  const size_t equals = arg.find('=');
  const std::string name = arg.substr(0, equals);
  const Option* option = nullptr;
  for (const Option& candidate : options) {
    if (name == candidate.name) option = &candidate;
  }
  if (option == nullptr) return "unknown option " + arg;
  const size_t wanted = ValuesOf(option->takes);
  Values values;
  if (equals != std::string::npos) {
    if (wanted == 0) return name + " takes no value";
    values.push_back(arg.substr(equals + 1));
  }
  while (values.size() < wanted && *i + 1 < args.size()) {
    values.push_back(args[++*i]);
  }
  if (option->takes == Takes::kNothingElse && args.size() != 1) {
    return name + " takes nothing else";
  }
  if (values.size() == wanted && option->take(o, values)) return std::nullopt;
  return name + " " + option->needs +
         (option->quote && !values.empty() ? ", not " + values[0] : "");
}

}  // namespace

std::optional<ExplainOptions> ParseExplainOptions(
    const std::vector<std::string>& args, std::string* error) {
  const std::vector<Option> options = Options();
  ExplainOptions o;
  const auto fail = [error](std::string why) {
    *error = std::move(why);
    return std::nullopt;
  };
  bool taking_options = true;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (!taking_options || arg.empty() || arg[0] != '-' || arg == "-") {
      o.paths.push_back(arg);
    } else if (arg == "--") {
      taking_options = false;
    } else if (std::optional<std::string> why =
                   TakeOption(options, args, &i, o)) {
      return fail(std::move(*why));
    }
  }
  if (o.help || o.version) return o;
  if (o.quiet && o.format != ReportFormat::kText) {
    return fail(
        "--quiet shortens the text report; the other formats hold "
        "every file");
  }
  if (o.staging && !o.paths.empty()) {
    return fail("--staging checks the product's files: give no PATH besides");
  }
  if (!o.staging && o.paths.empty()) return fail("no PATH given");
  return o;
}

}  // namespace sealprobe
