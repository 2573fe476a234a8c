#include "Kohonen/Common/CommandLine.h"

#include <getopt.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <mutex>
#include <new>
#include <ostream>
#include <string>

#include "FileHandler/AtomicFile.h"
#include "FileHandler/ParseTools.h"
#include "KQmessage/KQML.h"
#include "KQmessage/TException.h"

#ifndef MAPSMITH_VERSION
#define MAPSMITH_VERSION "unknown"
#endif

namespace mapsmith {

namespace {

// getopt_long's value for an option of the table: its index plus this offset,
// so long-only options need no character of their own.
constexpr int kIndexBase = 1000;
constexpr int kHelp = 1;
constexpr int kVersion = 2;

std::string Quoted(std::string_view text) { return "'" + std::string(text) + "'"; }

std::string Dashed(std::string_view name) { return "--" + std::string(name); }

std::string Number(double value) {
  char buffer[FileTools::GeneralNumberSize];
  return std::string(FileTools::FormatGeneral(value, buffer));
}

}  // namespace

// ------------------------------------------------------------- ParsedOptions

const std::string* ParsedOptions::Find(std::string_view name) const {
  for (auto it = values_.rbegin(); it != values_.rend(); ++it)
    if (it->first == name) return &it->second;
  return nullptr;
}

bool ParsedOptions::Has(std::string_view name) const { return Find(name) != nullptr; }

std::string ParsedOptions::Text(std::string_view name, std::string_view fallback) const {
  const std::string* value = Find(name);
  return value != nullptr ? *value : std::string(fallback);
}

long long ParsedOptions::Integer(std::string_view name, long long fallback, long long min,
                                 long long max) const {
  const std::string* value = Find(name);
  if (value == nullptr) return fallback;
  long long result = 0;
  const char* first = value->data();
  const char* last = first + value->size();
  if (first != last && *first == '+') ++first;  // from_chars takes no plus sign
  auto [end, ec] = std::from_chars(first, last, result);
  if (ec == std::errc::result_out_of_range || (ec == std::errc() && end == last && (result < min || result > max)))
    throw UsageError{"option " + Dashed(name) + " must be between " + std::to_string(min) + " and " +
                     std::to_string(max) + ", not " + Quoted(*value)};
  if (ec != std::errc() || end != last || first == last)
    throw UsageError{"option " + Dashed(name) + " expects a whole number, not " + Quoted(*value)};
  return result;
}

double ParsedOptions::Real(std::string_view name, double fallback, double min, double max) const {
  const std::string* value = Find(name);
  if (value == nullptr) return fallback;
  double result = 0.0;
  const char* first = value->data();
  const char* last = first + value->size();
  if (first != last && *first == '+') ++first;
  auto [end, ec] = std::from_chars(first, last, result, std::chars_format::general);
  if (ec != std::errc() || end != last || first == last || !std::isfinite(result))
    throw UsageError{"option " + Dashed(name) + " expects a number, not " + Quoted(*value)};
  if (result < min || result > max) {
    std::string text = "option " + Dashed(name) + " must be ";
    if (max == HUGE_VAL || max == std::numeric_limits<double>::max())
      text += "at least " + Number(min);
    else
      text += "between " + Number(min) + " and " + Number(max);
    throw UsageError{text + ", not " + Quoted(*value)};
  }
  return result;
}

std::string ParsedOptions::Choice(std::string_view name, std::initializer_list<std::string_view> choices,
                                  std::string_view fallback) const {
  const std::string* value = Find(name);
  if (value == nullptr) return std::string(fallback);
  for (std::string_view choice : choices)
    if (*value == choice) return *value;
  std::string list;
  for (std::string_view choice : choices) {
    if (!list.empty()) list += ", ";
    list += choice;
  }
  throw UsageError{"option " + Dashed(name) + " expects one of " + list + ", not " + Quoted(*value)};
}

// -------------------------------------------------------------- OptionParser

ParsedOptions OptionParser::Parse(int argc, const char* const* argv) {
  helpRequested = false;
  versionRequested = false;
  // getopt_long permutes its argument vector; it gets copies.
  std::vector<std::string> args(argv, argv + argc);
  std::vector<char*> argPointers;
  for (std::string& arg : args) argPointers.push_back(arg.data());
  argPointers.push_back(nullptr);

  std::vector<option> table;
  std::string shortOptions = ":";  // ':' first: a missing value is reported as ':'
  for (std::size_t i = 0; i < table_.options.size(); ++i) {
    const OptionEntry& o = table_.options[i];
    const int hasArg = o.valueName != nullptr ? required_argument : no_argument;
    table.push_back({o.name, hasArg, nullptr, kIndexBase + static_cast<int>(i)});
    if (o.shortName != 0) {
      shortOptions += o.shortName;
      if (hasArg == required_argument) shortOptions += ':';
    }
  }
  table.push_back({"help", no_argument, nullptr, kHelp});
  table.push_back({"version", no_argument, nullptr, kVersion});
  table.push_back({nullptr, 0, nullptr, 0});

  auto optionOf = [&](int value) -> std::string {
    if (value >= kIndexBase) return Dashed(table_.options[value - kIndexBase].name);
    return std::string("-") + static_cast<char>(value);
  };

  ParsedOptions parsed;
  // getopt_long keeps its state in globals: one parse at a time, so that
  // tools run on several threads of one process (as the tests run the
  // processes of a distributed training) read their own command lines.
  static std::mutex getoptState;
  const std::lock_guard<std::mutex> hold(getoptState);
  opterr = 0;
  optind = 0;  // restarts GNU getopt for every call, so tools can run many times in one process
  for (;;) {
    const int c = getopt_long(argc, argPointers.data(), shortOptions.c_str(), table.data(), nullptr);
    if (c == -1) break;
    if (c == kHelp) {
      helpRequested = true;
      continue;
    }
    if (c == kVersion) {
      versionRequested = true;
      continue;
    }
    if (c == ':') {
      throw UsageError{"option " + optionOf(optopt) + " needs a value"};
    }
    if (c == '?') {
      if (optopt != 0 && optopt < kIndexBase && optopt != kHelp && optopt != kVersion)
        throw UsageError{"unknown option '-" + std::string(1, static_cast<char>(optopt)) + "'"};
      const std::string arg = argPointers[optind - 1];
      const std::string name = arg.substr(0, arg.find('='));
      const std::string bare = name.starts_with("--") ? name.substr(2) : name;
      int prefixes = 0;
      for (const OptionEntry& o : table_.options) {
        if (bare == o.name && arg.find('=') != std::string::npos)
          throw UsageError{"option " + name + " takes no value"};
        if (std::string_view(o.name).starts_with(bare)) ++prefixes;
      }
      if ((bare == "help" || bare == "version") && arg.find('=') != std::string::npos)
        throw UsageError{"option " + name + " takes no value"};
      if (prefixes > 1) throw UsageError{"ambiguous option " + Quoted(name)};
      throw UsageError{"unknown option " + Quoted(name)};
    }
    int index = -1;
    if (c >= kIndexBase) {
      index = c - kIndexBase;
    } else {
      for (std::size_t i = 0; i < table_.options.size(); ++i)
        if (table_.options[i].shortName == c) index = static_cast<int>(i);
    }
    if (index < 0) throw UsageError{"unknown option '-" + std::string(1, static_cast<char>(c)) + "'"};
    parsed.values_.emplace_back(table_.options[index].name, optarg != nullptr ? optarg : "");
  }
  if (helpRequested || versionRequested) return parsed;

  for (int i = optind; i < argc; ++i) parsed.operands_.emplace_back(argPointers[i]);
  for (const OptionEntry& o : table_.options)
    if (o.required && !parsed.Has(o.name)) throw UsageError{"option " + Dashed(o.name) + " is required"};
  const int operands = static_cast<int>(parsed.operands_.size());
  if (operands < table_.minOperands)
    throw UsageError{std::string("missing ") + table_.operandName + " operand"};
  if (operands > table_.maxOperands)
    throw UsageError{"extra operand " + Quoted(parsed.operands_[table_.maxOperands])};
  return parsed;
}

// ------------------------------------------------------------- help, version

void PrintHelp(const ToolDescription& table, std::ostream& out) {
  out << "Usage: " << table.name << ' ' << table.synopsis << '\n' << table.summary << "\n\nOptions:\n";
  auto line = [&out](char shortName, const std::string& longPart, const std::string& help) {
    std::string left = "  ";
    left += shortName != 0 ? std::string("-") + shortName + ", " : std::string("    ");
    left += longPart;
    if (left.size() < 30)
      left.resize(30, ' ');
    else
      left += "\n" + std::string(30, ' ');
    out << left << help << '\n';
  };
  for (const OptionEntry& o : table.options) {
    std::string longPart = Dashed(o.name);
    if (o.valueName != nullptr) longPart += std::string("=") + o.valueName;
    std::string help = o.help;
    if (o.required) help += " (required)";
    if (o.defaultText != nullptr) help += std::string(" (default: ") + o.defaultText + ")";
    line(o.shortName, longPart, help);
  }
  line(0, "--help", "show this help and exit");
  line(0, "--version", "show the version and exit");
  out << "\nExit status: 0 on success, 1 when the run fails, 2 for a wrong command line.\n";
}

std::string VersionLine(const char* tool) { return std::string(tool) + " " + MAPSMITH_VERSION; }

// ------------------------------------------------------------------- RunTool

int RunTool(const ToolDescription& table, int argc, const char* const* argv, std::ostream& out, std::ostream& err,
            const ToolBody& body) {
  try {
    OptionParser parser(table);
    ParsedOptions options = parser.Parse(argc, argv);
    if (parser.helpRequested) {
      PrintHelp(table, out);
      out.flush();
      return 0;
    }
    if (parser.versionRequested) {
      out << VersionLine(table.name) << '\n';
      out.flush();
      return 0;
    }
    return body(options, out, err);
  } catch (const UsageError& e) {
    err << table.name << ": " << e.message << '\n' << "Try '" << table.name << " --help'.\n";
    err.flush();
    return 2;
  } catch (const RunError& e) {
    err << table.name << ": ";
    if (!e.file.empty()) err << e.file << ": ";
    err << e.reason << '\n';
    err.flush();
    return 1;
  } catch (const std::bad_alloc&) {
    err << table.name << ": not enough memory\n";
    err.flush();
    return 1;
  }
}

void WithFile(const std::string& file, const std::function<void()>& work) {
  try {
    work();
  } catch (const FileTools::Error& e) {
    throw RunError{file, e.message};
  } catch (const TException& e) {
    throw RunError{file, e.message};
  } catch (const TKQstructure::Error& e) {
    throw RunError{file, "malformed message"};
  }
}

void CheckOutputIsNoInput(const std::string& outputOption, const std::string& output,
                          const std::vector<std::string>& inputs) {
  for (const std::string& input : inputs)
    if (input == output || IsSameFile(input.c_str(), output.c_str()))
      throw UsageError{outputOption + " " + Quoted(output) + " is also an input"};
}

}  // namespace mapsmith
