// Fuzz target: Path's text operations on random texts, with the invariants
// that callers rely on:
// - a canonical path is absolute, has no "." or ".." component and no "//",
//   keeps a trailing "/", and canonicalising it again changes nothing;
// - a walk of the components names every component once, without slashes,
//   and puts the text back together; it can be walked again;
// - split's directory, base name and extension put the text back together;
// - the base's directory followed by relativeTo's result is the path again
//   (a path relative to itself is "./");
// - equals, compareTo, hashCode, startsWith and indexOf agree.
// Each input is a flag byte (bit 0: compare without case; bits 1 to 6 all
// set: consult relativeTo's memo, in inputs of at most 128 bytes), a length
// byte, the first path and then the second.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/Path.h"

namespace {

constexpr uint8_t kFoldCaseFlag = 1;
// relativeTo's memo lives until exit and keeps every new pair of directory
// and base, each holding on to the text it was cut from: a long run that
// consulted it on every input would end at the memory limit. Only short
// inputs with all these flag bits (one in 64) go through it;
// computeRelative, which does the work, runs on every input.
constexpr uint8_t kMemoFlags = 0x7E;
constexpr size_t kMemoMaxSize = 128;

const Path* gFirst;
const Path* gSecond;

std::string quoted(const String& text) {
  std::string out = "'";
  for (uint32_t i = 0; i < text.length(); ++i) {
    unsigned char byte = static_cast<unsigned char>(text.charAt(i));
    if (byte >= 0x20 && byte < 0x7F && byte != '\\' && byte != '\'') {
      out += static_cast<char>(byte);
    } else {
      char escape[5];
      snprintf(escape, sizeof escape, "\\x%02X", byte);
      out += escape;
    }
  }
  return out + "'";
}

void require(bool condition, const char* what, const String& detail = String()) {
  if (condition) return;
  fprintf(stderr, "PathFuzzer: %s\n  path %s\n  other %s\n  seen %s\n", what,
          quoted(*gFirst).c_str(), quoted(*gSecond).c_str(), quoted(detail).c_str());
  abort();
}

bool sameBytes(const String& a, const String& b) {
  return a.length() == b.length() && memcmp(a.data(), b.data(), a.length()) == 0;
}

bool endsWithSlash(const String& text) {
  return !text.isEmpty() && text.charAt(text.length() - 1) == '/';
}

int sign(int value) { return (value > 0) - (value < 0); }

void checkCanonical(const Path& path) {
  Path canonical = path.getCanonical();
  require(canonical.isEmpty() == path.isEmpty(), "canonical form empty for a path", canonical);
  if (canonical.isEmpty()) return;
  require(canonical.charAt(0) == '/', "canonical form not absolute", canonical);
  require(canonical.String::indexOf(String("//")) < 0, "canonical form holds //", canonical);
  Path::Component cursor;
  while (canonical.nextComponent(cursor)) {
    require(!cursor.name().equals(String(".")) && !cursor.name().equals(String("..")),
            "canonical form holds . or ..", canonical);
  }
  require(!endsWithSlash(path) || endsWithSlash(canonical), "canonical form lost the trailing /",
          canonical);
  require(sameBytes(canonical.getCanonical(), canonical), "canonical form not stable", canonical);
}

void checkComponents(const Path& path) {
  // The text with every run of slashes made one, rebuilt from the walk.
  std::string expected;
  for (uint32_t i = 0; i < path.length(); ++i) {
    if (path.charAt(i) != '/' || expected.empty() || expected.back() != '/') {
      expected += path.charAt(i);
    }
  }
  std::string rebuilt;
  std::string firstWalk;
  Path::Component cursor;
  uint32_t steps = 0;
  bool sawFinal = false;
  while (path.nextComponent(cursor)) {
    require(!sawFinal, "a component after the final one", cursor.name());
    require(++steps <= path.length(), "more components than bytes", cursor.name());
    const String& name = cursor.name();
    require(!name.isEmpty(), "an empty component");
    bool root = steps == 1 && path.charAt(0) == '/';
    require(root ? sameBytes(name, String("/")) : name.indexOf('/') < 0,
            "a component holds a slash", name);
    sawFinal = cursor.kind() == Path::Component::kFinal;
    require(sawFinal || cursor.kind() == Path::Component::kDirectory, "an unknown kind", name);
    require(!sawFinal || cursor.position() == path.length(), "a final component before the end",
            name);
    if (!rebuilt.empty() && rebuilt.back() != '/') rebuilt += '/';
    rebuilt.append(name.data(), name.length());
    firstWalk += std::string(name.data(), name.length()) + '\0';
  }
  require(cursor.position() == 0 && cursor.name().isEmpty(), "the walk did not reset");
  if (endsWithSlash(path) && !rebuilt.empty() && rebuilt.back() != '/') rebuilt += '/';
  require(rebuilt == expected, "the components do not rebuild the path",
          String(rebuilt.data(), static_cast<uint32_t>(rebuilt.size())));
  std::string secondWalk;
  while (path.nextComponent(cursor)) {
    secondWalk += std::string(cursor.name().data(), cursor.name().length()) + '\0';
  }
  require(firstWalk == secondWalk, "a second walk differs");
}

void checkSplit(const Path& path) {
  Path directory;
  Path base;
  Path extension;
  path.split(&directory, &base, &extension);
  require(sameBytes(String(directory) + base + extension, path), "split does not rebuild the path",
          directory);
  require(directory.isEmpty() || endsWithSlash(directory), "split directory without /", directory);
  require(base.indexOf('/') < 0 && extension.indexOf('/') < 0, "split name holds /", base);
  require(extension.isEmpty() ||
              (extension.charAt(0) == '.' && extension.length() >= 2 && !base.isEmpty()),
          "split extension malformed", extension);
  require(sameBytes(path.getName(), String(base) + extension), "getName differs from split");
  require(sameBytes(path.getDirectory(), directory.isEmpty() ? Path("./") : directory),
          "getDirectory differs from split");
}

// The base's directory: the base itself when it ends with "/", else the
// directory that holds it.
Path directoryOf(const Path& base) {
  Path canonical = base.getCanonical();
  if (endsWithSlash(canonical)) return canonical;
  Path directory;
  canonical.split(&directory, nullptr, nullptr);
  return directory;
}

void checkRelative(const Path& path, const Path& base, bool memo) {
  if (path.isEmpty() || base.isEmpty()) return;
  Path computed = path.computeRelative(base);
  require(!computed.isEmpty() && computed.charAt(0) != '/', "relative form empty or absolute",
          computed);
  Path target = path.getCanonical();
  if (target.equals(base.getCanonical())) {
    // A path relative to itself is "./", a file as well as a directory.
    require(sameBytes(computed, String("./")), "a path relative to itself is not ./", computed);
    return;
  }
  Path again = (directoryOf(base) + computed).getCanonical();
  require(again.equals(target), "base + relative form is another path", again);
  if (!memo) return;
  // The memoised form may be spelt differently but names the same path.
  Path memoised = path.relativeTo(base);
  again = (directoryOf(base) + memoised).getCanonical();
  require(again.equals(target), "base + memoised relative form is another path", again);
}

void checkComparison(const Path& a, const Path& b) {
  bool equal = a.equals(b);
  require(equal == b.equals(a), "equals not symmetric");
  require(equal == (a.compareTo(b) == 0), "equals and compareTo disagree");
  require(sign(a.compareTo(b)) == -sign(b.compareTo(a)), "compareTo not antisymmetric");
  require(!equal || a.hashCode() == b.hashCode(), "equal paths hash apart");
  if (!b.isEmpty()) {
    require(a.startsWith(b) == (a.indexOf(b, 0) == 0), "startsWith and indexOf disagree");
  }
  int found = a.indexOf(b, 0);
  require(found < 0 || Path(a.substring(static_cast<uint32_t>(found),
                                        static_cast<uint32_t>(found) + b.length()))
                           .equals(b),
          "indexOf found no match");
  if (!Path::caseSensitive()) {
    Path lower(a.toLowerCase());
    require(lower.equals(a) && lower.hashCode() == a.hashCode(), "case folding not applied", lower);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2 || size > UINT32_MAX) return 0;
  const char* text = reinterpret_cast<const char*>(data) + 2;
  uint32_t rest = static_cast<uint32_t>(size - 2);
  uint32_t firstLength = data[1] <= rest ? data[1] : rest;
  Path first(text, firstLength);
  Path second(text + firstLength, rest - firstLength);
  gFirst = &first;
  gSecond = &second;

  bool sensitive = Path::caseSensitive();
  Path::setCaseSensitive((data[0] & kFoldCaseFlag) == 0);
  for (const Path* path : {&first, &second}) {
    checkCanonical(*path);
    checkComponents(*path);
    checkSplit(*path);
  }
  checkRelative(first, second, (data[0] & kMemoFlags) == kMemoFlags && size <= kMemoMaxSize);
  checkComparison(first, second);
  Path::setCaseSensitive(sensitive);
  return 0;
}
