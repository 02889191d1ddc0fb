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
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#ifdef SCRIVANE_BENCH_XCB
#include <xcb/xcb.h>
#endif

namespace {

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

const char* const kTextToPdf = "/usr/lib/cups/filter/texttopdf";

// Starts `args` with standard input from /dev/null and standard output into
// `out`, without any display unless `display` names one.
pid_t Spawn(const std::vector<std::string>& args, const std::string& out, const std::string& display) {
  const pid_t pid = ::fork();
  if (pid != 0) return pid;
  ::unsetenv("WAYLAND_DISPLAY");
  ::unsetenv("QT_QPA_PLATFORM");
  if (display.empty()) {
    ::unsetenv("DISPLAY");
  } else {
    ::setenv("DISPLAY", display.c_str(), 1);
  }
  const int in = ::open("/dev/null", O_RDONLY);
  const int to = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  const int err = ::open("/dev/null", O_WRONLY);
  if (in < 0 || to < 0 || err < 0) ::_exit(126);
  ::dup2(in, 0);
  ::dup2(to, 1);
  ::dup2(err, 2);
  std::vector<char*> argv;
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  ::execv(argv[0], argv.data());
  ::_exit(127);
}

// Milliseconds of one whole run; negative when it failed.
double TimeRun(const std::vector<std::string>& args, const std::string& out) {
  const auto start = Clock::now();
  const pid_t pid = Spawn(args, out, "");
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
  const auto start = Clock::now();
  const pid_t pid = Spawn({scrivane}, out, display);
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
    for (const auto& program : programs) {
      std::vector<double> starts;
      for (int r = 0; r < repeats + 1; ++r) {
        const double ms = WindowStart(program, display, (dir / "window.out").string());
        if (ms < 0) {
          std::fprintf(stderr, "start_bench: the window of %s never showed\n", program.c_str());
          return 1;
        }
        if (r > 0) starts.push_back(ms);
      }
      std::printf("%-60s %9.2f ms\n", program.c_str(), Median(starts));
    }
#else
    std::printf("(built without xcb: the window's start is not measured)\n");
#endif
  }
  fs::remove_all(dir);
  return 0;
}
