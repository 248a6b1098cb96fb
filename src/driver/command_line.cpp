#include "driver/command_line.h"

namespace sealprobe {
namespace {

constexpr NativeChar kQuote = SP_TEXT('"');
constexpr NativeChar kBackslash = SP_TEXT('\\');
constexpr size_t kArgumentCount = 6;  // the program's name and five arguments

bool IsBlank(NativeChar c) { return c == SP_TEXT(' ') || c == SP_TEXT('\t'); }

bool EndsArgument(NativeStringView line, size_t at) {
  return at == line.size() || IsBlank(line[at]);
}

// Reads the program name from `line` starting at `*at`, leaving `*at` on the
// blank after it (or the end).
NativeString ReadProgramName(NativeStringView line, size_t* at) {
  NativeString name;
  bool quoted = false;
  for (; *at < line.size(); ++*at) {
    const NativeChar c = line[*at];
    if (c == kQuote) {
      quoted = !quoted;
    } else if (!quoted && IsBlank(c)) {
      break;
    } else {
      name.push_back(c);
    }
  }
  return name;
}

// Whether a split keeps the installers' exception (see SplitAsInstallersQuote)
// or reads the line by the runtime's documented rules alone.
enum class Rules { kRuntime, kInstallers };

// Reads one argument from `line` starting at `*at` (not a blank), leaving
// `*at` on the blank after it (or the end). Sets `*quote_pair_in_quotes` when
// it meets a "" inside a quoted part.
NativeString ReadArgument(NativeStringView line, size_t* at, Rules rules,
                          bool* quote_pair_in_quotes) {
  NativeString argument;
  bool quoted = false;
  size_t i = *at;
  while (i < line.size() && (quoted || !IsBlank(line[i]))) {
    const NativeChar c = line[i];
    if (c == kBackslash) {
      size_t end = i;
      while (end < line.size() && line[end] == kBackslash) ++end;
      const size_t count = end - i;
      if (end == line.size() || line[end] != kQuote) {
        argument.append(count, kBackslash);
        i = end;
      } else if (rules == Rules::kInstallers && quoted && count % 2 == 1 &&
                 EndsArgument(line, end + 1)) {
        // A folder's trailing separator before the closing quote, as
        // "[INSTALLDIR]" writes it: the runtime would read an escaped quote.
        // An even run is already the runtime's form ("[INSTALLDIR]\") and is
        // halved below; kept whole, "\\?\C:\Tarvo\\" would end in an empty
        // component, which opens no file.
        argument.append(count, kBackslash);
        quoted = false;
        i = end + 1;
      } else {
        argument.append(count / 2, kBackslash);
        if (count % 2 == 1) {
          argument.push_back(kQuote);
          i = end + 1;
        } else {
          i = end;  // the quote opens or closes a quoted part, below
        }
      }
    } else if (c == kQuote) {
      if (quoted && i + 1 < line.size() && line[i + 1] == kQuote) {
        // The rule of the runtimes since Visual C++ 2008: a quote, and the
        // part goes on. Windows' own msvcrt.dll ends the part there.
        *quote_pair_in_quotes = true;
        argument.push_back(kQuote);
        i += 2;
      } else {
        quoted = !quoted;
        ++i;
      }
    } else {
      argument.push_back(c);
      ++i;
    }
  }
  *at = i;
  return argument;
}

struct Split {
  std::vector<NativeString> args;
  bool quote_pair_in_quotes = false;
};

Split SplitLine(NativeStringView line, Rules rules) {
  size_t at = 0;
  Split split{{ReadProgramName(line, &at)}};
  for (;;) {
    while (at < line.size() && IsBlank(line[at])) ++at;
    if (at == line.size()) break;
    split.args.push_back(
        ReadArgument(line, &at, rules, &split.quote_pair_in_quotes));
  }
  return split;
}

bool HoldsFiveArguments(const std::vector<NativeString>& args) {
  return args.size() == kArgumentCount;
}

bool FoldersAreQuoteFree(const std::vector<NativeString>& args) {
  return args[1].find(kQuote) == NativeString::npos &&
         args[2].find(kQuote) == NativeString::npos;
}

}  // namespace

std::vector<NativeString> SplitAsInstallersQuote(NativeStringView line) {
  return SplitLine(line, Rules::kInstallers).args;
}

std::vector<NativeString> SplitAsTheRuntimeDocuments(NativeStringView line) {
  return SplitLine(line, Rules::kRuntime).args;
}

std::optional<std::vector<NativeString>> ChooseArguments(
    const std::vector<NativeString>& runtime_args,
    const std::optional<NativeString>& command_line) {
  if (!command_line) {
    if (HoldsFiveArguments(runtime_args)) return runtime_args;
    return std::nullopt;
  }
  // The two rules for "" inside quotes split the rest of the line apart, and
  // which one the runtime followed cannot be told from its vector. The
  // documented rule is taken whichever it was, so that a message holding ""
  // reads the same on every Windows.
  const Split documented = SplitLine(*command_line, Rules::kRuntime);
  const std::vector<NativeString>& runtime =
      documented.quote_pair_in_quotes ? documented.args : runtime_args;
  if (HoldsFiveArguments(runtime) && FoldersAreQuoteFree(runtime)) {
    return runtime;
  }
  std::vector<NativeString> resplit = SplitAsInstallersQuote(*command_line);
  if (HoldsFiveArguments(resplit) && FoldersAreQuoteFree(resplit)) {
    return resplit;
  }
  return std::nullopt;
}

}  // namespace sealprobe
