// The compiler interceptors: symbolic links in the product's bin directory,
// each pointing at the product's compiler wrapper "vntc", for four build
// tools and for every compiler driver found along the search list.
#include <fcntl.h>
#include <fnmatch.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "installer/Installer.h"
#include "io/RandomAccessFile.h"
#include "lang/Exception.h"
#include "platform/DestinationTree.h"
#include "platform/DirectoryReader.h"
#include "platform/Path.h"

namespace {

// Build tools that always get an interceptor, in this order.
const char* const kInterceptedTools[] = {"Validation", "codesign_allocate", "libtool", "strip"};

// Compiler driver names, tested in this order; matching is case-sensitive.
const char* const kCompilerPatterns[] = {
    "cc",           "armcc",        "armcpp",       "armlink",      "c++",
    "g++",          "gcc",          "*-c++",        "*-g++",        "*-gcc",
    "c++-[1-9]*",   "g++-[1-9]*",   "gcc-[1-9]*",   "*-c++-[1-9]*", "*-g++-[1-9]*",
    "*-gcc-[1-9]*", "cc68e",        "ccarm",        "ccbf",         "ccintppc",
    "ccmips",       "ccppc",        "ccv850e",      "ccx86",        "clang",
    "clang++",      "cx68e",        "cxarm",        "cxbf",         "cxintppc",
    "cxmips",       "cxppc",        "cxv850e",      "cxx86",        "gcx",
    "dcc",          "dplus",        "hcppc",        "icc",          "icpc",
    "mwcc",         "cc64",         "taCC",         "tmCC",         "tmc++",
    "tmcc",         "xlC",          "xlc",          "CC",           "cl30",
    "cl470",        "cl6x",         "mwcceppc",     "mwccmcf",      "scc",
    "xt-xcc",       "xt-xc++",      "QCC",          "qcc",          "flacc",
};
static_assert(sizeof kCompilerPatterns / sizeof kCompilerPatterns[0] == 60,
              "sixty compiler patterns");

// Directories searched after PATH, each with its leading ":".
const char kExtraDirectories[] = ":/usr/local/bin:/Developer/usr/bin";

// In the installation directory: its first line names one more directory.
const char kInstallPathFile[] = "install-path";
// No more of "install-path" is read.
constexpr uint32_t kInstallPathLimit = 4096;

// What every interceptor points at, relative to bin.
const char kWrapper[] = "vntc";

// A link that the file system failed to make (full, read-only, no
// permission): the installation is incomplete. It ends the installation even
// when raised for a compiler found along the search list, where other
// failures only end the work on that directory.
class LinkFailure : public Exception {
 public:
  using Exception::Exception;
};

const char kLinkFailure[] = "create symbolic link failure";

// The product's bin directory, relative to the installation directory.
const char kBin[] = "bin";

// Whether a failed symlink leaves the installation incomplete. Something in
// the way of the link (EEXIST), or no bin to put it in (ENOENT, ENOTDIR), is
// expected and passed over.
bool isFileSystemFailure(int error) {
  return error != EEXIST && error != ENOENT && error != ENOTDIR;
}

bool isCompilerName(const String& name) {
  for (const char* pattern : kCompilerPatterns) {
    if (fnmatch(pattern, name.c_str(), FNM_PATHNAME) == 0) return true;
  }
  return false;
}

}  // namespace

void Installer::createInterceptor(const String& name) {
  Path link = Path(kBin) + "/" + name;
  struct stat status;
  // A regular file there already: a link made earlier in this run or by an
  // earlier installation, or a real program the archive delivered.
  if (binIsDirectory_ && tree_->getStatus(link, status, DestinationTree::kFollowLast) &&
      S_ISREG(status.st_mode)) {
    return;
  }
  // A bin that is no directory of its own (a link the archive made, say)
  // gets no link, and no line: nothing is made through it. A link that
  // something is in the way of is not reported; the comparison below
  // decides as for any link that does not reach first. A file system that
  // fails to make the link ends the installation.
  if (binIsDirectory_) {
    if (verbose_) report("interceptor " + link);
    if (!tree_->makeSymbolicLink(kWrapper, link) && isFileSystemFailure(errno)) {
      throw LinkFailure(link + ": " + kLinkFailure + ": " + strerror(errno));
    }
  }
  // The user is told to put bin first whenever a PATH search for the name
  // does not reach this link, a failed query included.
  struct stat linkStatus;
  struct stat foundStatus;
  Path found = Path::findProgram(Path(name));
  bool same = binIsDirectory_ && tree_->getStatus(link, linkStatus, DestinationTree::kFollowLast) &&
              !found.isEmpty() && found.stat(foundStatus) &&
              Path::sameFile(linkStatus, foundStatus);
  if (!same) interceptorShadowed_ = true;
}

void Installer::createInterceptors() {
  struct stat status;
  binIsDirectory_ = tree_->getStatus(kBin, status) && S_ISDIR(status.st_mode);
  for (const char* tool : kInterceptedTools) createInterceptor(String(tool));

  const char* path = getenv("PATH");
  String list(path != nullptr ? path : "");
  list += kExtraDirectories;
  // Only a regular file counts, opened without following a link and without
  // waiting on a FIFO, and only its first line, from at most its first
  // 4 KiB.
  RandomAccessFile installPath = tree_->openFile(kInstallPathFile);
  if (installPath.getDescriptor() >= 0) {
    char text[kInstallPathLimit];
    uint32_t filled = 0;
    int count;
    while (filled < sizeof text &&
           (count = installPath.read(text + filled, sizeof text - filled)) > 0) {
      filled += static_cast<uint32_t>(count);
    }
    const void* newline = memchr(text, '\n', filled);
    uint32_t length = newline != nullptr
                          ? static_cast<uint32_t>(static_cast<const char*>(newline) - text)
                          : filled;
    list += ":";
    list += String(text, length);
    installPath.close();
  }

  uint32_t start = 0;
  for (;;) {
    int colon = list.indexOf(':', static_cast<int>(start));
    uint32_t end = colon < 0 ? list.length() : static_cast<uint32_t>(colon);
    try {
      // An empty element or one that cannot be listed raises, and is skipped.
      DirectoryReader reader(Path(list.substring(start, end)));
      String name;
      while (reader.next(name)) {
        if (isCompilerName(name)) createInterceptor(name);
      }
    } catch (const LinkFailure&) {
      throw;
    } catch (const Exception&) {
      // This element only; the walk goes on.
    }
    if (colon < 0) break;
    start = end + 1;
  }
}
