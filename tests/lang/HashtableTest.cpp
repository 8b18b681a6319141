#include "lang/Hashtable.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "lang/Exception.h"
#include "lang/Integer.h"
#include "tests/support/TestSupport.h"

namespace {

using testsupport::str;

TEST(HashtableTest, RehashesOnThe76thKeyTo211Buckets) {
  Hashtable table(101, 0.75f);
  EXPECT_EQ(101u, table.capacity());
  EXPECT_EQ(75u, table.threshold());
  std::vector<std::unique_ptr<Integer>> keys;
  for (int i = 0; i < 76; ++i) {
    keys.push_back(std::make_unique<Integer>(i));
    table.put(keys.back().get(), keys.back().get());
    EXPECT_EQ(i < 75 ? 101u : 211u, table.capacity()) << "after key " << i + 1;
  }
  EXPECT_EQ(158u, table.threshold());
  for (int i = 0; i < 76; ++i) EXPECT_EQ(keys[i].get(), table.get(Integer(i)));
  EXPECT_EQ(nullptr, table.get(Integer(76)));
}

TEST(HashtableTest, BucketCountsArePrimeLike) {
  struct {
    uint32_t requested;
    uint32_t capacity;
  } cases[] = {{202, 211}, {1, 1}, {7, 7}, {8, 11}, {9, 11}, {10, 11}, {24, 29}, {121, 127}};
  for (const auto& c : cases) {
    Hashtable direct(1, 1.0f);
    direct.ensureCapacity(c.requested);
    EXPECT_EQ(c.capacity, direct.capacity()) << c.requested;
  }
}

TEST(HashtableTest, PutKeepsTheFirstKeyAndReturnsTheOldValue) {
  Hashtable table;
  String key1("k"), key2("k"), v1("one"), v2("two");
  EXPECT_EQ(nullptr, table.put(&key1, &v1));
  EXPECT_EQ(&v1, table.put(&key2, &v2));
  EXPECT_EQ(1u, table.size());
  Hashtable::Enumeration keys = table.keys();
  EXPECT_EQ(&key1, keys.nextElement());
  EXPECT_TRUE(table.contains(String("two")));
  EXPECT_FALSE(table.contains(String("one")));
}

TEST(HashtableTest, EnumerationRunsBucketsInOrderNewestFirst) {
  // Integers hash to themselves: 1 and 12 share bucket 1 of 11.
  Hashtable table(11, 0.75f);
  Integer one(1), twelve(12), three(3);
  table.put(&one, &one);
  table.put(&three, &three);
  table.put(&twelve, &twelve);
  EXPECT_EQ("{12=12, 1=1, 3=3}", str(table.toString()));
  Hashtable::Enumeration values = table.elements();
  std::vector<int> seen;
  while (values.hasMoreElements()) seen.push_back(static_cast<Integer*>(values.nextElement())->intValue());
  EXPECT_EQ((std::vector<int>{12, 1, 3}), seen);
  EXPECT_THROW_TEXT(values.nextElement(), Exception, "Exception: Hashtable: no such element");
}

TEST(HashtableTest, TextFormListsPairs) {
  Hashtable table;
  String a("a"), b("b"), one("1"), two("2");
  table.put(&a, &one);
  table.put(&b, &two);
  EXPECT_EQ("{a=1, b=2}", str(table.toString()));  // 'a' hashes to 97, 'b' to 98
  Hashtable copy;
  copy.putAll(table);
  EXPECT_EQ(&two, copy.get(String("b")));
  EXPECT_EQ("{}", str(Hashtable().toString()));
}

}  // namespace
