// Collections: ordered lists of owned items of one item class, stored in form
// data as `Name = < item ... end item ... end >`.
#pragma once

#include "keltk/Component.h"

#include <vector>

namespace keltk {

class TCollection;

enum class TCollectionNotification { cnAdded, cnExtracting };

class TCollectionItem : public TPersistent {
public:
  // Joins `collection` (when given) before the derived constructor body runs, so
  // the collection's count already includes the new item there.
  explicit TCollectionItem(TCollection* collection);
  // Leaves the collection.
  ~TCollectionItem() override;
  static const TClassInfo& StaticClass();
  const TClassInfo& ClassType() const override { return StaticClass(); }

  TCollection* Collection() const { return collection_; }
  // Moves the item to the end of another collection (or out of any, with null).
  void SetCollection(TCollection* collection);
  // Unique within the collection, increasing in order of joining, never reused.
  int ID() const { return id_; }
  // Zero-based position in the collection; -1 outside one.
  int Index() const;
  void SetIndex(int index);

  // Shown by editors of the collection; the class name unless a descendant knows better.
  virtual std::string GetDisplayName() const;
  std::string DisplayName() const { return GetDisplayName(); }

  TPersistent* GetOwner() const override;

protected:
  // Tells the collection that this item (or, with allItems, the whole list) changed.
  void Changed(bool allItems);

private:
  friend class TCollection;
  TCollection* collection_ = nullptr;
  int id_ = 0;
};

class TCollection : public TPersistent {
public:
  // `itemClass` must describe a TCollectionItem descendant with an item factory
  // (ClassBuilder<T>::itemFactory()).
  explicit TCollection(const TClassInfo& itemClass);
  // Frees every item.
  ~TCollection() override;
  static const TClassInfo& StaticClass();
  const TClassInfo& ClassType() const override { return StaticClass(); }

  const TClassInfo& ItemClass() const { return *itemClass_; }

  // A new item of the item class, appended.
  TCollectionItem* Add();
  // A new item of the item class at `index` (0..Count()).
  TCollectionItem* Insert(int index);
  // Frees the item at `index`.
  void Delete(int index);
  // Frees every item, the last first.
  void Clear();

  int Count() const { return static_cast<int>(items_.size()); }
  // Raises EListError outside 0..Count()-1.
  TCollectionItem* Items(int index) const;
  TCollectionItem* FindItemID(int id) const;

  // Replaces the items with copies of a source collection's (each copied by the
  // item's own Assign); any other source goes to the inherited behaviour.
  void Assign(const TPersistent* source) override;

  // Between BeginUpdate and the matching EndUpdate, Update is not called; the
  // last EndUpdate calls Update(nullptr) once.
  void BeginUpdate();
  void EndUpdate();
  int UpdateCount() const { return updateCount_; }

protected:
  // Called after `item` changed, or after the list changed (item null).
  virtual void Update(TCollectionItem* item);
  // Called when an item joins (cnAdded: it is in the list, but its own
  // constructor body has not run yet) and when it leaves (cnExtracting: still in
  // the list).
  virtual void Notify(TCollectionItem* item, TCollectionNotification action);
  // Update unless updates are suspended.
  void Changed();

private:
  friend class TCollectionItem;
  void insertItem(TCollectionItem* item);
  void removeItem(TCollectionItem* item);
  void checkIndex(int index, int limit) const;

  const TClassInfo* itemClass_;
  std::vector<TCollectionItem*> items_;
  int nextId_ = 0;
  int updateCount_ = 0;
};

} // namespace keltk
