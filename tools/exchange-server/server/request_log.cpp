#include "request_log.h"

#include <fcntl.h>
#include <unistd.h>

#include <mutex>

namespace exchange {

void AppendRequestLog(const std::string& data_dir, std::string_view xml) {
  std::string line;
  line.reserve(xml.size() + 1);
  for (char c : xml) {
    if (c == '\n')
      line += "&#10;";
    else
      line += c;
  }
  line += '\n';
  const std::string path = data_dir + "/" + kRequestLogName;
  // Lines of requests served at once stay whole.
  static std::mutex mutex;
  std::lock_guard<std::mutex> lock(mutex);
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
  if (fd < 0) return;
  for (size_t done = 0; done < line.size();) {
    const ssize_t n = ::write(fd, line.data() + done, line.size() - done);
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  ::close(fd);
}

}  // namespace exchange
