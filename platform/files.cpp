#include "platform/files.h"

#include <dirent.h>
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string_view>
#include <vector>

namespace ondelith {

std::string userDataDirectory() {
  const char* data = std::getenv("XDG_DATA_HOME");
  const char* home = std::getenv("HOME");
  std::string base;
  if (data && data[0] == '/')
    base = data;
  else if (home && home[0])
    base = std::string(home) + "/.local/share";
  else
    return {};
  if (base.back() != '/') base += '/';
  return base + "Ondelith/";
}

std::string userSoundsDirectory() {
  const std::string data = userDataDirectory();
  return data.empty() ? std::string() : data + "sounds/";
}

namespace {

bool fail(std::string* error, const std::string& what) {
  if (error) *error = what + ": " + std::strerror(errno);
  return false;
}

bool refuse(std::string* error, const std::string& what) {
  if (error) *error = what;
  return false;
}

// Why a file that exists is not one to read or to replace.
bool notRegular(const struct stat& st, std::string* error) {
  if (S_ISDIR(st.st_mode)) return refuse(error, "is a folder, not a file");
  if (S_ISFIFO(st.st_mode)) return refuse(error, "is a FIFO, not a regular file");
  if (S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode))
    return refuse(error, "is a device, not a regular file");
  if (S_ISSOCK(st.st_mode)) return refuse(error, "is a socket, not a regular file");
  return refuse(error, "is not a regular file");
}

// The permissions a newly created file gets under the process's umask.
mode_t newFileMode() {
  const mode_t mask = umask(022);
  umask(mask);
  return 0666 & ~mask;
}

// Where a write to `path` lands: the end of its chain of symbolic links.
// `exists` is false when nothing can be seen there; creating the file then
// reports whatever is in the way.
bool followLinks(const std::string& path, std::string& target, struct stat& st, bool& exists,
                 std::string* error) {
  std::string at = path;
  for (int hop = 0; hop < 40; ++hop) {
    exists = lstat(at.c_str(), &st) == 0;
    if (!exists || !S_ISLNK(st.st_mode)) {
      target = at;
      return true;
    }
    std::vector<char> link(PATH_MAX + 1);
    const ssize_t n = readlink(at.c_str(), link.data(), link.size());
    if (n < 0) return fail(error, "cannot read the link");
    if (static_cast<size_t>(n) >= link.size()) {
      errno = ENAMETOOLONG;
      return fail(error, "cannot read the link");
    }
    const std::string next(link.data(), static_cast<size_t>(n));
    const size_t slash = at.rfind('/');
    at =
        next.starts_with('/') || slash == std::string::npos ? next : at.substr(0, slash + 1) + next;
  }
  errno = ELOOP;
  return fail(error, "cannot follow the link");
}

// The temporary files that a signal removes. The handler reads them without
// a lock, so a slot is filled before it is marked as holding a name.
constexpr int kSignalSlots = 8;
constexpr size_t kSlotBytes = PATH_MAX;
enum SlotState { kFree, kFilling, kHolding };
char slotPaths[kSignalSlots][kSlotBytes];
std::atomic<int> slotStates[kSignalSlots];
static_assert(std::atomic<int>::is_always_lock_free);

int claimSignalSlot(const std::string& temp) {
  if (temp.size() >= kSlotBytes) return -1;
  for (int i = 0; i < kSignalSlots; ++i) {
    int expected = kFree;
    if (!slotStates[i].compare_exchange_strong(expected, kFilling)) continue;
    std::memcpy(slotPaths[i], temp.c_str(), temp.size() + 1);
    slotStates[i].store(kHolding);
    return i;
  }
  return -1;
}

void releaseSignalSlot(int& slot) {
  if (slot >= 0) slotStates[slot].store(kFree);
  slot = -1;
}

extern "C" void removeTemporariesAndEnd(int signal) {
  for (int i = 0; i < kSignalSlots; ++i)
    if (slotStates[i].load() == kHolding) unlink(slotPaths[i]);
  ::signal(signal, SIG_DFL);
  raise(signal);  // delivered as the handler returns, with the default action
}

// Every signal whose default action ends the process. Those of a fault are
// taken only where nothing else (a sanitizer) handles them already.
constexpr int kEndingSignals[] = {SIGINT,  SIGTERM,   SIGHUP,  SIGQUIT, SIGABRT, SIGUSR1,
                                  SIGUSR2, SIGALRM,   SIGPIPE, SIGXFSZ, SIGXCPU, SIGVTALRM,
                                  SIGPROF, SIGSTKFLT, SIGPWR,  SIGIO,   SIGSYS,  SIGTRAP};
constexpr int kFaultSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL};

// Calls `use` with each signal a clean-up is for, the real-time ones too.
template <typename F>
void forEachCleanedSignal(F use) {
  for (int s : kEndingSignals) use(s, false);
  for (int s : kFaultSignals) use(s, true);
  for (int s = SIGRTMIN; s <= SIGRTMAX; ++s) use(s, false);
}

sigset_t cleanedSignals() {
  sigset_t set;
  sigemptyset(&set);
  forEachCleanedSignal([&set](int s, bool) { sigaddset(&set, s); });
  return set;
}

// The temporary file's name: hidden, beside the target, with the process's
// id (so that a later run can tell whether its writer still lives), and never
// longer than the target's own name where that is near the longest a folder
// takes. The part before the id.
std::string temporaryPrefix(const std::string& dir, const std::string& name) {
  const size_t unique = 1 + std::to_string(getpid()).size() + 7;  // ".PID.XXXXXX"
  const long longest = pathconf(dir.empty() ? "." : dir.c_str(), _PC_NAME_MAX);
  const size_t limit = longest > 0 ? static_cast<size_t>(longest) : NAME_MAX;
  std::string kept = name;
  if (1 + kept.size() + unique > limit) {
    kept.resize(name.size() > 1 + unique ? name.size() - 1 - unique : 0);
    // Cut between characters, not inside one.
    while (!kept.empty() && (static_cast<unsigned char>(name[kept.size()]) & 0xC0) == 0x80)
      kept.pop_back();
  }
  return "." + kept + ".";
}

std::string temporaryName(const std::string& dir, const std::string& name) {
  return dir + temporaryPrefix(dir, name) + std::to_string(getpid()) + ".XXXXXX";
}

bool allDigits(std::string_view s) {
  return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// Whether a process of that id runs (one of another user's counts too).
bool running(std::string_view digits) {
  if (digits.size() > 9) return false;
  const pid_t pid = static_cast<pid_t>(std::stol(std::string(digits)));
  return pid > 0 && (kill(pid, 0) == 0 || errno == EPERM);
}

// Whether `tail` (what follows the prefix) is of a temporary file whose
// writer is gone: "PID.XXXXXX" or "PID" (the signal's own) of a process
// that no longer runs; "XXXXXX" of earlier versions, untouched for a while.
bool staleTail(std::string_view tail, const struct stat& st) {
  constexpr time_t kUntouchedSeconds = 60;
  const size_t dot = tail.find('.');
  if (dot == std::string_view::npos && allDigits(tail)) return !running(tail);
  if (dot != std::string_view::npos && tail.size() - dot - 1 == 6 && allDigits(tail.substr(0, dot)))
    return !running(tail.substr(0, dot));
  const bool unique = tail.size() == 6 && std::all_of(tail.begin(), tail.end(), [](char c) {
                        return std::isalnum(static_cast<unsigned char>(c));
                      });
  return unique && st.st_mtime + kUntouchedSeconds < time(nullptr);
}

}  // namespace

bool AtomicFile::open(const std::string& path, std::string* error) {
  abandon();
  std::string target;
  struct stat st {};
  bool exists = false;
  if (!followLinks(path, target, st, exists, error)) return false;
  if (exists && !S_ISREG(st.st_mode)) return notRegular(st, error);
  const size_t slash = target.rfind('/');
  const std::string dir = slash == std::string::npos ? "" : target.substr(0, slash + 1);
  const std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
  if (name.empty()) {
    errno = EISDIR;
    return fail(error, "not a file name");
  }
  std::string pattern = temporaryName(dir, name);
  // A signal between creating the file and noting its name would leave it.
  const sigset_t cleaned = cleanedSignals();
  sigset_t old;
  pthread_sigmask(SIG_BLOCK, &cleaned, &old);
  const int fd = mkstemp(pattern.data());
  const int created = errno;
  if (fd >= 0) signalSlot_ = claimSignalSlot(pattern);
  pthread_sigmask(SIG_SETMASK, &old, nullptr);
  errno = created;
  if (fd < 0) return fail(error, "cannot create a file in the folder");
  fd_ = fd;
  temp_ = pattern;
  path_ = target;
  const auto failed = [&](const char* what) {
    const int saved = errno;
    abandon();
    errno = saved;
    return fail(error, what);
  };
  if (exists) {
    // The owner first: changing it may clear the set-id bits set below. Only
    // a privileged process may give a file away, so a refusal is no failure.
    struct stat made {};
    if (fstat(fd_, &made) == 0 && (made.st_uid != st.st_uid || made.st_gid != st.st_gid)) {
      const int refused = fchown(fd_, st.st_uid, st.st_gid);
      (void)refused;
    }
    if (fchmod(fd_, st.st_mode & 07777) != 0) return failed("cannot set permissions");
  } else if (fchmod(fd_, newFileMode()) != 0) {
    return failed("cannot set permissions");
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
  releaseSignalSlot(signalSlot_);
  temp_.clear();
  return true;
}

void AtomicFile::abandon() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
  if (!temp_.empty()) unlink(temp_.c_str());
  releaseSignalSlot(signalSlot_);
  temp_.clear();
}

bool mayReplace(const std::string& path, std::string* error) {
  std::string target;
  struct stat st {};
  bool exists = false;
  if (!followLinks(path, target, st, exists, error)) return false;
  if (!exists) return true;
  if (!S_ISREG(st.st_mode)) return notRegular(st, error);
  // Mode bits as well as access(): a privileged process may write anything,
  // yet a file marked read-only is one its owner meant to keep.
  if ((st.st_mode & 0222) == 0 || access(target.c_str(), W_OK) != 0)
    return refuse(error, "is read-only: it is not replaced");
  return true;
}

bool sameFile(const std::string& a, const std::string& b) {
  struct stat sa {};
  struct stat sb {};
  return stat(a.c_str(), &sa) == 0 && stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
         sa.st_ino == sb.st_ino;
}

void removeTemporaryFilesOnSignals() {
  struct sigaction action {};
  action.sa_handler = removeTemporariesAndEnd;
  action.sa_mask = cleanedSignals();  // one clean-up at a time
  forEachCleanedSignal([&action](int s, bool fault) {
    struct sigaction old {};
    if (sigaction(s, nullptr, &old) != 0) return;
    const bool handled = (old.sa_flags & SA_SIGINFO) || old.sa_handler != SIG_DFL;
    if (old.sa_handler == SIG_IGN || (fault && handled)) return;
    sigaction(s, &action, nullptr);
  });
}

int removeStaleTemporaryFiles(const std::string& path) {
  std::string target;
  struct stat st {};
  bool exists = false;
  if (!followLinks(path, target, st, exists, nullptr)) return 0;
  const size_t slash = target.rfind('/');
  const std::string dir = slash == std::string::npos ? "" : target.substr(0, slash + 1);
  const std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
  if (name.empty()) return 0;
  // Both the name as cut now and whole, as earlier versions wrote it.
  const std::string prefixes[] = {temporaryPrefix(dir, name), "." + name + "."};
  DIR* folder = opendir(dir.empty() ? "." : dir.c_str());
  if (!folder) return 0;
  int removed = 0;
  while (const dirent* entry = readdir(folder)) {
    const std::string_view found = entry->d_name;
    for (const std::string& prefix : prefixes) {
      if (!found.starts_with(prefix)) continue;
      const std::string at = dir + std::string(found);
      struct stat seen {};
      if (lstat(at.c_str(), &seen) != 0 || !S_ISREG(seen.st_mode)) break;
      if (staleTail(found.substr(prefix.size()), seen) && unlink(at.c_str()) == 0) ++removed;
      break;
    }
  }
  closedir(folder);
  return removed;
}

bool writeFileAtomically(const std::string& path, std::string_view data, std::string* error) {
  AtomicFile file;
  return file.open(path, error) && file.write(data, error) && file.commit(error);
}

InputFile::~InputFile() {
  if (fd_ >= 0) close(fd_);
}

bool InputFile::open(const std::string& path, std::string* error) {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
  size_ = 0;
  // Looked at before opening: opening a device can already do something.
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) return fail(error, "cannot open");
  if (!S_ISREG(st.st_mode)) return notRegular(st, error);
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return fail(error, "cannot open");
  if (fstat(fd, &st) != 0) {
    const int saved = errno;
    close(fd);
    errno = saved;
    return fail(error, "cannot read");
  }
  if (!S_ISREG(st.st_mode)) {  // replaced in between
    close(fd);
    return notRegular(st, error);
  }
  fd_ = fd;
  size_ = static_cast<uint64_t>(st.st_size);
  return true;
}

bool InputFile::read(char* data, size_t capacity, size_t& got, std::string* error) {
  got = 0;
  for (;;) {
    const ssize_t n = ::read(fd_, data, capacity);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return fail(error, "cannot read");
    got = static_cast<size_t>(n);
    return true;
  }
}

bool readFileInPieces(const std::string& path,
                      const std::function<bool(const char*, size_t)>& consume, std::string* error) {
  InputFile file;
  if (!file.open(path, error)) return false;
  char buffer[65536];
  for (;;) {
    size_t n = 0;
    if (!file.read(buffer, sizeof buffer, n, error)) return false;
    if (n == 0 || !consume(buffer, n)) return true;
  }
}

}  // namespace ondelith
