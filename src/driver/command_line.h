// Which argument vector a run goes by. Installers quote folder arguments as
// "[INSTALLDIR]", and a folder property ends in a backslash, so the C
// runtime's split reads the closing \" as an escaped quote: it runs folders
// together with the next argument and loses the count. On Windows the raw
// command line is still there to be split again the way installers assume.
#ifndef SEALPROBE_DRIVER_COMMAND_LINE_H_
#define SEALPROBE_DRIVER_COMMAND_LINE_H_

#include <optional>
#include <vector>

#include "native_text.h"

namespace sealprobe {

// The command line the process was started with, where the platform keeps
// one: Windows, GetCommandLineW(). POSIX has none (nullopt): a program gets
// its argument vector exactly as its caller made it.
std::optional<NativeString> ProcessCommandLine();

// Splits a whole Windows command line, program name first, the way installers
// assume it is read:
// - The program name runs to the first space or tab outside quotes; quotes
//   only toggle, backslashes are plain characters.
// - Then, arguments are separated by spaces and tabs outside quotes, and the
//   C runtime's documented rules apply: 2n backslashes before a quote give n
//   backslashes and the quote opens or closes a quoted part; 2n+1 give n and
//   a literal quote; other backslashes are literal; "" inside a quoted part is
//   a literal quote and the part goes on (the rule of the runtimes since
//   Visual C++ 2008; Windows' own msvcrt.dll ends the part there); an
//   unclosed quote runs to the end of the line.
// - Except: inside a quoted part, an odd run of backslashes followed by a
//   quote that is followed by a space, a tab or the end of the line is kept
//   whole, and that quote closes the part: "C:\Program Files\Tarvo\" gives
//   C:\Program Files\Tarvo\. An even run there is halved, as the runtime
//   reads it: "\\?\C:\Tarvo\\" gives \\?\C:\Tarvo\.
// Element 0 of the result is the program name; there is always one.
std::vector<NativeString> SplitAsInstallersQuote(NativeStringView line);

// The same split without the installers' exception: the C runtime's
// documented rules alone ("Parsing C command-line arguments").
std::vector<NativeString> SplitAsTheRuntimeDocuments(NativeStringView line);

// The argument vector a run goes by, element 0 the program's name.
// `runtime_args` is the C runtime's split; `command_line` what
// ProcessCommandLine() gave.
// - Without a command line (POSIX), `runtime_args` when it holds exactly five
//   arguments; a '"' is an ordinary character in a POSIX file name.
// - Otherwise `runtime_args` when it holds exactly five arguments and neither
//   folder (arguments 1 and 2) holds a '"', which no Windows path can; failing
//   that, SplitAsInstallersQuote(*command_line) when that does. Where the line
//   holds a "" inside a quoted part, which the runtimes before and since 2008
//   read differently, SplitAsTheRuntimeDocuments(*command_line) stands in for
//   `runtime_args`: the run goes by the same vector whichever runtime split.
// nullopt when neither qualifies: the run prints its usage text. A folder
// holding '"' is never handed on.
std::optional<std::vector<NativeString>> ChooseArguments(
    const std::vector<NativeString>& runtime_args,
    const std::optional<NativeString>& command_line);

}  // namespace sealprobe

#endif  // SEALPROBE_DRIVER_COMMAND_LINE_H_
