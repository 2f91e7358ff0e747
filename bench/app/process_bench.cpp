// Whole-process figures of the running program, each next to a yardstick:
//   - start-up: from fork to the program's first top-level window being
//     mapped on the X server, fwupdater against a minimal Qt window program;
//   - resident memory once the window is up, the same two programs;
//   - processor use of fwupdater sitting idle for 5 s.
// Uses $DISPLAY, or starts its own Xvfb. Prints figures and ratios.
//   app_process_bench FWUPDATER MIN_QT_WINDOW [ROUNDS]
#include <X11/Xlib.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

pid_t StartXvfb(std::string* display) {
  for (int n = 140; n < 200; ++n) {
    const std::string lock = "/tmp/.X" + std::to_string(n) + "-lock";
    if (access(lock.c_str(), F_OK) == 0) continue;
    const std::string name = ":" + std::to_string(n);
    const pid_t pid = fork();
    if (pid == 0) {
      const int null = open("/dev/null", O_RDWR);
      dup2(null, 1);
      dup2(null, 2);
      execlp("Xvfb", "Xvfb", name.c_str(), "-screen", "0", "1280x1024x24", "-nolisten", "tcp", nullptr);
      _exit(127);
    }
    const std::string socket = "/tmp/.X11-unix/X" + std::to_string(n);
    for (int i = 0; i < 100; ++i) {
      if (access(socket.c_str(), F_OK) == 0) {
        *display = name;
        return pid;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
  }
  return 0;
}

struct Child {
  pid_t pid = 0;
  Window window = 0;
  double startup = 0;  // seconds from fork to the map
};

// Starts `program` and waits (at most 20 s) for a top-level window to be mapped.
Child StartAndWaitForWindow(Display* display, const std::string& program) {
  Child child;
  XSelectInput(display, DefaultRootWindow(display), SubstructureNotifyMask);
  XSync(display, True);
  const Clock::time_point start = Clock::now();
  child.pid = fork();
  if (child.pid == 0) {
    const int null = open("/dev/null", O_RDWR);
    dup2(null, 1);
    dup2(null, 2);
    execl(program.c_str(), program.c_str(), nullptr);
    _exit(127);
  }
  const Clock::time_point deadline = start + std::chrono::seconds(20);
  while (Clock::now() < deadline) {
    while (XPending(display)) {
      XEvent event;
      XNextEvent(display, &event);
      if (event.type == MapNotify && !event.xmap.override_redirect) {
        child.window = event.xmap.window;
        child.startup = Seconds(Clock::now() - start);
        return child;
      }
    }
    pollfd p{ConnectionNumber(display), POLLIN, 0};
    poll(&p, 1, 50);
  }
  return child;
}

void Close(Display* display, Child& child) {
  if (child.window) {
    XEvent event;
    std::memset(&event, 0, sizeof event);
    event.xclient.type = ClientMessage;
    event.xclient.window = child.window;
    event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = long(XInternAtom(display, "WM_DELETE_WINDOW", False));
    XSendEvent(display, child.window, False, NoEventMask, &event);
    XSync(display, False);
  }
  for (int i = 0; i < 100; ++i) {
    if (waitpid(child.pid, nullptr, WNOHANG) == child.pid) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  // The minimal program ends on close too; anything still here is stopped.
  kill(child.pid, SIGKILL);
  waitpid(child.pid, nullptr, 0);
}

long ResidentKiB(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
  return -1;
}

// utime + stime of the process, in seconds.
double ProcessorSeconds(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string all((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
  const size_t close = all.rfind(')');
  if (close == std::string::npos) return -1;
  std::istringstream rest(all.substr(close + 2));
  std::string field;
  unsigned long long utime = 0, stime = 0;
  for (int i = 3; i <= 15 && rest >> field; ++i) {
    if (i == 14) utime = std::stoull(field);
    if (i == 15) stime = std::stoull(field);
  }
  return double(utime + stime) / double(sysconf(_SC_CLK_TCK));
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s FWUPDATER MIN_QT_WINDOW [ROUNDS]\n", argv[0]);
    return 2;
  }
  const std::string program = argv[1], yardstick = argv[2];
  const int rounds = argc > 3 ? std::max(1, std::atoi(argv[3])) : 5;

  pid_t xvfb = 0;
  if (!std::getenv("DISPLAY")) {
    std::string name;
    xvfb = StartXvfb(&name);
    if (!xvfb) {
      std::fprintf(stderr, "cannot start Xvfb\n");
      return 1;
    }
    setenv("DISPLAY", name.c_str(), 1);
  }
  unsetenv("QT_QPA_PLATFORM");  // a real X connection: windows must map
  Display* display = XOpenDisplay(nullptr);
  if (!display) {
    std::fprintf(stderr, "cannot open the display\n");
    return 1;
  }

  std::vector<double> startApp, startMin, rssApp, rssMin;
  double idlePercent = -1;
  bool failed = false;
  for (int round = 0; round < rounds && !failed; ++round) {
    for (int which = 0; which < 2; ++which) {
      const std::string& path = which == 0 ? program : yardstick;
      Child child = StartAndWaitForWindow(display, path);
      if (!child.window) {
        std::fprintf(stderr, "%s showed no window\n", path.c_str());
        failed = true;
      } else {
        std::this_thread::sleep_for(std::chrono::milliseconds(700));
        (which == 0 ? startApp : startMin).push_back(child.startup);
        (which == 0 ? rssApp : rssMin).push_back(double(ResidentKiB(child.pid)));
        if (which == 0 && round == 0) {
          const double before = ProcessorSeconds(child.pid);
          std::this_thread::sleep_for(std::chrono::seconds(5));
          idlePercent = (ProcessorSeconds(child.pid) - before) / 5.0 * 100.0;
        }
      }
      Close(display, child);
    }
  }
  XCloseDisplay(display);
  if (xvfb) {
    kill(xvfb, SIGTERM);
    waitpid(xvfb, nullptr, 0);
  }
  if (failed) return 1;

  const double sa = Median(startApp), sm = Median(startMin), ra = Median(rssApp), rm = Median(rssMin);
  std::printf("start-up to window shown (median of %d): fwupdater %.1f ms, minimal Qt window %.1f ms, ratio %.2f (goal <= 1.20)\n",
              rounds, sa * 1000, sm * 1000, sa / sm);
  std::printf("resident memory with the window shown: fwupdater %.0f KiB, minimal Qt window %.0f KiB, ratio %.2f (goal <= 1.20)\n",
              ra, rm, ra / rm);
  std::printf("idle processor use over 5 s: %.2f %% of a core (goal < 1 %%)\n", idlePercent);
  return 0;
}
