// Command-line handling shared by the companion tools: an option table from
// which getopt_long parsing and the --help text are both made, whole-value
// number parsing, and the exit-status rules.
//
// Exit statuses: 0 success (and --help, --version); 1 a failure at run time,
// printed as "<tool>: <file>: <reason>"; 2 a usage error, printed as
// "<tool>: <what is wrong>" and "Try '<tool> --help'.". Everything goes to the
// streams the tool is given, so tests run tools in-process.
#pragma once

#include <functional>
#include <initializer_list>
#include <iosfwd>
#include <string>
#include <string_view>
#include <vector>

namespace mapsmith {

// A refused command line (exit status 2). `message` names the option.
struct UsageError {
  std::string message;
};

// A failure while running (exit status 1): the file concerned (empty when
// none) and what went wrong.
struct RunError {
  std::string file;
  std::string reason;
};

struct OptionEntry {
  const char* name;                  // long name, without the dashes
  char shortName = 0;                // 0: long form only
  const char* valueName = nullptr;   // null: a flag that takes no value
  const char* help = "";             // one line for --help
  const char* defaultText = nullptr; // shown as "(default: ...)"
  bool required = false;
};

struct ToolDescription {
  const char* name;       // "MapsmithMap"
  const char* synopsis;   // what follows the name on the usage line
  const char* summary;    // a paragraph for --help
  std::vector<OptionEntry> options;
  int minOperands = 0;    // arguments that are not options
  int maxOperands = 0;
  const char* operandName = "FILE";  // for "missing operand" messages' context
};

// The options and operands of one command line. Repeated options: the last
// value counts. Every accessor that converts a value throws UsageError naming
// the option when the value is not what it must be.
class ParsedOptions {
 public:
  bool Has(std::string_view name) const;
  // The value given, or `fallback` when the option is absent.
  std::string Text(std::string_view name, std::string_view fallback = {}) const;
  // A whole number in [min, max], read entirely ("4x", "4.5", "" refused).
  long long Integer(std::string_view name, long long fallback, long long min, long long max) const;
  // A finite real number in [min, max], read entirely ("nan", "inf" refused).
  double Real(std::string_view name, double fallback, double min, double max) const;
  // One of `choices` (compared exactly), or `fallback`.
  std::string Choice(std::string_view name, std::initializer_list<std::string_view> choices,
                     std::string_view fallback) const;
  const std::vector<std::string>& Operands() const { return operands_; }

 private:
  friend class OptionParser;
  const std::string* Find(std::string_view name) const;
  std::vector<std::pair<std::string, std::string>> values_;  // in command-line order
  std::vector<std::string> operands_;
};

// Parses a command line. Throws UsageError. --help and --version are added to
// every table; `helpRequested`/`versionRequested` report them.
class OptionParser {
 public:
  explicit OptionParser(const ToolDescription& table) : table_(table) {}
  ParsedOptions Parse(int argc, const char* const* argv);
  bool helpRequested = false;
  bool versionRequested = false;

 private:
  const ToolDescription& table_;
};

// Writes the --help text of `table` on `out`.
void PrintHelp(const ToolDescription& table, std::ostream& out);
// "<tool> <project version>".
std::string VersionLine(const char* tool);

// The body of a tool: options parsed, --help and --version handled. Returns
// the exit status (normally 0); throws UsageError or RunError.
using ToolBody = std::function<int(const ParsedOptions&, std::ostream& out, std::ostream& err)>;

// Parses, answers --help/--version, runs `body` and turns its errors into the
// messages and exit statuses above; a lack of memory is a run-time failure.
int RunTool(const ToolDescription& table, int argc, const char* const* argv, std::ostream& out, std::ostream& err,
            const ToolBody& body);

// Runs `work` and turns the library's errors (FileTools::Error, TException,
// TKQstructure::Error) into a RunError naming `file`.
void WithFile(const std::string& file, const std::function<void()>& work);

// Refuses (UsageError) an output that is one of the inputs, by file identity
// (device and inode), so a second name for the same file is caught too.
void CheckOutputIsNoInput(const std::string& outputOption, const std::string& output,
                          const std::vector<std::string>& inputs);

}  // namespace mapsmith
