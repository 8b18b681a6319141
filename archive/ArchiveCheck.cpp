#include "archive/ArchiveCheck.h"

#include <cstring>
#include <string>
#include <unordered_set>
#include <vector>

#include "lang/Exception.h"
#include "platform/DestinationTree.h"

namespace {

bool isDot(const String& component) {
  return component.length() == 1 && component.charAt(0) == '.';
}

bool isDotDot(const String& component) {
  return component.length() == 2 && component.charAt(0) == '.' && component.charAt(1) == '.';
}

// Whether a name from the archive is safe to create below the working
// directory: not empty, relative, no ".." component and no zero byte; only a
// directory may end with "/" or have "." as its last component.
bool isSafeName(const Path& name, bool directory) {
  uint32_t n = name.length();
  if (n == 0 || name.charAt(0) == '/' || memchr(name.data(), 0, n) != nullptr) return false;
  Path::Component cursor;
  String last;
  while (name.nextComponent(cursor)) {
    if (isDotDot(cursor.name())) return false;
    last = cursor.name();
  }
  if (!directory && (name.charAt(n - 1) == '/' || isDot(last))) return false;
  return true;
}

}  // namespace

bool ArchiveCheck::resolveInside(const Path& path, Path& inside) {
  if (path.isEmpty() || path.charAt(0) == '/' || memchr(path.data(), 0, path.length()) != nullptr) {
    return false;
  }
  std::vector<String> kept;
  Path::Component cursor;
  while (path.nextComponent(cursor)) {
    if (isDotDot(cursor.name())) {
      if (kept.empty()) return false;
      kept.pop_back();
    } else if (!isDot(cursor.name())) {
      kept.push_back(cursor.name());
    }
  }
  if (kept.empty()) return false;
  inside = kept[0];
  for (size_t i = 1; i < kept.size(); ++i) inside = inside + "/" + kept[i];
  return true;
}

void ArchiveCheck::refuseTarget(const String& target) {
  throw Exception(String("Archive: unsafe link target: ") + target);
}

// The names that earlier entries make symbolic links, and hard links to
// them: the links themselves come last, so a later entry below one of them
// is refused by name before the disk is reached. Names are kept as their
// components joined by "/" ("." left out), folded where the case rule
// folds; the directories of a name are looked up by a hash built as its
// components are read, so that a deep name costs one pass, not one per
// directory.
class ArchiveCheck::LinkNames {
 public:
  void add(const Path& name) {
    std::string key;
    walk(name, &key, nullptr);
    hashes_.insert(hashOf(key));
    names_.insert(key);
  }

  bool contains(const Path& name) const {
    if (names_.empty()) return false;
    std::string key;
    walk(name, &key, nullptr);
    return names_.count(key) != 0;
  }

  // The first directory of `name` that is a recorded link, as `name` spells
  // it up to there; false when there is none.
  bool findOnTheWay(const Path& name, Path* prefix) const {
    return !names_.empty() && walk(name, nullptr, prefix);
  }

 private:
  // FNV-1a over 64 bits.
  static constexpr uint64_t kHashStart = 14695981039346656037u;
  static constexpr uint64_t kHashPrime = 1099511628211u;

  static uint64_t hashStep(uint64_t hash, char byte) {
    return (hash ^ static_cast<unsigned char>(byte)) * kHashPrime;
  }

  static uint64_t hashOf(const std::string& key) {
    uint64_t hash = kHashStart;
    for (char byte : key) hash = hashStep(hash, byte);
    return hash;
  }

  // Reads the components of `name`: builds its key into `key` when given;
  // with `prefix`, stops at the first directory on the way that is recorded.
  bool walk(const Path& name, std::string* key, Path* prefix) const {
    bool fold = !Path::caseSensitive();
    uint64_t hash = kHashStart;
    bool first = true;
    uint32_t start = 0;
    uint32_t end = 0;  // where the components read so far end in `name`
    Path::Component cursor;
    std::string spelled;
    while (name.nextComponent(cursor)) {
      const String& part = cursor.name();
      uint32_t partStart = start;
      start = cursor.position();
      if (isDot(part)) continue;
      if (!first) {
        if (prefix != nullptr && hashes_.count(hash) != 0 && names_.count(spelled) != 0) {
          *prefix = name.substring(0, end);
          return true;
        }
        hash = hashStep(hash, '/');
        spelled += '/';
      }
      first = false;
      for (uint32_t i = 0; i < part.length(); ++i) {
        char byte = fold ? String::lowerAscii(part.charAt(i)) : part.charAt(i);
        hash = hashStep(hash, byte);
        spelled += byte;
      }
      end = partStart + part.length();
    }
    if (key != nullptr) *key = spelled;
    return false;
  }

  std::unordered_set<uint64_t> hashes_;
  std::unordered_set<std::string> names_;
};

ArchiveCheck::ArchiveCheck() : links_(new LinkNames) {}

ArchiveCheck::~ArchiveCheck() = default;

void ArchiveCheck::check(const Archive::Entry& entry, const char* content) {
  if (entry.type < Archive::kDirectory || entry.type > Archive::kSymbolicLink) return;
  const Path& name = entry.name;
  if (!isSafeName(name, entry.type == Archive::kDirectory)) {
    throw Exception(String("Archive: unsafe entry name: ") + name);
  }
  Path target;
  if (entry.type == Archive::kHardLink) {
    target = Path(content, entry.size);
    if (!isSafeName(target, false)) refuseTarget(target);
  }
  Path link;
  if (links_->findOnTheWay(name, &link)) throw DestinationTree::LinkInTheWay(link);
  if (entry.type == Archive::kHardLink) {
    if (links_->findOnTheWay(target, &link)) throw DestinationTree::LinkInTheWay(link);
    if (links_->contains(target)) links_->add(name);
  } else if (entry.type == Archive::kSymbolicLink) {
    links_->add(name);
  }
}
