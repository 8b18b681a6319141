#include "lang/Vector.h"

#include <gtest/gtest.h>

#include <functional>

#include "lang/Exception.h"
#include "lang/Integer.h"
#include "lang/VectorAuto.h"
#include "tests/support/TestSupport.h"

namespace {

using testsupport::str;

TEST(VectorTest, GrowsByDoubling) {
  Vector v;
  Integer values[11] = {Integer(0), Integer(1), Integer(2), Integer(3), Integer(4), Integer(5),
                        Integer(6), Integer(7), Integer(8), Integer(9), Integer(10)};
  EXPECT_EQ(10u, v.capacity());
  for (Integer& i : values) v.addElement(&i);
  EXPECT_EQ(20u, v.capacity());
  EXPECT_EQ(11u, v.size());
  v.trimToSize();
  EXPECT_EQ(11u, v.capacity());
  v.setSize(12);
  EXPECT_EQ(22u, v.capacity());
  EXPECT_EQ(nullptr, v.elementAt(11));
  v.setSize(2);
  EXPECT_EQ("[0, 1]", str(v.toString()));
}

TEST(VectorTest, IndexErrorsNameTheOperation) {
  Vector v;
  Integer one(1), two(2);
  v.addElement(&one);
  v.insertElementAt(1, &two);  // at size: appends
  v.insertElementAt(0, &two);
  EXPECT_EQ("[2, 1, 2]", str(v.toString()));
  struct {
    std::function<void()> call;
    const char* text;
  } cases[] = {
      {[&] { v.insertElementAt(4, &one); }, "Exception: Vector index out of bounds in add"},
      {[&] { v.elementAt(3); }, "Exception: Vector index out of bounds in get"},
      {[&] { v.remove(3); }, "Exception: Vector index out of bounds in remove"},
      {[&] { v.set(3, &one); }, "Exception: Vector index out of bounds in set"},
      {[&] { v.elementAt(static_cast<uint32_t>(-1)); },
       "Exception: Vector index out of bounds in get"},
  };
  for (const auto& c : cases) EXPECT_THROW_TEXT(c.call(), Exception, c.text);
  EXPECT_EQ(3u, v.size()) << "nothing changes when an operation raises";
}

TEST(VectorTest, SearchesAndStackOperations) {
  Vector v;
  Integer a(1), b(2), c(1);
  v.addElement(&a);
  v.addElement(&b);
  v.addElement(&c);
  EXPECT_EQ(0, v.indexOf(Integer(1)));
  EXPECT_EQ(2, v.indexOf(Integer(1), 1));
  EXPECT_EQ(-1, v.indexOf(Integer(1), 3));
  EXPECT_TRUE(v.contains(Integer(2)));
  EXPECT_TRUE(v.removeElement(Integer(2)));
  EXPECT_FALSE(v.removeElement(Integer(5)));
  EXPECT_EQ(&c, v.pop());
  EXPECT_EQ(&a, v.peek());
  v.pop();
  EXPECT_THROW_TEXT(v.pop(), Exception, "Exception: empty stack (pop)");
  EXPECT_THROW_TEXT(v.peek(), Exception, "Exception: empty stack (peek)");
  EXPECT_EQ("[]", str(v.toString()));
}

TEST(VectorTest, SortsByCompareTo) {
  String words[] = {String("pear"), String("apple"), String("fig"), String("apple")};
  Vector v;
  for (String& w : words) v.addElement(&w);
  v.sort();
  EXPECT_EQ("[apple, apple, fig, pear]", str(v.toString()));
  Vector copy(v);
  EXPECT_TRUE(copy.equals(v));
  copy.pop();
  EXPECT_FALSE(copy.equals(v));
}

TEST(VectorTest, EnumerationWalksTheElementsItSaw) {
  Integer a(1), b(2);
  Vector v;
  v.addElement(&a);
  v.addElement(&b);
  Vector::Enumeration e = v.elements();
  EXPECT_EQ(&a, e.nextElement());
  v.remove(1);
  EXPECT_TRUE(e.hasMoreElements());
  EXPECT_THROW_TEXT(e.nextElement(), Exception, "Exception: Vector index out of bounds in get");
  Vector::Enumeration done = v.elements();
  done.nextElement();
  EXPECT_FALSE(done.hasMoreElements());
  EXPECT_THROW_TEXT(done.nextElement(), Exception, "Exception: Vector: no such element");
}

// Counts live instances, to see what an owning vector deletes.
struct Tracked : Object {
  explicit Tracked(int* live) : live_(live) { ++*live_; }
  ~Tracked() override { --*live_; }
  int* live_;
};

TEST(VectorAutoTest, DeletesWhatItDrops) {
  int live = 0;
  {
    VectorAuto v;
    for (int i = 0; i < 5; ++i) v.addElement(new Tracked(&live));
    v.addElement(nullptr);
    EXPECT_EQ(5, live);
    v.remove(0);
    EXPECT_EQ(4, live);
    v.set(0, new Tracked(&live));
    EXPECT_EQ(4, live);
    EXPECT_THROW_TEXT(v.set(9, nullptr), Exception, "Exception: Vector index out of bounds in get");
    v.setSize(2);
    EXPECT_EQ(2, live);
  }
  EXPECT_EQ(0, live);
}

TEST(VectorAutoTest, SetSizeGrowsWithEmptyStrings) {
  VectorAuto v;
  v.setSize(3);
  ASSERT_EQ(3u, v.size());
  for (uint32_t i = 0; i < 3; ++i) {
    ASSERT_NE(nullptr, v.elementAt(i));
    EXPECT_EQ(0u, static_cast<String*>(v.elementAt(i))->length());
  }
  v.setSize(1);
  EXPECT_EQ(1u, v.size());
  v.clear();
  EXPECT_EQ(0u, v.size());
}

}  // namespace
