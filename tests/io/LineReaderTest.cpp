#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "io/LineReader.h"
#include "io/StringInputStream.h"
#include "tests/support/TestSupport.h"

namespace {

TEST(LineReaderTest, SplitsAfterEachLineFeed) {
  struct {
    std::string text;
    std::vector<std::string> lines;
  } cases[] = {
      {"one\ntwo", {"one\n", "two"}},
      {"ab\x1A"
       "cd",
       {"ab", "cd"}},
      {"dos\r\n\n", {"dos\r\n", "\n"}},
      {"", {}},
      {"\x1Ahidden", {}},
      {std::string("a\0b\n", 4), {std::string("a\0b\n", 4)}},
  };
  for (const auto& c : cases) {
    StringInputStream in(c.text.data(), static_cast<uint32_t>(c.text.size()));
    std::vector<std::string> lines;
    for (std::string line; !(line = testsupport::str(readLine(in))).empty();) lines.push_back(line);
    EXPECT_EQ(c.lines, lines) << c.text;
  }
}

}  // namespace
