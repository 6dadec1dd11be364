// The byte layout of the database file and the codec between it and a tree in
// memory. The engine (tree_db.h) reads a file whole and decodes it, and encodes
// the whole tree before it writes it; the fuzz harness under tools/fuzz/ feeds
// the decoder directly. Pure functions, callable from any thread.
//
// All integers little-endian, signed ones two's complement; text is 8-bit
// characters without terminator unless stated.
//
//   file   = header(64) , list(root's children) , 00
//   list   = { record } , 00                    -- a kind byte of 0 ends a list
//   record = kind(1) , name_len(i32) , name(name_len) , tag(i32) , payload
//
//   header  offset size
//           0      4    "RRFB"
//           4      2    u16 header size (64 when written)
//           6      2    u16 version (1 when written; 0 and 1 are read)
//           8      2    u16 reserved (0 when written)
//           10     8    f64 creation time (days since 1899-12-30, local time)
//           18     8    f64 time of the last write
//           26     32   database (root) name, at most 31 characters, then 00
//           58     4    i32 root tag
//           62     2    00 00
//
//   kind  class         payload
//   1     FBNode        list of the node's children
//   2     FBInteger     i32
//   3     FBString      i32 length n, n bytes
//   4     FBBinary      i32 size n, n bytes
//   5     FBFloat       10 bytes, see extended_float.h
//   6     FBWideString  i32 count n, 2n bytes of UTF-16LE
//
// A length, size or count of zero or below is an empty value followed by no
// bytes. Kind 0 (the root) never appears as a record.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "common/date_time.h"
#include "storage/tree_db_entry.h"

namespace voxhall::storage {

inline constexpr char kFileMagic[4] = {'R', 'R', 'F', 'B'};
inline constexpr std::size_t kHeaderSize = 64;
inline constexpr std::uint16_t kFormatVersion = 1;
inline constexpr std::size_t kNameFieldSize = 32;
inline constexpr std::size_t kMaxDatabaseNameLength = kNameFieldSize - 1;
// A file must be longer than this to be read at all.
inline constexpr std::size_t kMinimumFileSize = 8;
// Bytes of a database without entries: header, end of the root list, final 00.
inline constexpr std::size_t kEmptyDatabaseSize = kHeaderSize + 2;

// The header fields that are not the root's name and tag, which live on the
// root itself. The version and reserved fields are not kept: they are always
// written as 1 and 0.
struct HeaderRecord {
  common::DateTime created = 0;
  common::DateTime last_write = 0;
};

struct DecodedDatabase {
  HeaderRecord header;
  std::unique_ptr<FBRoot> root;  // named and tagged from the header
};

// Decodes a whole file. Answers nullopt for anything that is not a complete
// database: 8 bytes or fewer, bad magic, a version above 1, a header-size field
// below 8, a short header, a kind of 7 or more, or any record, length or value
// that runs past the end of `bytes` (a length is never allocated before it is
// known to fit). Bytes after the end of the root's list are not looked at.
//
// Choices where the layout leaves one: a header-size field above 64 keeps the
// first 64 bytes and the tree starts where the field says; a name field
// without a zero byte gives a name of all 32 bytes (cut to 31 on the next
// write).
std::optional<DecodedDatabase> DecodeDatabase(std::string_view bytes);

// Encodes a whole file: `header`'s two times, the root's name (its first 31
// characters) and tag, and the tree in list order, depth first.
// REQUIRES: names and values shorter than 2^31 bytes.
std::string EncodeDatabase(const HeaderRecord& header, const FBRoot& root);

}  // namespace voxhall::storage
