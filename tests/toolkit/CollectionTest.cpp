#include "keltk/Collection.h"

#include "keltk/Exception.h"
#include "keltk/PropInfo.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

using namespace keltk;

namespace {

std::vector<std::string>* itemLog = nullptr;

class TClnItem : public TCollectionItem {
public:
  explicit TClnItem(TCollection* collection)
      : TCollectionItem(collection),
        label("Item_" + std::to_string(collection == nullptr ? -1 : collection->Count() - 1)) {}
  ~TClnItem() override {
    if (itemLog != nullptr) itemLog->push_back("free " + label);
  }
  static const TClassInfo& StaticClass();
  const TClassInfo& ClassType() const override { return StaticClass(); }

  void Assign(const TPersistent* source) override {
    if (const auto* other = ObjectAs<TClnItem>(source)) {
      label = other->label;
      weight = other->weight;
      return;
    }
    TCollectionItem::Assign(source);
  }
  std::string GetDisplayName() const override {
    return label.empty() ? TCollectionItem::GetDisplayName() : label;
  }
  void Touch() { Changed(false); }

  std::string label;
  int weight = 0;
};

const TClassInfo& TClnItem::StaticClass() {
  static TClassInfo info("TClnItem", &TCollectionItem::StaticClass(), [](TClassInfo& i) {
    ClassBuilder<TClnItem> b(i);
    b.itemFactory();
    b.string("Label", &TClnItem::label);
  });
  return info;
}

class TClnCollection : public TCollection {
public:
  TClnCollection() : TCollection(TClnItem::StaticClass()) {}
  std::vector<std::string> events;

protected:
  void Update(TCollectionItem* item) override {
    events.push_back(item == nullptr ? "update all" : "update " + item->DisplayName());
  }
  void Notify(TCollectionItem* item, TCollectionNotification action) override {
    events.push_back(
        std::string(action == TCollectionNotification::cnAdded ? "added " : "leaving ") +
        std::to_string(item->ID()));
  }
};

TClnItem* at(TCollection& c, int i) {
  return static_cast<TClnItem*>(c.Items(i));
}

TEST(Collection, ItemsJoinBeforeTheirOwnConstructorBodyAndGetIncreasingIds) {
  TClnCollection c;
  auto* a = static_cast<TClnItem*>(c.Add());
  auto* b = static_cast<TClnItem*>(c.Add());
  EXPECT_EQ(a->label, "Item_0"); // the count already included the new item
  EXPECT_EQ(b->label, "Item_1");
  EXPECT_EQ(c.Count(), 2);
  EXPECT_EQ(a->ID(), 0);
  EXPECT_EQ(b->ID(), 1);
  EXPECT_EQ(b->Index(), 1);
  EXPECT_EQ(a->Collection(), &c);
  EXPECT_EQ(a->GetOwner(), &c);
  c.Delete(0);
  auto* d = c.Add();
  EXPECT_EQ(d->ID(), 2); // identifiers are never reused
  EXPECT_EQ(c.FindItemID(1), b);
  EXPECT_EQ(c.FindItemID(0), nullptr);
}

TEST(Collection, InsertAndSetIndexReorder) {
  TClnCollection c;
  c.Add();
  c.Add();
  auto* front = static_cast<TClnItem*>(c.Insert(0));
  EXPECT_EQ(front->Index(), 0);
  EXPECT_EQ(at(c, 1)->label, "Item_0");
  at(c, 0)->SetIndex(2);
  EXPECT_EQ(at(c, 2), front);
  EXPECT_EQ(at(c, 0)->label, "Item_0");
  EXPECT_EQ(at(c, 1)->label, "Item_1");
  EXPECT_THROW(front->SetIndex(3), EListError);
  EXPECT_THROW(c.Insert(4), EListError);
  EXPECT_EQ(c.Count(), 3);
}

TEST(Collection, BadIndexesRaiseListErrors) {
  TClnCollection c;
  try {
    c.Items(0);
    FAIL() << "no exception";
  } catch (const EListError& e) {
    EXPECT_EQ(e.Message(), "List index out of bounds (0)");
  }
  EXPECT_THROW(c.Delete(-1), EListError);
}

TEST(Collection, FreeingTheCollectionFreesItsItemsAndFreeingAnItemLeavesIt) {
  std::vector<std::string> log;
  itemLog = &log;
  {
    TClnCollection c;
    c.Add();
    auto* second = c.Add();
    c.Add();
    delete second;
    EXPECT_EQ(c.Count(), 2);
    EXPECT_EQ(at(c, 1)->label, "Item_2");
  }
  itemLog = nullptr;
  EXPECT_EQ(log, (std::vector<std::string>{"free Item_1", "free Item_2", "free Item_0"}));
}

TEST(Collection, AssignCopiesEveryItemThroughItsOwnAssign) {
  TClnCollection source, dest;
  static_cast<TClnItem*>(source.Add())->label = "Open";
  auto* s2 = static_cast<TClnItem*>(source.Add());
  s2->label = "Close";
  s2->weight = 7;
  dest.Add();
  dest.Add();
  dest.Add();
  dest.Assign(&source);
  ASSERT_EQ(dest.Count(), 2);
  EXPECT_EQ(at(dest, 0)->label, "Open");
  EXPECT_EQ(at(dest, 1)->label, "Close");
  EXPECT_EQ(at(dest, 1)->weight, 7);
  EXPECT_NE(at(dest, 1), s2);
  dest.Assign(&dest); // self-assignment keeps the items
  EXPECT_EQ(dest.Count(), 2);
  TClnItem loose(nullptr);
  EXPECT_THROW(dest.Assign(&loose), EConvertError);
}

TEST(Collection, UpdatesAreBatchedBetweenBeginAndEndUpdate) {
  TClnCollection c;
  c.Add();
  EXPECT_EQ(c.events, (std::vector<std::string>{"added 0", "update all"}));
  c.events.clear();
  at(c, 0)->Touch();
  EXPECT_EQ(c.events, (std::vector<std::string>{"update Item_0"}));
  c.events.clear();
  c.BeginUpdate();
  c.Add();
  c.Add();
  at(c, 0)->Touch();
  c.Delete(0);
  c.EndUpdate();
  EXPECT_EQ(c.events, (std::vector<std::string>{"added 1", "added 2", "leaving 0", "update all"}));
  EXPECT_EQ(c.UpdateCount(), 0);
}

TEST(Collection, ItemsMoveBetweenCollections) {
  TClnCollection a, b;
  auto* item = a.Add();
  b.Add();
  item->SetCollection(&b);
  EXPECT_EQ(a.Count(), 0);
  EXPECT_EQ(b.Count(), 2);
  EXPECT_EQ(item->Index(), 1);
  item->SetCollection(nullptr);
  EXPECT_EQ(item->Index(), -1);
  delete item;
  EXPECT_EQ(b.Count(), 1);
}

TEST(Collection, DisplayNameFallsBackToTheClassName) {
  TClnCollection c;
  auto* item = static_cast<TClnItem*>(c.Add());
  item->label.clear();
  EXPECT_EQ(item->DisplayName(), "TClnItem");
}

TEST(Collection, AnItemClassWithoutFactoryCannotBeAdded) {
  TCollection c(TCollectionItem::StaticClass());
  EXPECT_THROW(c.Add(), EClassNotFound);
  EXPECT_EQ(c.Count(), 0);
}

} // namespace
