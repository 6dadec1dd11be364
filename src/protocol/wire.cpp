#include "protocol/wire.h"

#include <algorithm>
#include <bit>
#include <cassert>
#include <cstring>

namespace voxhall::protocol {

namespace {

template <typename T>
void StoreLittleEndian(std::uint8_t* out, T value) {
  auto bits = static_cast<std::make_unsigned_t<T>>(value);
  for (std::size_t i = 0; i < sizeof(T); ++i) {
    out[i] = static_cast<std::uint8_t>(bits >> (8 * i));
  }
}

template <typename T>
T LoadLittleEndian(const std::uint8_t* in) {
  std::make_unsigned_t<T> bits = 0;
  for (std::size_t i = 0; i < sizeof(T); ++i) {
    bits = static_cast<std::make_unsigned_t<T>>(bits |
                                                 (static_cast<std::make_unsigned_t<T>>(in[i]) << (8 * i)));
  }
  return static_cast<T>(bits);
}

}  // namespace

void WireWriter::Put(const std::uint8_t* data, std::size_t size) {
  if (buffer_.size() < pos_ + size) buffer_.resize(pos_ + size, 0);
  if (size > 0) std::memcpy(buffer_.data() + pos_, data, size);
  pos_ += size;
}

WireWriter& WireWriter::PutU8(std::uint8_t v) {
  Put(&v, 1);
  return *this;
}

WireWriter& WireWriter::PutU16(std::uint16_t v) {
  std::uint8_t b[2];
  StoreLittleEndian(b, v);
  Put(b, sizeof b);
  return *this;
}

WireWriter& WireWriter::PutI16(std::int16_t v) { return PutU16(static_cast<std::uint16_t>(v)); }

WireWriter& WireWriter::PutU32(std::uint32_t v) {
  std::uint8_t b[4];
  StoreLittleEndian(b, v);
  Put(b, sizeof b);
  return *this;
}

WireWriter& WireWriter::PutI32(std::int32_t v) { return PutU32(static_cast<std::uint32_t>(v)); }

WireWriter& WireWriter::PutF64(double v) {
  std::uint8_t b[8];
  StoreLittleEndian(b, std::bit_cast<std::uint64_t>(v));
  Put(b, sizeof b);
  return *this;
}

WireWriter& WireWriter::PutText(std::string_view text, std::size_t capacity) {
  assert(capacity <= 255);
  const std::size_t length = std::min(text.size(), capacity);
  PutU8(static_cast<std::uint8_t>(length));
  Put(reinterpret_cast<const std::uint8_t*>(text.data()), length);
  return PutZeros(capacity - length);
}

WireWriter& WireWriter::PutZeros(std::size_t count) {
  if (buffer_.size() < pos_ + count) buffer_.resize(pos_ + count, 0);
  std::fill_n(buffer_.begin() + static_cast<std::ptrdiff_t>(pos_), count, std::uint8_t{0});
  pos_ += count;
  return *this;
}

WireReader::WireReader(std::span<const std::uint8_t> data, std::size_t offset) : data_(data) {
  if (!Seek(offset)) pos_ = 0;
}

const std::uint8_t* WireReader::Take(std::size_t size) {
  if (!ok_ || size > data_.size() - pos_) {
    ok_ = false;
    return nullptr;
  }
  const std::uint8_t* p = data_.data() + pos_;
  pos_ += size;
  return p;
}

std::uint8_t WireReader::GetU8() {
  const std::uint8_t* p = Take(1);
  return p ? *p : 0;
}

std::uint16_t WireReader::GetU16() {
  const std::uint8_t* p = Take(2);
  return p ? LoadLittleEndian<std::uint16_t>(p) : 0;
}

std::int16_t WireReader::GetI16() { return static_cast<std::int16_t>(GetU16()); }

std::uint32_t WireReader::GetU32() {
  const std::uint8_t* p = Take(4);
  return p ? LoadLittleEndian<std::uint32_t>(p) : 0;
}

std::int32_t WireReader::GetI32() { return static_cast<std::int32_t>(GetU32()); }

double WireReader::GetF64() {
  const std::uint8_t* p = Take(8);
  return p ? std::bit_cast<double>(LoadLittleEndian<std::uint64_t>(p)) : 0.0;
}

std::string WireReader::GetText(std::size_t capacity) {
  const std::uint8_t* p = Take(capacity + 1);
  if (!p) return {};
  const std::size_t length = std::min<std::size_t>(p[0], capacity);
  return std::string(reinterpret_cast<const char*>(p + 1), length);
}

bool WireReader::Skip(std::size_t count) { return Take(count) != nullptr; }

bool WireReader::Seek(std::size_t offset) {
  if (!ok_ || offset > data_.size()) {
    ok_ = false;
    return false;
  }
  pos_ = offset;
  return true;
}

}  // namespace voxhall::protocol
