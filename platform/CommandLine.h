// CommandLine is a program and its arguments, ready to be started, run or
// exec'd: argument 0 names the program. It parses and writes the quoted
// one-line form, expands "@file" response files, and can carry an
// Environment of its own for the child.
//
//   CommandLine command("cc -c \"my file.c\"");
//   command.add("-O2");
//   int code = command.run();  // the child's exit code, or -1
//
// The quoted form: arguments are separated by blanks, tabs, line feeds or
// carriage returns; double quotes group (and "" alone is an empty argument);
// a backslash takes the next byte literally. toString() writes arguments with
// blanks inside double quotes and escapes their double quotes, but writes a
// backslash as it is, so parsing it back drops backslashes outside quotes.
//
// A CommandLine owns its arguments (each a String allocated with new) and its
// Environment. Elements added through the Vector interface must be Strings
// allocated with new; a null element reads as an empty argument. Copying
// copies the arguments and the environment.
#ifndef VANTOREL_PLATFORM_COMMANDLINE_H
#define VANTOREL_PLATFORM_COMMANDLINE_H

#include <sys/types.h>

#include <cstdint>

#include "lang/String.h"
#include "lang/VectorAuto.h"

class Environment;

class CommandLine : public VectorAuto {
 public:
  // The most response files that may be open inside one another.
  static constexpr uint32_t kMaxResponseFileDepth = 64;

  CommandLine();
  // Parses `text`.
  explicit CommandLine(const char* text);
  explicit CommandLine(const String& text);
  // The texts of a null-terminated array, in order.
  explicit CommandLine(const char* const* argv);
  CommandLine(const CommandLine& other);
  CommandLine& operator=(const CommandLine& other);
  ~CommandLine() override;

  // The quoted one-line form.
  String toString() const override;

  // Replaces the arguments by those of `text`, up to its first zero byte; a
  // null text leaves none.
  void parse(const char* text);
  void parse(const String& text);

  // Replaces each argument that begins with "@" by the arguments that the
  // file named by the rest of it holds (parsed as above, up to a zero byte),
  // expanding "@" arguments read from files in turn. A file's failures pass
  // on; a response file more than kMaxResponseFileDepth files deep raises
  // "response files nested too deeply: " + its argument.
  void expandResponseFiles();

  // The arguments' texts followed by a null entry. The array belongs to this
  // object and is rebuilt by every call; it stays valid until the arguments
  // change, or a String sharing an argument's text grows.
  char* const* getArgv();

  // The child gets a copy of `environment` instead of the process's.
  void setEnvironment(const Environment& environment);
  // The environment set, or null; it belongs to this object.
  const Environment* getEnvironment() const { return environment_; }

  // Starts the program, searching PATH for a name without "/", with the
  // command's environment or the process's, less VS_UNICODE_OUTPUT, without
  // waiting. Returns the child's process id, or -1 with errno set.
  pid_t start();
  // start(), then waits: the child's exit code (128 + the error number when
  // it could not exec its program), 128 + the signal number that ended it,
  // or -1 when it could not be started or waited for.
  int run();
  // Replaces the process by the program (flushing standard output and
  // standard error first), with the command's environment when one is set;
  // raises "cannot exec " + argument 0 + ": " + the system's reason.
  [[noreturn]] void exec();

  // Appends one argument, or all of another command's, in order.
  void add(const String& argument);
  void add(const char* argument);
  void add(const CommandLine& arguments);
  // Inserts before `index` (size() appends); raises the Vector "add" index
  // error beyond that.
  void insert(uint32_t index, const String& argument);
  void insert(uint32_t index, const char* argument);
  void insert(uint32_t index, const CommandLine& arguments);
  // The argument, or a shared empty String past the end.
  const String& get(uint32_t index) const;

 private:
  void insertArgument(uint32_t index, String* argument);
  void copyFrom(const CommandLine& other);

  // size() + 1 pointers into the arguments' texts, the last null; owned.
  // Null until getArgv() builds it.
  char** argv_;
  // Owned; null when the child gets the process's environment.
  Environment* environment_;
};

#endif  // VANTOREL_PLATFORM_COMMANDLINE_H
