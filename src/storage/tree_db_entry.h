// The entries of the tree database: a root, nodes that hold children, and five
// kinds of value. A container owns its children through std::unique_ptr and
// keeps them in the order they were added; destroying an entry destroys its
// whole subtree. Used by the engine (tree_db.h), the file codec
// (tree_db_format.h) and the stores, which walk and destroy entries directly.
//
// Thread safety: none of its own. Entries of the process database belong to
// its FreeBase and are touched only while its Lock() is held.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "storage/extended_float.h"

namespace voxhall::storage {

// Entry kinds as the file stores them: never renumber.
enum class EntryKind : std::uint8_t {
  kRoot = 0,
  kNode = 1,
  kInteger = 2,
  kString = 3,
  kBinary = 4,
  kFloat = 5,
  kWideString = 6,
};
inline constexpr std::uint8_t kLastEntryKind = 6;

class FBContainer;

class FBEntry {
 public:
  virtual ~FBEntry() = default;
  FBEntry(const FBEntry&) = delete;
  FBEntry& operator=(const FBEntry&) = delete;

  EntryKind Kind() const { return kind_; }
  const std::string& Name() const { return name_; }
  void SetName(std::string name) { name_ = std::move(name); }
  // Carried with the entry through reading and writing; new entries hold 0.
  std::int32_t Tag() const { return tag_; }
  void SetTag(std::int32_t tag) { tag_ = tag; }
  // The container that owns this entry; null for a root.
  FBContainer* Parent() const { return parent_; }

  // This entry as a container (root or node), or null.
  virtual FBContainer* AsContainer() { return nullptr; }
  virtual const FBContainer* AsContainer() const { return nullptr; }

 protected:
  FBEntry(EntryKind kind, std::string name) : kind_(kind), name_(std::move(name)) {}

 private:
  friend class FBContainer;
  EntryKind kind_;
  std::string name_;
  std::int32_t tag_ = 0;
  FBContainer* parent_ = nullptr;
};

// The entry `entry` as the class T (FBNode, FBInteger, ...) when its kind is
// T's, else null.
template <typename T>
T* EntryCast(FBEntry* entry) {
  return entry != nullptr && entry->Kind() == T::kKind ? static_cast<T*>(entry) : nullptr;
}
template <typename T>
const T* EntryCast(const FBEntry* entry) {
  return entry != nullptr && entry->Kind() == T::kKind ? static_cast<const T*>(entry) : nullptr;
}

// A root or node: an ordered list of owned children.
class FBContainer : public FBEntry {
 public:
  // Destroys the subtree without recursion, so that a tree of any depth (a
  // damaged file can nest millions of nodes) cannot exhaust the stack.
  ~FBContainer() override;

  FBContainer* AsContainer() override { return this; }
  const FBContainer* AsContainer() const override { return this; }

  // The children in list order.
  const std::vector<std::unique_ptr<FBEntry>>& Children() const { return children_; }
  FBEntry* FirstChild() const { return children_.empty() ? nullptr : children_.front().get(); }

  // Appends a new, empty entry of `kind` named `name` at the end of the list
  // and answers it; null for kRoot or an unknown kind. The container owns it.
  FBEntry* AddChild(EntryKind kind, std::string name);

  // The first child, in list order, of kind `kind` whose name equals `name`
  // without regard to the case of ASCII letters; null when there is none.
  FBEntry* FindChild(std::string_view name, EntryKind kind) const;

  // Unlinks `child` and destroys it with everything below it. Answers false
  // (and does nothing) when `child` is not a child of this container.
  bool DestroyChild(const FBEntry* child);

 protected:
  FBContainer(EntryKind kind, std::string name) : FBEntry(kind, std::move(name)) {}

 private:
  std::vector<std::unique_ptr<FBEntry>> children_;
};

class FBRoot : public FBContainer {
 public:
  static constexpr EntryKind kKind = EntryKind::kRoot;
  explicit FBRoot(std::string name = {}) : FBContainer(kKind, std::move(name)) {}
};

class FBNode : public FBContainer {
 public:
  static constexpr EntryKind kKind = EntryKind::kNode;
  explicit FBNode(std::string name = {}) : FBContainer(kKind, std::move(name)) {}
};

class FBInteger : public FBEntry {
 public:
  static constexpr EntryKind kKind = EntryKind::kInteger;
  explicit FBInteger(std::string name = {}) : FBEntry(kKind, std::move(name)) {}
  std::int32_t Value() const { return value_; }
  void SetValue(std::int32_t value) { value_ = value; }

 private:
  std::int32_t value_ = 0;
};

// 8-bit text of the system code page, stored byte for byte.
class FBString : public FBEntry {
 public:
  static constexpr EntryKind kKind = EntryKind::kString;
  explicit FBString(std::string name = {}) : FBEntry(kKind, std::move(name)) {}
  const std::string& Value() const { return value_; }
  void SetValue(std::string value) { value_ = std::move(value); }

 private:
  std::string value_;
};

class FBBinary : public FBEntry {
 public:
  static constexpr EntryKind kKind = EntryKind::kBinary;
  explicit FBBinary(std::string name = {}) : FBEntry(kKind, std::move(name)) {}
  const std::vector<std::uint8_t>& Data() const { return data_; }
  void SetData(std::vector<std::uint8_t> data) { data_ = std::move(data); }

 private:
  std::vector<std::uint8_t> data_;
};

// Keeps the ten stored bytes, so that a value read from a file is written back
// exactly even where it has more precision than a double.
class FBFloat : public FBEntry {
 public:
  static constexpr EntryKind kKind = EntryKind::kFloat;
  explicit FBFloat(std::string name = {}) : FBEntry(kKind, std::move(name)) {}
  double Value() const { return ExtendedToDouble(raw_); }
  void SetValue(double value) { raw_ = DoubleToExtended(value); }
  const Extended80& Raw() const { return raw_; }
  void SetRaw(const Extended80& raw) { raw_ = raw; }

 private:
  Extended80 raw_{};  // all zero bytes: +0.0
};

// UTF-16 text, stored as little-endian code units.
class FBWideString : public FBEntry {
 public:
  static constexpr EntryKind kKind = EntryKind::kWideString;
  explicit FBWideString(std::string name = {}) : FBEntry(kKind, std::move(name)) {}
  const std::u16string& Value() const { return value_; }
  void SetValue(std::u16string value) { value_ = std::move(value); }

 private:
  std::u16string value_;
};

}  // namespace voxhall::storage
