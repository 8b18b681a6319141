// A stand-in for libFuzzer's main, so that any compiler can replay a fuzz
// target's corpus: runs LLVMFuzzerTestOneInput once on every file named on
// the command line and on every file in each directory named there. Exits 0
// when every input ran; a fault aborts the program, as under the fuzzer.
//
//   ArchiveReadFuzzerReplay fuzz/corpus/archive-read
#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

// The files to run: a plain file itself, a directory's files sorted by name.
std::vector<std::string> inputsOf(const std::string& path) {
  struct stat status;
  if (stat(path.c_str(), &status) != 0) return {};
  if (!S_ISDIR(status.st_mode)) return {path};
  std::vector<std::string> files;
  if (DIR* directory = opendir(path.c_str())) {
    while (struct dirent* entry = readdir(directory)) {
      std::string file = path + "/" + entry->d_name;
      if (stat(file.c_str(), &status) == 0 && S_ISREG(status.st_mode)) files.push_back(file);
    }
    closedir(directory);
  }
  std::sort(files.begin(), files.end());
  return files;
}

}  // namespace

int main(int argc, char** argv) {
  int ran = 0;
  for (int i = 1; i < argc; ++i) {
    std::vector<std::string> files = inputsOf(argv[i]);
    if (files.empty()) {
      fprintf(stderr, "%s: no inputs\n", argv[i]);
      return 1;
    }
    for (const std::string& file : files) {
      std::ifstream in(file, std::ios::binary);
      std::vector<uint8_t> data((std::istreambuf_iterator<char>(in)),
                                std::istreambuf_iterator<char>());
      LLVMFuzzerTestOneInput(data.data(), data.size());
      ++ran;
    }
  }
  printf("%d inputs ran\n", ran);
  return ran == 0 ? 1 : 0;
}
