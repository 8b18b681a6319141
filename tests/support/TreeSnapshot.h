// A description of a directory tree, for comparing a tree that a program
// made with the tree it came from: every path below the root with its type,
// permission bits, modification time, content or link text, and the groups
// of paths that share one inode. Test code only.
#ifndef VANTOREL_TESTS_SUPPORT_TREESNAPSHOT_H
#define VANTOREL_TESTS_SUPPORT_TREESNAPSHOT_H

#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "tests/support/TestSupport.h"

namespace testsupport {

struct TreeSnapshot {
  // Relative path ("" for the root) -> "dir MODE", "link TEXT" or
  // "file MODE MTIME CONTENT" (modes in decimal).
  std::map<std::string, std::string> entries;
  // The relative paths of each regular file with more than one link.
  std::set<std::set<std::string>> linkGroups;
};

namespace treesnapshot {

inline void take(const std::string& root, const std::string& relative, TreeSnapshot* snapshot,
                 std::map<ino_t, std::set<std::string>>* inodes) {
  std::string path = root + "/" + relative;
  struct stat status;
  ASSERT_EQ(0, lstat(path.c_str(), &status)) << path;
  std::string description;
  if (S_ISDIR(status.st_mode)) {
    description = "dir " + std::to_string(status.st_mode & 0777);
    DIR* dir = opendir(path.c_str());
    ASSERT_NE(nullptr, dir) << path;
    std::vector<std::string> names;
    while (struct dirent* e = readdir(dir)) {
      std::string name = e->d_name;
      if (name != "." && name != "..") names.push_back(name);
    }
    closedir(dir);
    for (const std::string& name : names) {
      take(root, relative.empty() ? name : relative + "/" + name, snapshot, inodes);
    }
  } else if (S_ISLNK(status.st_mode)) {
    char text[4096];
    ssize_t n = readlink(path.c_str(), text, sizeof text);
    ASSERT_GE(n, 0) << path;
    description = "link " + std::string(text, static_cast<size_t>(n));
  } else {
    description = "file " + std::to_string(status.st_mode & 0777) + " " +
                  std::to_string(status.st_mtime) + " " + readFile(path);
    if (status.st_nlink > 1) (*inodes)[status.st_ino].insert(relative);
  }
  snapshot->entries[relative] = description;
}

}  // namespace treesnapshot

inline TreeSnapshot snapshotOf(const std::string& root) {
  TreeSnapshot snapshot;
  std::map<ino_t, std::set<std::string>> inodes;
  treesnapshot::take(root, "", &snapshot, &inodes);
  for (const auto& group : inodes) snapshot.linkGroups.insert(group.second);
  return snapshot;
}

}  // namespace testsupport

#endif  // VANTOREL_TESTS_SUPPORT_TREESNAPSHOT_H
