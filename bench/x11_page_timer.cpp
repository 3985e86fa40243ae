// SPDX-License-Identifier: GPL-2.0-or-later
// x11_page_timer: how long a picture viewer in a real X11 window takes to
// show a page, timed by watching the screen's pixels (the way a reader sees
// it), for bench/viewer_x11.sh.
//
//   x11_page_timer key X Y W H KEYS [SETTLE_MS]
//     takes the region (X, Y, W, H of the root window) as it is, sends the
//     keys (KEYSYM names joined by "+", modifiers first: "KP_Add",
//     "ctrl+minus"; pressed in order, released in reverse, through XTEST),
//     and watches the region.
//   x11_page_timer start X Y W H SETTLE_MS -- PROGRAM ARGS...
//     starts the program and watches the region from that moment; at the
//     end the program is stopped (SIGTERM, then SIGKILL) unless
//     X11_TIMER_KEEP=1, when its process id is printed instead.
//
// Either way it prints one line of milliseconds from the key or the start:
//   first=T   the first change of any pixel of the region
//   picture=T the first time the region holds a picture: its sampled levels
//             spread over more than 48 (not one flat colour: an empty window,
//             a blank page of the page's shape)
//   settled=T the last change before the region stayed unchanged for
//             SETTLE_MS (default 500): the page fully painted
//   rss_kb=N  (start) the program's resident memory when it settled
// or "timeout" after 30 s without a settled picture.
//
// The region is read with MIT-SHM, so one look at a 1400 x 1000 screen costs
// about a millisecond of copying, and the looks follow each other at once.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>
#include <X11/extensions/XTest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/ipc.h>
#include <sys/shm.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double MsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// The region of the root window through a shared-memory image.
class ScreenArea {
 public:
  ScreenArea(Display* display, int x, int y, int w, int h) : m_display(display), m_x(x), m_y(y) {
    const int screen = DefaultScreen(display);
    m_image = XShmCreateImage(display, DefaultVisual(display, screen),
                              static_cast<unsigned>(DefaultDepth(display, screen)), ZPixmap,
                              nullptr, &m_shm, static_cast<unsigned>(w), static_cast<unsigned>(h));
    if (m_image == nullptr) return;
    m_shm.shmid =
        shmget(IPC_PRIVATE, static_cast<size_t>(m_image->bytes_per_line) * h, IPC_CREAT | 0600);
    m_shm.shmaddr = m_image->data = static_cast<char*>(shmat(m_shm.shmid, nullptr, 0));
    m_shm.readOnly = False;
    XShmAttach(display, &m_shm);
    XSync(display, False);
    shmctl(m_shm.shmid, IPC_RMID, nullptr);  // gone once both sides detach
  }
  ~ScreenArea() {
    if (m_image == nullptr) return;
    XShmDetach(m_display, &m_shm);
    XDestroyImage(m_image);
    shmdt(m_shm.shmaddr);
  }
  ScreenArea(const ScreenArea&) = delete;
  ScreenArea& operator=(const ScreenArea&) = delete;

  bool Valid() const { return m_image != nullptr; }

  // The region now.
  std::vector<uint8_t> Look() {
    XShmGetImage(m_display, DefaultRootWindow(m_display), m_image, m_x, m_y, AllPlanes);
    const auto* data = reinterpret_cast<const uint8_t*>(m_image->data);
    return {data, data + static_cast<size_t>(m_image->bytes_per_line) * m_image->height};
  }

  // True when the green levels of every 7th pixel spread over more than 48.
  bool HoldsPicture(const std::vector<uint8_t>& pixels) const {
    int low = 255, high = 0;
    for (size_t i = 1; i + 4 <= pixels.size(); i += 4 * 7) {
      low = std::min<int>(low, pixels[i]);
      high = std::max<int>(high, pixels[i]);
    }
    return high - low > 48;
  }

 private:
  Display* m_display;
  int m_x, m_y;
  XImage* m_image = nullptr;
  XShmSegmentInfo m_shm{};
};

struct Watched {
  double first = -1, picture = -1, settled = -1;
};

// Looks at the region until it has not changed for `settleMs` after a
// first change and a picture, or 30 s.
Watched Watch(ScreenArea& region, std::vector<uint8_t> before, Clock::time_point start,
              double settleMs) {
  Watched w;
  double lastChange = -1;
  while (MsSince(start) < 30000) {
    std::vector<uint8_t> now = region.Look();
    const double t = MsSince(start);
    if (now != before) {
      if (w.first < 0) w.first = t;
      lastChange = t;
      before = std::move(now);
      if (w.picture < 0 && region.HoldsPicture(before)) w.picture = t;
    } else if (w.first >= 0 && w.picture >= 0 && t - lastChange >= settleMs) {
      w.settled = lastChange;
      return w;
    }
  }
  return w;
}

long ResidentKb(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
  }
  return -1;
}

int Print(const Watched& w, long rssKb) {
  if (w.settled < 0) {
    std::printf("timeout\n");
    return 1;
  }
  std::printf("first=%.1f picture=%.1f settled=%.1f", w.first, w.picture, w.settled);
  if (rssKb >= 0) std::printf(" rss_kb=%ld", rssKb);
  std::printf("\n");
  return 0;
}

int Usage() {
  std::fprintf(stderr,
               "usage: x11_page_timer key X Y W H KEYS [SETTLE_MS]\n"
               "       x11_page_timer start X Y W H SETTLE_MS -- PROGRAM ARGS...\n");
  return 2;
}

// The key codes of "ctrl+minus", "KP_Add", ...: modifiers first, then the key.
std::vector<KeyCode> KeyCodes(Display* display, std::string_view keys) {
  std::vector<KeyCode> codes;
  size_t from = 0;
  while (from <= keys.size()) {
    size_t to = keys.find('+', from);
    if (to == std::string_view::npos) to = keys.size();
    std::string name(keys.substr(from, to - from));
    if (name == "ctrl") name = "Control_L";
    if (name == "shift") name = "Shift_L";
    if (name == "alt") name = "Alt_L";
    const KeySym sym = XStringToKeysym(name.c_str());
    const KeyCode code = sym == NoSymbol ? 0 : XKeysymToKeycode(display, sym);
    if (code == 0) return {};
    codes.push_back(code);
    from = to + 1;
  }
  return codes;
}

int PressKey(Display* display, ScreenArea& region, const char* keys, double settle) {
  const std::vector<KeyCode> codes = KeyCodes(display, keys);
  if (codes.empty()) return Usage();
  std::vector<uint8_t> before = region.Look();
  const Clock::time_point start = Clock::now();
  for (const KeyCode code : codes) XTestFakeKeyEvent(display, code, True, CurrentTime);
  for (auto it = codes.rbegin(); it != codes.rend(); ++it) {
    XTestFakeKeyEvent(display, *it, False, CurrentTime);
  }
  XFlush(display);
  return Print(Watch(region, std::move(before), start, settle), -1);
}

int StartProgram(ScreenArea& region, char** argv, double settle) {
  std::vector<uint8_t> before = region.Look();
  const Clock::time_point start = Clock::now();
  const pid_t pid = fork();
  if (pid == 0) {
    // The program's output goes nowhere: a kept program must not hold the
    // caller's pipe open (a shell's $(...) waits for every writer of it).
    const int null = open("/dev/null", O_WRONLY);
    if (null >= 0) {
      dup2(null, STDOUT_FILENO);
      dup2(null, STDERR_FILENO);
      close(null);
    }
    execvp(argv[0], argv);
    _exit(127);
  }
  if (pid < 0) return 1;
  const Watched w = Watch(region, std::move(before), start, settle);
  const long rss = ResidentKb(pid);
  const char* keep = std::getenv("X11_TIMER_KEEP");
  if (keep != nullptr && std::string_view(keep) == "1") {
    std::printf("pid=%d ", static_cast<int>(pid));
  } else {
    kill(pid, SIGTERM);
    for (int i = 0; i < 50 && waitpid(pid, nullptr, WNOHANG) == 0; ++i) usleep(20000);
    if (waitpid(pid, nullptr, WNOHANG) == 0) {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
    }
  }
  return Print(w, rss);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 7) return Usage();
  const std::string_view mode = argv[1];
  const int x = std::atoi(argv[2]), y = std::atoi(argv[3]);
  const int w = std::atoi(argv[4]), h = std::atoi(argv[5]);
  Display* display = XOpenDisplay(nullptr);
  if (display == nullptr || !XShmQueryExtension(display)) {
    std::fprintf(stderr, "x11_page_timer: no display with MIT-SHM\n");
    return 2;
  }
  ScreenArea region(display, x, y, w, h);
  if (!region.Valid() || w <= 0 || h <= 0) return Usage();
  if (mode == "key") return PressKey(display, region, argv[6], argc > 7 ? std::atof(argv[7]) : 500);
  if (mode == "start" && argc > 9 && std::string_view(argv[7]) == "--") {
    return StartProgram(region, argv + 8, std::atof(argv[6]));
  }
  return Usage();
}
