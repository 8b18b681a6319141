// The end-to-end tests' kit: a private directory with a small product tree,
// the real `install` linked into "kit/" beside an install.data that the real
// `installdata` packed (or one built byte by byte, to damage it), and the
// texts a run prints. Test code only.
#ifndef VANTOREL_TESTS_INSTALLER_INSTALLTESTSUPPORT_H
#define VANTOREL_TESTS_INSTALLER_INSTALLTESTSUPPORT_H

#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utime.h>

#include <algorithm>
#include <cstdio>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "BuildConstants.h"
#include "tests/archive/ArchiveTestSupport.h"
#include "tests/support/TestStreams.h"
#include "tests/support/TestSupport.h"

namespace installtest {

using testsupport::decipher;
using testsupport::encipher;
using testsupport::readFile;
using testsupport::RunOptions;
using testsupport::RunResult;
using testsupport::writeFile;

const std::string kHeader = std::string("Vantorel install ") + VANTOREL_PLATFORM_NAME + " " +
                            VANTOREL_VERSION + "\nUse --help for options usage\n";
const std::string kPrompt = "Enter the install directory [/Applications/Vantorel]\n";
const std::string kSuccess = "Installed all files successfully\n";
// The build tools that always get an interceptor, in the order they get it.
const std::vector<std::string> kTools = {"Validation", "codesign_allocate", "libtool", "strip"};
// Searched for compilers after PATH, whatever PATH holds.
const std::vector<std::string> kExtraSearchDirectories = {"/usr/local/bin", "/Developer/usr/bin"};

inline std::string advice(const std::string& prefix) {
  return "Add " + prefix + "/bin to the front of your PATH environment variable.\n";
}

// The percentage line of a whole extraction: "  0%", one 8-byte rewrite for
// each step up to 100 (every read passes on at most 0.2 % of the total, and
// all but the last percent of the archive is read), and a line feed.
inline std::string progressLine() {
  std::string line = "  0%";
  for (unsigned percent = 1; percent <= 100; ++percent) {
    char step[16];
    snprintf(step, sizeof step, "\b\b\b\b%3u%%", percent);
    line += step;
  }
  return line + "\n";
}

// What main reports for a failed installation: the exception's text, then
// "Install failed".
inline std::string failure(const std::string& text) { return text + "\nInstall failed\n"; }

inline std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> result;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) result.push_back(line);
  return result;
}

// `err` without the "interceptor bin/NAME" lines that the machine's own
// compilers in the extra search directories bring: those whose NAME is
// neither a build tool nor in `ours` but is in one of those directories.
inline std::string withoutForeignInterceptors(const std::string& err,
                                              const std::set<std::string>& ours = {}) {
  std::set<std::string> foreign;
  for (const std::string& directory : kExtraSearchDirectories) {
    if (DIR* dir = opendir(directory.c_str())) {
      while (struct dirent* e = readdir(dir)) foreign.insert(e->d_name);
      closedir(dir);
    }
  }
  const std::string kLead = "interceptor bin/";
  std::string kept;
  for (const std::string& line : lines(err)) {
    if (line.compare(0, kLead.size(), kLead) == 0) {
      std::string name = line.substr(kLead.size());
      bool isTool = std::find(kTools.begin(), kTools.end(), name) != kTools.end();
      if (!isTool && ours.count(name) == 0 && foreign.count(name) != 0) continue;
    }
    kept += line + "\n";
  }
  return kept;
}

// The NAMEs of the "interceptor bin/NAME" lines of a verbose run, in order,
// as withoutForeignInterceptors keeps them.
inline std::vector<std::string> interceptorNames(const std::string& err,
                                                 const std::set<std::string>& ours = {}) {
  const std::string kLead = "interceptor bin/";
  std::vector<std::string> names;
  for (const std::string& line : lines(withoutForeignInterceptors(err, ours))) {
    if (line.compare(0, kLead.size(), kLead) == 0) names.push_back(line.substr(kLead.size()));
  }
  return names;
}

using testsupport::noise;

class InstallTest : public testsupport::TempDirTest {
 protected:
  // Files first, each named: the archive's order, and so the verbose
  // listing, does not depend on the order of a directory listing.
  const std::vector<std::string> kProductPaths = {
      "bin/vntc",     "bin/vnt01",        "lib/libvnt.so.1",   "lib/libvnt.so",
      "lib/libvnt.a", "share/doc/README", "share/doc/COPYING", "private"};

  void SetUp() override {
    TempDirTest::SetUp();
    kit_ = dir_ + "/kit";
    prefix_ = dir_ + "/inst";
    emptyPath_ = dir_ + "/nopath";
    ASSERT_EQ(0, mkdir(kit_.c_str(), 0755));
    ASSERT_EQ(0, mkdir(emptyPath_.c_str(), 0755));
    ASSERT_EQ(0, symlink(testsupport::installProgram().c_str(), (kit_ + "/install").c_str()));
  }

  // The product: the wrapper and the marker program in bin, a library with
  // a symbolic link to it, a document with a second hard link, a private
  // directory, and modes and times that show whether they are kept.
  void makeProduct() {
    for (const char* d :
         {"product", "product/bin", "product/lib", "product/share", "product/share/doc"}) {
      ASSERT_EQ(0, mkdir(d, 0755)) << d;
    }
    ASSERT_EQ(0, mkdir("product/private", 0700));
    writeFile("product/bin/vntc", "#!/bin/sh\necho \"vntc as ${0##*/}\"\n", 0755);
    writeFile("product/bin/vnt01", "#!/bin/sh\necho vnt01\n", 0750);
    writeFile("product/lib/libvnt.so.1", "shared library", 0555);
    // Some kilobytes, so that the end of the archive, which the installer
    // does not read, is less than one percent of it.
    writeFile("product/lib/libvnt.a", noise(16 << 10), 0640);
    writeFile("product/share/doc/README", "Read me.\n", 0444);
    writeFile("product/private/key", "secret", 0600);
    ASSERT_EQ(0, symlink("libvnt.so.1", "product/lib/libvnt.so"));
    ASSERT_EQ(0, link("product/share/doc/README", "product/share/doc/COPYING"));
    time_t time = 1234567890;
    for (const char* f :
         {"product/bin/vntc", "product/bin/vnt01", "product/lib/libvnt.so.1",
          "product/lib/libvnt.a", "product/share/doc/README", "product/private/key"}) {
      struct utimbuf times = {time, time};
      ASSERT_EQ(0, utime(f, &times)) << f;
      time += 86400;
    }
  }

  // Packs `paths` of product/ into kit/install.data with installdata.
  void pack(const std::vector<std::string>& paths, const std::vector<std::string>& options = {}) {
    std::vector<std::string> argv{testsupport::installdataProgram(),
                                  "create",
                                  "-o",
                                  kit_ + "/install.data",
                                  "-C",
                                  dir_ + "/product"};
    argv.insert(argv.end(), options.begin(), options.end());
    argv.insert(argv.end(), paths.begin(), paths.end());
    RunResult packed = testsupport::run(argv);
    ASSERT_EQ(0, packed.status) << packed.err;
  }

  void makeKit() {
    ASSERT_NO_FATAL_FAILURE(makeProduct());
    ASSERT_NO_FATAL_FAILURE(pack(kProductPaths));
  }

  // Writes kit/install.data around an archive given byte by byte.
  void writeInstallData(const std::string& archive) {
    writeFile(kit_ + "/install.data", testsupport::installDataOf(archive, dir_));
  }

  RunOptions inPrivateDirectory() const {
    RunOptions options;
    options.cwd = dir_;
    return options;
  }

  // Runs kit/install with `args`. PATH is an empty directory unless
  // `options` sets it (or removes it).
  RunResult install(const std::vector<std::string>& args, RunOptions options = {}) {
    std::vector<std::string> argv{kit_ + "/install"};
    argv.insert(argv.end(), args.begin(), args.end());
    if (options.env.count("PATH") == 0) options.env["PATH"] = emptyPath_;
    return testsupport::run(argv, options);
  }

  // The private directory: "kit/" with the program and its data, the
  // default installation directory "inst", and an empty directory for PATH.
  std::string kit_;
  std::string prefix_;
  std::string emptyPath_;
};

}  // namespace installtest

#endif  // VANTOREL_TESTS_INSTALLER_INSTALLTESTSUPPORT_H
