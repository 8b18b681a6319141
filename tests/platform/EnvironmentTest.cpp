#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/Environment.h"
#include "tests/support/TestSupport.h"

extern char** environ;

namespace {

using testsupport::str;

std::vector<std::string> entriesOf(const Environment& environment) {
  std::vector<std::string> entries;
  for (char* const* e = environment.getEnvp(); *e != nullptr; ++e) entries.push_back(*e);
  return entries;
}

TEST(EnvironmentTest, CopiesAndSortsTheProcessEnvironment) {
  setenv("VANTOREL_Z", "last", 1);
  setenv("VANTOREL_A", "first=with equals", 1);
  Environment environment;
  unsetenv("VANTOREL_Z");
  unsetenv("VANTOREL_A");

  std::vector<std::string> want;
  for (char** e = environ; *e != nullptr; ++e) want.push_back(*e);
  want.push_back("VANTOREL_Z=last");
  want.push_back("VANTOREL_A=first=with equals");
  std::sort(want.begin(), want.end(), [](const std::string& a, const std::string& b) {
    return strcmp(a.c_str(), b.c_str()) < 0;
  });
  EXPECT_EQ(want, entriesOf(environment));
  EXPECT_EQ(want.size(), environment.size());
  EXPECT_STREQ("first=with equals", environment.getValue("VANTOREL_A"));
  EXPECT_EQ(nullptr, getenv("VANTOREL_A")) << "the process environment stays as it was";
}

TEST(EnvironmentTest, SetReplacesAndKeepsOrderRemoveClosesTheGap) {
  Environment environment;
  environment.clear();
  EXPECT_EQ(nullptr, environment.getEnvp()[0]);
  for (const char* entry : {"B=2", "A=1", "AB=x", "C=3", "B=22", "EMPTY="}) environment.set(entry);
  EXPECT_EQ("A=1\nAB=x\nB=22\nC=3\nEMPTY=\n", str(environment.toString()));
  EXPECT_EQ(0, environment.find("A"));
  EXPECT_EQ(2, environment.find("B"));
  EXPECT_EQ(-1, environment.find("AB=x"));
  EXPECT_EQ(-1, environment.find("D"));
  EXPECT_STREQ("", environment.getValue("EMPTY"));
  EXPECT_EQ(nullptr, environment.getValue("EMPT"));

  environment.remove("A");
  environment.remove("missing");
  EXPECT_EQ("AB=x\nB=22\nC=3\nEMPTY=\n", str(environment.toString()));
  EXPECT_STREQ("x", environment.getValue("AB"));
  environment.remove("EMPTY");
  ASSERT_EQ(3u, environment.size());
  EXPECT_EQ(nullptr, environment.getEnvp()[3]);
  for (int i = 0; i < 100; ++i)
    environment.set(("V" + std::to_string(i) + "=" + std::to_string(i)).c_str());
  EXPECT_EQ(103u, environment.size());
  EXPECT_EQ(nullptr, environment.getEnvp()[103]);
  EXPECT_STREQ("57", environment.getValue("V57"));
}

TEST(EnvironmentTest, CopiesAreDeep) {
  Environment original;
  original.clear();
  original.set("A=1");
  Environment copy(original);
  original.set("A=2");
  original.set("B=3");
  EXPECT_EQ("A=1\n", str(copy.toString()));
  copy = original;
  original.clear();
  EXPECT_EQ("A=2\nB=3\n", str(copy.toString()));
  Environment& same = copy;
  copy = same;
  EXPECT_EQ("A=2\nB=3\n", str(copy.toString()));
}

}  // namespace
