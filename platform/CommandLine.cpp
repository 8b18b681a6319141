#include "platform/CommandLine.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "io/RandomAccessFile.h"
#include "lang/Exception.h"
#include "lang/StringBuffer.h"
#include "platform/Environment.h"
#include "platform/Process.h"

namespace {

// Removed from every child's environment.
constexpr char kUnicodeOutputVariable[] = "VS_UNICODE_OUTPUT";

bool isSeparator(char byte) { return byte == ' ' || byte == '\t' || byte == '\n' || byte == '\r'; }

bool needsQuotes(const String& argument) {
  for (uint32_t i = 0; i < argument.length(); ++i) {
    if (isSeparator(argument.charAt(i))) return true;
  }
  return false;
}

}  // namespace

CommandLine::CommandLine() : argv_(nullptr), environment_(nullptr) {}

CommandLine::CommandLine(const char* text) : CommandLine() { parse(text); }

CommandLine::CommandLine(const String& text) : CommandLine() { parse(text); }

CommandLine::CommandLine(const char* const* argv) : CommandLine() {
  for (; *argv != nullptr; ++argv) add(*argv);
}

CommandLine::CommandLine(const CommandLine& other) : CommandLine() { copyFrom(other); }

CommandLine& CommandLine::operator=(const CommandLine& other) {
  if (this != &other) copyFrom(other);
  return *this;
}

CommandLine::~CommandLine() {
  delete[] argv_;
  delete environment_;
}

void CommandLine::copyFrom(const CommandLine& other) {
  clear();
  add(other);
  if (other.environment_ != nullptr) {
    setEnvironment(*other.environment_);
  } else {
    delete environment_;
    environment_ = nullptr;
  }
}

String CommandLine::toString() const {
  StringBuffer text;
  for (uint32_t i = 0; i < size_; ++i) {
    if (i != 0) text.append(' ');
    const String& argument = get(i);
    bool quoted = needsQuotes(argument);
    if (quoted) text.append('"');
    for (uint32_t j = 0; j < argument.length(); ++j) {
      if (argument.charAt(j) == '"') text.append('\\');
      text.append(argument.charAt(j));
    }
    if (quoted) {
      // The closing quote must not be escaped by the argument's own
      // trailing backslashes: double them.
      for (uint32_t j = argument.length(); j > 0 && argument.charAt(j - 1) == '\\'; --j) {
        text.append('\\');
      }
      text.append('"');
    }
  }
  return text.toString();
}

void CommandLine::parse(const String& text) { parse(text.c_str()); }

void CommandLine::parse(const char* text) {
  clear();
  if (text == nullptr) return;
  StringBuffer current;
  bool inQuotes = false;
  bool haveArgument = false;
  for (const char* p = text; *p != 0; ++p) {
    char byte = *p;
    if (!inQuotes && isSeparator(byte)) {
      if (haveArgument) {
        add(current.toString());
        current.setLength(0);
        haveArgument = false;
      }
      continue;
    }
    if (byte == '"') {
      inQuotes = !inQuotes;
      haveArgument = true;
      continue;
    }
    if (byte == '\\' && p[1] != 0) byte = *++p;
    current.append(byte);
    haveArgument = true;
  }
  if (haveArgument) add(current.toString());
}

void CommandLine::expandResponseFiles() {
  // The end (one past the last index) of the arguments each open response
  // file put in, innermost last.
  std::vector<uint32_t> ends;
  uint32_t index = 0;
  while (index < size_) {
    while (!ends.empty() && index >= ends.back()) ends.pop_back();
    const String& argument = get(index);
    if (argument.isEmpty() || argument.charAt(0) != '@') {
      ++index;
      continue;
    }
    if (ends.size() >= kMaxResponseFileDepth) {
      throw Exception(String("response files nested too deeply: ") + argument);
    }
    CommandLine contents;
    {
      RandomAccessFile file(argument.substring(1), O_RDONLY);
      contents.parse(file.readAll());
      file.close();
    }
    remove(index);
    insert(index, contents);
    uint32_t count = contents.size();
    for (uint32_t& end : ends) end = end - 1 + count;
    ends.push_back(index + count);
  }
}

char* const* CommandLine::getArgv() {
  char** argv = new char*[size_ + 1];
  for (uint32_t i = 0; i < size_; ++i) argv[i] = const_cast<char*>(get(i).c_str());
  argv[size_] = nullptr;
  delete[] argv_;
  argv_ = argv;
  return argv_;
}

void CommandLine::setEnvironment(const Environment& environment) {
  Environment* copy = new Environment(environment);
  delete environment_;
  environment_ = copy;
}

pid_t CommandLine::start() {
  std::unique_ptr<Environment> environment(environment_ != nullptr ? new Environment(*environment_)
                                                                   : new Environment());
  environment->remove(kUnicodeOutputVariable);
  return spawnProcess(getArgv(), environment->getEnvp());
}

int CommandLine::run() {
  pid_t pid = start();
  if (pid < 0) return -1;
  return waitForProcess(pid);
}

void CommandLine::exec() {
  fflush(stdout);
  fflush(stderr);
  char* const* argv = getArgv();
  if (argv[0] == nullptr) {
    errno = EINVAL;
  } else if (environment_ != nullptr) {
    execSearching(argv, environment_->getEnvp());
  } else {
    execvp(argv[0], argv);
  }
  int error = errno;
  throw Exception(String("cannot exec ") + get(0) + ": " + strerror(error));
}

void CommandLine::add(const String& argument) { insertArgument(size_, new String(argument)); }

void CommandLine::add(const char* argument) { insertArgument(size_, new String(argument)); }

void CommandLine::add(const CommandLine& arguments) { insert(size_, arguments); }

void CommandLine::insert(uint32_t index, const String& argument) {
  insertArgument(index, new String(argument));
}

void CommandLine::insert(uint32_t index, const char* argument) {
  insertArgument(index, new String(argument));
}

void CommandLine::insert(uint32_t index, const CommandLine& arguments) {
  if (&arguments == this) {
    CommandLine copy(arguments);
    insert(index, copy);
    return;
  }
  for (uint32_t i = 0; i < arguments.size(); ++i) insert(index + i, arguments.get(i));
}

void CommandLine::insertArgument(uint32_t index, String* argument) {
  std::unique_ptr<String> owned(argument);
  insertElementAt(index, owned.get());
  owned.release();
}

const String& CommandLine::get(uint32_t index) const {
  static const String* const empty = new String();  // shared, never destroyed
  if (index >= size_ || data_[index] == nullptr) return *empty;
  return *static_cast<const String*>(data_[index]);
}
