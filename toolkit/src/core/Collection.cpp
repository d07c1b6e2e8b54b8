#include "keltk/Collection.h"

#include "keltk/Exception.h"

#include <algorithm>
#include <fmt/format.h>

namespace keltk {

// --- TCollectionItem ---------------------------------------------------------

const TClassInfo& TCollectionItem::StaticClass() {
  static TClassInfo info("TCollectionItem", &TPersistent::StaticClass());
  return info;
}

TCollectionItem::TCollectionItem(TCollection* collection) {
  if (collection != nullptr) collection->insertItem(this);
}

TCollectionItem::~TCollectionItem() {
  if (collection_ != nullptr) collection_->removeItem(this);
}

void TCollectionItem::SetCollection(TCollection* collection) {
  if (collection == collection_) return;
  if (collection_ != nullptr) collection_->removeItem(this);
  if (collection != nullptr) collection->insertItem(this);
}

int TCollectionItem::Index() const {
  if (collection_ == nullptr) return -1;
  const auto& items = collection_->items_;
  auto it = std::find(items.begin(), items.end(), this);
  return it == items.end() ? -1 : static_cast<int>(it - items.begin());
}

void TCollectionItem::SetIndex(int index) {
  int current = Index();
  if (current < 0 || index == current) return;
  collection_->checkIndex(index, collection_->Count() - 1);
  auto& items = collection_->items_;
  auto from = items.begin() + current;
  auto to = items.begin() + index;
  if (index < current)
    std::rotate(to, from, from + 1);
  else
    std::rotate(from, from + 1, to + 1);
  Changed(true);
}

std::string TCollectionItem::GetDisplayName() const {
  return ClassName();
}

TPersistent* TCollectionItem::GetOwner() const {
  return collection_;
}

void TCollectionItem::Changed(bool allItems) {
  if (collection_ == nullptr || collection_->updateCount_ != 0) return;
  collection_->Update(allItems ? nullptr : this);
}

// --- TCollection -------------------------------------------------------------

const TClassInfo& TCollection::StaticClass() {
  static TClassInfo info("TCollection", &TPersistent::StaticClass());
  return info;
}

TCollection::TCollection(const TClassInfo& itemClass) : itemClass_(&itemClass) {}

TCollection::~TCollection() {
  ++updateCount_; // nobody is listening any more
  Clear();
}

TCollectionItem* TCollection::Add() {
  if (itemClass_->factoryKind != ClassFactoryKind::CollectionItem ||
      itemClass_->createItem == nullptr)
    throw EClassNotFound(
        fmt::format("{} cannot be created as a collection item", itemClass_->name));
  TObject* made = itemClass_->createItem(this);
  auto* item = ObjectAs<TCollectionItem>(made);
  if (item == nullptr || item->collection_ != this) {
    FreeObject(made);
    throw EConvertError(fmt::format("{} is not an item of this collection", itemClass_->name));
  }
  Changed();
  return item;
}

TCollectionItem* TCollection::Insert(int index) {
  checkIndex(index, Count());
  BeginUpdate();
  TCollectionItem* item = nullptr;
  try {
    item = Add();
    item->SetIndex(index);
  } catch (...) {
    EndUpdate();
    throw;
  }
  EndUpdate();
  return item;
}

void TCollection::Delete(int index) {
  checkIndex(index, Count() - 1);
  FreeObject(items_[static_cast<std::size_t>(index)]);
}

void TCollection::Clear() {
  if (items_.empty()) return;
  BeginUpdate();
  while (!items_.empty())
    FreeObject(items_.back()); // each item takes itself out
  EndUpdate();
}

TCollectionItem* TCollection::Items(int index) const {
  checkIndex(index, Count() - 1);
  return items_[static_cast<std::size_t>(index)];
}

TCollectionItem* TCollection::FindItemID(int id) const {
  for (TCollectionItem* item : items_)
    if (item->id_ == id) return item;
  return nullptr;
}

void TCollection::Assign(const TPersistent* source) {
  const auto* other = ObjectAs<TCollection>(source);
  if (other == nullptr) {
    TPersistent::Assign(source);
    return;
  }
  if (other == this) return;
  BeginUpdate();
  try {
    Clear();
    for (TCollectionItem* from : other->items_)
      Add()->Assign(from);
  } catch (...) {
    EndUpdate();
    throw;
  }
  EndUpdate();
}

void TCollection::BeginUpdate() {
  ++updateCount_;
}

void TCollection::EndUpdate() {
  if (updateCount_ == 0) return;
  if (--updateCount_ == 0) Changed();
}

void TCollection::Update(TCollectionItem*) {}

void TCollection::Notify(TCollectionItem*, TCollectionNotification) {}

void TCollection::Changed() {
  if (updateCount_ == 0) Update(nullptr);
}

void TCollection::insertItem(TCollectionItem* item) {
  items_.push_back(item);
  item->collection_ = this;
  item->id_ = nextId_++;
  Notify(item, TCollectionNotification::cnAdded);
}

void TCollection::removeItem(TCollectionItem* item) {
  auto it = std::find(items_.begin(), items_.end(), item);
  if (it == items_.end()) return;
  Notify(item, TCollectionNotification::cnExtracting);
  it = std::find(items_.begin(), items_.end(), item); // Notify may have moved it
  if (it != items_.end()) items_.erase(it);
  item->collection_ = nullptr;
  Changed();
}

void TCollection::checkIndex(int index, int limit) const {
  if (index < 0 || index > limit)
    throw EListError(fmt::format("List index out of bounds ({})", index));
}

} // namespace keltk
