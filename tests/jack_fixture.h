#pragma once
// A JACK server of a test's own (dummy back end) and other programs on it,
// shared by the suites that play through real devices.

#include <fcntl.h>
#include <jack/jack.h>
#include <jack/midiport.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace ondelith::test {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

inline double secondsSince(Clock::time_point t) {
  return std::chrono::duration<double>(Clock::now() - t).count();
}

inline bool waitFor(const std::function<bool()>& done, std::chrono::milliseconds limit = 3000ms) {
  const auto end = Clock::now() + limit;
  while (!done()) {
    if (Clock::now() > end) return false;
    std::this_thread::sleep_for(5ms);
  }
  return true;
}

// A name no server uses.
inline std::string unusedServerName() {
  return "ondelith-devtest-none-" + std::to_string(getpid());
}

// Clients find the server through the environment, as the app's libraries do.
inline void useServer(const std::string& name) {
  setenv("JACK_DEFAULT_SERVER", name.c_str(), 1);
  setenv("JACK_NO_START_SERVER", "1", 1);
}

// A jackd of the test's own. It dies with the test process, even on a crash.
// JACK keeps at most eight servers in its registry and frees the entry of a
// server that died without leaving only when one of the same name starts; so
// names come from a small set, each held through a lock file by one test
// process at a time, and a crashed run's entry is taken over by the next.
class JackServer {
 public:
  explicit JackServer(int rate = 44100, int period = 256)
      : rate_(std::to_string(rate)), period_(std::to_string(period)) {
    for (int k = 0; k < 16 && name_.empty(); ++k) {
      const std::string lock = "/tmp/ondelith-devtest-jack-" + std::to_string(k) + ".lock";
      lockFd_ = ::open(lock.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
      if (lockFd_ >= 0 && flock(lockFd_, LOCK_EX | LOCK_NB) == 0) {
        name_ = "ondelith-devtest-" + std::to_string(k);
      } else if (lockFd_ >= 0) {
        ::close(lockFd_);
        lockFd_ = -1;
      }
    }
  }
  ~JackServer() {
    stop();
    if (lockFd_ >= 0) ::close(lockFd_);
  }
  JackServer(const JackServer&) = delete;
  JackServer& operator=(const JackServer&) = delete;

  // Starts jackd and waits until it takes clients; retries while the
  // registry is full (other test runs).
  bool start() {
    if (name_.empty()) return false;
    // Servers share the machine's JACK state (a registry of shared memory,
    // the metadata store), which starting servers rewrite: one start at a
    // time, should test processes ever run side by side.
    const int startLock =
        ::open("/tmp/ondelith-devtest-jack-start.lock", O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (startLock >= 0) flock(startLock, LOCK_EX);
    const bool up = startUnlocked();
    if (startLock >= 0) ::close(startLock);
    return up;
  }

  void stop() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    if (!waitFor([this] { return waitpid(pid_, nullptr, WNOHANG) == pid_; }, 5000ms)) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    pid_ = -1;
  }

  const std::string& name() const { return name_; }

 private:
  bool startUnlocked() {
    const auto end = Clock::now() + 30s;
    while (Clock::now() < end) {
      if (launch()) return true;
      std::this_thread::sleep_for(200ms);
    }
    return false;
  }

  bool launch() {
    // The name is ours; a socket left under it is a dead server's.
    std::error_code ignored;
    std::filesystem::remove(socketPath(), ignored);
    const pid_t parent = getpid();
    pid_ = fork();
    if (pid_ == 0) {
      prctl(PR_SET_PDEATHSIG, SIGKILL);
      if (getppid() != parent) _exit(1);
      freopen("/dev/null", "w", stdout);
      freopen("/dev/null", "w", stderr);
      execlp("jackd", "jackd", "-n", name_.c_str(), "-d", "dummy", "-r", rate_.c_str(), "-p",
             period_.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    if (pid_ < 0) return false;
    bool exited = false;
    const bool up = waitFor(
        [&] {
          if (waitpid(pid_, nullptr, WNOHANG) == pid_) return exited = true;
          return std::filesystem::exists(socketPath()) && probe();
        },
        10000ms);
    if (up && !exited) return true;
    if (!exited) stop();
    pid_ = -1;
    return false;
  }

  // The server's request socket, which appears once its shared state (the
  // metadata store every JACK program maps) is set up. A client that comes
  // sooner may set that store up itself, racing the server: a program then
  // dies of SIGBUS, and an interrupted store kills every later one.
  std::string socketPath() const {
    return "/dev/shm/jack_" + name_ + "_" + std::to_string(getuid()) + "_0";
  }

  // Whether a client can open on the server, asked from a child process so
  // that a SIGBUS ends the child, not the test.
  bool probe() const {
    const pid_t child = fork();
    if (child == 0) {
      jack_status_t status;
      jack_client_t* c =
          jack_client_open("probe", static_cast<jack_options_t>(JackNoStartServer | JackServerName),
                           &status, name_.c_str());
      if (!c) _exit(1);
      jack_client_close(c);
      _exit(0);
    }
    if (child < 0) return false;
    int status = 0;
    if (waitpid(child, &status, 0) != child) return false;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
  }

  std::string rate_, period_;
  std::string name_;
  int lockFd_ = -1;
  pid_t pid_ = -1;
};

// Another program on the server: audio inputs that count the non-zero samples
// reaching them (PortAudio lists it as an output device), and a MIDI output
// that sends queued messages in its next cycle.
class TestClient {
 public:
  TestClient(const std::string& name, int audioInputs, bool midiOutput) {
    // JACK's registry of shared memory is one for every server on the
    // machine; while another test's server starts, an open can fail once.
    for (int attempt = 0; attempt < 20 && !client_; ++attempt) {
      if (attempt > 0) std::this_thread::sleep_for(100ms);
      client_ = jack_client_open(name.c_str(), JackNoStartServer, &status_);
    }
    if (!client_) return;
    for (int i = 0; i < audioInputs; ++i)
      audioIn_.push_back(jack_port_register(client_, ("in_" + std::to_string(i + 1)).c_str(),
                                            JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, 0));
    if (midiOutput)
      midiOut_ = jack_port_register(client_, "out", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
    jack_set_process_callback(client_, &TestClient::process, this);
    jack_activate(client_);
  }
  ~TestClient() { close(); }
  TestClient(const TestClient&) = delete;
  TestClient& operator=(const TestClient&) = delete;

  bool ok() const { return client_ != nullptr; }
  jack_status_t status() const { return status_; }
  void close() {
    if (client_) jack_client_close(client_);
    client_ = nullptr;
  }
  void send(std::vector<unsigned char> bytes) {
    std::lock_guard<std::mutex> lock(mutex_);
    pending_.push_back(std::move(bytes));
  }
  // Events the server's MIDI buffer had no room for.
  long unsent() const { return unsent_.load(); }
  long nonZeroSamples() const { return nonZero_.load(); }
  // The ports of other programs that this client's ports are connected to.
  std::vector<std::string> connections() const {
    std::vector<std::string> names;
    std::vector<jack_port_t*> ports = audioIn_;
    if (midiOut_) ports.push_back(midiOut_);
    for (jack_port_t* port : ports) {
      const char** c = jack_port_get_connections(port);
      for (int i = 0; c && c[i]; ++i) names.push_back(c[i]);
      jack_free(c);
    }
    return names;
  }

 private:
  static int process(jack_nframes_t frames, void* arg) {
    auto* self = static_cast<TestClient*>(arg);
    for (jack_port_t* port : self->audioIn_) {
      const auto* in = static_cast<const float*>(jack_port_get_buffer(port, frames));
      long n = 0;
      for (jack_nframes_t i = 0; i < frames; ++i) n += in[i] != 0.0f;
      self->nonZero_.fetch_add(n);
    }
    if (self->midiOut_) {
      void* buffer = jack_port_get_buffer(self->midiOut_, frames);
      jack_midi_clear_buffer(buffer);
      std::unique_lock<std::mutex> lock(self->mutex_, std::try_to_lock);
      if (lock.owns_lock()) {
        for (const auto& m : self->pending_)
          if (jack_midi_event_write(buffer, 0, m.data(), m.size()) != 0) self->unsent_.fetch_add(1);
        self->pending_.clear();
      }
    }
    return 0;
  }

  jack_client_t* client_ = nullptr;
  jack_status_t status_{};
  std::vector<jack_port_t*> audioIn_;
  jack_port_t* midiOut_ = nullptr;
  std::mutex mutex_;
  std::vector<std::vector<unsigned char>> pending_;
  std::atomic<long> nonZero_{0};
  std::atomic<long> unsent_{0};
};

// Closes a client on a thread of its own, waiting `limit` at most: closing
// one while another client plays has hung inside the library under the race
// detector. False when it did not return in time (the thread is left).
inline bool closeClient(jack_client_t* client, std::chrono::milliseconds limit = 3000ms) {
  auto done = std::make_shared<std::atomic<bool>>(false);
  std::thread([client, done] {
    jack_client_close(client);
    done->store(true);
  }).detach();
  return waitFor([&] { return done->load(); }, limit);
}

// The full names of the ports `port` is connected to, sorted.
inline std::vector<std::string> connectionsOf(jack_client_t* client, const std::string& port) {
  std::vector<std::string> names;
  jack_port_t* p = jack_port_by_name(client, port.c_str());
  const char** c = p ? jack_port_get_all_connections(client, p) : nullptr;
  for (int i = 0; c && c[i]; ++i) names.emplace_back(c[i]);
  if (c) jack_free(c);
  std::sort(names.begin(), names.end());
  return names;
}

// Every port on the server whose client's name begins with `prefix`.
inline std::vector<std::string> portsOf(jack_client_t* client, const std::string& prefix) {
  std::vector<std::string> names;
  const char** p = jack_get_ports(client, nullptr, nullptr, 0);
  for (int i = 0; p && p[i]; ++i)
    if (std::string(p[i]).starts_with(prefix)) names.emplace_back(p[i]);
  if (p) jack_free(p);
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace ondelith::test
