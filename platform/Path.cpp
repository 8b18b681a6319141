// Path's text operations, the case rule and its start-up probe, the current
// directory, the program path and relativeTo with its memo. The operations
// that read or change the file system are in PathFileSystem.cpp.
#include "platform/Path.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "lang/Exception.h"
#include "lang/Hashtable.h"
#include "lang/VectorAuto.h"
#include "platform/KeyValue.h"
#include "platform/ProgramLocation.h"

namespace {

// Whether comparisons fold ASCII capitals. Zero-initialised before any
// start-up code runs, so names are case-sensitive until the probe has run.
bool gFoldCase = false;

// The start-up probe. It lives in this file, which every user of Path links,
// so it runs in every program before main.
struct CaseProbe {
  CaseProbe() { gFoldCase = !Path::probeCaseSensitive(kProbeDirectory); }
  // The system's world-writable scratch directory.
  static constexpr const char* kProbeDirectory = "/tmp/";
};
const CaseProbe gCaseProbe;

// The probe file's name, followed by the process id.
constexpr const char* kProbeName = "Path.CaseSensitive";

constexpr const char* kGetCurrentDirectoryFailure = "get current directory failure";
constexpr const char* kReadLinkFailure = "readlink failure";

// getcwd and readlink start with this buffer and double it up to the limit.
constexpr size_t kInitialNameBuffer = 1024;
constexpr size_t kMaxNameBuffer = size_t{1} << 20;

inline char fold(char c) { return gFoldCase ? String::lowerAscii(c) : c; }

// Whether `count` bytes are equal under the case rule.
bool sameText(const char* a, const char* b, uint32_t count) {
  if (!gFoldCase) return memcmp(a, b, count) == 0;
  for (uint32_t i = 0; i < count; ++i) {
    if (String::lowerAscii(a[i]) != String::lowerAscii(b[i])) return false;
  }
  return true;
}

bool isDot(const String& name) { return name.length() == 1 && name.charAt(0) == '.'; }

bool isDotDot(const String& name) {
  return name.length() == 2 && name.charAt(0) == '.' && name.charAt(1) == '.';
}

// `text`, then ": " and the system's text for `error` when it is not 0.
String withSystemError(const String& text, int error) {
  if (error == 0) return text;
  return text + ": " + strerror(error);
}

// The current directory, at any length up to kMaxNameBuffer. False, with
// errno set, when it cannot be read.
bool readCurrentDirectory(String& directory) {
  std::vector<char> buffer(kInitialNameBuffer);
  for (;;) {
    if (getcwd(buffer.data(), buffer.size()) != nullptr) {
      directory = String(buffer.data());
      return true;
    }
    if (errno != ERANGE || buffer.size() >= kMaxNameBuffer) return false;
    buffer.resize(buffer.size() * 2);
  }
}

// The text of the symbolic link `path`, whose lstat gave `size` (or -1 when
// unknown), at any length up to kMaxNameBuffer. False, with errno set, when
// it cannot be read.
bool readLinkText(const char* path, off_t size, String& text) {
  size_t capacity = kInitialNameBuffer;
  // The reported size is a hint only (some file systems report 0); it is
  // checked before it sizes a buffer.
  while (size >= 0 && capacity <= static_cast<uint64_t>(size) && capacity < kMaxNameBuffer) {
    capacity *= 2;
  }
  for (;;) {
    std::vector<char> buffer(capacity);
    ssize_t n = readlink(path, buffer.data(), buffer.size());
    if (n < 0) return false;
    if (static_cast<size_t>(n) < buffer.size()) {
      text = String(buffer.data(), static_cast<uint32_t>(n));
      return true;
    }
    if (capacity >= kMaxNameBuffer) {
      errno = ENAMETOOLONG;
      return false;
    }
    capacity *= 2;
  }
}

// The program's own path; empty until setProgramPath records it.
String& programPath() {
  static String* path = new String();  // lives until exit, never destroyed
  return *path;
}

// The memo of relativeTo: each KeyValue maps to its own value. The vector
// owns the records and, declared last, frees them first at exit.
struct RelativeMemo {
  // The system's hash tables are all made with these.
  static constexpr uint32_t kCapacity = 101;
  static constexpr float kLoadFactor = 0.75f;

  Hashtable table{kCapacity, kLoadFactor};
  VectorAuto records;
};

RelativeMemo& relativeMemo() {
  static RelativeMemo memo;
  return memo;
}

}  // namespace

// --- The case rule -----------------------------------------------------------

bool Path::caseSensitive() { return !gFoldCase; }

void Path::setCaseSensitive(bool sensitive) { gFoldCase = !sensitive; }

bool Path::probeCaseSensitive(const char* directory) {
  int savedErrno = errno;
  String file = String(kProbeName) + String::valueOf(static_cast<long>(getpid()));
  String name = String(directory) + file;
  // A fresh file, never an existing name or a link planted there: the
  // directory is world-writable and the installer often runs as root.
  int fd = open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
  bool sensitive = true;
  if (fd >= 0) {
    struct stat created;
    bool known = fstat(fd, &created) == 0;
    close(fd);
    // Only the file name is lower-cased: the directory is taken as given.
    String lower = String(directory) + file.toLowerCase();
    // Non-blocking, so that a FIFO planted under the lower-cased name cannot
    // stall start-up.
    int other = open(lower.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (other >= 0) {
      struct stat seen;
      if (known && fstat(other, &seen) == 0 && Path::sameFile(created, seen)) sensitive = false;
      close(other);
    }
    // Remove the probe only while its name still holds the file made above.
    struct stat current;
    if (!known || (lstat(name.c_str(), &current) == 0 && Path::sameFile(created, current))) {
      unlink(name.c_str());
    }
  }
  errno = savedErrno;
  return sensitive;
}

bool Path::equals(const Object& other) const {
  const String& text = static_cast<const String&>(other);
  return length() == text.length() && sameText(data(), text.data(), length());
}

bool Path::equals(const char* other) const {
  size_t otherLength = other == nullptr ? 0 : strlen(other);
  return otherLength == length() && sameText(data(), other, length());
}

uint32_t Path::hashCode() const {
  if (!gFoldCase) return String::hashCode();
  String folded = toLowerCase();
  return hash(folded.data(), folded.length());
}

int Path::compareTo(const Comparable& other) const {
  const String& text = static_cast<const String&>(other);
  uint32_t common = length() < text.length() ? length() : text.length();
  for (uint32_t i = 0; i < common; ++i) {
    int a = static_cast<signed char>(fold(data()[i]));
    int b = static_cast<signed char>(fold(text.data()[i]));
    if (a != b) return a - b;
  }
  int64_t difference = static_cast<int64_t>(length()) - text.length();
  if (difference > INT32_MAX) return INT32_MAX;
  if (difference < INT32_MIN) return INT32_MIN;
  return static_cast<int>(difference);
}

bool Path::startsWith(const String& prefix) const {
  return prefix.length() <= length() && sameText(data(), prefix.data(), prefix.length());
}

bool Path::startsWith(const char* prefix) const {
  size_t prefixLength = prefix == nullptr ? 0 : strlen(prefix);
  return prefixLength <= length() && sameText(data(), prefix, static_cast<uint32_t>(prefixLength));
}

bool Path::endsWith(const String& suffix) const {
  if (suffix.length() > length()) return false;
  return suffix.equals(substring(length() - suffix.length()));
}

int Path::indexOf(const String& sub, int from) const {
  if (!gFoldCase) return String::indexOf(sub, from);
  if (from < 0) from = 0;
  if (sub.length() > length() || static_cast<uint32_t>(from) > length() - sub.length()) {
    return -1;
  }
  for (uint32_t i = static_cast<uint32_t>(from); i <= length() - sub.length(); ++i) {
    if (sameText(data() + i, sub.data(), sub.length())) return static_cast<int>(i);
  }
  return -1;
}

// --- Taking a name apart -------------------------------------------------------

void Path::split(Path* directory, Path* base, Path* extension) const {
  uint32_t n = length();
  int slash = lastIndexOf('/');
  uint32_t nameStart = static_cast<uint32_t>(slash + 1);
  uint32_t extensionStart = n;
  if (n != 0 && charAt(n - 1) != '/' && charAt(n - 1) != '.') {
    // The last "." before the last byte, unless it is the name's first byte.
    for (int64_t k = static_cast<int64_t>(n) - 2; k >= nameStart; --k) {
      if (charAt(static_cast<uint32_t>(k)) == '.') {
        if (k > nameStart) extensionStart = static_cast<uint32_t>(k);
        break;
      }
    }
  }
  if (directory != nullptr) *directory = substring(0, nameStart);
  if (base != nullptr) *base = substring(nameStart, extensionStart);
  if (extension != nullptr) *extension = substring(extensionStart);
}

Path Path::getDirectory() const {
  Path directory;
  split(&directory, nullptr, nullptr);
  return directory.isEmpty() ? Path("./") : directory;
}

Path Path::getName() const { return substring(static_cast<uint32_t>(lastIndexOf('/') + 1)); }

Path Path::getBaseName() const {
  Path base;
  split(nullptr, &base, nullptr);
  return base;
}

Path Path::getExtension() const {
  Path extension;
  split(nullptr, nullptr, &extension);
  return extension;
}

bool Path::nextComponent(Component& cursor) const {
  uint32_t n = length();
  if (cursor.position_ >= n) {
    cursor.position_ = 0;
    cursor.name_ = String();
    return false;
  }
  cursor.kind_ = Component::kDirectory;
  uint32_t start = cursor.position_;
  uint32_t end;
  if (start == 0 && charAt(0) == '/') {
    end = 1;  // the root
  } else {
    int slash = indexOf('/', static_cast<int>(start));
    end = slash < 0 ? n : static_cast<uint32_t>(slash);
    if (end == n) cursor.kind_ = Component::kFinal;
  }
  cursor.name_ = substring(start, end);
  while (end < n && charAt(end) == '/') ++end;
  cursor.position_ = end;
  if (isDot(cursor.name_) || isDotDot(cursor.name_)) cursor.kind_ = Component::kDirectory;
  return true;
}

Path& Path::addTrailingSlash() {
  if (!isEmpty() && charAt(length() - 1) != '/') String::operator+=("/");
  return *this;
}

Path Path::withTrailingSlash() const {
  Path copy(*this);
  return copy.addTrailingSlash();
}

Path operator+(const Path& head, const String& tail) {
  return Path(static_cast<const String&>(head) + tail);
}

Path operator+(const Path& head, const char* tail) {
  return Path(static_cast<const String&>(head) + tail);
}

// --- Names in relation to the file system -----------------------------------

void Path::throwFailure(const String& what) const {
  int error = errno;
  throw Exception(withSystemError(*this + ": " + what, error));
}

Path Path::getCurrentDirectory() {
  String directory;
  if (!readCurrentDirectory(directory)) {
    int error = errno;
    throw Exception(withSystemError(kGetCurrentDirectoryFailure, error));
  }
  return Path(directory).addTrailingSlash();
}

Path Path::getCanonical() const {
  if (isEmpty()) return Path();
  Path full = charAt(0) == '/' ? *this : getCurrentDirectory() + *this;
  struct Entry {
    bool root;
    int32_t kind;
    String name;
  };
  std::vector<Entry> stack;
  Component cursor;
  bool first = true;
  while (full.nextComponent(cursor)) {
    bool root = first;  // full begins with "/", so its first component is the root
    first = false;
    if (isDot(cursor.name())) continue;
    if (isDotDot(cursor.name())) {
      if (!stack.empty() && !stack.back().root) stack.pop_back();
      continue;
    }
    stack.push_back({root, cursor.kind(), cursor.name()});
  }
  std::string text;
  text.reserve(full.length());
  for (const Entry& entry : stack) {
    if (entry.root) {
      text += '/';
      continue;
    }
    text.append(entry.name.data(), entry.name.length());
    if (entry.kind != Component::kFinal) text += '/';
  }
  return Path(text.data(), static_cast<uint32_t>(text.size()));
}

Path Path::relativeTo(const Path& base) const {
  Path directory;
  split(&directory, nullptr, nullptr);
  Path name = getName();
  RelativeMemo& memo = relativeMemo();
  KeyValue key(directory, base, Path());
  if (Object* hit = memo.table.get(key)) {
    Path result = *static_cast<Path*>(hit) + name;
    // The same directory with no name left over, as computeRelative says it.
    return result.isEmpty() ? Path("./") : result;
  }

  Path result = computeRelative(base);
  Path resultDirectory;
  result.split(&resultDirectory, nullptr, nullptr);
  Path resultName = result.getName();
  // Only a result that ends in this path's own name says something about
  // every name in the same directory.
  if (!resultName.isEmpty() && resultName.equals(name)) {
    auto record = std::make_unique<KeyValue>(directory, base, resultDirectory);
    memo.records.addElement(record.get());
    KeyValue* owned = record.release();
    memo.table.put(owned, &owned->getValue());
  }
  return result;
}

Path Path::computeRelative(const Path& base) const {
  Path from = base.getCanonical();
  Path to = getCanonical();
  Component a;
  Component b;
  uint32_t common = 0;
  bool moreOfFrom = false;
  for (;;) {
    moreOfFrom = from.nextComponent(a);
    bool moreOfTo = to.nextComponent(b);
    if (!moreOfFrom || !moreOfTo) break;
    if (a.kind() != b.kind() || !Path(a.name()).equals(b.name())) break;
    common = b.position();
  }
  std::string text;
  // One level up for each directory of the base that is not shared. A base
  // that does not end with "/" names a file, whose own name is no level.
  if (moreOfFrom && a.kind() == Component::kDirectory) {
    do {
      if (a.kind() == Component::kDirectory) text += "../";
    } while (from.nextComponent(a));
  }
  text.append(to.data() + common, to.length() - common);
  if (text.empty()) return Path("./");
  return Path(text.data(), static_cast<uint32_t>(text.size()));
}

Path Path::resolveLinks() const {
  Path resolved = *this;
  Component cursor;
  uint32_t start = 0;  // where the current component begins
  int substitutions = 0;
  while (resolved.nextComponent(cursor)) {
    // The text up to and including this component, without the slashes
    // after it: with them, lstat would follow a link to a directory.
    uint32_t end = cursor.position();
    while (end > 0 && resolved.charAt(end - 1) == '/') --end;
    String prefix = resolved.substring(0, end);
    struct stat status;
    String target;
    if (prefix.isEmpty() || lstat(prefix.c_str(), &status) != 0 || !S_ISLNK(status.st_mode) ||
        !readLinkText(prefix.c_str(), status.st_size, target)) {
      start = cursor.position();
      continue;
    }
    if (substitutions == kMaxLinkSubstitutions) return resolved;
    ++substitutions;
    String rest = resolved.substring(cursor.position());
    if (!rest.isEmpty() && !target.isEmpty() && target.charAt(target.length() - 1) != '/') {
      target += "/";
    }
    if (!target.isEmpty() && target.charAt(0) == '/') {
      resolved = target + rest;
      start = 0;
    } else {
      resolved = resolved.substring(0, start) + target + rest;
    }
    // The substituted text is examined again.
    cursor.position_ = start;
  }
  return resolved;
}

String Path::readLink() const {
  String text;
  if (!readLinkText(c_str(), -1, text)) throwFailure(kReadLinkFailure);
  return text;
}

bool Path::sameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// --- The program path ----------------------------------------------------------

void Path::setProgramPath(const char* invocationName) {
  String& path = programPath();
  path = invocationName;
  // The program a shell runs for a bare name: only an executable file can
  // be it. A name found nowhere stands for a file in the current directory.
  if (strchr(invocationName, '/') == nullptr) {
    char candidate[kProgramSearchBuffer];
    if (findProgramFile(nullptr, invocationName, candidate, true) != 0) path = candidate;
  }
  // A relative name, also one found through a relative PATH entry ("", ".",
  // "bin"), is taken from the directory the program was started in, now,
  // before anything changes it.
  if (path.startsWith("/")) return;
  String directory;
  if (readCurrentDirectory(directory)) path = directory + "/" + path;
}

Path Path::getProgramPath() { return Path(programPath()); }

Path Path::getInstallRoot() {
  return Path((getProgramPath() + "/../..").replace('\\', '/')).getCanonical();
}
