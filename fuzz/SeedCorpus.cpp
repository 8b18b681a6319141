// SeedCorpus writes the seed corpora of the fuzz targets, named by what each
// seed holds ("good-", "bad-" and "hostile-" tell the expected outcome):
//
//   SeedCorpus INSTALLDATA-PROGRAM CORPUS-DIRECTORY
//
// install-data/: install.data files that the vendor's tool makes from tiny
// trees, the same wrapped around hostile archives, and damaged ones (cut,
// flipped, LZMA headers declaring absurd sizes). archive-read/: the archives
// inside those files, unwrapped, and the damaged and hostile archives of the
// reader's tests. path/: texts for the Path target. command-line/: argument
// lists and texts for the CommandLine target. scripts/fuzz --seeds
// runs it; the corpora it writes are kept in the repository.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utime.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "archive/CipherInputStream.h"
#include "archive/CipherOutputStream.h"
#include "archive/Crc32.h"
#include "archive/LzmaInputStream.h"
#include "io/StringInputStream.h"
#include "lang/Exception.h"
#include "tests/archive/ArchiveTestSupport.h"
#include "tests/support/TestStreams.h"
#include "tools/LzmaOutputStream.h"

namespace {

// A fixed time for the seed trees, so that the seeds come out the same.
constexpr time_t kSeedTime = 1000000000;
// The LZMA-alone header: properties byte, dictionary size, then the size.
constexpr size_t kDictionaryOffset = 1;
constexpr size_t kSizeOffset = 5;
// The decoder refuses properties bytes from this value on.
constexpr unsigned char kInvalidProperties = 225;
// Where the fields lie in an entry: marker, header block, body.
constexpr size_t kEntryHeader = Archive::kMarkerSize;
constexpr size_t kHeaderCrcOffset = kEntryHeader + Archive::kHeaderCheckedSize;

void fail(const std::string& what) {
  fprintf(stderr, "SeedCorpus: %s\n", what.c_str());
  exit(1);
}

void writeFile(const std::string& path, const std::string& content, mode_t mode = 0644) {
  std::ofstream(path, std::ios::binary) << content;
  chmod(path.c_str(), mode);
  struct utimbuf times = {kSeedTime, kSeedTime};
  utime(path.c_str(), &times);
}

void writeSeed(const std::string& path, const std::string& content) {
  std::ofstream(path, std::ios::binary) << content;
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) fail("cannot read " + path);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void run(const std::vector<std::string>& argv) {
  pid_t child = fork();
  if (child == 0) {
    std::vector<char*> args;
    for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
  }
  int status = 0;
  if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status) ||
      WEXITSTATUS(status) != 0) {
    fail("failed: " + argv[0] + " " + argv[1]);
  }
}

// An archive of exactly these entries; no end entry unless `end`.
std::string archiveOf(const std::vector<testsupport::EntrySpec>& entries, bool end = true) {
  return testsupport::buildArchive(entries, false, end);
}

// LZMA-alone data of `plain`, as the vendor's tool compresses it.
std::string compress(const std::string& plain) {
  testsupport::RecordingSink sink;
  LzmaOutputStream lzma(&sink, 6, false);
  unsigned char header[LzmaOutputStream::kHeaderSize];
  lzma.writeHeader(header, plain.size());
  sink.write(header, sizeof header);
  lzma.write(plain.data(), static_cast<uint32_t>(plain.size()));
  lzma.finish();
  return sink.data;
}

std::string encipher(const std::string& plain) {
  testsupport::RecordingSink sink;
  {
    CipherOutputStream cipher(&sink);
    cipher.write(plain.data(), static_cast<uint32_t>(plain.size()));
  }
  return sink.data;
}

std::string unwrap(const std::string& installData) {
  StringInputStream source(installData.data(), static_cast<uint32_t>(installData.size()));
  CipherInputStream plain(&source);
  LzmaInputStream lzma(&plain);
  return testsupport::readAll(lzma);
}

void putLittleEndian32(std::string& bytes, size_t offset, uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes[offset + i] = static_cast<char>(value >> (8 * i));
}

// Sets a header field of the first entry and repairs its CRC, so that the
// reader gets past the header to the field's consequences.
std::string withFirstHeaderField(std::string archive, size_t offset, uint32_t value) {
  size_t field = Archive::kFileHeaderSize + kEntryHeader + offset;
  for (int i = 0; i < 4; ++i) archive[field + i] = static_cast<char>(value >> (24 - 8 * i));
  size_t block = Archive::kFileHeaderSize + kEntryHeader;
  Crc32 crc;
  crc.update(archive.data() + block, Archive::kHeaderCheckedSize);
  uint32_t sum = crc.value();
  size_t at = Archive::kFileHeaderSize + kHeaderCrcOffset;
  for (int i = 0; i < 4; ++i) archive[at + i] = static_cast<char>(sum >> (24 - 8 * i));
  return archive;
}

// All the bytes of a literal, zero bytes included.
template <size_t N>
std::string bytesOf(const char (&literal)[N]) {
  return std::string(literal, N - 1);
}

std::string flipped(std::string bytes, size_t offset) {
  bytes[offset] = static_cast<char>(bytes[offset] ^ 0x40);
  return bytes;
}

// Tiny trees for the vendor's tool, with fixed times.
void makeTrees(const std::string& root) {
  mkdir(root.c_str(), 0755);
  std::string one = root + "/one-file";
  mkdir(one.c_str(), 0755);
  writeFile(one + "/readme", "a single file\n");

  std::string product = root + "/product";
  for (const char* d : {"", "/bin", "/lib", "/share", "/share/doc", "/private"}) {
    mkdir((product + d).c_str(), 0755);
  }
  writeFile(product + "/bin/vntc", "#!/bin/sh\necho \"vntc as $0\"\n", 0755);
  writeFile(product + "/bin/vnt01", "#!/bin/sh\n", 0755);
  writeFile(product + "/lib/libvnt.a", std::string(300, 'x') + "lib", 0644);
  writeFile(product + "/lib/empty", "", 0600);
  writeFile(product + "/share/doc/README", "Vantorel\n", 0444);
  symlink("libvnt.a", (product + "/lib/libvnt.so").c_str());
  link((product + "/lib/libvnt.a").c_str(), (product + "/lib/libvnt-hard.a").c_str());
  chmod((product + "/private").c_str(), 0700);

  mkdir((root + "/empty-dir").c_str(), 0755);
  mkdir((root + "/empty-dir/nothing").c_str(), 0750);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) fail("usage: SeedCorpus INSTALLDATA-PROGRAM CORPUS-DIRECTORY");
  std::string installdata = argv[1];
  std::string corpus = argv[2];
  std::string archives = corpus + "/archive-read/";
  std::string data = corpus + "/install-data/";
  std::string paths = corpus + "/path/";
  for (const std::string& d : {archives, data, paths}) mkdir(d.c_str(), 0755);

  char pattern[] = "/tmp/vantorel-seeds-XXXXXX";
  if (mkdtemp(pattern) == nullptr) fail("mkdtemp");
  std::string work = pattern;
  try {
    // What the vendor's tool makes, and the archives inside.
    makeTrees(work + "/trees");
    const std::vector<std::vector<std::string>> trees = {
        {"one-file", "readme"},
        {"product", "bin", "lib", "share", "private"},
        {"empty-dir", "nothing"}};
    for (const std::vector<std::string>& names : trees) {
      const std::string& tree = names[0];
      std::string out = work + "/" + tree + ".data";
      std::vector<std::string> command = {installdata, "create", "-o",
                                          out,         "-C",     work + "/trees/" + tree};
      command.insert(command.end(), names.begin() + 1, names.end());
      run(command);
      std::string made = readFile(out);
      writeSeed(data + "good-" + tree, made);
      writeSeed(archives + "good-" + tree, unwrap(made));
    }

    // Archives built entry by entry: the reader's good, damaged and hostile
    // cases.
    const std::string outside = "../outside/victim";
    std::vector<std::pair<std::string, std::string>> raw = {
        {"good-no-entries", archiveOf({})},
        {"good-link-before-target", archiveOf({{Archive::kSymbolicLink, "lib/x", "y"},
                                               {Archive::kFile, "lib/y", "target", 0644},
                                               {Archive::kHardLink, "bin/h", "lib/y"}})},
        {"good-dot-components", archiveOf({{Archive::kDirectory, "./bin/", "", 040700},
                                           {Archive::kFile, "a/./b", "b", 0444}})},
        {"bad-no-end-entry", archiveOf({{Archive::kFile, "f", "data", 0644}}, false)},
        {"bad-unknown-type", archiveOf({{5, "strange", "?"}})},
        {"bad-newline-translation", std::string("qzrArc\r\n") + archiveOf({}).substr(8)},
        {"bad-version-3", std::string("qzrArc\n3") + archiveOf({}).substr(8)},
        {"bad-too-old", std::string("qzrLog\n1") + archiveOf({}).substr(8)},
        {"bad-header-missing", "qzr"},
        {"hostile-name-parent", archiveOf({{Archive::kFile, outside, "evil", 0644}})},
        {"hostile-name-absolute", archiveOf({{Archive::kFile, "/tmp/vantorel-evil", "x", 0644}})},
        {"hostile-hard-link-outside", archiveOf({{Archive::kHardLink, "h", outside}})},
        {"hostile-link-then-write-through",
         archiveOf({{Archive::kDirectory, "a/", "", 040755},
                    {Archive::kSymbolicLink, "a", "../outside"},
                    {Archive::kSymbolicLink, "a/victim", "y"},
                    {Archive::kFile, "a/victim", "evil", 0644}})},
        {"hostile-link-replaced-by-file", archiveOf({{Archive::kSymbolicLink, "x", outside},
                                                     {Archive::kSymbolicLink, "x", "data"},
                                                     {Archive::kFile, "data", "inside", 0644}})},
        // The links that the sandbox plants, as an earlier installation may
        // hold them: written through, hard-linked to a directory's name
        // and then written below, and replaced by a file.
        {"hostile-write-through-planted-link",
         archiveOf({{Archive::kFile, "planted-dir/victim", "evil", 0644}})},
        {"hostile-hard-link-to-planted-link-then-below",
         archiveOf({{Archive::kDirectory, "d/", "", 040755},
                    {Archive::kHardLink, "d", "planted-dir"},
                    {Archive::kFile, "d/victim", "evil", 0644},
                    {Archive::kDirectory, "d/new/", "", 040755}})},
        {"hostile-hard-link-target-below-planted-link",
         archiveOf({{Archive::kHardLink, "h", "planted-dir/victim"}})},
        {"hostile-planted-file-replaced",
         archiveOf({{Archive::kFile, "planted-file", "new", 0644}})},
        {"hostile-below-own-link", archiveOf({{Archive::kSymbolicLink, "s", "../outside"},
                                              {Archive::kFile, "s/victim", "evil", 0644}})},
        {"good-read-only-directories", archiveOf({{Archive::kDirectory, "ro/", "", 040555},
                                                  {Archive::kDirectory, "ro/sub/", "", 040500},
                                                  {Archive::kFile, "ro/sub/f", "f", 0444}})},
    };
    std::string file = archiveOf({{Archive::kFile, "bin/tool", "#!/bin/sh\n", 0755}});
    raw.push_back({"bad-marker-flipped", flipped(file, Archive::kFileHeaderSize)});
    raw.push_back({"bad-header-crc", flipped(file, Archive::kFileHeaderSize + 8 + 13)});
    raw.push_back({"bad-body-crc", flipped(file, Archive::kFileHeaderSize + 8 + 16 + 2)});
    raw.push_back({"bad-cut-in-body", file.substr(0, Archive::kFileHeaderSize + 8 + 16 + 5)});
    // Sizes that the data cannot hold: the reader must run out of data, not
    // allocate what the header claims.
    raw.push_back({"bad-huge-content-size", withFirstHeaderField(file, 4, 0xFFFFFFF0u)});
    raw.push_back({"bad-huge-name-length", withFirstHeaderField(file, 0, 0x0600FFFFu)});
    for (const auto& [name, bytes] : raw) writeSeed(archives + name, bytes);

    // install.data around some of them, and damaged install.data.
    for (const char* name :
         {"bad-no-end-entry", "bad-huge-content-size", "hostile-link-then-write-through",
          "hostile-name-parent", "hostile-hard-link-to-planted-link-then-below"}) {
      writeSeed(data + name, encipher(compress(readFile(archives + name))));
    }
    std::string good = readFile(data + "good-product");
    writeSeed(data + "bad-cut-in-half", good.substr(0, good.size() / 2));
    writeSeed(data + "bad-flipped-compressed-byte", flipped(good, good.size() / 2));
    writeSeed(data + "bad-short-header", good.substr(0, 8));
    writeSeed(data + "bad-empty", "");
    std::string lzma = compress(readFile(archives + "good-product"));
    std::string props = lzma;
    props[0] = static_cast<char>(kInvalidProperties);
    writeSeed(data + "bad-lzma-properties", encipher(props));
    std::string dictionary = lzma;
    putLittleEndian32(dictionary, kDictionaryOffset, 0xFFFFFFFFu);
    writeSeed(data + "hostile-lzma-huge-dictionary", encipher(dictionary));
    std::string size = lzma;
    putLittleEndian32(size, kSizeOffset, 0xFFFFFFFFu);
    writeSeed(data + "hostile-lzma-huge-size", encipher(size));
    std::string zero = lzma;
    putLittleEndian32(zero, kSizeOffset, 0);
    writeSeed(data + "bad-lzma-size-zero", encipher(zero));
  } catch (const Exception& e) {
    String text = e.toString();
    fail(std::string(text.data(), text.length()));
  }

  // Path texts: a flag byte (1: without case), the first path's length, the
  // two paths.
  struct PathSeed {
    const char* name;
    char flags;
    std::string first, second;
  };
  const PathSeed seeds[] = {
      {"dot-dot-in-the-middle", 0, "/a/b/../d", "/a/"},
      {"repeated-slashes", 0, "//a//b/", "/a/b/e/"},
      {"relative-name", 0, "x", "y/z"},
      {"above-the-root", 0, "/..", "/../a/./b/."},
      {"trailing-dot", 0, "/a/b/.", "/a/b/f"},
      {"hidden-file", 0, "/x/.hidden.txt", ".profile"},
      {"extension-forms", 0, "archive.tar.gz", "a."},
      {"climb-out", 0, "/a/x", "/a/b/e/"},
      {"same-path", 0, "/a/b/", "/a/b/"},
      {"case-folded", 1, "ABC/x", "abc/X"},
      {"case-folded-relative", 1, "/Home/U/Doc", "/home/u/"},
      {"empty-first", 0, "", "/a"},
      {"memo-file-in-directory", 0x7E, "/a/b/f", "/a/"},
      {"memo-folded", 0x7F, "/A/b/F", "/a/"},
      {"high-bytes", 1, "/\xC3\xA9t\xC3\xA9/\xFF", "/\xC3\x89T\xC3\x89/"},
  };
  for (const PathSeed& seed : seeds) {
    std::string bytes(1, seed.flags);
    bytes += static_cast<char>(seed.first.size());
    writeSeed(paths + seed.name, bytes + seed.first + seed.second);
  }

  // Command lines: arguments split at zero bytes, and texts to parse.
  std::string commands = corpus + "/command-line/";
  mkdir(commands.c_str(), 0755);
  const std::pair<const char*, std::string> lines[] = {
      {"quoted-escaped-and-empty", "p \"q r\" s\\ t \"\""},
      {"arguments-with-blanks-and-quotes", bytesOf("cc\0-DX=\"a b\"\0my file.c")},
      {"trailing-backslash-in-blanks", bytesOf("cp\0my dir\\\0x")},
      {"tabs-and-line-ends", bytesOf("a\tb\0c\nd\0e\r")},
      {"plain-arguments", bytesOf("ls\0-l\0/usr/bin")},
      {"backslash-escapes", "a\\\\b \\\"c\\\" \"d\\\"e\" f\\"},
  };
  for (const auto& [name, bytes] : lines) writeSeed(commands + name, bytes);

  run({"/bin/rm", "-rf", work});
  return 0;
}
