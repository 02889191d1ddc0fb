// Measures option mode on a 5 MB text of mixed scripts (Latin with accents,
// Greek, Cyrillic, Chinese, Japanese, Korean) beside cups-filters' texttopdf
// on the same file, in one run:
//   scrivane    scrivane -f -q -o OUT.pdf FILE        (option mode, fonts embedded)
//   texttopdf   texttopdf 1 user title 1 "" FILE      (CHARSET=utf-8, no PPD)
// and reads the first page of each PDF back with pdftotext, to see whether its
// text can be had. texttopdf is skipped, with a note, when it is not installed.
//
//   mixed_bench SCRIVANE [REPEATS] [KEEP_INPUT_AS] [OTHER_SCRIVANE]
// KEEP_INPUT_AS, when given and not "-", is where the generated text is also
// written (for profiling and comparing outputs). OTHER_SCRIVANE, an older
// build for instance, is measured beside this one in the same rounds.

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

const char* const kTextToPdf = "/usr/lib/cups/filter/texttopdf";

// Words of each kind of line; CJK words are joined without blanks.
const std::vector<std::string_view> kLatin = {
    "élève",   "façade", "Straße",  "Mädchen", "über",    "żółw",    "łódź",     "gęś",
    "czytać",  "příliš", "žluťoučký", "kůň",   "úpěl",    "ďábelské", "ódy",     "niño",
    "mañana",  "corazón", "où",     "déjà",    "crème",   "brûlée",  "naïve",    "Dvořák",
    "Wrocław", "Kraków", "Gdańsk",  "Őrség",   "tűzoltó", "árvíztűrő", "tükörfúrógép", "şarkı",
    "ağaç",    "İstanbul", "the",   "and",     "of",      "plain",   "text",     "document",
    "is",      "a",      "to",      "in",      "page",    "with",    "für",      "die"};
const std::vector<std::string_view> kGreek = {
    "καλημέρα", "κόσμε",   "ελληνικά", "γλώσσα",   "αλφάβητο", "θάλασσα", "ήλιος",   "φιλοσοφία",
    "δημοκρατία", "ιστορία", "και",    "το",       "της",      "είναι",   "Αθήνα",   "ουρανός",
    "ψυχή",     "ζωή",     "λόγος",    "χρόνος",   "στο",      "με",      "για",     "ένα",
    "πόλη",     "σπίτι",   "νερό",     "φως",      "Ξάνθη",    "ώρα",     "άνθρωπος", "βιβλίο"};
const std::vector<std::string_view> kCyrillic = {
    "привет",  "мир",      "русский", "язык",   "съешь",   "же",      "ещё",      "этих",
    "мягких",  "французских", "булок", "да",    "выпей",   "чаю",     "Москва",   "книга",
    "история", "Україна",  "їжак",    "ґанок",  "Беларусь", "Србија", "љубав",    "њива",
    "и",       "в",        "не",      "на",     "что",     "это",     "город",    "время",
    "человек", "дом",      "слово",   "день",   "жизнь",   "вопрос",  "работа",   "страна"};
const std::vector<std::string_view> kChinese = {
    "中文", "汉字", "文本", "转换", "文件", "字体", "我们", "今天", "天气", "很好", "北京",
    "上海", "学习", "工作", "时间", "问题", "世界", "和平", "发展", "经济", "文化", "历史",
    "的",   "是",   "了",   "在",   "人",   "有",   "这",   "中国", "社会", "科学", "技术",
    "，",   "。",   "电脑", "打印", "页面", "朋友", "城市", "山水", "春天", "读书", "写字"};
const std::vector<std::string_view> kJapanese = {
    "日本語", "ひらがな", "カタカナ", "こんにちは", "ありがとう", "東京", "漢字", "です",
    "ます",   "テキスト", "ファイル", "変換",     "の",       "は",   "を",   "に",
    "が",     "と",       "文書",     "印刷",     "、",       "。",   "大阪", "桜",
    "今日",   "天気",     "新しい",   "読む",     "書く",     "時間", "電車", "駅"};
const std::vector<std::string_view> kKorean = {
    "한국어", "안녕하세요", "감사합니다", "서울", "텍스트", "파일", "변환", "글꼴",
    "문서",   "그리고",     "하지만",     "오늘", "날씨",   "좋다", "사람", "학교",
    "책",     "읽다",       "쓰다",       "시간", "도시",   "바다", "하늘", "이야기"};

std::size_t CodePoints(std::string_view s) {
  return static_cast<std::size_t>(
      std::count_if(s.begin(), s.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
}

// Deterministic lines of 60 to 100 characters, each mostly in one script and
// now and then with a word of another, numbers and punctuation.
std::string MixedText(std::size_t bytes) {
  std::mt19937 rng(20261208);
  const std::array<const std::vector<std::string_view>*, 6> kinds = {&kLatin,   &kGreek,    &kCyrillic,
                                                                     &kChinese, &kJapanese, &kKorean};
  std::string out;
  out.reserve(bytes + 400);
  while (out.size() < bytes) {
    const std::size_t kind = rng() % kinds.size();
    const auto& words = *kinds[kind];
    const bool cjk = kind == 3 || kind == 4;
    const std::size_t target = 60 + rng() % 41;
    std::string line;
    std::size_t length = 0;
    while (true) {
      std::string word;
      const unsigned roll = rng() % 20;
      if (roll == 0) {
        word = std::to_string(rng() % 10000);
      } else if (roll == 1) {
        const auto& other = *kinds[rng() % kinds.size()];
        word = other[rng() % other.size()];
      } else {
        word = words[rng() % words.size()];
      }
      const std::size_t w = CodePoints(word);
      const bool blank = !line.empty() && (!cjk || roll <= 1);
      if (length + w + (blank ? 1 : 0) > target) break;
      if (blank) {
        line += ' ';
        ++length;
      }
      line += word;
      length += w;
      if (!cjk && rng() % 12 == 0 && length + 1 < target) {
        line += rng() % 2 ? ',' : '.';
        ++length;
      }
    }
    out += line;
    out += '\n';
  }
  return out;
}

// Starts `args` with standard input from /dev/null, standard output into `out`
// and `env` added to the environment (a null value removes the variable).
pid_t Spawn(const std::vector<std::string>& args, const std::string& out,
            const std::vector<std::pair<std::string, const char*>>& env) {
  const pid_t pid = ::fork();
  if (pid != 0) return pid;
  for (const auto& [name, value] : env) {
    if (value == nullptr) {
      ::unsetenv(name.c_str());
    } else {
      ::setenv(name.c_str(), value, 1);
    }
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

struct Case {
  std::string name;
  std::vector<std::string> args;
  std::string stdoutFile;  // where standard output goes
  std::string pdf;         // the PDF it makes
  std::vector<std::pair<std::string, const char*>> env;
};

// Milliseconds of one whole run; negative when it failed.
double TimeRun(const Case& c) {
  const auto start = Clock::now();
  const pid_t pid = Spawn(c.args, c.stdoutFile, c.env);
  int status = 0;
  ::waitpid(pid, &status, 0);
  const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? ms : -1;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// The first page's text as pdftotext gives it, one entry a line; lines of wide
// CJK glyphs may run past the page's right edge, so the crop box is wider than
// any page.
std::vector<std::string> FirstPageText(const std::string& pdf, const std::string& dir) {
  const std::string out = dir + "/page1.txt";
  const pid_t pid = Spawn({"/usr/bin/pdftotext", "-f", "1", "-l", "1", "-enc", "UTF-8", "-x", "0", "-y", "0", "-W",
                          "100000", "-H", "100000", pdf, out}, "/dev/null", {});
  int status = 0;
  ::waitpid(pid, &status, 0);
  std::vector<std::string> lines;
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return lines;
  std::istringstream text(ReadFile(out));
  for (std::string line; std::getline(text, line);) lines.push_back(line);
  return lines;
}

// How many of the input's first `n` lines the first page gives back exactly.
int LinesBack(const std::string& input, const std::vector<std::string>& page, int n) {
  std::istringstream in(input);
  int found = 0;
  std::string line;
  for (int k = 0; k < n && std::getline(in, line); ++k) {
    if (std::find(page.begin(), page.end(), line) != page.end()) ++found;
  }
  return found;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: mixed_bench SCRIVANE [REPEATS] [KEEP_INPUT_AS] [OTHER_SCRIVANE]\n");
    return 2;
  }
  const std::string binary = fs::absolute(argv[1]).string();
  const int repeats = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
  const auto dir = fs::temp_directory_path() / ("scrivane-mixed-" + std::to_string(::getpid()));
  fs::create_directories(dir);
  const std::string input = (dir / "mixed.txt").string();
  const std::string text = MixedText(5u << 20);
  std::ofstream(input, std::ios::binary).write(text.data(), static_cast<std::streamsize>(text.size()));
  if (argc > 3 && std::string_view(argv[3]) != "-") {
    fs::copy_file(input, argv[3], fs::copy_options::overwrite_existing);
  }

  std::vector<Case> cases;
  const std::string ours = (dir / "scrivane.pdf").string();
  cases.push_back({"scrivane", {binary, "-f", "-q", "-o", ours, input}, "/dev/null", ours, {}});
  if (argc > 4) {
    const std::string other = fs::absolute(argv[4]).string();
    const std::string theirs = (dir / "other.pdf").string();
    cases.push_back({"other", {other, "-f", "-q", "-o", theirs, input}, "/dev/null", theirs, {}});
  }
  const bool haveTextToPdf = ::access(kTextToPdf, X_OK) == 0;
  if (haveTextToPdf) {
    const std::string theirs = (dir / "texttopdf.pdf").string();
    cases.push_back({"texttopdf",
                     {kTextToPdf, "1", "user", "title", "1", "", input},
                     theirs,
                     theirs,
                     {{"CHARSET", "utf-8"}, {"PPD", nullptr}}});
  }

  // Rounds over every case in turn, so that a busy moment of the machine falls
  // on all alike; the first round only warms the caches.
  std::vector<std::vector<double>> times(cases.size());
  for (int r = 0; r < repeats + 1; ++r) {
    for (std::size_t i = 0; i < cases.size(); ++i) {
      const double ms = TimeRun(cases[i]);
      if (ms < 0) {
        std::fprintf(stderr, "mixed_bench: %s failed\n", cases[i].name.c_str());
        fs::remove_all(dir);
        return 1;
      }
      if (r > 0) times[i].push_back(ms);
    }
  }

  std::printf("input: %.2f MB of mixed Latin, Greek, Cyrillic and CJK lines\n",
              static_cast<double>(text.size()) / (1 << 20));
  std::printf("%-10s %10s %10s %12s %s\n", "program", "ms", "PDF MB", "text back", "(first 20 lines of page 1)");
  bool sound = true;
  for (std::size_t i = 0; i < cases.size(); ++i) {
    const std::string pdf = ReadFile(cases[i].pdf);
    if (pdf.rfind("%PDF-", 0) != 0) {
      std::fprintf(stderr, "mixed_bench: %s made no PDF\n", cases[i].name.c_str());
      sound = false;
      continue;
    }
    const int back = LinesBack(text, FirstPageText(cases[i].pdf, dir.string()), 20);
    std::printf("%-10s %10.0f %10.2f %9d/20\n", cases[i].name.c_str(), Median(times[i]),
                static_cast<double>(pdf.size()) / (1 << 20), back);
    if (i == 0 && back != 20) sound = false;
  }
  if (haveTextToPdf) {
    const double theirs = Median(times.back());
    std::printf("texttopdf / scrivane: %.2f (target: at least 5)\n", theirs / Median(times[0]));
    if (cases.size() == 3) std::printf("texttopdf / other: %.2f\n", theirs / Median(times[1]));
  } else {
    std::printf("note: %s is not installed (cups-filters); scrivane measured without it\n", kTextToPdf);
  }
  std::printf("(medians of %d runs)\n", repeats);
  fs::remove_all(dir);
  if (!sound) std::fprintf(stderr, "mixed_bench: scrivane's PDF does not give its text back\n");
  return sound ? 0 : 1;
}
