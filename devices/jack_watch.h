#pragma once
// PortAudio's JACK host API (19.6) stops and opens streams by waiting up to
// ten minutes for a process cycle of its JACK client, and its clean-up
// asserts that port and client calls succeed. Once the JACK server has gone
// away neither holds: stopping the dead stream hangs, closing it aborts the
// process. So the library's JACK client is watched, process-wide: this file
// puts its own jack_on_shutdown, jack_port_unregister, jack_deactivate and
// jack_client_close in front of libjack's (found again with dlsym). The
// client's shutdown notice is kept, sent again while a stream call waits for
// a cycle that will never come, and the clean-up calls on the dead client
// are let through. Every other JACK client of the process passes straight on.

#include <atomic>
#include <chrono>
#include <thread>

namespace ondelith {

// Between these two calls, on one thread, the JACK client that registers a
// shutdown callback is the one watched: call them around Pa_Initialize.
void startCapturingJackClient();
void stopCapturingJackClient();

// Whether the watched client's server has gone away.
bool jackServerLost();

// Hands the kept shutdown notice to the library again, if its server is lost.
void repeatJackShutdownNotice();

// Runs a library call that may wait for a JACK cycle; if the server is gone,
// or goes while it waits, the kept shutdown notice ends the wait.
template <typename F>
auto withJackWatch(F call) {
  std::atomic<bool> done{false};
  std::thread waker([&done] {
    while (!done.load()) {
      repeatJackShutdownNotice();
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  });
  const auto result = call();
  done.store(true);
  waker.join();
  return result;
}

}  // namespace ondelith
