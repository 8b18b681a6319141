// installdata: the vendor's tool that makes, lists, verifies and extracts
// install.data files, the data file the installer unpacks.
//
//   install.data = TEA-ECB(default key, LZMA-alone(archive))
//
// create packs paths into an archive, compresses it and enciphers the
// result in one pass; the LZMA header's size field (the installer's
// progress total) is patched in at the end, once the exact size is known.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "BuildConstants.h"
#include "archive/ArchiveCheck.h"
#include "archive/ArchiveRead.h"
#include "archive/ArchiveReadVerbose.h"
#include "archive/ArchiveWrite.h"
#include "archive/CipherInputStream.h"
#include "archive/CipherKey.h"
#include "archive/CipherOutputStream.h"
#include "archive/LzmaInputStream.h"
#include "archive/ProgressMonitorText.h"
#include "io/BufferedInputStream.h"
#include "io/BufferedOutputStream.h"
#include "io/FileInputStream.h"
#include "io/FileOutputStream.h"
#include "io/RandomAccessFile.h"
#include "lang/Exception.h"
#include "platform/Path.h"
#include "tools/LzmaOutputStream.h"

namespace {

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;
// The compression level when none is given.
constexpr uint32_t kDefaultLevel = 6;
// The installer reads a 32-bit uncompressed size.
constexpr uint64_t kMaxArchiveSize = 0xFFFFFFFFu;
// A finished FILE, whatever the umask: the vendor ships it to everyone.
constexpr mode_t kDataFileMode = 0644;

const char kUsage[] =
    "Usage: installdata <command> [options]\n"
    "\n"
    "Makes, lists, verifies and extracts install.data files.\n"
    "\n"
    "Commands:\n"
    "  create -o FILE [-C DIR] [-0..-9] [--extreme] PATH...\n"
    "                  pack each PATH (relative to DIR) into FILE\n"
    "  list FILE       list the entries of FILE\n"
    "  verify FILE     read every entry of FILE, check every checksum and name\n"
    "  extract FILE [-C DIR] [-v]\n"
    "                  unpack FILE into DIR (default: the current directory)\n"
    "\n"
    "Options:\n"
    "  --help          show this message, or a command's usage after the command\n"
    "  --version       show the version\n";

const char kCreateUsage[] =
    "Usage: installdata create -o FILE [-C DIR] [-0..-9] [--extreme] PATH...\n"
    "\n"
    "Packs each PATH, named relative to DIR exactly as given (directories with\n"
    "everything below them), into the install.data file FILE.\n"
    "\n"
    "  -o FILE     the file to write (replaced if it exists)\n"
    "  -C DIR      change to DIR before reading the PATHs\n"
    "  -0 .. -9    LZMA compression level (default 6)\n"
    "  --extreme   slower compression for a little more\n";

const char kListUsage[] =
    "Usage: installdata list FILE\n"
    "\n"
    "Lists every entry of FILE, one per line: a file's size and name, or a\n"
    "directory's name, or 'NAME link to TARGET', or 'NAME -> TEXT'.\n";

const char kVerifyUsage[] =
    "Usage: installdata verify FILE\n"
    "\n"
    "Reads every entry of FILE and checks every checksum and every name as the\n"
    "installer does, writing nothing. Prints a summary and exits 0, or prints\n"
    "the failure and exits 1.\n";

const char kExtractUsage[] =
    "Usage: installdata extract FILE [-C DIR] [-v]\n"
    "\n"
    "Unpacks FILE into DIR (made if missing; default: the current directory),\n"
    "with every mode, time and link, and nothing else.\n"
    "\n"
    "  -C DIR   the directory to unpack into\n"
    "  -v       list every entry on standard error\n";

// A name, a path or a message holding them as it is printed: control bytes
// are shown as C escapes, so no name can forge a line or reach the terminal.
std::string shown(const std::string& text) {
  String escaped = String(text.data(), static_cast<uint32_t>(text.size())).escapeControls();
  return std::string(escaped.data(), escaped.length());
}

// A usage error: the message, and exit status 2.
struct UsageError {
  std::string message;
  const char* usage;
};

// Passes writes on and tells a progress monitor how many went by.
class CountingStream : public FilterOutputStream {
 public:
  CountingStream(OutputStream* out, ProgressMonitor* monitor)
      : FilterOutputStream(out), monitor_(monitor) {}
  void write(const void* buffer, uint32_t length) override {
    out_->write(buffer, length);
    count_ += length;
    if (monitor_ != nullptr) monitor_->update(static_cast<uint32_t>(count_ > UINT32_MAX ? UINT32_MAX : count_));
  }

 private:
  ProgressMonitor* monitor_;
  uint64_t count_ = 0;
};

// Keeps a copy of the first bytes written through it.
class HeadCapture : public FilterOutputStream {
 public:
  static constexpr uint32_t kSize = 16;
  explicit HeadCapture(OutputStream* out) : FilterOutputStream(out) {}
  void write(const void* buffer, uint32_t length) override {
    const char* bytes = static_cast<const char*>(buffer);
    for (uint32_t i = 0; i < length && captured_ < kSize; ++i) head_[captured_++] = bytes[i];
    out_->write(buffer, length);
  }
  const char* head() const { return head_; }
  uint32_t captured() const { return captured_; }

 private:
  char head_[kSize] = {};
  uint32_t captured_ = 0;
};

// The size of the archive that `listing` makes, for the progress display:
// the file header, each entry's marker, header block and body, and the end
// entry.
uint64_t archiveSize(const ArchiveWrite::Listing& listing) {
  constexpr uint64_t kEntryHead = Archive::kMarkerSize + Archive::kHeaderBlockSize;
  uint64_t size = Archive::kFileHeaderSize + kEntryHead + Archive::bodyLength(0, 0);
  for (uint32_t i = 0; i < listing.size(); ++i) {
    const Archive::Entry& entry = listing.entry(i);
    size += kEntryHead + Archive::bodyLength(entry.name.length(), entry.size);
  }
  return size;
}

// A PATH that the installer would refuse (absolute, or with a ".."
// component) is a usage error, found before anything is read.
void refuseUnsafePaths(const std::vector<std::string>& paths) {
  for (const std::string& p : paths) {
    Path path(p.c_str());
    const char* reason = nullptr;
    if (path.startsWith("/")) reason = "an absolute PATH";
    Path::Component cursor;
    while (reason == nullptr && path.nextComponent(cursor)) {
      if (cursor.name().equals(String(".."))) reason = "a \"..\" component";
    }
    if (reason != nullptr) {
      throw UsageError{"the installer would refuse " + p + " (" + reason + ")", kCreateUsage};
    }
  }
}

// Every name listed passes the installer's rules, in archive order, or the
// first that does not is a usage error that names it.
void refuseWhatTheInstallerRefuses(const ArchiveWrite::Listing& listing) {
  ArchiveCheck check;
  for (uint32_t i = 0; i < listing.size(); ++i) {
    const Archive::Entry& entry = listing.entry(i);
    try {
      check.check(entry, listing.text(i).data());
    } catch (const Exception& e) {
      throw UsageError{"the installer would refuse " +
                           std::string(entry.name.data(), entry.name.length()) + " (" +
                           std::string(e.getMessage().data(), e.getMessage().length()) + ")",
                       kCreateUsage};
    }
  }
}

// The name of the temporary that create writes, for the signal handler;
// null when there is none.
char* volatile gTemporaryName = nullptr;

// The file that create writes before it becomes FILE: made exclusively
// beside FILE (".NAME.XXXXXX" in FILE's directory, so that renaming it is
// one atomic step), and renamed to FILE by commit(). Until then FILE stays
// exactly as it was: the temporary is removed when create fails, and when
// a signal (hang-up, interrupt, quit, termination, broken pipe) ends the
// tool. Only one exists at a time.
class TemporaryFile {
 public:
  explicit TemporaryFile(const Path& target) : target_(target) {
    Path directory;
    target.split(&directory, nullptr, nullptr);
    String pattern = directory + "." + target.substring(directory.length()) + ".XXXXXX";
    name_.assign(pattern.data(), pattern.data() + pattern.length() + 1);
    // The name is made and recorded for the signal handler with the
    // signals held, so that no signal sees it half made.
    sigset_t held = signalSet();
    sigset_t previous;
    sigprocmask(SIG_BLOCK, &held, &previous);
    int descriptor = mkstemp(name_.data());
    if (descriptor >= 0) {
      gTemporaryName = name_.data();
      struct sigaction action = {};
      action.sa_handler = onSignal;
      for (int signal : kSignals) sigaction(signal, &action, nullptr);
    }
    int error = errno;
    sigprocmask(SIG_SETMASK, &previous, nullptr);
    errno = error;
    if (descriptor < 0) RandomAccessFile::raise("create", String(name_.data()));
    file_.reset(new RandomAccessFile(descriptor, String(name_.data()), RandomAccessFile::kOwned));
  }
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;
  ~TemporaryFile() {
    sigset_t held = signalSet();
    sigset_t previous;
    sigprocmask(SIG_BLOCK, &held, &previous);
    if (!committed_) unlink(name_.data());
    gTemporaryName = nullptr;
    sigprocmask(SIG_SETMASK, &previous, nullptr);
  }

  RandomAccessFile& file() { return *file_; }
  Path path() const { return Path(name_.data()); }

  // Gives the file `mode`, makes it durable, closes it and renames it to
  // FILE.
  void commit(mode_t mode) {
    if (fchmod(file_->getDescriptor(), mode) != 0) {
      path().throwFailure("set file permission failure");
    }
    if (fsync(file_->getDescriptor()) != 0) RandomAccessFile::raise("sync", path());
    file_->close();
    path().rename(target_);
    committed_ = true;
  }

 private:
  static constexpr int kSignals[] = {SIGHUP, SIGINT, SIGQUIT, SIGTERM, SIGPIPE};

  static sigset_t signalSet() {
    sigset_t set;
    sigemptyset(&set);
    for (int signal : kSignals) sigaddset(&set, signal);
    return set;
  }

  // Removes the temporary, then ends the process by the signal as if it
  // had not been caught.
  static void onSignal(int signal) {
    if (gTemporaryName != nullptr) unlink(gTemporaryName);
    ::signal(signal, SIG_DFL);
    raise(signal);
  }

  Path target_;
  // The name, zero-terminated: mkstemp fills in its last six bytes.
  std::vector<char> name_;
  std::unique_ptr<RandomAccessFile> file_;
  bool committed_ = false;
};

// The read side of install.data: file, buffer, cipher, LZMA.
class DataFileReader {
 public:
  explicit DataFileReader(const String& path)
      : file_(path), buffered_(&file_), cipher_(&buffered_), lzma_(&cipher_) {}
  LzmaInputStream& stream() { return lzma_; }

 private:
  FileInputStream file_;
  BufferedInputStream buffered_;
  CipherInputStream cipher_;
  LzmaInputStream lzma_;
};

int create(const std::vector<std::string>& args) {
  std::string output;
  std::string directory;
  uint32_t level = kDefaultLevel;
  bool extreme = false;
  std::vector<std::string> paths;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--help") {
      fputs(kCreateUsage, stdout);
      return 0;
    } else if (a == "-o" || a == "-C") {
      if (i + 1 >= args.size()) throw UsageError{"option " + a + " needs an argument", kCreateUsage};
      (a == "-o" ? output : directory) = args[++i];
    } else if (a.size() == 2 && a[0] == '-' && a[1] >= '0' && a[1] <= '9') {
      level = static_cast<uint32_t>(a[1] - '0');
    } else if (a == "--extreme") {
      extreme = true;
    } else if (a.size() > 1 && a[0] == '-') {
      throw UsageError{"unknown option " + a, kCreateUsage};
    } else {
      paths.push_back(a);
    }
  }
  if (output.empty()) throw UsageError{"create needs -o FILE", kCreateUsage};
  if (paths.empty()) throw UsageError{"create needs at least one PATH", kCreateUsage};
  refuseUnsafePaths(paths);

  // FILE is named relative to where the tool was started.
  Path outputPath(output.c_str());
  if (outputPath.charAt(0) != '/') outputPath = Path::getCurrentDirectory() + outputPath;
  if (!directory.empty()) Path(directory.c_str()).setCurrentDirectory();
  // The whole tree is listed and checked before anything is written: what
  // the installer would refuse, or what cannot be archived, leaves FILE as
  // it was.
  ArchiveWrite::Listing listing;
  for (const std::string& p : paths) listing.add(Path(p.c_str()));
  refuseWhatTheInstallerRefuses(listing);

  TemporaryFile temporary(outputPath);
  FileOutputStream file(temporary.file().getDescriptor(), temporary.path());

  FileOutputStream terminal(2);
  std::unique_ptr<ProgressMonitorText> monitor;
  if (isatty(2)) {
    uint64_t estimate = archiveSize(listing);
    monitor.reset(new ProgressMonitorText(
        static_cast<uint32_t>(estimate > UINT32_MAX ? UINT32_MAX : estimate), &terminal));
  }
  uint64_t size;
  {
    BufferedOutputStream buffered(&file);
    CipherOutputStream cipher(&buffered);
    HeadCapture head(&cipher);
    LzmaOutputStream lzma(&head, level, extreme);
    unsigned char header[LzmaOutputStream::kHeaderSize];
    lzma.writeHeader(header, UINT64_MAX);  // patched below
    head.write(header, sizeof header);
    {
      BufferedOutputStream archiveBuffer(&lzma);
      CountingStream counted(&archiveBuffer, monitor.get());
      {
        ArchiveWrite archive(&counted, false);
        archive.write(listing);
        archive.finish();
      }
      archiveBuffer.flush();
    }
    lzma.finish();
    size = lzma.getWritten();
    if (size > kMaxArchiveSize) {
      throw Exception("archive too large: install.data holds less than 4 GiB");
    }
    cipher.close();  // pads the last block

    // The first two cipher blocks hold the header: encipher them again with
    // the exact size and write them over the placeholder.
    lzma.writeHeader(header, size);
    char plain[HeadCapture::kSize];
    memcpy(plain, head.head(), sizeof plain);
    memcpy(plain, header, sizeof header);
    char scrambled[HeadCapture::kSize];
    CipherKey key;
    key.encipher(plain, scrambled);
    key.encipher(plain + 8, scrambled + 8);
    temporary.file().seek(0);
    temporary.file().writeFully(scrambled, sizeof scrambled);
  }
  monitor.reset();  // ends the progress line
  temporary.commit(kDataFileMode);
  return 0;
}

// What a walk over the entries checks besides their checksums and types.
enum class Checks { kFormat, kInstallerRules };

// Walks every entry; `each` sees the header and the body. With the
// installer's rules, an entry that extraction would refuse fails the walk
// as extraction fails.
template <class Each>
uint32_t walk(const std::string& path, Checks checks, Each each, uint32_t* total) {
  DataFileReader reader(String(path.c_str()));
  *total = reader.stream().getRemaining();
  ArchiveRead archive(&reader.stream(), false);
  uint32_t entries = 0;
  Archive::Entry entry;
  ArchiveRead::Body body;
  while (archive.readHeader(entry)) {
    archive.readBody(entry, body);
    if (entry.type < Archive::kDirectory || entry.type > Archive::kSymbolicLink) {
      throw ArchiveRead::ExceptionRecoverable();
    }
    if (checks == Checks::kInstallerRules)
      archive.checkEntry(entry, body.data() + entry.nameLength);
    each(entry, body.data());
    ++entries;
  }
  return entries;
}

std::string singleFile(const std::vector<std::string>& args, const char* usage, bool* help) {
  std::string file;
  for (const std::string& a : args) {
    if (a == "--help") {
      *help = true;
      return file;
    }
    if (a.size() > 1 && a[0] == '-') throw UsageError{"unknown option " + a, usage};
    if (!file.empty()) throw UsageError{"one FILE only", usage};
    file = a;
  }
  if (file.empty()) throw UsageError{"FILE is missing", usage};
  return file;
}

int list(const std::vector<std::string>& args) {
  bool help = false;
  std::string file = singleFile(args, kListUsage, &help);
  if (help) {
    fputs(kListUsage, stdout);
    return 0;
  }
  uint32_t total;
  // A hostile archive is listed whole: the listing shows what it holds.
  walk(
      file, Checks::kFormat,
      [](const Archive::Entry& e, const char* b) { ArchiveReadVerbose::list(stdout, e, b); },
      &total);
  return 0;
}

int verify(const std::vector<std::string>& args) {
  bool help = false;
  std::string file = singleFile(args, kVerifyUsage, &help);
  if (help) {
    fputs(kVerifyUsage, stdout);
    return 0;
  }
  uint64_t bytes = 0;
  uint32_t total;
  uint32_t entries = walk(
      file, Checks::kInstallerRules,
      [&](const Archive::Entry& e, const char*) {
        if (e.type == Archive::kFile) bytes += e.size;
      },
      &total);
  printf("%s: OK, %u entries, %llu bytes of files, %u bytes of archive\n", shown(file).c_str(),
         entries, static_cast<unsigned long long>(bytes), total);
  return 0;
}

int extract(const std::vector<std::string>& args) {
  std::string file;
  std::string directory;
  bool verbose = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--help") {
      fputs(kExtractUsage, stdout);
      return 0;
    } else if (a == "-C") {
      if (i + 1 >= args.size()) throw UsageError{"option -C needs an argument", kExtractUsage};
      directory = args[++i];
    } else if (a == "-v") {
      verbose = true;
    } else if (a.size() > 1 && a[0] == '-') {
      throw UsageError{"unknown option " + a, kExtractUsage};
    } else if (file.empty()) {
      file = a;
    } else {
      throw UsageError{"one FILE only", kExtractUsage};
    }
  }
  if (file.empty()) throw UsageError{"FILE is missing", kExtractUsage};
  Path data(file.c_str());
  if (data.charAt(0) != '/') data = Path::getCurrentDirectory() + data;
  DataFileReader reader(data);
  // Modes are applied exactly as archived.
  umask(0);
  if (!directory.empty()) {
    Path target(directory.c_str());
    target.makeDirectory(0755);
    target.setCurrentDirectory();
  }
  ArchiveReadVerbose archive(&reader.stream(), false);
  archive.verbose = verbose;
  archive.extract();
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  try {
    if (args.empty()) throw UsageError{"a command is missing", kUsage};
    std::string command = args[0];
    std::vector<std::string> rest(args.begin() + 1, args.end());
    if (command == "--help") {
      fputs(kUsage, stdout);
      return 0;
    }
    if (command == "--version") {
      printf("installdata %s\n", VANTOREL_VERSION);
      return 0;
    }
    if (command == "create") return create(rest);
    if (command == "list") return list(rest);
    if (command == "verify") return verify(rest);
    if (command == "extract") return extract(rest);
    throw UsageError{"unknown command " + command, kUsage};
  } catch (const UsageError& e) {
    fflush(stdout);
    fprintf(stderr, "installdata: %s\n%s", shown(e.message).c_str(), e.usage);
    return kExitUsage;
  } catch (const Exception& e) {
    fflush(stdout);
    String text = e.toString().escapeControls();
    fputs("installdata: ", stderr);
    fwrite(text.data(), 1, text.length(), stderr);
    fputc('\n', stderr);
    return kExitFailure;
  } catch (const std::exception& e) {
    fflush(stdout);
    fprintf(stderr, "installdata: %s\n", e.what());
    return kExitFailure;
  }
}
