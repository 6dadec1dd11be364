// Little-endian encoding of protocol packets and records, and the
// length-prefixed fixed text fields they carry (a field of capacity n takes
// n + 1 bytes: one length byte, then up to n characters, then padding).
// Used by every encoder and decoder of the voice protocol. Plain value
// objects: any thread, one thread per object.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace voxhall::protocol {

// Writes into a byte vector from a start offset on, growing the vector as
// needed (new bytes are zero). Writing at an offset overwrites what is there,
// so a packet image can be filled field by field at its documented offsets.
class WireWriter {
 public:
  explicit WireWriter(std::vector<std::uint8_t>& buffer, std::size_t offset = 0)
      : buffer_(buffer), pos_(offset) {}

  WireWriter& PutU8(std::uint8_t v);
  WireWriter& PutU16(std::uint16_t v);
  WireWriter& PutI16(std::int16_t v);
  WireWriter& PutU32(std::uint32_t v);
  WireWriter& PutI32(std::int32_t v);
  WireWriter& PutF64(double v);
  // A fixed text field of `capacity` characters (at most 255): the length
  // byte, the text cut to the capacity, zero padding up to capacity + 1 bytes.
  WireWriter& PutText(std::string_view text, std::size_t capacity);
  WireWriter& PutZeros(std::size_t count);
  WireWriter& Seek(std::size_t offset) {
    pos_ = offset;
    return *this;
  }

  std::size_t position() const { return pos_; }

 private:
  void Put(const std::uint8_t* data, std::size_t size);

  std::vector<std::uint8_t>& buffer_;
  std::size_t pos_;
};

// Reads from bytes received from the network or a file. It never reads past
// the end and never throws: a read that does not fit returns 0 (or an empty
// text), leaves the position where it was and marks the reader failed, and
// every later read fails too. Check ok() once after a group of reads.
class WireReader {
 public:
  explicit WireReader(std::span<const std::uint8_t> data, std::size_t offset = 0);

  std::uint8_t GetU8();
  std::uint16_t GetU16();
  std::int16_t GetI16();
  std::uint32_t GetU32();
  std::int32_t GetI32();
  double GetF64();
  // A fixed text field of `capacity` characters: all capacity + 1 bytes must
  // be present; a length byte above the capacity is taken as the capacity.
  std::string GetText(std::size_t capacity);
  bool Skip(std::size_t count);
  bool Seek(std::size_t offset);

  bool ok() const { return ok_; }
  std::size_t position() const { return pos_; }
  std::size_t remaining() const { return data_.size() - pos_; }

 private:
  // Points at `size` readable bytes and advances, or fails the reader.
  const std::uint8_t* Take(std::size_t size);

  std::span<const std::uint8_t> data_;
  std::size_t pos_ = 0;
  bool ok_ = true;
};

}  // namespace voxhall::protocol
