#include "storage/tree_db_entry.h"

#include <algorithm>

#include "common/text.h"

namespace voxhall::storage {

FBContainer::~FBContainer() {
  // Children are moved out level by level onto one work list; each entry is
  // destroyed only once it has no children left, so no destructor recurses.
  std::vector<std::unique_ptr<FBEntry>> pending = std::move(children_);
  while (!pending.empty()) {
    std::unique_ptr<FBEntry> entry = std::move(pending.back());
    pending.pop_back();
    if (FBContainer* container = entry->AsContainer()) {
      for (auto& child : container->children_) pending.push_back(std::move(child));
      container->children_.clear();
    }
  }
}

FBEntry* FBContainer::AddChild(EntryKind kind, std::string name) {
  std::unique_ptr<FBEntry> entry;
  switch (kind) {
    case EntryKind::kNode:
      entry = std::make_unique<FBNode>(std::move(name));
      break;
    case EntryKind::kInteger:
      entry = std::make_unique<FBInteger>(std::move(name));
      break;
    case EntryKind::kString:
      entry = std::make_unique<FBString>(std::move(name));
      break;
    case EntryKind::kBinary:
      entry = std::make_unique<FBBinary>(std::move(name));
      break;
    case EntryKind::kFloat:
      entry = std::make_unique<FBFloat>(std::move(name));
      break;
    case EntryKind::kWideString:
      entry = std::make_unique<FBWideString>(std::move(name));
      break;
    default:
      return nullptr;
  }
  entry->parent_ = this;
  children_.push_back(std::move(entry));
  return children_.back().get();
}

FBEntry* FBContainer::FindChild(std::string_view name, EntryKind kind) const {
  for (const auto& child : children_) {
    if (child->Kind() == kind && common::EqualsIgnoreCase(child->Name(), name)) {
      return child.get();
    }
  }
  return nullptr;
}

bool FBContainer::DestroyChild(const FBEntry* child) {
  auto it = std::find_if(children_.begin(), children_.end(),
                         [child](const std::unique_ptr<FBEntry>& e) { return e.get() == child; });
  if (it == children_.end()) return false;
  std::unique_ptr<FBEntry> doomed = std::move(*it);
  children_.erase(it);
  return true;  // `doomed` goes out of scope here, after the list no longer holds it
}

}  // namespace voxhall::storage
