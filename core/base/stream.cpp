#include "base/stream.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>

namespace qovra {

bool TStream::ReadBuffer(void* buffer, size_t count) {
  auto* p = static_cast<char*>(buffer);
  size_t done = 0;
  while (done < count) {
    const size_t n = Read(p + done, count - done);
    if (n == 0) return false;
    done += n;
  }
  return true;
}

bool TStream::WriteBuffer(const void* buffer, size_t count) {
  const auto* p = static_cast<const char*>(buffer);
  size_t done = 0;
  while (done < count) {
    const size_t n = Write(p + done, count - done);
    if (n == 0) return false;
    done += n;
  }
  return true;
}

size_t TMemoryStream::Read(void* buffer, size_t count) {
  if (pos_ >= data_.size()) return 0;
  const size_t n = std::min(count, data_.size() - pos_);
  std::memcpy(buffer, data_.data() + pos_, n);
  pos_ += n;
  return n;
}

size_t TMemoryStream::Write(const void* buffer, size_t count) {
  if (count == 0) return 0;
  if (count > data_.max_size() - pos_) return 0;
  if (pos_ + count > data_.size()) {
    try {
      data_.resize(pos_ + count);
    } catch (const std::exception&) {
      return 0;
    }
  }
  std::memcpy(data_.data() + pos_, buffer, count);
  pos_ += count;
  return count;
}

int64_t TMemoryStream::Seek(int64_t offset, SeekOrigin origin) {
  int64_t base = 0;
  switch (origin) {
    case SeekOrigin::Beginning:
      base = 0;
      break;
    case SeekOrigin::Current:
      base = static_cast<int64_t>(pos_);
      break;
    case SeekOrigin::End:
      base = static_cast<int64_t>(data_.size());
      break;
  }
  if ((offset > 0 && base > std::numeric_limits<int64_t>::max() - offset) || base + offset < 0) {
    return -1;
  }
  pos_ = static_cast<size_t>(base + offset);
  return base + offset;
}

bool TMemoryStream::SetSize(int64_t size) {
  if (size < 0 || static_cast<uint64_t>(size) > data_.max_size()) return false;
  try {
    data_.resize(static_cast<size_t>(size));
  } catch (const std::exception&) {
    return false;
  }
  if (pos_ > data_.size()) pos_ = data_.size();
  return true;
}

}  // namespace qovra
