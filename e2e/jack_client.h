#pragma once
// What the end-to-end JACK clients share: a client on the server named by
// JACK_DEFAULT_SERVER that never starts a server of its own and keeps the
// library's chatter off stderr, and a stop flag for SIGINT, SIGTERM and the
// server's going away.

#include <jack/jack.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <string>

namespace ondelith::e2e {

inline std::atomic<bool> stopRequested{false};
inline std::atomic<bool> serverGone{false};

inline void quietJack() {
  jack_set_error_function([](const char*) {});
  jack_set_info_function([](const char*) {});
}

inline void stopOnSignals() {
  struct sigaction action {};
  action.sa_handler = [](int) { stopRequested.store(true); };
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

// Null with a message on stderr when no server answers.
inline jack_client_t* openClient(const std::string& name, const char* tool) {
  quietJack();
  jack_status_t status{};
  jack_client_t* client = jack_client_open(name.c_str(), JackNoStartServer, &status);
  if (!client) std::fprintf(stderr, "%s: no JACK server (status 0x%x)\n", tool, status);
  if (client)
    jack_on_shutdown(
        client,
        [](void*) {
          serverGone.store(true);
          stopRequested.store(true);
        },
        nullptr);
  return client;
}

// Connects source to destination; false with a message on stderr.
inline bool connectPorts(jack_client_t* client, const std::string& source,
                         const std::string& destination, const char* tool) {
  const int result = jack_connect(client, source.c_str(), destination.c_str());
  if (result == 0 || result == EEXIST) return true;
  std::fprintf(stderr, "%s: cannot connect %s to %s\n", tool, source.c_str(), destination.c_str());
  return false;
}

}  // namespace ondelith::e2e
