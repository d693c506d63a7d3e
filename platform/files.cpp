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

bool AtomicFile::open(const std::string& path, std::string* error) {
  abandon();
  const size_t slash = path.rfind('/');
  const std::string dir = slash == std::string::npos ? "" : path.substr(0, slash + 1);
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  if (name.empty()) {
    errno = EISDIR;
    return fail(error, "not a file name");
  }
  std::string pattern = dir + "." + name + ".XXXXXX";
  const int fd = mkstemp(pattern.data());
  if (fd < 0) return fail(error, "cannot create a file in the folder");
  fd_ = fd;
  temp_ = pattern;
  path_ = path;
  if (fchmod(fd_, newFileMode()) != 0) {
    const int saved = errno;
    abandon();
    errno = saved;
    return fail(error, "cannot set permissions");
  }
  return true;
}

bool AtomicFile::write(std::string_view data, std::string* error) {
  size_t written = 0;
  while (written < data.size()) {
    const ssize_t n = ::write(fd_, data.data() + written, data.size() - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return fail(error, "cannot write");
    written += static_cast<size_t>(n);
  }
  return true;
}

bool AtomicFile::commit(std::string* error) {
  if (fd_ < 0) {
    errno = EBADF;
    return fail(error, "nothing to write");
  }
  const auto failed = [&](const char* what) {
    const int saved = errno;
    abandon();
    errno = saved;
    return fail(error, what);
  };
  if (fsync(fd_) != 0) return failed("cannot flush to disk");
  const int fd = fd_;
  fd_ = -1;
  if (close(fd) != 0) return failed("cannot close");
  if (rename(temp_.c_str(), path_.c_str()) != 0) return failed("cannot replace the file");
  temp_.clear();
  return true;
}

void AtomicFile::abandon() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
  if (!temp_.empty()) unlink(temp_.c_str());
  temp_.clear();
}

bool writeFileAtomically(const std::string& path, std::string_view data, std::string* error) {
  AtomicFile file;
  return file.open(path, error) && file.write(data, error) && file.commit(error);
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
