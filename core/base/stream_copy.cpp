#include "base/stream_copy.h"

#include <algorithm>
#include <vector>

#include "base/file_stream.h"

namespace qovra {

int64_t CopyFileWithProgress(std::u16string_view source, std::u16string_view dest,
                             TProgressProc progress, void* progress_data) {
  TEWFileStream in(source, false, false, fmOpenRead | fmShareDenyNone);
  if (!in.Opened()) return 0;
  TEWFileStream out(dest, false, false, fmCreate);
  if (!out.Opened()) return 0;
  const int64_t size = in.Size();
  ReportProgress(progress, progress_data, size, 0);
  std::vector<char> buffer(8192);
  int64_t copied = 0;
  for (;;) {
    const size_t n = in.Read(buffer.data(), buffer.size());
    if (n == 0) break;
    const size_t w = out.Write(buffer.data(), n);
    copied += static_cast<int64_t>(w);
    ReportProgress(progress, progress_data, size, copied);
    if (w < n) break;
  }
  return copied;
}

int64_t CopyStreamWithProgress(TStream& source, TStream& dest, TProgressProc progress,
                               void* progress_data) {
  const int64_t size = source.Size();
  if (size < 0 || !source.SetPosition(0)) return 0;
  ReportProgress(progress, progress_data, size, 0);
  const size_t block = static_cast<size_t>(std::min<int64_t>(size, 16384));
  if (block == 0) return 0;
  std::vector<char> buffer(block);
  int64_t total = 0;
  while (total < size) {
    const size_t want = static_cast<size_t>(std::min<int64_t>(size - total, block));
    const size_t n = source.Read(buffer.data(), want);
    if (n == 0) break;
    const size_t w = dest.Write(buffer.data(), n);
    total += static_cast<int64_t>(w);
    ReportProgress(progress, progress_data, size, total);
    if (w < n) break;
  }
  return total;
}

int64_t CopyStreamBytes(TStream& source, int64_t count, TStream& dest, void* progress_data,
                        TProgressProc progress) {
  if (count <= 0) return 0;
  ReportProgress(progress, progress_data, count, 0);
  const size_t block = static_cast<size_t>(std::min<int64_t>(count, 16384));
  std::vector<char> buffer(block);
  int64_t done = 0;
  while (done < count) {
    const size_t want = static_cast<size_t>(std::min<int64_t>(count - done, block));
    const size_t n = source.Read(buffer.data(), want);
    if (n == 0) break;
    const size_t w = dest.Write(buffer.data(), n);
    done += static_cast<int64_t>(w);
    ReportProgress(progress, progress_data, count, done);
    if (w < n) break;
  }
  return done;
}

}  // namespace qovra
