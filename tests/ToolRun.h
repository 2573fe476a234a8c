// Running a companion tool in-process or as its binary, in a temporary
// directory of its own, for the tool tests.
#pragma once

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "tests/TestFiles.h"

namespace tooltest {

struct Outcome {
  int status = -1;
  std::string out;
  std::string err;
};

using Entry = int (*)(int, const char* const*, std::ostream&, std::ostream&);

using testfiles::Read;

// The long options ("--name") a help text or manual page names; a manual
// page writes each '-' as "\\-".
inline std::set<std::string> LongOptions(const std::string& text) {
  std::string plain;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\' && i + 1 < text.size() && text[i + 1] == '-') ++i;
    plain += text[i];
  }
  std::set<std::string> names;
  for (std::size_t i = plain.find("--"); i != std::string::npos; i = plain.find("--", i + 2)) {
    std::size_t end = i + 2;
    if (end >= plain.size() || plain[end] < 'a' || plain[end] > 'z') continue;
    while (end < plain.size() && ((plain[end] >= 'a' && plain[end] <= 'z') || plain[end] == '-')) ++end;
    names.insert(plain.substr(i + 2, end - i - 2));
  }
  return names;
}

// The long options of a --help text whose entry names neither a default nor
// "(required)" (--help and --version aside). An entry is its option line and
// the lines indented under it.
inline std::set<std::string> OptionsWithoutDefault(const std::string& help) {
  std::set<std::string> missing;
  std::string name, entry;
  auto finish = [&] {
    if (!name.empty() && name != "help" && name != "version" && entry.find("(default: ") == std::string::npos &&
        entry.find("(required)") == std::string::npos)
      missing.insert(name);
    name.clear();
    entry.clear();
  };
  std::istringstream lines(help);
  for (std::string line; std::getline(lines, line);) {
    const std::size_t dashes = line.find("--");
    const bool option = line.starts_with("  -") || (line.starts_with("      --") && dashes == 6);
    if (option) {
      finish();
      const std::size_t end = line.find_first_of("= ", dashes);
      name = line.substr(dashes + 2, end - dashes - 2);
      entry = line;
    } else if (!name.empty() && line.starts_with(std::string(30, ' '))) {
      entry += line;
    } else {
      finish();
    }
  }
  finish();
  return missing;
}

// A test's own directory (Path, Write, dir_ as TempDirTest has them); the
// files of tests/data/tools are reached by Data().
class ToolTest : public testfiles::TempDirTest {
 protected:
  static std::string Data(const std::string& name) { return std::string(MAPSMITH_TEST_DATA) + "/tools/" + name; }

  // Runs `entry` in-process with argv[0] = tool.
  static Outcome Run(Entry entry, const char* tool, const std::vector<std::string>& args) {
    std::vector<const char*> argv{tool};
    for (const std::string& a : args) argv.push_back(a.c_str());
    std::ostringstream out, err;
    Outcome o;
    o.status = entry(static_cast<int>(argv.size()), argv.data(), out, err);
    o.out = out.str();
    o.err = err.str();
    return o;
  }

  // Runs the built binary `tool` through the shell with `args` (quoted by the
  // caller), from the test's directory; standard output goes to `stdoutFile`
  // (read back as Outcome::out unless it is a device).
  Outcome RunBinary(const std::string& tool, const std::string& args,
                    const std::string& stdoutFile = "stdout.txt") const {
    const std::string command = "cd '" + dir_.string() + "' && '" + std::string(MAPSMITH_TOOL_DIR) + "/" + tool + "' " +
                                args + " >'" + stdoutFile + "' 2>stderr.txt";
    const int raw = std::system(command.c_str());
    const bool device = stdoutFile.starts_with("/dev/");  // not read back
    return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, device ? std::string() : Read(dir_ / stdoutFile),
            Read(dir_ / "stderr.txt")};
  }
};

}  // namespace tooltest
