// Throughput of the input stack that reads install.data: TEA deciphering,
// LZMA decoding, and the whole File -> Cipher -> LZMA stack, beside
// `xz --format=lzma -dc` on the same data.
//
// Before the benchmarks run, a private temporary directory receives a data
// file of at least 64 MiB made of files found on this machine (headers and
// libraries, alternately); that file compressed with `xz --format=lzma` and
// then enciphered with CipherOutputStream under the default key (the shape
// of install.data); and, for the cipher alone, the data file enciphered
// whole. The directory is removed at the end.
#include <benchmark/benchmark.h>
#include <dirent.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "archive/CipherInputStream.h"
#include "archive/CipherOutputStream.h"
#include "archive/LzmaInputStream.h"
#include "io/BufferedOutputStream.h"
#include "io/FileInputStream.h"
#include "io/FileOutputStream.h"
#include "io/StringInputStream.h"
#include "lang/Exception.h"
#include "platform/ProgramLocation.h"

extern char** environ;

namespace {

// The least plain data the benchmarks work on.
constexpr size_t kPlainSize = 64u << 20;
// No single file contributes more, so that the data mixes many files.
constexpr size_t kMostPerFile = 2u << 20;
// The read size of the consumer above the stack: the archive reader's
// buffer.
constexpr uint32_t kReadSize = 4096;

struct Data {
  std::string dir;
  std::string xz;
  std::string plainPath, lzmaPath, scrambledPath, scrambledPlainPath;
  // The compressed stream and the enciphered data file, in memory.
  std::string lzma, scrambledPlain;
  size_t plainSize = 0;
};
Data data;

[[noreturn]] void fail(const std::string& what) {
  fprintf(stderr, "CodecsBenchmark: %s\n", what.c_str());
  exit(1);
}

std::string slurp(const std::string& path) {
  std::string bytes;
  FileInputStream in{String(path.c_str())};
  char buffer[1 << 16];
  for (int count; (count = in.read(buffer, sizeof buffer)) > 0;) bytes.append(buffer, count);
  return bytes;
}

// Regular files below `root`, sorted, without following links.
void listFiles(const std::string& root, std::vector<std::string>& files) {
  DIR* dir = opendir(root.c_str());
  if (dir == nullptr) return;
  std::vector<std::string> names;
  while (dirent* entry = readdir(dir)) {
    std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  closedir(dir);
  std::sort(names.begin(), names.end());
  for (const std::string& name : names) {
    std::string path = root + "/" + name;
    struct stat status;
    if (lstat(path.c_str(), &status) != 0) continue;
    if (S_ISDIR(status.st_mode)) listFiles(path, files);
    if (S_ISREG(status.st_mode) && status.st_size > 0) files.push_back(path);
  }
}

// Runs argv with standard output on `outputPath`; returns the exit status.
int runTo(const std::vector<std::string>& argv, const char* outputPath) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, outputPath, O_WRONLY | O_CREAT | O_TRUNC, 0600);
  std::vector<char*> args;
  for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  pid_t pid;
  int error = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (error != 0) return -1;
  int status = 0;
  if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

void encipher(const std::string& bytes, const std::string& path) {
  FileOutputStream file{String(path.c_str())};
  BufferedOutputStream buffered(&file);
  CipherOutputStream scrambled(&buffered);
  scrambled.write(bytes.data(), static_cast<uint32_t>(bytes.size()));
  scrambled.close();
}

void prepare() {
  char xz[kProgramSearchBuffer];
  if (findProgramFile(nullptr, "xz", xz) == 0) fail("xz is not on PATH");
  data.xz = xz;
  const char* tmp = getenv("TMPDIR");
  std::string pattern = std::string(tmp != nullptr && *tmp != 0 ? tmp : "/tmp") + "/bench.XXXXXX";
  if (mkdtemp(&pattern[0]) == nullptr) fail("cannot make a temporary directory");
  data.dir = pattern;
  data.plainPath = data.dir + "/plain";
  data.lzmaPath = data.dir + "/plain.lzma";
  data.scrambledPath = data.dir + "/install.data";
  data.scrambledPlainPath = data.dir + "/plain.tea";

  std::vector<std::string> text, binary;
  listFiles("/usr/include", text);
  listFiles("/usr/lib/x86_64-linux-gnu", binary);
  listFiles("/usr/lib", binary);
  {
    FileOutputStream plain{String(data.plainPath.c_str())};
    size_t next[2] = {0, 0};
    const std::vector<std::string>* lists[2] = {&text, &binary};
    for (int turn = 0; data.plainSize < kPlainSize; turn ^= 1) {
      const std::vector<std::string>& list = *lists[turn];
      if (next[0] >= text.size() && next[1] >= binary.size())
        fail("too little data on this machine");
      if (next[turn] >= list.size()) continue;
      std::string bytes;
      try {
        bytes = slurp(list[next[turn]++]);
      } catch (const Exception&) {
        continue;  // unreadable: take the next one
      }
      bytes.resize(std::min(bytes.size(), kMostPerFile));
      plain.write(bytes.data(), static_cast<uint32_t>(bytes.size()));
      data.plainSize += bytes.size();
    }
  }
  fprintf(stderr, "CodecsBenchmark: compressing %zu bytes with xz --format=lzma ...\n",
          data.plainSize);
  if (runTo({data.xz, "--format=lzma", "--stdout", data.plainPath}, data.lzmaPath.c_str()) != 0) {
    fail("xz could not compress the data");
  }
  data.lzma = slurp(data.lzmaPath);
  encipher(data.lzma, data.scrambledPath);
  encipher(slurp(data.plainPath), data.scrambledPlainPath);
  data.scrambledPlain = slurp(data.scrambledPlainPath);
  fprintf(stderr, "CodecsBenchmark: %zu plain, %zu compressed bytes in %s\n", data.plainSize,
          data.lzma.size(), data.dir.c_str());
}

void cleanUp() {
  for (const std::string* path :
       {&data.plainPath, &data.lzmaPath, &data.scrambledPath, &data.scrambledPlainPath}) {
    unlink(path->c_str());
  }
  rmdir(data.dir.c_str());
}

// Reads `in` to its end in reads of kReadSize; returns the bytes read.
size_t drain(InputStream& in) {
  static char buffer[kReadSize];
  size_t total = 0;
  for (int count; (count = in.read(buffer, kReadSize)) > 0;) total += static_cast<size_t>(count);
  benchmark::DoNotOptimize(buffer);
  return total;
}

void report(benchmark::State& state, size_t bytesPerIteration) {
  double bytes = static_cast<double>(bytesPerIteration) * static_cast<double>(state.iterations());
  state.SetBytesProcessed(static_cast<int64_t>(bytes));
  state.counters["MB/s"] = benchmark::Counter(bytes / 1e6, benchmark::Counter::kIsRate);
}

void BM_TeaDecipher(benchmark::State& state) {
  for (auto _ : state) {
    StringInputStream source(data.scrambledPlain.data(),
                             static_cast<uint32_t>(data.scrambledPlain.size()));
    CipherInputStream plain(&source);
    if (drain(plain) != data.scrambledPlain.size()) state.SkipWithError("short deciphering");
  }
  report(state, data.scrambledPlain.size());
}

void BM_LzmaStream(benchmark::State& state) {
  for (auto _ : state) {
    StringInputStream source(data.lzma.data(), static_cast<uint32_t>(data.lzma.size()));
    LzmaInputStream plain(&source);
    if (drain(plain) != data.plainSize) state.SkipWithError("short decoding");
  }
  report(state, data.plainSize);
}

void BM_FileCipherLzmaStack(benchmark::State& state) {
  for (auto _ : state) {
    FileInputStream file{String(data.scrambledPath.c_str())};
    CipherInputStream plain(&file);
    LzmaInputStream archive(&plain);
    if (drain(archive) != data.plainSize) state.SkipWithError("short decoding");
  }
  report(state, data.plainSize);
}

void BM_XzLzmaDecompress(benchmark::State& state) {
  for (auto _ : state) {
    if (runTo({data.xz, "--format=lzma", "-dc", data.lzmaPath}, "/dev/null") != 0) {
      state.SkipWithError("xz failed");
    }
  }
  report(state, data.plainSize);
}

}  // namespace

BENCHMARK(BM_TeaDecipher)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_LzmaStream)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_FileCipherLzmaStack)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_XzLzmaDecompress)->Unit(benchmark::kMillisecond)->UseRealTime();

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  try {
    prepare();
  } catch (const Exception& e) {
    String text = e.toString();
    cleanUp();
    fail(std::string(text.data(), text.length()));
  }
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  cleanUp();
  return 0;
}
