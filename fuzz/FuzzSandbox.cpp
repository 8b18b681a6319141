#include "fuzz/FuzzSandbox.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "lang/Exception.h"

namespace {

// What the victim holds; an extraction must never change it.
const char kVictimText[] = "precious";
constexpr mode_t kVictimMode = 0644;
constexpr mode_t kDirectoryMode = 0755;
// Lets the harness list and empty a directory that the archive made
// unreadable.
constexpr mode_t kOwnerAll = 0700;

std::vector<std::string> listDirectory(const std::string& path) {
  std::vector<std::string> names;
  DIR* directory = opendir(path.c_str());
  if (directory == nullptr) return names;
  while (struct dirent* entry = readdir(directory)) {
    std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  closedir(directory);
  std::sort(names.begin(), names.end());
  return names;
}

// Removes a tree without following any symbolic link in it.
void removeTree(const std::string& path) {
  struct stat status;
  if (lstat(path.c_str(), &status) != 0) return;
  if (S_ISDIR(status.st_mode)) {
    chmod(path.c_str(), kOwnerAll);
    for (const std::string& name : listDirectory(path)) removeTree(path + "/" + name);
    rmdir(path.c_str());
  } else {
    unlink(path.c_str());
  }
}

void fail(const char* what) {
  perror(what);
  abort();
}

}  // namespace

FuzzSandbox& FuzzSandbox::instance() {
  static FuzzSandbox sandbox;
  return sandbox;
}

FuzzSandbox::FuzzSandbox() {
  const char* tmp = getenv("TMPDIR");
  std::string pattern =
      std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/vantorel-fuzz-XXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  if (mkdtemp(name.data()) == nullptr) fail("mkdtemp");
  char resolved[PATH_MAX];
  if (realpath(name.data(), resolved) == nullptr) fail("realpath");
  root_ = resolved;
  umask(0);
  if (mkdir((root_ + "/outside").c_str(), kDirectoryMode) != 0) fail("mkdir outside");
  int victim = open((root_ + "/outside/victim").c_str(), O_WRONLY | O_CREAT | O_EXCL, kVictimMode);
  if (victim < 0 || write(victim, kVictimText, sizeof kVictimText - 1) !=
                        static_cast<ssize_t>(sizeof kVictimText - 1)) {
    fail("victim");
  }
  close(victim);
}

FuzzSandbox::~FuzzSandbox() { removeTree(root_); }

void FuzzSandbox::escaped(const std::string& what) {
  fprintf(stderr, "FuzzSandbox: the extraction reached outside its directory: %s\n", what.c_str());
  abort();
}

void FuzzSandbox::checkOutside() const {
  std::vector<std::string> expected{"outside", "work"};
  if (listDirectory(root_) != expected) escaped("a new name beside the work directory");
  if (listDirectory(root_ + "/outside") != std::vector<std::string>{"victim"}) {
    escaped("a new name in outside/");
  }
  std::string victim = root_ + "/outside/victim";
  struct stat status;
  if (lstat(victim.c_str(), &status) != 0 || !S_ISREG(status.st_mode) ||
      (status.st_mode & 07777) != kVictimMode || status.st_nlink != 1 ||
      status.st_size != static_cast<off_t>(sizeof kVictimText - 1)) {
    escaped("outside/victim changed its type, mode, links or size");
  }
  char text[sizeof kVictimText] = {};
  int descriptor = open(victim.c_str(), O_RDONLY);
  if (descriptor < 0 || read(descriptor, text, sizeof text) != sizeof kVictimText - 1 ||
      std::string(text) != kVictimText) {
    escaped("outside/victim changed its content");
  }
  close(descriptor);
}

void FuzzSandbox::run(const std::function<void()>& extract) {
  // The fuzzer names its corpus and findings relative to where it started.
  int previous = open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (previous < 0) fail("open .");
  std::string work = root_ + "/work";
  if (mkdir(work.c_str(), kDirectoryMode) != 0) fail("mkdir work");
  if (symlink((root_ + "/outside").c_str(), (work + "/" + kPlantedDirectory).c_str()) != 0 ||
      symlink((root_ + "/outside/victim").c_str(), (work + "/" + kPlantedFile).c_str()) != 0) {
    fail("symlink");
  }
  if (chdir(work.c_str()) != 0) fail("chdir work");
  try {
    extract();
  } catch (const Exception&) {
    // Bad input is refused with an Exception: the outcome expected.
  }
  checkOutside();
  removeTree(work);
  if (fchdir(previous) != 0) fail("fchdir");
  close(previous);
}
