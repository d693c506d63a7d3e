// Starts a program and prints how many milliseconds passed until its first
// top-level window was mapped on the X display, then ends it.
//   map_watch [timeout-ms] -- program args...
// Exit status 0 with the figure on stdout; 1 when no window came in time.
#include <X11/Xlib.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

double msSince(std::chrono::steady_clock::time_point t) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t).count();
}

void endChild(pid_t child) {
  kill(child, SIGTERM);
  for (int i = 0; i < 300; ++i) {
    if (waitpid(child, nullptr, WNOHANG) == child) return;
    usleep(10000);
  }
  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
}

}  // namespace

int main(int argc, char** argv) {
  int first = 1;
  long timeoutMs = 20000;
  if (first < argc && std::strcmp(argv[first], "--") != 0) timeoutMs = std::atol(argv[first++]);
  if (first < argc && std::strcmp(argv[first], "--") == 0) ++first;
  if (first >= argc) {
    std::fprintf(stderr, "usage: map_watch [timeout-ms] -- program args...\n");
    return 2;
  }
  Display* display = XOpenDisplay(nullptr);
  if (!display) {
    std::fprintf(stderr, "map_watch: no X display\n");
    return 2;
  }
  // Subscribed before the child exists, so no map can slip by.
  XSelectInput(display, DefaultRootWindow(display), SubstructureNotifyMask);
  XSync(display, False);
  const auto start = std::chrono::steady_clock::now();
  const pid_t child = fork();
  if (child == 0) {
    execvp(argv[first], argv + first);
    _exit(127);
  }
  pollfd fd{ConnectionNumber(display), POLLIN, 0};
  double mappedMs = -1;
  while (mappedMs < 0 && msSince(start) < timeoutMs) {
    while (XPending(display)) {
      XEvent e;
      XNextEvent(display, &e);
      // Menus and tooltips are override-redirect; the main window is not.
      if (e.type == MapNotify && !e.xmap.override_redirect) {
        mappedMs = msSince(start);
        break;
      }
    }
    if (mappedMs < 0) {
      if (waitpid(child, nullptr, WNOHANG) == child) {
        std::fprintf(stderr, "map_watch: %s ended before any window\n", argv[first]);
        XCloseDisplay(display);
        return 1;
      }
      poll(&fd, 1, 5);
    }
  }
  endChild(child);
  XCloseDisplay(display);
  if (mappedMs < 0) {
    std::fprintf(stderr, "map_watch: no window within %ld ms\n", timeoutMs);
    return 1;
  }
  std::printf("%.1f\n", mappedMs);
  return 0;
}
