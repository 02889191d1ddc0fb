// The start without options, with a fake window module: which runs open the
// module, and where their boxes are shown.
#include "window/start.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>

#include "platform/std_files.h"
#include "tests/support/fakes.h"
#include "tests/support/temp_dir.h"

namespace scrivane {
namespace {

using platform::Answer;
using testing::ReadFile;

class FakeWindowModule : public WindowModule {
 public:
  FakeWindowModule(bool reachable, RunEnd end, std::size_t& shown)
      : reachable_(reachable), end_(end), shown_(shown) {}
  // Tells how many boxes it showed when the start lets it go.
  ~FakeWindowModule() override { shown_ = boxes.shown.size(); }
  bool startDisplay(int&, char**) override { return reachable_; }
  platform::MessageBox& messages() override { return boxes; }
  platform::Shell& shell() override { return shellOpened; }
  RunEnd runWindow(platform::CommandLine& commandLine) override {
    windowRuns.push_back(commandLine.argumentText());
    return end_;
  }
  testing::FakeMessageBox boxes;
  testing::FakeShell shellOpened;
  std::vector<std::string> windowRuns;

 private:
  bool reachable_;
  RunEnd end_;
  std::size_t& shown_;
};

class StartTest : public ::testing::Test {
 protected:
  // Starts with `args` as the argument text.
  int Start(const std::string& args) {
    err = std::tmpfile();
    platform::ArgvCommandLine commandLine(args.empty() ? std::vector<std::string>{}
                                                       : std::vector<std::string>{args});
    StartServices services{files, clock, terminal,
                           [this](std::string& error) -> std::unique_ptr<WindowModule> {
                             ++loads;
                             if (!installed) {
                               error = "not installed";
                               return nullptr;
                             }
                             return std::make_unique<FakeWindowModule>(reachable, windowEnd,
                                                                       shownOnDisplay);
                           },
                           wantsDisplay, err};
    shownOnDisplay = 0;
    int argc = 1;
    char name[] = "scrivane";
    char* argv[] = {name, nullptr};
    const int status = StartWithoutOptions(argc, argv, commandLine, services);
    std::rewind(err);
    int c;
    while ((c = std::fgetc(err)) != EOF) errText += static_cast<char>(c);
    std::fclose(err);
    return status;
  }

  testing::TempDir dir;
  platform::StdFiles files;
  testing::FixedClock clock;
  testing::FakeMessageBox terminal;
  bool wantsDisplay = false, installed = true, reachable = true;
  RunEnd windowEnd = RunEnd::Closed;
  int loads = 0;
  std::size_t shownOnDisplay = 0;
  std::FILE* err = nullptr;
  std::string errText;
};

TEST_F(StartTest, AConversionThatNeedsNoBoxNeverOpensTheModule) {
  for (const bool display : {false, true}) {
    const std::string input = dir.write(display ? "d.txt" : "t.txt", "hello\n");
    wantsDisplay = display;
    EXPECT_EQ(Start(input), 0);
    EXPECT_EQ(loads, 0);
    EXPECT_EQ(ReadFile(dir.file(display ? "d.pdf" : "t.pdf")).substr(0, 8), "%PDF-1.2");
    EXPECT_TRUE(terminal.shown.empty());
  }
}

TEST_F(StartTest, AFailureOnADisplayIsShownThereAndFailsTheRun) {
  const std::string input = dir.write("n.txt", "hello\n");
  ASSERT_EQ(::mkdir(dir.file("n.pdf").c_str(), 0700), 0);  // writing fails; no question
  wantsDisplay = true;
  EXPECT_EQ(Start(input), 1);
  EXPECT_EQ(loads, 1);
  EXPECT_EQ(shownOnDisplay, 1u);
  EXPECT_TRUE(terminal.shown.empty());

  // Without a display that can be reached, or without the module, the terminal says it.
  for (const bool module : {false, true}) {
    installed = module;
    reachable = false;
    loads = 0;
    terminal.shown.clear();
    EXPECT_EQ(Start(input), 1);
    EXPECT_EQ(loads, 1);
    ASSERT_FALSE(terminal.shown.empty());
    EXPECT_EQ(terminal.shown[0].title, "Scrivane");
    EXPECT_TRUE(errText.find("cannot be shown") == std::string::npos) << errText;
  }
}

TEST_F(StartTest, AnOldPdfOnADisplayHandsTheWholeStartToTheWindow) {
  const std::string input = dir.write("n.txt", "hello\n");
  dir.write("n.pdf", "old");
  wantsDisplay = true;
  for (const RunEnd end : {RunEnd::Converted, RunEnd::Closed, RunEnd::Failed}) {
    windowEnd = end;
    EXPECT_EQ(Start(input), end == RunEnd::Failed ? 1 : 0);
  }
  EXPECT_EQ(loads, 3);
  EXPECT_TRUE(terminal.shown.empty());
  EXPECT_EQ(ReadFile(dir.file("n.pdf")), "old");  // the window converts, not the start

  // On the terminal the question is asked there; No refuses the run.
  wantsDisplay = false;
  terminal.answers = {Answer::No};
  EXPECT_EQ(Start(input), 1);
  ASSERT_EQ(terminal.shown.size(), 1u);
  EXPECT_EQ(terminal.shown[0].text, kOverwriteQuestion);
  EXPECT_EQ(ReadFile(dir.file("n.pdf")), "old");
}

TEST_F(StartTest, NothingToConvertOpensTheWindowOrSaysHowToUseIt) {
  wantsDisplay = true;
  EXPECT_EQ(Start(""), 0);
  EXPECT_EQ(loads, 1);

  wantsDisplay = false;
  loads = 0;
  EXPECT_EQ(Start(dir.file("missing.txt")), 2);
  EXPECT_EQ(loads, 0);
  EXPECT_NE(errText.find("scrivane: '" + dir.file("missing.txt") + "' does not exist or is empty"),
            std::string::npos)
      << errText;
  EXPECT_NE(errText.find("usage: scrivane FILE"), std::string::npos);

  // A display without the module: the window cannot open, and the user is told why.
  wantsDisplay = true;
  installed = false;
  errText.clear();
  EXPECT_EQ(Start(""), 2);
  EXPECT_NE(errText.find("scrivane: the window cannot be shown: not installed"), std::string::npos)
      << errText;
  EXPECT_NE(errText.find("usage: scrivane FILE"), std::string::npos);
}

TEST(RunEndTest, OnlyFailedAndRefusedRunsFail) {
  EXPECT_EQ(ExitStatus(RunEnd::Closed), 0);  // closing the window after a failure is no failure
  EXPECT_EQ(ExitStatus(RunEnd::Converted), 0);
  EXPECT_EQ(ExitStatus(RunEnd::Failed), 1);
  EXPECT_EQ(ExitStatus(RunEnd::Refused), 1);
}

}  // namespace
}  // namespace scrivane
