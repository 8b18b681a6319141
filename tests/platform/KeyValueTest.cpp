#include <gtest/gtest.h>

#include "platform/KeyValue.h"
#include "tests/support/TestSupport.h"

namespace {

// The key is the directory and the base; the value never takes part.
TEST(KeyValueTest, EqualityAndHashFollowTheKeyUnderTheCaseRule) {
  bool saved = Path::caseSensitive();
  KeyValue record(Path("/A/b/"), Path("/Base/"), Path("one/"));
  KeyValue sameKey(Path("/A/b/"), Path("/Base/"), Path("two/"));
  KeyValue otherCase(Path("/a/B/"), Path("/base/"), Path("one/"));
  KeyValue otherBase(Path("/A/b/"), Path("/Base/x"), Path("one/"));
  KeyValue swapped(Path("/Base/"), Path("/A/b/"), Path("one/"));

  Path::setCaseSensitive(true);
  EXPECT_TRUE(record.equals(sameKey));
  EXPECT_EQ(record.hashCode(), sameKey.hashCode());
  EXPECT_FALSE(record.equals(otherCase));
  EXPECT_FALSE(record.equals(otherBase));
  EXPECT_FALSE(record.equals(swapped));
  EXPECT_EQ(Path("/A/b/").hashCode() + Path("/Base/").hashCode(), record.hashCode());

  Path::setCaseSensitive(false);
  EXPECT_TRUE(record.equals(otherCase));
  EXPECT_EQ(record.hashCode(), otherCase.hashCode());
  EXPECT_FALSE(record.equals(otherBase));
  Path::setCaseSensitive(saved);
}

}  // namespace
