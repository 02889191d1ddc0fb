// Measures how long whole runs of the program take from start to end, side by
// side in one run and without a display, against `cat` of the same file and,
// when it is installed, cups-filters' texttopdf:
//   version   scrivane --version
//   options   scrivane -f -q FILE -o OUT.pdf   (option mode)
//   plain     scrivane FILE                    (no old PDF, so no question)
// on a generated 20 KB text file; and, beyond the comparison, option mode on
// 20 KB of Greek, which loads the font module and embeds its fonts. With an X display (such as Xvfb) it also
// measures the window's start: from starting `scrivane` to the first frame
// the window shows, seen as a change of the pixels where it was mapped.
//
//   start_bench SCRIVANE [REPEATS] [X_DISPLAY] [OTHER_SCRIVANE]
// OTHER_SCRIVANE, when given, is measured the same way beside the first (an
// older build, for instance).

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#ifdef SCRIVANE_BENCH_XCB
#include <xcb/xcb.h>
#endif

namespace {

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

const char* const kTextToPdf = "/usr/lib/cups/filter/texttopdf";

// A program ready to be started with standard input from /dev/null, standard
// output into `out` and no display unless `display` names one. It is started
// with posix_spawn, which shares the benchmark's memory until the exec: a fork
// would first copy the benchmark's page tables, a cost of the benchmark and not
// of the program measured (0.5 to 1 ms a run on a 2-core virtual machine).
class Launch {
 public:
  Launch(const std::vector<std::string>& args, const std::string& out, const std::string& display)
      : args_(args) {
    for (char** e = environ; *e != nullptr; ++e) {
      const std::string_view entry(*e);
      if (entry.starts_with("WAYLAND_DISPLAY=") || entry.starts_with("QT_QPA_PLATFORM=") ||
          entry.starts_with("DISPLAY=")) {
        continue;
      }
      env_.emplace_back(entry);
    }
    if (!display.empty()) env_.push_back("DISPLAY=" + display);
    for (std::string& a : args_) argv_.push_back(a.data());
    argv_.push_back(nullptr);
    for (std::string& e : env_) envp_.push_back(e.data());
    envp_.push_back(nullptr);
    posix_spawn_file_actions_init(&actions_);
    posix_spawn_file_actions_addopen(&actions_, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions_, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions_, 2, "/dev/null", O_WRONLY, 0);
  }
  ~Launch() { posix_spawn_file_actions_destroy(&actions_); }
  Launch(const Launch&) = delete;
  Launch& operator=(const Launch&) = delete;

  // The new process, or -1 when it could not be started.
  pid_t start() {
    pid_t pid = -1;
    if (posix_spawn(&pid, argv_[0], &actions_, nullptr, argv_.data(), envp_.data()) != 0) return -1;
    return pid;
  }

 private:
  std::vector<std::string> args_;
  std::vector<std::string> env_;
  std::vector<char*> argv_;
  std::vector<char*> envp_;
  posix_spawn_file_actions_t actions_;
};

// Milliseconds of one whole run; negative when it failed.
double TimeRun(const std::vector<std::string>& args, const std::string& out) {
  Launch launch(args, out, "");
  const auto start = Clock::now();
  const pid_t pid = launch.start();
  if (pid < 0) return -1;
  int status = 0;
  ::waitpid(pid, &status, 0);
  const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? ms : -1;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

struct Case {
  std::string name;
  std::vector<std::string> args;
  std::string out;
  std::string removeFirst;  // an old PDF taken away, untimed, before each run
};

#ifdef SCRIVANE_BENCH_XCB
// Milliseconds from starting `scrivane` on `display` to the first frame its
// window shows; negative when none shows within ten seconds.
double WindowStart(const std::string& scrivane, const std::string& display, const std::string& out) {
  xcb_connection_t* c = xcb_connect(display.c_str(), nullptr);
  if (xcb_connection_has_error(c)) {
    std::fprintf(stderr, "start_bench: cannot reach the display %s (xcb error %d)\n", display.c_str(),
                 xcb_connection_has_error(c));
    return -1;
  }
  xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
  const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
  xcb_change_window_attributes(c, screen->root, XCB_CW_EVENT_MASK, &mask);
  xcb_flush(c);

  auto pixel = [&](int x, int y) -> uint32_t {
    auto* image = xcb_get_image_reply(
        c, xcb_get_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, screen->root, static_cast<int16_t>(x),
                         static_cast<int16_t>(y), 1, 1, ~0u),
        nullptr);
    uint32_t value = 0;
    if (image != nullptr) {
      const int n = std::min(4, xcb_get_image_data_length(image));
      std::copy_n(xcb_get_image_data(image), n, reinterpret_cast<uint8_t*>(&value));
      std::free(image);
    }
    return value;
  };

  // The screen's empty background, far from where the window will be centred
  // (the display is best started with a plain root, Xvfb -br).
  const uint32_t background = pixel(screen->width_in_pixels - 1, screen->height_in_pixels - 1);
  Launch launch({scrivane}, out, display);
  const auto start = Clock::now();
  const pid_t pid = launch.start();
  if (pid < 0) {
    xcb_disconnect(c);
    return -1;
  }
  double ms = -1;
  auto elapsed = [&] { return std::chrono::duration<double, std::milli>(Clock::now() - start).count(); };
  while (ms < 0 && elapsed() < 10000) {
    xcb_generic_event_t* event = xcb_poll_for_event(c);
    if (event == nullptr) {
      ::usleep(200);
      continue;
    }
    if ((event->response_type & 0x7F) == XCB_MAP_NOTIFY) {
      const auto* map = reinterpret_cast<xcb_map_notify_event_t*>(event);
      auto* geometry = xcb_get_geometry_reply(c, xcb_get_geometry(c, map->window), nullptr);
      // The main window, not a 1x1 helper window of the toolkit.
      if (geometry != nullptr && geometry->width > 100 && geometry->height > 100) {
        const int x = geometry->x + geometry->width / 2;
        const int y = geometry->y + geometry->height / 2;
        while (elapsed() < 10000) {
          if (pixel(x, y) != background) {
            ms = elapsed();
            break;
          }
        }
      }
      std::free(geometry);
    }
    std::free(event);
  }
  ::kill(pid, SIGTERM);
  ::waitpid(pid, nullptr, 0);
  xcb_disconnect(c);
  return ms;
}
#endif

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: start_bench SCRIVANE [REPEATS] [X_DISPLAY] [OTHER_SCRIVANE]\n");
    return 2;
  }
  const std::string scrivane = fs::absolute(argv[1]).string();
  const int repeats = argc > 2 ? std::max(1, std::atoi(argv[2])) : 21;
  const std::string display = argc > 3 ? argv[3] : "";
  std::vector<std::string> programs{scrivane};
  if (argc > 4) programs.push_back(fs::absolute(argv[4]).string());

  const fs::path dir = fs::temp_directory_path() / ("scrivane-start-bench-" + std::to_string(::getpid()));
  fs::create_directories(dir);
  const std::string text = (dir / "notes.txt").string();
  {
    std::ofstream f(text, std::ios::binary);
    const std::string line = "The quick brown fox jumps over the lazy dog, and then it rests a while.\n";
    for (std::size_t n = 0; n < 20 * 1024; n += line.size()) f << line;
  }
  const std::string greek = (dir / "greek.txt").string();
  {
    std::ofstream f(greek, std::ios::binary);
    const std::string line =
        "\xCE\x9A\xCE\xB1\xCE\xBB\xCE\xB7\xCE\xBC\xCE\xAD\xCF\x81\xCE\xB1 "
        "\xCE\xBA\xCF\x8C\xCF\x83\xCE\xBC\xCE\xB5, the fox rests a while.\n";
    for (std::size_t n = 0; n < 20 * 1024; n += line.size()) f << line;
  }
  const std::string pdf = (dir / "notes.pdf").string();
  const std::string sink = "/dev/null";

  std::vector<Case> cases{{"cat", {"/bin/cat", text}, sink, ""}};
  for (std::size_t p = 0; p < programs.size(); ++p) {
    const std::string tag = programs.size() > 1 ? (p == 0 ? "" : " (other)") : "";
    cases.push_back({"version" + tag, {programs[p], "--version"}, sink, ""});
    cases.push_back({"options" + tag, {programs[p], "-f", "-q", text, "-o", (dir / "o.pdf").string()}, sink, ""});
    cases.push_back({"plain" + tag, {programs[p], text}, sink, pdf});
    cases.push_back({"options greek" + tag,
                     {programs[p], "-f", "-q", greek, "-o", (dir / "g.pdf").string()}, sink, ""});
  }
  const bool textToPdf = ::access(kTextToPdf, X_OK) == 0;
  if (textToPdf) cases.push_back({"texttopdf", {kTextToPdf, "1", "user", "title", "1", "", text},
                                  (dir / "t.pdf").string(), ""});

  // Rounds over every case in turn, so that a busy moment of the machine falls on all alike.
  std::vector<std::vector<double>> times(cases.size());
  for (int r = 0; r < repeats + 1; ++r) {
    for (std::size_t i = 0; i < cases.size(); ++i) {
      if (!cases[i].removeFirst.empty()) fs::remove(cases[i].removeFirst);
      const double ms = TimeRun(cases[i].args, cases[i].out);
      if (ms < 0) {
        std::fprintf(stderr, "start_bench: %s failed\n", cases[i].name.c_str());
        return 1;
      }
      if (r > 0) times[i].push_back(ms);  // the first round only warms the caches
    }
  }

  const double cat = Median(times[0]);
  const double ttp = textToPdf ? Median(times.back()) : 0;
  std::printf("median of %d whole runs, 20 KB text, no display\n", repeats);
  std::printf("%-22s %9s %9s %12s\n", "run", "ms", "x cat", "x texttopdf");
  for (std::size_t i = 0; i < cases.size(); ++i) {
    const double m = Median(times[i]);
    std::printf("%-22s %9.2f %9.2f", cases[i].name.c_str(), m, m / cat);
    if (textToPdf) std::printf(" %12.2f", m / ttp);
    std::printf("\n");
  }
  if (!textToPdf) std::printf("(texttopdf is not installed: %s)\n", kTextToPdf);

  if (!display.empty()) {
#ifdef SCRIVANE_BENCH_XCB
    std::printf("window start to its first frame on %s, median of %d\n", display.c_str(), repeats);
    // In rounds too, so that two programs meet the same moments of the machine.
    std::vector<std::vector<double>> starts(programs.size());
    for (int r = 0; r < repeats + 1; ++r) {
      for (std::size_t p = 0; p < programs.size(); ++p) {
        const double ms = WindowStart(programs[p], display, (dir / "window.out").string());
        if (ms < 0) {
          std::fprintf(stderr, "start_bench: the window of %s never showed\n", programs[p].c_str());
          return 1;
        }
        if (r > 0) starts[p].push_back(ms);
      }
    }
    for (std::size_t p = 0; p < programs.size(); ++p) {
      std::printf("%-60s %9.2f ms\n", programs[p].c_str(), Median(starts[p]));
    }
#else
    std::printf("(built without xcb: the window's start is not measured)\n");
#endif
  }
  fs::remove_all(dir);
  return 0;
}
