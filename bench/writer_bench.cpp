// Measures the writer against a floor on the same machine, in one run:
//   writer  ConvertToPDF of a generated input, in process
//   floor   reading the same input and writing as many bytes as the PDF holds,
//           with plain buffered I/O
// and, for whole runs of the program, the peak memory for a 1 MB and an 8 MB input.
//
//   writer_bench [SCRIVANE_BINARY] [REPEATS] [SHAPE]
// SHAPE, when given, runs only the inputs whose name holds it (for profiling).

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "platform/std_files.h"
#include "platform/system_clock.h"
#include "writer/writer.h"

namespace {

using Clock = std::chrono::steady_clock;

class CountingMessageBox : public scrivane::platform::MessageBox {
 public:
  scrivane::platform::Answer show(const std::string& text, scrivane::platform::Buttons,
                                  scrivane::platform::Icon, scrivane::platform::DefaultButton,
                                  const std::string&) override {
    std::fprintf(stderr, "message: %s\n", text.c_str());
    ++count;
    return scrivane::platform::Answer::Ok;
  }
  int count = 0;
};

std::string Prose(std::size_t bytes, unsigned seed) {
  static const char* words[] = {"the", "quick", "brown", "fox", "jumps", "over", "a", "lazy",
                                "dog", "while", "printing", "(easy)", "text", "is", "not",
                                "always", "simple,", "but", "it", "works.", "C:\\path", "and"};
  std::mt19937 rng(seed);
  std::string out;
  out.reserve(bytes + 100);
  std::size_t lineLength = 0;
  while (out.size() < bytes) {
    const char* w = words[rng() % (sizeof words / sizeof *words)];
    out += w;
    lineLength += std::char_traits<char>::length(w) + 1;
    if (lineLength > 60 + rng() % 15) {
      out += '\n';
      lineLength = 0;
    } else {
      out += ' ';
    }
  }
  return out;
}

std::string LongLines(std::size_t bytes, unsigned seed) {
  // Every line about 1000 characters, so each one wraps several times.
  std::string prose = Prose(bytes, seed);
  std::replace(prose.begin(), prose.end(), '\n', ' ');
  for (std::size_t i = 1000; i < prose.size(); i += 1000) prose[i] = '\n';
  return prose;
}

std::string OneLine(std::size_t bytes, unsigned seed) {
  std::string prose = Prose(bytes, seed);
  std::replace(prose.begin(), prose.end(), '\n', ' ');
  return prose;
}

std::string FormFeedPages(int pages) {
  std::string out;
  for (int p = 0; p < pages; ++p) {
    out += "\fPage heading " + std::to_string(p) + "\n";
    for (int l = 0; l < 40; ++l) out += "A short line of text on this page, number " + std::to_string(l) + ".\n";
  }
  return out;
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

double Seconds(const std::function<void()>& f) {
  const auto start = Clock::now();
  f();
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// Plain buffered copy: read the whole input, write `outBytes` bytes.
void Floor(const std::string& in, const std::string& out, std::size_t outBytes) {
  std::vector<char> buf(1 << 16);
  std::FILE* f = std::fopen(in.c_str(), "rb");
  std::size_t total = 0;
  while (std::size_t n = std::fread(buf.data(), 1, buf.size(), f)) total += n;
  std::fclose(f);
  std::FILE* o = std::fopen(out.c_str(), "wb");
  for (std::size_t left = outBytes; left > 0;) {
    const std::size_t n = std::min(left, buf.size());
    std::fwrite(buf.data(), 1, n, o);
    left -= n;
  }
  std::fclose(o);
  if (total == 0) std::fprintf(stderr, "empty input\n");
}

struct Shape {
  const char* name;
  std::string text;
  scrivane::LayoutSettings layout{};  // the classic layout unless given
};

long PeakKib(const std::string& binary, const std::string& input) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    if (::freopen("/dev/null", "r", stdin) == nullptr) ::_exit(127);
    ::execl(binary.c_str(), binary.c_str(), input.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  int status = 0;
  struct rusage usage {};
  ::wait4(pid, &status, 0, &usage);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return -1;
  return usage.ru_maxrss;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string binary = argc > 1 ? argv[1] : "";
  const int repeats = argc > 2 ? std::max(1, std::atoi(argv[2])) : 7;
  const std::string only = argc > 3 ? argv[3] : "";
  const auto dir = std::filesystem::temp_directory_path() / ("scrivane-bench-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  const std::string input = (dir / "in.txt").string();
  const std::string output = (dir / "out.pdf").string();
  const std::string copy = (dir / "copy.bin").string();

  scrivane::platform::StdFiles files;
  scrivane::platform::SystemClock clock;
  CountingMessageBox messages;
  scrivane::PdfWriter writer(files, messages, clock);

  const std::size_t five = 5u << 20;
  const Shape shapes[] = {{"prose 5 MB", Prose(five, 1)},
                          {"long lines 5 MB", LongLines(five, 2)},
                          {"one 1 MB line", OneLine(1u << 20, 3)},
                          {"1664 form-feed pages", FormFeedPages(1663)},
                          // Option mode's setting for source code and logs.
                          {"prose 5 MB --preserve", Prose(five, 1), {true, 8, true, true}}};

  std::printf("%-22s %10s %12s %12s %12s %7s\n", "input", "MB", "writer MB/s", "floor MB/s",
              "PDF MB", "ratio");
  for (const Shape& shape : shapes) {
    if (std::string_view(shape.name).find(only) == std::string_view::npos) continue;
    WriteFile(input, shape.text);
    std::vector<double> writerTimes, floorTimes;
    std::size_t pdfBytes = 0;
    writer.setLayout(shape.layout);
    // Interleave the two, so that a noisy neighbour hurts both alike.
    for (int r = 0; r < repeats; ++r) {
      std::filesystem::remove(output);
      writerTimes.push_back(Seconds([&] {
        writer.ConvertToPDF(input, output, "Author", "Scrivane v1.1", "", "", "Bench", "Times-Roman",
                            10, 0, 8.5f, 11.f);
      }));
      pdfBytes = std::filesystem::file_size(output);
      floorTimes.push_back(Seconds([&] { Floor(input, copy, pdfBytes); }));
    }
    const double mb = static_cast<double>(shape.text.size()) / (1 << 20);
    const double w = mb / Median(writerTimes);
    const double f = mb / Median(floorTimes);
    std::printf("%-22s %10.2f %12.1f %12.1f %12.2f %7.2f\n", shape.name, mb, w, f,
                static_cast<double>(pdfBytes) / (1 << 20), w / f);
  }
  std::printf("(medians of %d runs; ratio = writer / floor; messages shown: %d)\n", repeats,
              messages.count);

  if (only.empty() || std::string_view("--preserve").find(only) != std::string_view::npos ||
      only == "prose") {
    // The two prose layouts run in turns, so that both meet the same neighbours;
    // the figure is the median of the per-turn ratios.
    WriteFile(input, shapes[0].text);
    std::vector<double> ratios;
    for (int r = 0; r < repeats; ++r) {
      double seconds[2];
      for (int preserve = 0; preserve < 2; ++preserve) {
        writer.setLayout(preserve ? scrivane::LayoutSettings{true, 8, true, true}
                                  : scrivane::LayoutSettings{});
        std::filesystem::remove(output);
        seconds[preserve] = Seconds([&] {
          writer.ConvertToPDF(input, output, "Author", "Scrivane v1.1", "", "", "Bench",
                              "Times-Roman", 10, 0, 8.5f, 11.f);
        });
      }
      ratios.push_back(seconds[0] / seconds[1]);
    }
    std::printf("prose --preserve throughput / classic prose throughput, in turns: %.2f\n",
                Median(ratios));
  }

  if (!binary.empty()) {
    // Long lines, so that 8 MB stays within the page limit at the default settings.
    for (const std::size_t mb : {1u, 8u}) {
      WriteFile(input, LongLines(mb << 20, 7));
      std::filesystem::remove(output);
      std::filesystem::remove(dir / "in.pdf");
      std::printf("peak memory of 'scrivane FILE', %zu MB input: %ld KiB\n", mb, PeakKib(binary, input));
    }
  }
  std::filesystem::remove_all(dir);
  return messages.count == 0 ? 0 : 1;
}
