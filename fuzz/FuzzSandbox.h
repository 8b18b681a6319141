// FuzzSandbox gives every input of an extracting fuzz target a fresh
// directory to extract into, beside a directory that stands for the world
// outside, and aborts (a finding for the fuzzer) when anything escaped. The
// fresh directory holds two symbolic links that lead outside, as an earlier
// installation may hold them: "planted-dir" to the outside directory and
// "planted-file" to the file in it; the archive may remove or replace them,
// but nothing may reach through them.
//
//   extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
//     FuzzSandbox::instance().run([&] { ... extract data here ... });
//     return 0;
//   }
//
// The sandbox is made once per process under TMPDIR (or /tmp) and removed
// at exit. run() changes the working directory while it runs and restores
// it; it is not reentrant. Harness code only: it uses the C library directly,
// never the classes under test.
#ifndef VANTOREL_FUZZ_FUZZSANDBOX_H
#define VANTOREL_FUZZ_FUZZSANDBOX_H

#include <functional>
#include <string>

class FuzzSandbox {
 public:
  // The process's sandbox, made on first use; sets the umask to 0, as the
  // installer does before extracting.
  static FuzzSandbox& instance();

  FuzzSandbox(const FuzzSandbox&) = delete;
  FuzzSandbox& operator=(const FuzzSandbox&) = delete;

  // The links in the work directory, relative to it.
  static constexpr const char* kPlantedDirectory = "planted-dir";
  static constexpr const char* kPlantedFile = "planted-file";

  // Runs `extract` with a new directory, holding only the two links, as the
  // working directory; a library Exception it raises is the expected outcome
  // of bad input and is dropped. Then checks that the outside is unchanged
  // and that nothing but the work directory appeared beside it, removes the
  // work directory and returns to the previous working directory.
  void run(const std::function<void()>& extract);

 private:
  FuzzSandbox();
  ~FuzzSandbox();

  [[noreturn]] static void escaped(const std::string& what);
  void checkOutside() const;

  // The sandbox, absolute: "outside/victim" and, during run(), "work/".
  std::string root_;
};

#endif  // VANTOREL_FUZZ_FUZZSANDBOX_H
