#include "storage/tree_db_format.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <vector>

namespace voxhall::storage {

namespace {

// Reads little-endian fields from a byte range; every read either returns its
// full count or fails and leaves the position where it was.
class Reader {
 public:
  explicit Reader(std::string_view bytes) : bytes_(bytes) {}

  std::size_t Remaining() const { return bytes_.size() - pos_; }
  std::size_t Position() const { return pos_; }

  bool Skip(std::size_t count) {
    if (count > Remaining()) return false;
    pos_ += count;
    return true;
  }
  bool Bytes(std::size_t count, std::string_view& out) {
    if (count > Remaining()) return false;
    out = bytes_.substr(pos_, count);
    pos_ += count;
    return true;
  }
  bool U8(std::uint8_t& out) {
    if (Remaining() < 1) return false;
    out = static_cast<std::uint8_t>(bytes_[pos_++]);
    return true;
  }
  bool U16(std::uint16_t& out) {
    std::uint64_t v;
    if (!Unsigned(2, v)) return false;
    out = static_cast<std::uint16_t>(v);
    return true;
  }
  bool I32(std::int32_t& out) {
    std::uint64_t v;
    if (!Unsigned(4, v)) return false;
    out = static_cast<std::int32_t>(static_cast<std::uint32_t>(v));
    return true;
  }
  bool F64(double& out) {
    std::uint64_t v;
    if (!Unsigned(8, v)) return false;
    out = std::bit_cast<double>(v);
    return true;
  }
  // A length-prefixed text whose length counts `unit`-byte units; a length of
  // zero or below is empty. A length beyond the bytes left fails before any
  // allocation.
  bool LengthPrefixed(std::size_t unit, std::string_view& out) {
    std::int32_t length;
    if (!I32(length)) return false;
    out = {};
    if (length <= 0) return true;
    const auto count = static_cast<std::size_t>(length);
    if (count > Remaining() / unit) return false;
    return Bytes(count * unit, out);
  }

 private:
  bool Unsigned(std::size_t size, std::uint64_t& out) {
    if (Remaining() < size) return false;
    out = 0;
    for (std::size_t i = 0; i < size; ++i) {
      out |= std::uint64_t{static_cast<std::uint8_t>(bytes_[pos_ + i])} << (8 * i);
    }
    pos_ += size;
    return true;
  }

  std::string_view bytes_;
  std::size_t pos_ = 0;
};

class Writer {
 public:
  std::string Take() { return std::move(out_); }
  void U8(std::uint8_t v) { out_.push_back(static_cast<char>(v)); }
  void Unsigned(std::uint64_t v, std::size_t size) {
    for (std::size_t i = 0; i < size; ++i) U8(static_cast<std::uint8_t>(v >> (8 * i)));
  }
  void I32(std::int32_t v) { Unsigned(static_cast<std::uint32_t>(v), 4); }
  void F64(double v) { Unsigned(std::bit_cast<std::uint64_t>(v), 8); }
  void Raw(std::string_view bytes) { out_.append(bytes); }
  void LengthPrefixed(std::string_view bytes) {
    I32(static_cast<std::int32_t>(bytes.size()));
    Raw(bytes);
  }

 private:
  std::string out_;
};

bool DecodeHeader(Reader& in, HeaderRecord& header, std::string& name, std::int32_t& tag) {
  std::string_view magic;
  std::uint16_t header_size, version;
  if (!in.Bytes(4, magic) || !in.U16(header_size) || !in.U16(version)) return false;
  if (std::memcmp(magic.data(), kFileMagic, 4) != 0 || version > kFormatVersion) return false;
  if (header_size < kMinimumFileSize) return false;

  // The header record is 64 bytes; a shorter header leaves the rest zero, a
  // longer one is read past.
  std::string_view rest;
  if (!in.Bytes(header_size - kMinimumFileSize, rest)) return false;
  char record[kHeaderSize] = {};
  std::memcpy(record + kMinimumFileSize, rest.data(),
              std::min(rest.size(), kHeaderSize - kMinimumFileSize));

  Reader fields(std::string_view(record, kHeaderSize));
  fields.Skip(10);
  fields.F64(header.created);
  fields.F64(header.last_write);
  std::string_view name_field;
  fields.Bytes(kNameFieldSize, name_field);
  name.assign(name_field.substr(0, name_field.find('\0')));
  fields.I32(tag);
  return true;
}

std::uint16_t ReadU16(std::string_view bytes, std::size_t at) {
  return static_cast<std::uint16_t>(static_cast<std::uint8_t>(bytes[at]) |
                                    static_cast<std::uint8_t>(bytes[at + 1]) << 8);
}

// Reads one record's payload into `entry`; a node's list is read by the caller.
bool DecodePayload(Reader& in, FBEntry& entry) {
  std::string_view bytes;
  switch (entry.Kind()) {
    case EntryKind::kInteger: {
      std::int32_t value;
      if (!in.I32(value)) return false;
      static_cast<FBInteger&>(entry).SetValue(value);
      return true;
    }
    case EntryKind::kString:
      if (!in.LengthPrefixed(1, bytes)) return false;
      static_cast<FBString&>(entry).SetValue(std::string(bytes));
      return true;
    case EntryKind::kBinary:
      if (!in.LengthPrefixed(1, bytes)) return false;
      static_cast<FBBinary&>(entry).SetData(std::vector<std::uint8_t>(bytes.begin(), bytes.end()));
      return true;
    case EntryKind::kFloat: {
      if (!in.Bytes(10, bytes)) return false;
      Extended80 raw;
      std::memcpy(raw.data(), bytes.data(), raw.size());
      static_cast<FBFloat&>(entry).SetRaw(raw);
      return true;
    }
    case EntryKind::kWideString: {
      if (!in.LengthPrefixed(2, bytes)) return false;
      std::u16string text(bytes.size() / 2, u'\0');
      for (std::size_t i = 0; i < text.size(); ++i)
        text[i] = static_cast<char16_t>(ReadU16(bytes, 2 * i));
      static_cast<FBWideString&>(entry).SetValue(std::move(text));
      return true;
    }
    default:
      return true;
  }
}

void EncodePayload(Writer& out, const FBEntry& entry) {
  switch (entry.Kind()) {
    case EntryKind::kInteger:
      out.I32(static_cast<const FBInteger&>(entry).Value());
      break;
    case EntryKind::kString:
      out.LengthPrefixed(static_cast<const FBString&>(entry).Value());
      break;
    case EntryKind::kBinary: {
      const auto& data = static_cast<const FBBinary&>(entry).Data();
      out.LengthPrefixed(std::string_view(reinterpret_cast<const char*>(data.data()), data.size()));
      break;
    }
    case EntryKind::kFloat:
      for (std::uint8_t b : static_cast<const FBFloat&>(entry).Raw()) out.U8(b);
      break;
    case EntryKind::kWideString: {
      const auto& text = static_cast<const FBWideString&>(entry).Value();
      out.I32(static_cast<std::int32_t>(text.size()));
      for (char16_t unit : text) out.Unsigned(unit, 2);
      break;
    }
    default:
      break;
  }
}

}  // namespace

std::optional<DecodedDatabase> DecodeDatabase(std::string_view bytes) {
  if (bytes.size() <= kMinimumFileSize) return std::nullopt;
  Reader in(bytes);
  DecodedDatabase db;
  std::string name;
  std::int32_t tag = 0;
  if (!DecodeHeader(in, db.header, name, tag)) return std::nullopt;
  db.root = std::make_unique<FBRoot>(std::move(name));
  db.root->SetTag(tag);

  // The containers whose lists are being read, innermost last: an explicit
  // stack instead of recursion, so that nesting depth costs heap, not stack.
  std::vector<FBContainer*> open{db.root.get()};
  while (!open.empty()) {
    std::uint8_t kind;
    if (!in.U8(kind)) return std::nullopt;
    if (kind == 0) {
      open.pop_back();
      continue;
    }
    if (kind > kLastEntryKind) return std::nullopt;
    std::string_view entry_name;
    std::int32_t entry_tag;
    if (!in.LengthPrefixed(1, entry_name) || !in.I32(entry_tag)) return std::nullopt;
    FBEntry* entry = open.back()->AddChild(static_cast<EntryKind>(kind), std::string(entry_name));
    entry->SetTag(entry_tag);
    if (FBContainer* node = entry->AsContainer()) {
      open.push_back(node);
    } else if (!DecodePayload(in, *entry)) {
      return std::nullopt;
    }
  }
  return db;
}

std::string EncodeDatabase(const HeaderRecord& header, const FBRoot& root) {
  Writer out;
  out.Raw(std::string_view(kFileMagic, 4));
  out.Unsigned(kHeaderSize, 2);
  out.Unsigned(kFormatVersion, 2);
  out.Unsigned(0, 2);
  out.F64(header.created);
  out.F64(header.last_write);
  char name_field[kNameFieldSize] = {};
  const std::string& name = root.Name();
  std::memcpy(name_field, name.data(), std::min(name.size(), kMaxDatabaseNameLength));
  out.Raw(std::string_view(name_field, kNameFieldSize));
  out.I32(root.Tag());
  out.Unsigned(0, 2);

  struct Frame {
    const FBContainer* container;
    std::size_t next;
  };
  std::vector<Frame> open{{&root, 0}};
  while (!open.empty()) {
    Frame& frame = open.back();
    if (frame.next == frame.container->Children().size()) {
      out.U8(0);
      open.pop_back();
      continue;
    }
    const FBEntry& entry = *frame.container->Children()[frame.next++];
    out.U8(static_cast<std::uint8_t>(entry.Kind()));
    out.LengthPrefixed(entry.Name());
    out.I32(entry.Tag());
    if (const FBContainer* node = entry.AsContainer()) {
      open.push_back({node, 0});  // `frame` is not used past this point
    } else {
      EncodePayload(out, entry);
    }
  }
  out.U8(0);
  return out.Take();
}

}  // namespace voxhall::storage
