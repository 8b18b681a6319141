// Installer is the installation program: its options, the installation flow
// and the compiler interceptors, around the process-wide state of one run.
//
// main() makes one Installer and calls run() with the command line; run()
// returns the process's exit status (0 success; 1 usage shown, or failure)
// after printing the banner, the usage text or the failure report.
#ifndef VANTOREL_INSTALLER_INSTALLER_H
#define VANTOREL_INSTALLER_INSTALLER_H

#include "lang/String.h"

class DestinationTree;

class Installer {
 public:
  Installer() = default;
  Installer(const Installer&) = delete;
  Installer& operator=(const Installer&) = delete;

  // The whole run: records the program path, parses the options, prints the
  // banner and either the usage text or runs install(); reports a failure
  // with one line and "Install failed" on standard error.
  int run(int argc, char** argv);

  // Parses argv[1] .. argv[argc - 1]; an unrecognised argument sets the exit
  // status to 1 and parsing goes on.
  void parseArguments(int argc, char** argv);

  // The installation flow; raises an Exception on every failure.
  void install();

  // Makes the interceptor links in bin for the build tools and for every
  // compiler driver along PATH, /usr/local/bin, /Developer/usr/bin and the
  // directory named on the first line of "install-path" (used only when it
  // is a regular file; at most its first 4 KiB are read). Works in the
  // installation directory, through the tree that install() opened on it.
  // REQUIRES: inside install().
  void createInterceptors();
  // Makes the link "bin/<name>" to "vntc" unless a regular file is reached
  // there already, and notes when a PATH search for `name` would not reach
  // it. Nothing is made unless bin is a directory of its own, never through
  // a link. Something in the way of the link, or no bin, is passed over; a
  // file system that fails to make it (full, read-only, no permission)
  // raises "bin/<name>: create symbolic link failure" with the system's
  // reason, which ends createInterceptors() too.
  void createInterceptor(const String& name);

  int exitStatus() const { return exitStatus_; }
  const String& installPrefix() const { return installPrefix_; }
  bool verbose() const { return verbose_; }
  bool interceptorShadowed() const { return interceptorShadowed_; }

 private:
  // Asks for the installation directory when no --prefix gave one.
  void chooseDirectory();
  // Refuses a bin directory that holds something other than an earlier
  // installation.
  void checkBin() const;
  // Unpacks install.data into the working directory.
  void extract();
  // Writes one diagnostic or failure line to standard error with its
  // control bytes escaped: a name in it cannot forge another line or reach
  // the terminal as a command.
  static void report(const String& line);

  // 0, or 1 after an unrecognised argument or a failure.
  int exitStatus_ = 0;
  // The installation directory; ends with "/" once non-empty.
  String installPrefix_;
  // One diagnostic line per step on standard error, and no percentage.
  bool verbose_ = false;
  // Some interceptor is not what a PATH search finds first.
  bool interceptorShadowed_ = false;
  // The installation directory, while install() runs; null otherwise.
  DestinationTree* tree_ = nullptr;
  // Whether bin is a directory, not a link, when the interceptors are made.
  bool binIsDirectory_ = false;
};

#endif  // VANTOREL_INSTALLER_INSTALLER_H
