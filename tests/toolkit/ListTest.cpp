#include "keltk/List.h"

#include "keltk/Exception.h"

#include <gtest/gtest.h>

using namespace keltk;

TEST(List, KeepsOrderAcrossInsertDeleteRemove) {
  int a = 1, b = 2, c = 3;
  TList list;
  EXPECT_EQ(list.Add(&a), 0);
  EXPECT_EQ(list.Add(&c), 1);
  list.Insert(1, &b);
  list.Insert(3, &a); // appending at Count() is allowed
  ASSERT_EQ(list.Count(), 4);
  EXPECT_EQ(list.Items(1), &b);
  EXPECT_EQ(list.IndexOf(&a), 0);
  EXPECT_EQ(list.Remove(&a), 0); // the first occurrence
  EXPECT_EQ(list.IndexOf(&a), 2);
  EXPECT_EQ(list.Extract(&b), &b);
  EXPECT_EQ(list.Extract(&b), nullptr);
  EXPECT_EQ(list.Remove(&b), -1);
  list.Delete(0);
  EXPECT_EQ(list.Count(), 1);
  EXPECT_EQ(list.First(), &a);
  list.Clear();
  EXPECT_EQ(list.Count(), 0);
}

TEST(List, IndexesOutsideTheListRaise) {
  int a = 0;
  TList list;
  EXPECT_THROW(list.Items(0), EListError);
  EXPECT_THROW(list.First(), EListError);
  EXPECT_THROW(list.Last(), EListError);
  EXPECT_THROW(list.Insert(1, &a), EListError);
  EXPECT_THROW(list.Delete(0), EListError);
  list.Add(&a);
  EXPECT_THROW(list.Items(-1), EListError);
  EXPECT_THROW(list.SetItems(1, &a), EListError);
  EXPECT_THROW(list.Exchange(0, 1), EListError);
  EXPECT_THROW(list.Move(0, 2), EListError);
  try {
    list.Items(5);
    FAIL();
  } catch (const EListError& e) {
    EXPECT_EQ(e.Message(), "List index out of bounds (5)");
  }
}

TEST(List, MoveAndExchange) {
  int v[4] = {0, 1, 2, 3};
  TList list;
  for (int& x : v)
    list.Add(&x);
  list.Move(0, 3);
  EXPECT_EQ(list.Items(3), &v[0]);
  EXPECT_EQ(list.Items(0), &v[1]);
  list.Exchange(0, 3);
  EXPECT_EQ(list.Items(0), &v[0]);
  EXPECT_EQ(list.Items(3), &v[1]);
}
