// Fuzz target: CommandLine's quoted one-line form. For arguments that the
// quoting rule can carry, parse(toString()) gives the same arguments back,
// and writing them again gives the same text. The rule carries an argument
// that is not empty, holds no zero byte, and holds no backslash except at the
// end of an argument that needs quotes (one with a blank, tab, line feed or
// carriage return), where toString() doubles them; elsewhere a backslash is
// written as it is and parsing takes it as an escape.
//
// The input is used twice: split at its zero bytes into arguments, and
// parsed as a command line up to its first zero byte.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/CommandLine.h"

namespace {

bool isSeparator(char byte) { return byte == ' ' || byte == '\t' || byte == '\n' || byte == '\r'; }

bool isCarried(const std::string& argument) {
  if (argument.empty() || argument.find('\0') != std::string::npos) return false;
  size_t end = argument.size();
  bool quoted = false;
  for (char byte : argument) quoted = quoted || isSeparator(byte);
  if (quoted) {
    while (end > 0 && argument[end - 1] == '\\') --end;
  }
  return argument.find('\\') >= end;
}

std::vector<std::string> argumentsOf(const CommandLine& command) {
  std::vector<std::string> arguments;
  for (uint32_t i = 0; i < command.size(); ++i) {
    const String& argument = command.get(i);
    arguments.emplace_back(argument.data(), argument.length());
  }
  return arguments;
}

void require(bool condition, const char* what, const String& text) {
  if (condition) return;
  fprintf(stderr, "CommandLineFuzzer: %s\n  text: %.*s\n", what, static_cast<int>(text.length()),
          text.data());
  abort();
}

// Writes `arguments` and parses them back.
void checkRoundTrip(const std::vector<std::string>& arguments) {
  CommandLine command;
  for (const std::string& argument : arguments) {
    command.add(String(argument.data(), static_cast<uint32_t>(argument.size())));
  }
  String text = command.toString();
  CommandLine parsed(text);
  require(argumentsOf(parsed) == arguments, "parsing the written form changed the arguments", text);
  String again = parsed.toString();
  require(again.length() == text.length() && memcmp(again.data(), text.data(), text.length()) == 0,
          "writing the parsed arguments gave another text", again);
  char* const* argv = parsed.getArgv();
  for (size_t i = 0; i < arguments.size(); ++i) {
    require(argv[i] != nullptr && arguments[i] == argv[i], "getArgv differs from the arguments",
            text);
  }
  require(argv[arguments.size()] == nullptr, "getArgv is not null-terminated", text);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > UINT32_MAX) return 0;
  std::string input(reinterpret_cast<const char*>(data), size);

  std::vector<std::string> split;
  for (size_t start = 0; start <= input.size();) {
    size_t end = input.find('\0', start);
    if (end == std::string::npos) end = input.size();
    split.push_back(input.substr(start, end - start));
    start = end + 1;
  }
  bool carried = true;
  for (const std::string& argument : split) carried = carried && isCarried(argument);
  if (carried) checkRoundTrip(split);

  CommandLine parsed(String(input.data(), static_cast<uint32_t>(input.size())));
  std::vector<std::string> arguments = argumentsOf(parsed);
  carried = true;
  for (const std::string& argument : arguments) carried = carried && isCarried(argument);
  if (carried) checkRoundTrip(arguments);
  return 0;
}
