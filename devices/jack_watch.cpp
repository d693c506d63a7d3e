#include "devices/jack_watch.h"

#include <dlfcn.h>
#include <jack/jack.h>

namespace {

struct JackWatch {
  std::atomic<jack_client_t*> client{nullptr};
  std::atomic<JackShutdownCallback> callback{nullptr};
  std::atomic<void*> arg{nullptr};
  std::atomic<bool> down{false};
};

JackWatch jackWatch;
// Only the library's own client is watched: the one it registers while this
// thread initialises it.
thread_local bool capturing = false;

template <typename F>
F realJack(const char* symbol) {
  return reinterpret_cast<F>(dlsym(RTLD_NEXT, symbol));
}

void onJackShutdown(void*) {
  jackWatch.down.store(true);
  if (auto cb = jackWatch.callback.load()) cb(jackWatch.arg.load());
}

bool isDeadClient(jack_client_t* client) {
  return client && client == jackWatch.client.load() && jackWatch.down.load();
}

}  // namespace

extern "C" {

void jack_on_shutdown(jack_client_t* client, JackShutdownCallback function, void* arg) {
  static const auto real =
      realJack<void (*)(jack_client_t*, JackShutdownCallback, void*)>("jack_on_shutdown");
  if (!real) return;
  if (!capturing) {
    real(client, function, arg);
    return;
  }
  jackWatch.callback.store(function);
  jackWatch.arg.store(arg);
  jackWatch.down.store(false);
  jackWatch.client.store(client);
  real(client, onJackShutdown, nullptr);
}

int jack_port_unregister(jack_client_t* client, jack_port_t* port) {
  static const auto real = realJack<int (*)(jack_client_t*, jack_port_t*)>("jack_port_unregister");
  if (isDeadClient(client)) return 0;  // the server took the port with it
  return real ? real(client, port) : -1;
}

int jack_deactivate(jack_client_t* client) {
  static const auto real = realJack<int (*)(jack_client_t*)>("jack_deactivate");
  if (isDeadClient(client)) return 0;
  return real ? real(client) : -1;
}

int jack_client_close(jack_client_t* client) {
  static const auto real = realJack<int (*)(jack_client_t*)>("jack_client_close");
  const bool dead = isDeadClient(client);
  const int result = real ? real(client) : -1;
  if (client && client == jackWatch.client.load()) {
    jackWatch.client.store(nullptr);
    jackWatch.callback.store(nullptr);
    jackWatch.down.store(false);
  }
  return dead ? 0 : result;  // the client's memory is released all the same
}

}  // extern "C"

namespace ondelith {

void startCapturingJackClient() { capturing = true; }
void stopCapturingJackClient() { capturing = false; }
bool jackServerLost() { return jackWatch.down.load(); }

void repeatJackShutdownNotice() {
  if (!jackWatch.down.load()) return;
  if (auto cb = jackWatch.callback.load()) cb(jackWatch.arg.load());
}

}  // namespace ondelith
