#include "platform/exit_file.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>

namespace ondelith {

namespace {

constexpr int kEndingSignals[] = {SIGTERM, SIGHUP, SIGINT};

char targetPath[PATH_MAX];
char temporaryPath[PATH_MAX];
// Two buffers: the one a handler may be reading is never the one being filled.
char buffers[2][kMaxExitFileBytes];
size_t sizes[2];
std::atomic<int> active{-1};      // the buffer a signal writes, -1 for none yet
std::atomic<bool> ending{false};  // a handler runs: the buffers hold still
static_assert(std::atomic<int>::is_always_lock_free && std::atomic<bool>::is_always_lock_free);

bool writeAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

extern "C" void writeExitFileAndEnd(int signal) {
  ending.store(true);
  const int from = active.load();
  if (from >= 0 && targetPath[0]) {
    const int fd = ::open(temporaryPath, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd >= 0) {
      bool ok = writeAll(fd, buffers[from], sizes[from]) && ::fsync(fd) == 0;
      ok = ::close(fd) == 0 && ok;
      if (!ok || ::rename(temporaryPath, targetPath) != 0) ::unlink(temporaryPath);
    }
  }
  ::signal(signal, SIG_DFL);
  ::raise(signal);  // delivered as the handler returns, with the default action
}

}  // namespace

bool writeFileOnEndingSignals(const std::string& path) {
  const size_t slash = path.rfind('/');
  // Hidden beside the target, and this process's own.
  const std::string temporary = path.substr(0, slash + 1) + "." +
                                path.substr(slash == std::string::npos ? 0 : slash + 1) + "." +
                                std::to_string(::getpid());
  if (path.empty() || temporary.size() >= PATH_MAX) return false;
  std::memcpy(targetPath, path.c_str(), path.size() + 1);
  std::memcpy(temporaryPath, temporary.c_str(), temporary.size() + 1);
  struct sigaction action {};
  action.sa_handler = writeExitFileAndEnd;
  sigemptyset(&action.sa_mask);
  for (int s : kEndingSignals) sigaddset(&action.sa_mask, s);  // one handler at a time
  for (int s : kEndingSignals) {
    struct sigaction before {};
    // A signal the process was started ignoring (nohup) stays ignored.
    if (sigaction(s, nullptr, &before) == 0 && before.sa_handler == SIG_IGN) continue;
    sigaction(s, &action, nullptr);
  }
  return true;
}

bool setExitFileBytes(std::string_view bytes) {
  if (bytes.size() > kMaxExitFileBytes || ending.load()) return false;
  const int next = active.load() == 0 ? 1 : 0;
  std::memcpy(buffers[next], bytes.data(), bytes.size());
  sizes[next] = bytes.size();
  active.store(next);
  return true;
}

std::string exitFileBytes() {
  const int from = active.load();
  return from < 0 ? std::string() : std::string(buffers[from], sizes[from]);
}

}  // namespace ondelith
