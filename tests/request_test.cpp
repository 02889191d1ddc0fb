#include "window/request.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "platform/std_files.h"
#include "tests/support/fakes.h"
#include "tests/support/temp_dir.h"

namespace scrivane {
namespace {

using platform::Answer;
using testing::ReadFile;

TEST(RequestNumbersTest, LeadingNumbersOfTheListEntries) {
  EXPECT_EQ(LeadingNumber("10pt"), 10);
  EXPECT_EQ(LeadingNumber("90\u00BA"), 90);
  EXPECT_EQ(LeadingNumber("8.5\" x 11\""), 8.5);
  EXPECT_EQ(LeadingNumber("11\""), 11);
  EXPECT_EQ(LeadingNumber("  12.25x"), 12.25);
  EXPECT_EQ(LeadingNumber("7."), 7);
  EXPECT_EQ(LeadingNumber("pt"), 0);
  EXPECT_EQ(LeadingNumber(""), 0);
  EXPECT_EQ(ToInt16(12.5), 12);
  EXPECT_EQ(ToInt16(13.5), 14);
  EXPECT_EQ(ToInt16(1e9), 32767);
}

TEST(RequestNamesTest, DerivedOutputNamesReplaceTheExtension) {
  EXPECT_EQ(DeriveOutputName("notes.txt"), "notes.pdf");
  EXPECT_EQ(DeriveOutputName("readme"), "readme.pdf");
  EXPECT_EQ(DeriveOutputName("notes.text"), "notes.pdf");
  EXPECT_EQ(DeriveOutputName("/home/a.b/README"), "/home/a.b/README.pdf");
  EXPECT_EQ(DeriveOutputName("/tmp/.profile"), "/tmp/.profile.pdf");
  EXPECT_EQ(DeriveOutputName("Report.TXT"), "Report.pdf");
  EXPECT_EQ(DeriveOutputName("x.pdf"), "x.pdf");
  EXPECT_EQ(StripEnclosingQuotes("\"C:/Docs/Report.TXT\""), "C:/Docs/Report.TXT");
  EXPECT_EQ(StripEnclosingQuotes("\"a\" \"b\""), "a\" \"b");
  EXPECT_EQ(StripEnclosingQuotes("\""), "\"");
  EXPECT_EQ(StripEnclosingQuotes("\"\""), "");
}

class RequestTest : public ::testing::Test {
 protected:
  RequestFields Fields() {
    RequestFields f = CommandLineRequest(input);
    f.outputfile = output;
    return f;
  }

  testing::TempDir dir;
  std::string input = dir.write("in.txt", "Hello\nWorld (1)\n");
  std::string output = dir.file("out.pdf");
  platform::StdFiles files;
  testing::FakeMessageBox messages;
  testing::FixedClock clock;
  testing::FakeShell shell;
  PdfWriter writer{files, messages, clock};
  RequestServices services{messages, files, shell, writer};
};

TEST_F(RequestTest, MissingNamesStopBeforeAnythingHappens) {
  RequestFields f = Fields();
  f.filename.clear();
  f.outputfile.clear();
  EXPECT_FALSE(RunConversionRequest(f, "", services).converted);
  f.filename = input;
  EXPECT_FALSE(RunConversionRequest(f, "", services).converted);
  ASSERT_EQ(messages.texts(), (std::vector<std::string>{"No Input File", "No Output File"}));
  EXPECT_EQ(messages.shown[0].icon, platform::Icon::Critical);
  EXPECT_EQ(messages.shown[1].title, "Scrivane");
}

TEST_F(RequestTest, OverwriteQuestionGuardsAnExistingFile) {
  dir.write("out.pdf", "keep me");
  messages.answers = {Answer::No};
  EXPECT_FALSE(RunConversionRequest(Fields(), "", services).converted);
  EXPECT_EQ(ReadFile(output), "keep me");
  ASSERT_EQ(messages.shown.size(), 1u);
  EXPECT_EQ(messages.shown[0].text, "Output File Already Exist. Do you want To OVERWRITE It?");
  EXPECT_EQ(messages.shown[0].title, "Scrivane v1.1");
  EXPECT_EQ(messages.shown[0].icon, platform::Icon::Warning);
  EXPECT_EQ(messages.shown[0].defaultButton, platform::DefaultButton::First);

  messages.answers = {Answer::Yes, Answer::Yes};
  const RequestOutcome done = RunConversionRequest(Fields(), "", services);
  EXPECT_TRUE(done.converted && done.succeeded && !done.closeWindow);
  EXPECT_EQ(ReadFile(output).substr(0, 8), "%PDF-1.2");
  ASSERT_EQ(messages.shown.size(), 3u);
  EXPECT_EQ(messages.shown[2].text, "PDF file is done.\r\rDo you want to open the generated PDF file?");
  EXPECT_EQ(messages.shown[2].defaultButton, platform::DefaultButton::Second);
  EXPECT_EQ(shell.opened, std::vector<std::string>{output});
}

TEST_F(RequestTest, AFolderOfTheOutputNameIsNoReasonToAsk) {
  output = dir.file("folder.pdf");
  ::mkdir(output.c_str(), 0755);
  messages.answers = {Answer::No};
  RunConversionRequest(Fields(), "", services);
  ASSERT_FALSE(messages.shown.empty());
  EXPECT_NE(messages.shown[0].text, kOverwriteQuestion);
}

TEST_F(RequestTest, AFailedConversionIsNeverCalledDone) {
  RequestFields f = Fields();
  f.filename = dir.file("missing.txt");
  const RequestOutcome r = RunConversionRequest(f, "", services);
  EXPECT_TRUE(r.converted);
  EXPECT_FALSE(r.succeeded);
  EXPECT_EQ(messages.texts(), std::vector<std::string>{"File '" + f.filename + "' does not exist."});
  EXPECT_TRUE(shell.opened.empty());
}

TEST_F(RequestTest, ACommandLineRunClosesInsteadOfAsking) {
  const RequestOutcome r = RunConversionRequest(Fields(), input, services);
  EXPECT_TRUE(r.succeeded);
  EXPECT_TRUE(r.closeWindow);
  EXPECT_TRUE(messages.shown.empty());
}

TEST_F(RequestTest, ListEntriesBecomeTheConversionSettings) {
  RequestFields f = Fields();
  f.font = "Courier";
  f.fontSize = "12pt";
  f.rotation = "270\u00BA";
  f.pageSize = "14\" x 11\"";
  messages.answers = {Answer::No};
  ASSERT_TRUE(RunConversionRequest(f, "", services).succeeded);
  const std::string pdf = ReadFile(output);
  for (const char* expected : {"/BaseFont /Courier\r", "/F1 12 Tf\r", "14.4 TL\r", "/Rotate 270\r",
                               "/MediaBox [ 0 0 1008 792 ]\r", "1 0 0 1 504 25 Tm\r"}) {
    EXPECT_NE(pdf.find(expected), std::string::npos) << expected;
  }
}

}  // namespace
}  // namespace scrivane
