#include "shell/win_proc.h"

#include <vector>

namespace tidrex::shell {

std::string GetLastArgument(const std::string& command_line, int max_args) {
  if (max_args < 0) max_args = 0;
  // Index 0 is never filled: with no argument the answer is that empty element.
  std::vector<std::string> args(static_cast<size_t>(max_args) + 1);
  int count = 0;
  bool inside = false;
  for (char c : command_line) {
    if (c == ' ' || c == '/' || c == '\t' || c == '"') {
      inside = false;
      continue;
    }
    if (!inside) {
      if (count == max_args) break;
      ++count;
      inside = true;
    }
    args[static_cast<size_t>(count)] += c;
  }
  return args[static_cast<size_t>(count)];
}

std::string JoinCommandLine(int argc, char** argv) {
  std::string line;
  for (int i = 1; i < argc; ++i) {
    if (i > 1) line += ' ';
    line += argv[i];
  }
  return line;
}

bool IsUnattendedCommandLine(const std::string& command_line) {
  return GetLastArgument(command_line) == "a" || GetLastArgument(command_line) == "A";
}

}  // namespace tidrex::shell
