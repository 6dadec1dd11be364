// Feeds arbitrary bytes to the database file decoder. Whatever decodes must
// encode to a file that decodes again and encodes to the same bytes; anything
// else must be rejected without a crash, a leak or an allocation of what a
// damaged length claims.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "storage/tree_db_format.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace voxhall::storage;
  auto db = DecodeDatabase(std::string_view(reinterpret_cast<const char*>(data), size));
  if (!db) return 0;
  const std::string once = EncodeDatabase(db->header, *db->root);
  auto again = DecodeDatabase(once);
  if (!again || EncodeDatabase(again->header, *again->root) != once) std::abort();
  return 0;
}
