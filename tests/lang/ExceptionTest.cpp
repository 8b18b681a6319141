#include "lang/Exception.h"

#include <gtest/gtest.h>

#include "tests/support/TestSupport.h"

namespace {

using testsupport::str;

class Derived : public Exception {
 public:
  explicit Derived(const char* message) : Exception(message) {}
  String toString() const override { return String("Derived: ") + message_; }
};

TEST(ExceptionTest, TextIsTheClassNameAndTheMessage) {
  EXPECT_EQ("Exception: unexpected end of input",
            str(Exception("unexpected end of input").toString()));
  EXPECT_EQ("Exception", str(Exception().toString()));
  EXPECT_EQ("Exception", str(Exception(static_cast<const char*>(nullptr)).toString()));
  EXPECT_EQ("Exception: x", str(Exception(String("x")).toString()));
}

TEST(ExceptionTest, DerivedTextIsUsedThroughTheBase) {
  try {
    throw Derived("boom");
  } catch (const Exception& e) {
    EXPECT_EQ("Derived: boom", str(e.toString()));
  }
}

}  // namespace
