// Feeds ConvertToPDF with arbitrary text and arbitrary settings.
//
// The first bytes of an input choose the settings (font name, font size,
// rotation, page size, the five Info strings); the rest is the text file.
// Every run must end without a crash or sanitizer report, must report any
// failure it returns, and every PDF it leaves must be structurally sound.
//
// Built with -fsanitize=fuzzer this is a libFuzzer target; built with
// SCRIVANE_FUZZ_REPLAY it is a plain program that runs the files and folders
// named on its command line once each, so the corpus is replayed without clang.

#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <string>
#include <vector>

#include "platform/failure.h"
#include "platform/std_files.h"
#include "tests/support/fakes.h"
#include "tests/support/pdf_structure.h"
#include "writer/writer.h"

namespace {

using scrivane::testing::FakeMessageBox;
using scrivane::testing::FixedClock;

// Larger texts only repeat what smaller ones show and slow every run down.
constexpr std::size_t kMaxText = 1 << 16;

// Takes settings from the front of the data; past the end every byte is 0.
class Bytes {
 public:
  Bytes(const std::uint8_t* data, std::size_t size) : p_(data), end_(data + size) {}
  std::uint8_t byte() { return p_ < end_ ? *p_++ : 0; }
  std::string take(std::size_t n) {
    n = std::min<std::size_t>(n, static_cast<std::size_t>(end_ - p_));
    std::string out(reinterpret_cast<const char*>(p_), n);
    p_ += n;
    return out;
  }
  std::string rest(std::size_t max) { return take(max); }
  template <typename T>
  T raw() {
    std::uint8_t b[sizeof(T)] = {};
    for (auto& x : b) x = byte();
    T value;
    std::memcpy(&value, b, sizeof value);
    return value;
  }

 private:
  const std::uint8_t* p_;
  const std::uint8_t* end_;
};

// A well-known value most of the time, any value otherwise.
template <typename T, std::size_t N>
T Pick(Bytes& in, const T (&known)[N]) {
  const std::uint8_t choice = in.byte();
  if (choice < 2 * N) return known[choice % N];
  return in.raw<T>();
}

std::string FontName(Bytes& in) {
  static const std::string kNames[] = {"Times-Roman", "Courier", "Arial",        "COURIER",
                                       "arial",       "Courier-Bold", "Arialish", "Helvetica",
                                       "",            "Times Roman"};
  const std::uint8_t choice = in.byte();
  if (choice < 2 * std::size(kNames)) return kNames[choice % std::size(kNames)];
  // The name is written as it stands after "/BaseFont /"; a carriage return in
  // it would end that line, which no caller can ask for.
  std::string name = in.take(in.byte() % 32);
  name.erase(std::remove(name.begin(), name.end(), '\r'), name.end());
  return name;
}

struct Scratch {
  Scratch() {
    std::string pattern = (std::filesystem::temp_directory_path() / "scrivane-fuzz-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
      std::perror("mkdtemp");
      std::abort();
    }
    dir = pattern;
    input = dir + "/in.txt";
    output = dir + "/out.pdf";
  }
  ~Scratch() {
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
  }
  std::string dir, input, output;
};

Scratch& Files() {
  static Scratch scratch;
  return scratch;
}

std::string Read(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

[[noreturn]] void Fault(const std::string& what, const std::vector<std::string>& details) {
  std::fprintf(stderr, "FAULT: %s\n", what.c_str());
  for (const auto& d : details) std::fprintf(stderr, "  %s\n", d.c_str());
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::int16_t kSizes[] = {10, 8, 20, 0, 1, -1, -10, 2000, 4000, 32767, -32768, 3};
  static const std::int16_t kRotations[] = {0, 90, 180, 270, -90, 360, 32767, -32768};
  static const float kInches[] = {8.5f,
                                  11.f,
                                  14.f,
                                  0.f,
                                  -0.f,
                                  1.f,
                                  0.444f,
                                  -8.5f,
                                  std::numeric_limits<float>::quiet_NaN(),
                                  std::numeric_limits<float>::infinity(),
                                  -std::numeric_limits<float>::infinity(),
                                  1e30f,
                                  29826160.f,  // just inside 32 bits of points
                                  3e7f,
                                  1e-30f,
                                  3000.f};

  Bytes in(data, size);
  const std::string font = FontName(in);
  const std::int16_t fontSize = Pick(in, kSizes);
  const std::int16_t rotation = Pick(in, kRotations);
  const float width = Pick(in, kInches);
  const float height = Pick(in, kInches);
  std::string info[5];
  for (auto& s : info) s = in.take(in.byte() % 48);
  const std::string text = in.rest(kMaxText);

  Scratch& scratch = Files();
  {
    std::ofstream out(scratch.input, std::ios::binary | std::ios::trunc);
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
  }
  std::remove(scratch.output.c_str());

  scrivane::platform::StdFiles files;
  FakeMessageBox messages;
  FixedClock clock;
  scrivane::PdfWriter writer(files, messages, clock);
  const bool clean = writer.ConvertToPDF(scratch.input, scratch.output, info[0], info[1], info[2],
                                         info[3], info[4], font, fontSize, rotation, width, height);

  if (clean != messages.shown.empty()) {
    Fault(clean ? "reported success after showing a failure" : "reported failure without a message",
          messages.texts());
  }
  std::error_code ec;
  const bool written = std::filesystem::is_regular_file(scratch.output, ec);
  if (clean && !written) Fault("reported success without an output file", {});
  // Only the page limit leaves a document after a failure: a shorter one, still
  // well formed. Nothing else is left in the folder.
  const bool pageLimitOnly =
      messages.texts() == std::vector<std::string>{scrivane::platform::kSubscriptOutOfRange};
  if (!clean && written && !pageLimitOnly) Fault("a failed conversion left a PDF", messages.texts());
  std::size_t entries = 0;
  for (auto it = std::filesystem::directory_iterator(scratch.dir, ec);
       !ec && it != std::filesystem::directory_iterator(); it.increment(ec)) {
    ++entries;
  }
  if (entries != (written ? 2u : 1u)) Fault("a temporary file was left behind", {});
  if (written) {
    const auto findings = scrivane::testing::StructureFindings(Read(scratch.output));
    if (!findings.empty()) {
      auto details = findings;
      details.insert(details.begin(), "messages: " + std::to_string(messages.shown.size()));
      for (const auto& m : messages.texts()) details.insert(details.begin() + 1, "  " + m);
      Fault("the PDF is malformed", details);
    }
  }
  return 0;
}

#ifdef SCRIVANE_FUZZ_REPLAY
// Runs every file named, and every file in every folder named, once.
int main(int argc, char** argv) {
  std::vector<std::filesystem::path> inputs;
  for (int i = 1; i < argc; ++i) {
    const std::filesystem::path arg(argv[i]);
    if (std::filesystem::is_directory(arg)) {
      for (const auto& e : std::filesystem::directory_iterator(arg)) {
        if (e.is_regular_file()) inputs.push_back(e.path());
      }
    } else {
      inputs.push_back(arg);
    }
  }
  std::sort(inputs.begin(), inputs.end());
  if (inputs.empty()) {
    std::fprintf(stderr, "usage: %s CORPUS_FOLDER_OR_FILE...\n", argv[0]);
    return 2;
  }
  for (const auto& path : inputs) {
    const std::string bytes = Read(path.string());
    std::fprintf(stderr, "%s (%zu bytes)\n", path.c_str(), bytes.size());
    LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
  }
  std::fprintf(stderr, "%zu inputs ran cleanly\n", inputs.size());
  return 0;
}
#endif
