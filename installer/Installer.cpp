#include "installer/Installer.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>

#include "BuildConstants.h"
#include "archive/ArchiveReadVerbose.h"
#include "archive/CipherInputStream.h"
#include "archive/LzmaInputStream.h"
#include "archive/ProgressMonitorInputStream.h"
#include "archive/ProgressMonitorText.h"
#include "io/FileInputStream.h"
#include "io/FileOutputStream.h"
#include "io/RandomAccessFile.h"
#include "io/ReadAheadInputStream.h"
#include "lang/Exception.h"
#include "platform/DestinationTree.h"
#include "platform/DirectoryReader.h"
#include "platform/Path.h"

namespace {

const char kPrefixOption[] = "--prefix";
const char kPrefixAssignment[] = "--prefix=";
const char kDefaultDirectory[] = "/Applications/Vantorel";
// The archive, beside the program.
const char kInstallDataName[] = "install.data";
// The product's programs, relative to the installation directory.
const char kBinDirectory[] = "bin";
// The product's marker program: a bin that holds it is an earlier
// installation.
const char kMarkerProgram[] = "bin/vnt01";
// The installation directory and the directories on the way to it.
constexpr uint16_t kDirectoryMode = 0755;

// The read-ahead between the layers of install.data. The decoder is the
// slowest step by far: it gets a thread (and a core) of its own with nothing
// else to do, reading descrambled input that another thread prepares, while
// this thread checks and writes what it has decoded. Both rings are far
// larger than anything the archive reader holds up the decoder for, and
// small beside the dictionary and the largest entry.
constexpr uint32_t kDescrambledChunk = 64 * 1024;
constexpr uint32_t kDescrambledChunks = 16;
constexpr uint32_t kDecodedChunk = 256 * 1024;
constexpr uint32_t kDecodedChunks = 32;

// The prompt's answer buffer, terminator included: one read takes at most
// 1023 bytes, and an answer counts only when its newline fits.
constexpr size_t kAnswerBuffer = 1024;

// Descriptor 1, as failure texts name it.
const char kStandardOutput[] = "standard output";

// "/" appended unless the text is empty or already ends with one.
String withTrailingSlash(const String& text) {
  if (text.isEmpty() || text.charAt(text.length() - 1) == '/') return text;
  return text + "/";
}

// Writes `text` to standard output at once. A write that fails (a pipe
// whose reader has gone, a full disk) fails the installation like any other
// failure: SIGPIPE is ignored.
void print(const String& text) {
  if (fwrite(text.data(), 1, text.length(), stdout) != text.length() || fflush(stdout) != 0) {
    throw RandomAccessFile::Exception("File write error", errno, kStandardOutput);
  }
}

}  // namespace

void Installer::report(const String& line) {
  String shown = line.escapeControls();
  fwrite(shown.data(), 1, shown.length(), stderr);
  fputc('\n', stderr);
}

void Installer::parseArguments(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    const char* argument = argv[i];
    if (strcmp(argument, kPrefixOption) == 0 && i + 1 < argc) {
      installPrefix_ = withTrailingSlash(String(argv[++i]));
    } else if (strncmp(argument, kPrefixAssignment, sizeof kPrefixAssignment - 1) == 0) {
      installPrefix_ = withTrailingSlash(String(argument + sizeof kPrefixAssignment - 1));
    } else if (strcmp(argument, "-v") == 0) {
      verbose_ = true;
    } else {
      exitStatus_ = 1;  // --help included; a later valid option is still taken
    }
  }
}

int Installer::run(int argc, char** argv) {
  Path::setProgramPath(argv[0] != nullptr ? argv[0] : "");
  parseArguments(argc, argv);
  try {
    print(String("Vantorel install ") + VANTOREL_PLATFORM_NAME + " " + VANTOREL_VERSION + "\n");
    if (exitStatus_ == 1) {
      print(
          "Usage: install [options]\n"
          "  --help           Show this message\n"
          "  --prefix <dir>   Install to directory <dir>\n");
    } else {
      print("Use --help for options usage\n");
      install();
    }
  } catch (const Exception& e) {
    fflush(stdout);
    report(e.toString());
    exitStatus_ = 1;
  } catch (const std::exception& e) {
    fflush(stdout);
    fprintf(stderr, "std::exception %s\n", e.what());
    exitStatus_ = 1;
  } catch (...) {
    fflush(stdout);
    fputs("Unknown exception\n", stderr);
    exitStatus_ = 1;
  }
  if (exitStatus_ != 0) fputs("Install failed\n", stderr);
  return exitStatus_;
}

void Installer::chooseDirectory() {
  if (!installPrefix_.isEmpty()) return;
  installPrefix_ = kDefaultDirectory;
  print(String("Enter the install directory [") + installPrefix_ + "]\n");
  // A newline first and zeros after it: end of input reads as an empty
  // answer.
  char answer[kAnswerBuffer];
  memset(answer, 0, sizeof answer);
  answer[0] = '\n';
  // An absorbed SIGINT has no visible effect: a read it interrupts before
  // any byte arrived is made again, not taken for an empty answer.
  while (read(0, answer, sizeof answer - 1) < 0 && errno == EINTR) {
  }
  const char* newline = strchr(answer, '\n');
  if (newline != nullptr && newline != answer) {
    installPrefix_ = String(answer, static_cast<uint32_t>(newline - answer));
  }
  installPrefix_ = withTrailingSlash(installPrefix_);
}

void Installer::checkBin() const {
  // A bin that is absent, a file or a link passes: extraction decides about
  // it, and refuses a link.
  struct stat status;
  if (!tree_->getStatus(kBinDirectory, status) || !S_ISDIR(status.st_mode)) return;
  DirectoryReader reader = tree_->list(kBinDirectory);
  String name;
  if (!reader.next(name)) return;
  // The marker is only examined, so it may be a link to the program.
  if (tree_->getStatus(kMarkerProgram, status, DestinationTree::kFollowLast) &&
      S_ISREG(status.st_mode) && (status.st_mode & (S_IXUSR | S_IXGRP | S_IXOTH)) != 0) {
    return;
  }
  throw Exception(String("Directory ") + installPrefix_ +
                  "bin contains files other than Vantorel. Specify an empty or non-existing "
                  "installation directory.");
}

void Installer::extract() {
  Path archive = Path::getProgramPath().getDirectory() + kInstallDataName;
  if (verbose_) report("extract " + archive);
  // The streams go top down, the threads first: each read-ahead stops and
  // joins its worker before the stream it reads is destroyed, also when an
  // exception leaves this function.
  FileInputStream file(archive);
  CipherInputStream cipher(&file);
  ReadAheadInputStream descrambled(&cipher, kDescrambledChunk, kDescrambledChunks);
  LzmaInputStream lzma(&descrambled);
  ReadAheadInputStream decoded(&lzma, kDecodedChunk, kDecodedChunks);
  FileOutputStream terminal(1, kStandardOutput);

  // The percentage goes to descriptor 1 directly: what stdio holds must
  // come out first.
  fflush(stdout);
  std::unique_ptr<ProgressMonitorText> monitor;
  std::unique_ptr<ProgressMonitorInputStream> progress;
  InputStream* in = &decoded;
  if (!verbose_) {
    // Read before the decoder's worker starts, with the first read.
    monitor.reset(new ProgressMonitorText(lzma.getRemaining(), &terminal));
    progress.reset(new ProgressMonitorInputStream(&decoded, monitor.get()));
    in = progress.get();
  }
  try {
    ArchiveReadVerbose reader(in, false);
    reader.verbose = verbose_;
    reader.extract(*tree_);
  } catch (...) {
    // The line ends where it stood: a failed extraction is not shown as
    // complete.
    if (monitor) monitor->abandon();
    throw;
  }
  progress.reset();
  monitor.reset();  // shows 100% and ends the line
}

void Installer::install() {
  // install.data is found beside the program, whatever directory is entered
  // below: a program path that could not be made absolute at the start (the
  // directory started in could not be read) is made so now, or the reason
  // ends the installation.
  Path program = Path::getProgramPath();
  if (!program.startsWith("/")) {
    Path::setProgramPath((Path::getCurrentDirectory() + program).c_str());
  }
  chooseDirectory();
  installPrefix_ = Path(installPrefix_).getCanonical();
  Path prefix(installPrefix_);
  if (verbose_) report("mkdir " + prefix);
  // Every file and directory gets exactly the mode its creator asks for.
  umask(0);
  prefix.makeDirectory(kDirectoryMode);
  prefix.setCurrentDirectory();
  // From here on every name below the installation directory is reached
  // through the directory just entered, never through a link.
  DestinationTree tree(Path("."));
  struct Borrowed {
    DestinationTree*& tree;
    ~Borrowed() { tree = nullptr; }
  } borrowed{tree_};
  tree_ = &tree;
  checkBin();
  extract();
  createInterceptors();
  // Only now may the product's directories lose their owner's rights: the
  // interceptors go into bin.
  tree.applyDirectoryModes();
  if (interceptorShadowed_) {
    print("Add " + installPrefix_.escapeControls() +
          "bin to the front of your PATH environment variable.\n");
  }
  print("Installed all files successfully\n");
}
