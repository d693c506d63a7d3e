#include "platform/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace ondelith {

namespace {

bool fail(std::string* error, const std::string& what) {
  if (error) *error = what + ": " + std::strerror(errno);
  return false;
}

// The permissions a newly created file gets under the process's umask.
mode_t newFileMode() {
  const mode_t mask = umask(022);
  umask(mask);
  return 0666 & ~mask;
}

}  // namespace

bool writeFileAtomically(const std::string& path, std::string_view data, std::string* error) {
  const size_t slash = path.rfind('/');
  const std::string dir = slash == std::string::npos ? "" : path.substr(0, slash + 1);
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  if (name.empty()) {
    errno = EISDIR;
    return fail(error, "not a file name");
  }
  std::string temp = dir + "." + name + ".XXXXXX";
  std::vector<char> pattern(temp.begin(), temp.end());
  pattern.push_back('\0');
  const int fd = mkstemp(pattern.data());
  if (fd < 0) return fail(error, "cannot create a file in the folder");
  temp.assign(pattern.data());

  const auto abandon = [&](const std::string& what) {
    const int saved = errno;
    close(fd);
    unlink(temp.c_str());
    errno = saved;
    return fail(error, what);
  };
  if (fchmod(fd, newFileMode()) != 0) return abandon("cannot set permissions");
  size_t written = 0;
  while (written < data.size()) {
    const ssize_t n = write(fd, data.data() + written, data.size() - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return abandon("cannot write");
    written += static_cast<size_t>(n);
  }
  if (fsync(fd) != 0) return abandon("cannot flush to disk");
  if (close(fd) != 0) {
    const int saved = errno;
    unlink(temp.c_str());
    errno = saved;
    return fail(error, "cannot close");
  }
  if (rename(temp.c_str(), path.c_str()) != 0) {
    const int saved = errno;
    unlink(temp.c_str());
    errno = saved;
    return fail(error, "cannot replace the file");
  }
  return true;
}

bool readFileInPieces(const std::string& path,
                      const std::function<bool(const char*, size_t)>& consume, std::string* error) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return fail(error, "cannot open");
  struct stat st {};
  if (fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
    if (S_ISDIR(st.st_mode)) errno = EISDIR;
    const int saved = errno;
    close(fd);
    errno = saved;
    return fail(error, "cannot read");
  }
  char buffer[65536];
  for (;;) {
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      const int saved = errno;
      close(fd);
      errno = saved;
      return fail(error, "cannot read");
    }
    if (n == 0 || !consume(buffer, static_cast<size_t>(n))) break;
  }
  close(fd);
  return true;
}

}  // namespace ondelith
