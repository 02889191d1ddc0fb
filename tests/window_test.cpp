// Drives the main window through fake platform services: message boxes that
// answer from a script, dialogs that record their records, a shell that keeps
// what it was handed, and an end of the program that only counts.

#include <cmath>
#include <memory>

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFontDatabase>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QSet>
#include <QTest>

#include "platform/std_files.h"
#include "tests/support/fakes.h"
#include "tests/support/temp_dir.h"
#include "tests/support/window_fakes.h"
#include "window/box_text.h"
#include "window/form_convert_to_pdf.h"

using namespace scrivane;
using namespace scrivane::testing;
using platform::Answer;
using platform::Buttons;
using platform::DefaultButton;
using platform::Icon;

namespace {

const std::string kDone = "PDF file is done.\r\rDo you want to open the generated PDF file?";
const std::string kOverwrite = "Output File Already Exist. Do you want To OVERWRITE It?";

// One window with every service faked, files in a scratch folder.
struct Env {
  TempDir dir;
  platform::StdFiles files;
  FakeMessageBox messages;
  FixedClock clock;
  FakeCommandLine commandLine;
  FakeFileDialogs dialogs;
  FakeShell shell;
  FakeProgramEnd end;
  std::unique_ptr<formConvertToPDF> window;
  int shows = 0;

  Env() {
    window = std::make_unique<formConvertToPDF>(WindowServices{
        messages, files, clock, commandLine, dialogs, shell, end.function()});
  }

  template <typename T = QWidget>
  T* control(const char* name) const {
    T* w = window->findChild<T*>(QString::fromLatin1(name));
    if (w == nullptr) qFatal("no control %s", name);
    return w;
  }
  QLineEdit* box(const char* name) const { return control<QLineEdit>(name); }
  std::string text(const char* name) const { return box(name)->text().toStdString(); }
  void setText(const char* name, const std::string& t) const {
    box(name)->setText(QString::fromStdString(t));
  }
  void click(const char* name) const { QTest::mouseClick(control<QPushButton>(name), Qt::LeftButton); }

  bool showAndActivate() {
    window->show();
    window->activateWindow();
    return QTest::qWaitForWindowActive(window.get());
  }
};

bool StartsWith(const std::string& s, const std::string& prefix) {
  return s.compare(0, prefix.size(), prefix) == 0;
}

bool Contains(const std::string& s, const std::string& part) {
  return s.find(part) != std::string::npos;
}

// Counts the times a widget is shown.
class ShowCounter : public QObject {
 public:
  int shows = 0;

 protected:
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Show) ++shows;
    return false;
  }
};

}  // namespace

class WindowTest : public QObject {
  Q_OBJECT

 private slots:
  void layoutMatchesTheTable();
  void listsHoldTheirEntriesAndTakeNoText();
  void coloursAndFonts();
  void iconsAreOurOwnAndDiffer();
  void startWithoutCommandLineShowsDefaults();
  void focusStartsInTitleAndFollowsTabOrder();

  void emptyNamesAreRefusedInputFirst();
  void overwriteAnsweredNoLeavesTheOldFile();
  void overwriteYesThenOpenHandsOutputToShell();
  void doneAnsweredNoOpensNothing();
  void failedConversionAsksNoDoneQuestion();
  void listEntriesBecomeTheConversionSettings();

  void commandLineConvertsWithoutShowingTheWindow();
  void commandLineQuotedNameKeepsItsCase();
  void commandLineEmptyFileOrTwoNamesOpenTheWindow();
  void commandLineOutputExistsAndNo();
  void commandLineFailureEndsWithNonZeroStatus();
  void closingAfterAFailedConversionIsNoFailure();
  void commandLinePdfInputIsNotDestroyed();
  void textBoxesKeepBytesThatAreNotUtf8();

  void openDialogRecord();
  void saveDialogRecord();
  void filterConversion();
  void saveDialogProposesTheDefaultName();
  void openSetsBothNamesWithTheDerivedOutput_data();
  void openSetsBothNamesWithTheDerivedOutput();
  void chosenPathIsCutAtItsNulAndTrimmed();
  void cancelLeavesBothBoxes();
  void saveSetsOnlyTheOutputBox();

  void textBoxesSelectAllOnFocus();
  void enterEscapeAndAltP();
  void creditsClickHandsTooltipToShell();

  void closingPassesFollowTopAndScreenWidth();
  void closeBoxRunsTheSameUnload();
  void windowBelowScreenWidthMakesOnePass();
};

void WindowTest::layoutMatchesTheTable() {
  Env env;
  struct Row {
    const char* name;
    const char* className;
    const char* caption;  // nullptr: not checked here
    int left, top, width, height;
  };
  // Positions in twips, relative to the container.
  const Row rows[] = {
      {"frmTitle", "QFrame", nullptr, -45, -15, 6720, 1020},
      {"lblCaption", "QLabel", "Convert Scrivane", 210, 225, 5025, 585},
      {"imgIcon", "QLabel", nullptr, 5715, 135, 570, 630},
      {"lblTitle", "QLabel", "Title", 150, 1230, 1230, 255},
      {"txtTitle", "QLineEdit", "", 1470, 1185, 5100, 360},
      {"lblAuthor", "QLabel", "Author Name:", 150, 1680, 1230, 255},
      {"txtAuthor", "QLineEdit", "", 1470, 1635, 5100, 360},
      {"lblSubject", "QLabel", "Subject:", 150, 2145, 1230, 255},
      {"txtSubject", "QLineEdit", "", 1470, 2100, 5100, 360},
      {"lblKeyword", "QLabel", "Keywords:", 150, 2610, 1230, 255},
      {"txtKeywords", "QLineEdit", "", 1470, 2565, 5100, 360},
      {"lblCreator", "QLabel", "Creator:", 150, 3090, 1230, 255},
      {"txtCreator", "QLineEdit", "", 1470, 3045, 5100, 360},
      {"lblFilename", "QLabel", "Input File:", 135, 3525, 2895, 240},
      {"txtFilename", "QLineEdit", "", 120, 3780, 6420, 345},
      {"btnOpen", "QPushButton", "Browse", 4980, 4140, 1560, 330},
      {"lblOutputFile", "QLabel", "Output File:", 120, 4425, 2895, 225},
      {"txtOutputFile", "QLineEdit", "", 120, 4650, 6420, 345},
      {"btnSave", "QPushButton", "Browse", 4980, 5010, 1560, 330},
      {"cmbFont", "QComboBox", nullptr, 120, 5040, 2055, 315},
      {"cmbFontSize", "QComboBox", nullptr, 2160, 5040, 690, 315},
      {"cmbRotation", "QComboBox", nullptr, 2835, 5040, 690, 315},
      {"cmbPageSize", "QComboBox", nullptr, 3540, 5040, 1065, 315},
      {"frmSep", "QFrame", nullptr, -60, 5385, 6765, 120},
      {"btnConvert", "QPushButton", "&Produce PDF", 3750, 5580, 1350, 420},
      {"btnClose", "QPushButton", "Close", 5190, 5580, 1350, 420},
      {"lblCredits", "QLabel", "", 75, 6100, 6500, 210},
  };
  const auto px = [](int twips) { return static_cast<int>(std::lround(twips / 15.0)); };

  QCOMPARE(env.window->objectName(), QStringLiteral("formConvertToPDF"));
  QCOMPARE(env.window->windowTitle(), QStringLiteral("Scrivane v1.1"));
  QCOMPARE(env.window->size(), QSize(444, 414));
  // Every control of the table, and no other.
  QStringList tableNames, controlNames;
  for (const Row& row : rows) tableNames << row.name;
  const QRegularExpression prefix("^(frm|lbl|txt|cmb|btn|img)");
  for (const QWidget* w : env.window->findChildren<QWidget*>()) {
    if (prefix.match(w->objectName()).hasMatch()) controlNames << w->objectName();
  }
  tableNames.sort();
  controlNames.sort();
  QCOMPARE(controlNames, tableNames);
  for (const Row& row : rows) {
    QWidget* w = env.control(row.name);
    QVERIFY2(w->inherits(row.className), row.name);
    QCOMPARE(w->geometry(), QRect(px(row.left), px(row.top), px(row.width), px(row.height)));
    if (row.caption == nullptr) continue;
    QString caption;
    if (auto* label = qobject_cast<QLabel*>(w)) caption = label->text();
    if (auto* button = qobject_cast<QPushButton*>(w)) caption = button->text();
    if (auto* edit = qobject_cast<QLineEdit*>(w)) caption = edit->text();
    QCOMPARE(caption, QString::fromUtf8(row.caption));
  }
  // The title panel holds the big caption and the picture; all else lies in the window.
  QCOMPARE(env.control("lblCaption")->parentWidget(), env.control("frmTitle"));
  QCOMPARE(env.control("imgIcon")->parentWidget(), env.control("frmTitle"));
  QCOMPARE(env.control("lblCredits")->parentWidget(), env.window.get());

  QVERIFY(!env.control<QLabel>("lblCredits")->toolTip().isEmpty());
  QCOMPARE(env.control("lblCredits")->property("Index").toInt(), 1);
  QVERIFY(env.control<QLabel>("imgIcon")->hasScaledContents());
}

void WindowTest::listsHoldTheirEntriesAndTakeNoText() {
  Env env;
  const auto entries = [&](const char* name) {
    QStringList out;
    auto* list = env.control<QComboBox>(name);
    for (int i = 0; i < list->count(); ++i) out << list->itemText(i);
    return out;
  };
  QCOMPARE(entries("cmbFont"), (QStringList{"Courier", "Times-Roman", "Arial"}));
  QCOMPARE(entries("cmbFontSize"), (QStringList{"8pt", "10pt", "12pt", "14pt", "16pt", "18pt", "20pt"}));
  QCOMPARE(entries("cmbRotation"),
           (QStringList{QString::fromUtf8("0\u00BA"), QString::fromUtf8("90\u00BA"),
                        QString::fromUtf8("180\u00BA"), QString::fromUtf8("270\u00BA")}));
  QCOMPARE(entries("cmbPageSize"),
           (QStringList{"8.5\" x 11\"", "8.5\" x 14\"", "14\" x 11\""}));
  for (const char* name : {"cmbFont", "cmbFontSize", "cmbRotation", "cmbPageSize"}) {
    auto* list = env.control<QComboBox>(name);
    QVERIFY2(!list->isEditable(), name);
    QCOMPARE(list->currentIndex(), -1);  // nothing selected before the load event
  }
  // Typing into a list only picks among its entries.
  env.window->Form_Load();
  auto* font = env.control<QComboBox>("cmbFont");
  QTest::keyClicks(font, "Helvetica");
  QVERIFY(QStringList({"Courier", "Times-Roman", "Arial"}).contains(font->currentText()));
}

void WindowTest::coloursAndFonts() {
  Env env;
  const QColor grey(0xC0, 0xC0, 0xC0), white(0xFF, 0xFF, 0xFF), creditGrey(0x80, 0x80, 0x80);
  const auto background = [&](const char* name) {
    QWidget* w = name == nullptr ? env.window.get() : env.control(name);
    return w->palette().color(w->backgroundRole());
  };
  QCOMPARE(background(nullptr), grey);
  QVERIFY(env.window->autoFillBackground());
  for (const char* name : {"frmSep", "lblTitle", "lblAuthor", "lblSubject", "lblKeyword",
                           "lblCreator", "lblFilename", "lblOutputFile", "lblCredits", "btnOpen",
                           "btnSave", "btnConvert", "btnClose"}) {
    QVERIFY2(background(name) == grey, name);
    if (name[0] == 'l') QVERIFY2(env.control(name)->autoFillBackground(), name);
  }
  QCOMPARE(background("frmTitle"), white);
  QCOMPARE(background("lblCaption"), white);
  QVERIFY(env.control("frmTitle")->autoFillBackground());
  QCOMPARE(env.control("lblCredits")->palette().color(QPalette::WindowText), creditGrey);
  const QPalette standard = QApplication::palette();
  for (const char* name : {"txtTitle", "txtFilename", "cmbFont"}) {
    QVERIFY2(env.control(name)->palette().color(QPalette::Base) == standard.color(QPalette::Base), name);
    QVERIFY2(env.control(name)->palette().color(QPalette::Text) == standard.color(QPalette::Text), name);
  }

  const bool msSansSerif = QFontDatabase::hasFamily("MS Sans Serif");
  const auto checkFont = [&](const char* name, qreal points, int weight) {
    const QFont f = env.control(name)->font();
    QCOMPARE(f.pointSizeF(), points);
    QCOMPARE(int(f.weight()), weight);
    QVERIFY(!f.italic() && !f.underline() && !f.strikeOut());
    if (msSansSerif) QCOMPARE(f.family(), QStringLiteral("MS Sans Serif"));
    else QCOMPARE(f.styleHint(), QFont::SansSerif);
  };
  checkFont("lblCaption", 18, 700);
  for (const char* name : {"txtTitle", "txtAuthor", "txtSubject", "txtKeywords", "txtCreator"}) {
    checkFont(name, 9.75, 400);
  }
  // The file name boxes keep the window's own font.
  QCOMPARE(env.control("txtFilename")->font(), env.window->font());
}

void WindowTest::iconsAreOurOwnAndDiffer() {
  Env env;
  const QImage windowIcon = env.window->windowIcon().pixmap(32, 32).toImage();
  const QImage panelIcon = env.control<QLabel>("imgIcon")->pixmap().toImage();
  QCOMPARE(windowIcon.size(), QSize(32, 32));
  QCOMPARE(panelIcon.size(), QSize(32, 32));
  QVERIFY(windowIcon.convertToFormat(QImage::Format_ARGB32) !=
          panelIcon.convertToFormat(QImage::Format_ARGB32));
  // Drawn pictures, not blanks, within 256 colours.
  for (const QImage& icon : {windowIcon, panelIcon}) {
    QSet<QRgb> colours;
    for (int y = 0; y < icon.height(); ++y) {
      for (int x = 0; x < icon.width(); ++x) colours.insert(icon.pixel(x, y));
    }
    QVERIFY(colours.size() > 4 && colours.size() <= 256);
  }
}

void WindowTest::startWithoutCommandLineShowsDefaults() {
  Env env;
  env.window->Form_Load();
  QCOMPARE(env.text("txtCreator"), std::string("Scrivane v1.1"));
  QCOMPARE(env.control<QComboBox>("cmbFont")->currentText(), QStringLiteral("Times-Roman"));
  QCOMPARE(env.control<QComboBox>("cmbFontSize")->currentText(), QStringLiteral("10pt"));
  QCOMPARE(env.control<QComboBox>("cmbRotation")->currentText(), QString::fromUtf8("0\u00BA"));
  QCOMPARE(env.control<QComboBox>("cmbPageSize")->currentText(), QStringLiteral("8.5\" x 11\""));
  for (const char* name : {"txtFilename", "txtOutputFile", "txtTitle", "txtAuthor", "txtSubject",
                           "txtKeywords"}) {
    QVERIFY2(env.text(name).empty(), name);
  }
  QVERIFY(env.messages.shown.empty());
  QVERIFY(env.end.ends.empty());
  QVERIFY(env.window->cmdfile().empty());
}

void WindowTest::focusStartsInTitleAndFollowsTabOrder() {
  Env env;
  env.window->Form_Load();
  QVERIFY(env.showAndActivate());
  QCOMPARE(QApplication::focusWidget(), env.control("txtTitle"));
  const QStringList expected = {"txtAuthor", "txtSubject", "txtKeywords", "txtCreator",
                                "txtFilename", "txtOutputFile", "btnOpen", "btnSave",
                                "btnConvert", "btnClose", "cmbFont", "cmbFontSize",
                                "cmbRotation", "cmbPageSize", "txtTitle"};
  QStringList seen;
  for (qsizetype i = 0; i < expected.size(); ++i) {
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    seen << QApplication::focusWidget()->objectName();
  }
  QCOMPARE(seen, expected);
}

void WindowTest::emptyNamesAreRefusedInputFirst() {
  Env env;
  env.window->Form_Load();
  env.click("btnConvert");
  QCOMPARE(env.messages.shown.size(), std::size_t(1));
  const auto& first = env.messages.shown[0];
  QCOMPARE(first.text, std::string("No Input File"));
  QVERIFY(first.buttons == Buttons::Ok && first.icon == Icon::Critical);
  QVERIFY(first.defaultButton == DefaultButton::First);
  QCOMPARE(first.title, std::string("Scrivane"));

  env.setText("txtFilename", env.dir.write("in.txt", "text\n"));
  env.click("btnConvert");
  QCOMPARE(env.messages.shown.size(), std::size_t(2));
  QCOMPARE(env.messages.shown[1].text, std::string("No Output File"));
  QVERIFY(env.messages.shown[1].icon == Icon::Critical);
  QCOMPARE(env.messages.shown[1].title, std::string("Scrivane"));
  QVERIFY(env.shell.opened.empty());
}

void WindowTest::overwriteAnsweredNoLeavesTheOldFile() {
  Env env;
  env.window->Form_Load();
  env.setText("txtFilename", env.dir.write("in.txt", "text\n"));
  const std::string out = env.dir.write("out.pdf", "old");
  env.setText("txtOutputFile", out);
  env.messages.answers = {Answer::No};
  env.click("btnConvert");
  QCOMPARE(env.messages.shown.size(), std::size_t(1));
  const auto& question = env.messages.shown[0];
  QCOMPARE(question.text, kOverwrite);
  QVERIFY(question.buttons == Buttons::YesNo && question.icon == Icon::Warning);
  QVERIFY(question.defaultButton == DefaultButton::First);
  QCOMPARE(question.title, std::string("Scrivane v1.1"));
  QCOMPARE(ReadFile(out), std::string("old"));
}

void WindowTest::overwriteYesThenOpenHandsOutputToShell() {
  Env env;
  env.window->Form_Load();
  env.setText("txtFilename", env.dir.write("in.txt", "hello\n"));
  const std::string out = env.dir.write("out.pdf", "old");
  env.setText("txtOutputFile", out);
  env.messages.answers = {Answer::Yes, Answer::Yes};
  env.click("btnConvert");
  QCOMPARE(env.messages.texts(), (std::vector<std::string>{kOverwrite, kDone}));
  const auto& done = env.messages.shown[1];
  QVERIFY(done.buttons == Buttons::YesNo && done.icon == Icon::Question);
  QVERIFY(done.defaultButton == DefaultButton::Second);
  QCOMPARE(done.title, std::string("Scrivane"));
  QVERIFY(StartsWith(ReadFile(out), "%PDF-1.2"));
  QCOMPARE(env.shell.opened, std::vector<std::string>{out});
  QVERIFY(env.end.ends.empty());
}

void WindowTest::doneAnsweredNoOpensNothing() {
  Env env;
  env.window->Form_Load();
  env.setText("txtFilename", env.dir.write("in.txt", "hello\n"));
  env.setText("txtOutputFile", env.dir.file("new.pdf"));
  env.messages.answers = {Answer::No};
  env.click("btnConvert");
  QCOMPARE(env.messages.texts(), std::vector<std::string>{kDone});
  QVERIFY(Exists(env.dir.file("new.pdf")));
  QVERIFY(env.shell.opened.empty());
}

void WindowTest::failedConversionAsksNoDoneQuestion() {
  Env env;
  env.window->Form_Load();
  const std::string missing = env.dir.file("missing.txt");
  env.setText("txtFilename", missing);
  env.setText("txtOutputFile", env.dir.file("out.pdf"));
  env.click("btnConvert");
  QCOMPARE(env.messages.texts(),
           std::vector<std::string>{"File '" + missing + "' does not exist."});
  QVERIFY(env.shell.opened.empty());
  QVERIFY(env.end.ends.empty());
  QVERIFY(!Exists(env.dir.file("out.pdf")));
}

void WindowTest::listEntriesBecomeTheConversionSettings() {
  Env env;
  env.window->Form_Load();
  env.setText("txtFilename", env.dir.write("in.txt", "hello\n"));
  env.setText("txtOutputFile", env.dir.file("out.pdf"));
  env.setText("txtTitle", "My Title");
  env.setText("txtAuthor", "Me");
  env.setText("txtSubject", "\xCE\x91\xE2\x80\x9Cq\xE2\x80\x9D");
  env.control<QComboBox>("cmbFont")->setCurrentIndex(0);      // Courier
  env.control<QComboBox>("cmbFontSize")->setCurrentIndex(2);  // 12pt
  env.control<QComboBox>("cmbRotation")->setCurrentIndex(1);  // 90º
  env.control<QComboBox>("cmbPageSize")->setCurrentIndex(2);  // 14" x 11"
  env.messages.answers = {Answer::No};
  env.click("btnConvert");
  std::string pdf = ReadFile(env.dir.file("out.pdf"));
  for (char& c : pdf) {
    if (c == '\r') c = '\n';
  }
  QVERIFY(Contains(pdf, "/BaseFont /Courier"));
  QVERIFY(Contains(pdf, "/F1 12 Tf"));
  QVERIFY(Contains(pdf, "/Rotate 90"));
  QVERIFY(Contains(pdf, "/MediaBox [ 0 0 1008 792 ]"));
  QVERIFY(Contains(pdf, "/Title (My Title)"));
  QVERIFY(Contains(pdf, "/Author (Me)"));
  // The box's characters, not their bytes: Alpha and typographic quotes.
  QVERIFY(Contains(pdf, "/Subject <FEFF0391201C0071201D>"));
  QVERIFY(Contains(pdf, "/Creator (Scrivane v1.1)"));
}

void WindowTest::commandLineConvertsWithoutShowingTheWindow() {
  Env env;
  ShowCounter counter;
  env.window->installEventFilter(&counter);
  const std::string input = env.dir.write("notes.txt", "hello\n");
  env.commandLine.text = input;
  env.window->Form_Load();
  QCOMPARE(env.window->cmdfile(), input);
  QCOMPARE(env.text("txtFilename"), input);
  QCOMPARE(env.text("txtOutputFile"), env.dir.file("notes.pdf"));
  QVERIFY(StartsWith(ReadFile(env.dir.file("notes.pdf")), "%PDF-1.2"));
  QVERIFY(env.messages.shown.empty());
  QCOMPARE(env.end.ends, std::vector<RunEnd>{RunEnd::Converted});
  QVERIFY(env.window->closingPasses() > 0);
  QCOMPARE(counter.shows, 0);
  QVERIFY(!env.window->isVisible());
}

void WindowTest::commandLineQuotedNameKeepsItsCase() {
  Env env;
  const std::string input = env.dir.write("Report.TXT", "hello\n");
  env.commandLine.text = "\"" + input + "\"";
  env.window->Form_Load();
  QCOMPARE(env.text("txtFilename"), input);
  QCOMPARE(env.text("txtOutputFile"), env.dir.file("Report.pdf"));
  QVERIFY(Exists(env.dir.file("Report.pdf")));
  QCOMPARE(env.end.ends, std::vector<RunEnd>{RunEnd::Converted});
}

void WindowTest::textBoxesKeepBytesThatAreNotUtf8() {
  // UTF-8 reads as it should; any other bytes come back from the box unchanged.
  QCOMPARE(BoxText("caf\xC3\xA9 \xF0\x9F\x98\x80"), QString::fromUtf8("caf\xC3\xA9 \xF0\x9F\x98\x80"));
  std::uint32_t seed = 7;
  for (int n = 0; n < 500; ++n) {
    std::string bytes;
    for (int k = 0; k < n % 19; ++k) {
      seed = seed * 1103515245u + 12345u;
      const char pool[] = {'a', '\xC3', '\xA9', '\xE2', '\x82', '\xAC', '\xF0', '\x9F', '\xED', '\xFF'};
      bytes += pool[(seed >> 16) % sizeof pool];
    }
    QCOMPARE(BoxBytes(BoxText(bytes)), bytes);
  }

  // A Latin-1 name from the command line converts to the PDF of that name.
  Env env;
  const std::string input = env.dir.write("r\xE9sum\xE9.txt", "hello\n");
  env.commandLine.text = input;
  env.window->Form_Load();
  QCOMPARE(env.end.ends, std::vector<RunEnd>{RunEnd::Converted});
  QVERIFY(Exists(env.dir.file("r\xE9sum\xE9.pdf")));
}

void WindowTest::commandLineEmptyFileOrTwoNamesOpenTheWindow() {
  for (const bool twoNames : {false, true}) {
    Env env;
    const std::string a = env.dir.write("a.txt", twoNames ? "text\n" : "");
    const std::string b = env.dir.write("b.txt", "text\n");
    env.commandLine.text = twoNames ? a + " " + b : a;
    env.window->Form_Load();
    QVERIFY(env.text("txtFilename").empty());
    QVERIFY(env.text("txtOutputFile").empty());
    QVERIFY(env.messages.shown.empty());
    QVERIFY(env.end.ends.empty());
    QVERIFY(!Exists(env.dir.file("a.pdf")));
  }
}

void WindowTest::commandLineOutputExistsAndNo() {
  Env env;
  const std::string input = env.dir.write("notes.txt", "hello\n");
  const std::string output = env.dir.write("notes.pdf", "old");
  env.commandLine.text = input;
  env.messages.answers = {Answer::No};
  env.window->Form_Load();
  QCOMPARE(env.messages.texts(), std::vector<std::string>{kOverwrite});
  QVERIFY(env.end.ends.empty());
  QCOMPARE(env.text("txtFilename"), input);
  QCOMPARE(env.text("txtOutputFile"), output);
  QCOMPARE(ReadFile(output), std::string("old"));

  // The name stays remembered: a later conversion ends the program instead of asking "done".
  env.messages.answers = {Answer::Yes};
  env.click("btnConvert");
  QCOMPARE(env.messages.texts(), (std::vector<std::string>{kOverwrite, kOverwrite}));
  QVERIFY(StartsWith(ReadFile(output), "%PDF-1.2"));
  QCOMPARE(env.end.ends, std::vector<RunEnd>{RunEnd::Converted});
}

void WindowTest::commandLineFailureEndsWithNonZeroStatus() {
  Env env;
  const std::string input = env.dir.write("notes.txt", "hello\n");
  // The output name is taken by a folder: the lookup sees no file, writing fails.
  QVERIFY(QDir().mkdir(QString::fromStdString(env.dir.file("notes.pdf"))));
  env.commandLine.text = input;
  env.window->Form_Load();
  QVERIFY(!env.messages.shown.empty());
  for (const auto& box : env.messages.shown) QVERIFY(box.text != kDone);
  QCOMPARE(env.end.ends, std::vector<RunEnd>{RunEnd::Failed});
}

void WindowTest::closingAfterAFailedConversionIsNoFailure() {
  Env env;
  env.window->Form_Load();
  env.setText("txtFilename", env.dir.file("missing.txt"));
  env.setText("txtOutputFile", env.dir.file("missing.pdf"));
  env.click("btnConvert");
  QVERIFY(!env.messages.shown.empty());
  QVERIFY(env.end.ends.empty());
  env.click("btnClose");
  QCOMPARE(env.end.ends, std::vector<RunEnd>{RunEnd::Closed});
}

void WindowTest::commandLinePdfInputIsNotDestroyed() {
  Env env;
  const std::string input = env.dir.write("paper.pdf", "not really a PDF\n");
  env.commandLine.text = input;
  env.messages.answers = {Answer::Yes};
  env.window->Form_Load();
  QCOMPARE(env.messages.shown.at(0).text, kOverwrite);
  QCOMPARE(ReadFile(input), std::string("not really a PDF\n"));
  QCOMPARE(env.end.ends, std::vector<RunEnd>{RunEnd::Failed});
}

void WindowTest::openDialogRecord() {
  Env env;
  env.window->Form_Load();
  env.click("btnOpen");
  QCOMPARE(env.dialogs.calls.size(), std::size_t(1));
  const auto& call = env.dialogs.calls[0];
  QVERIFY(!call.save);
  const auto& r = call.record;
  QCOMPARE(r.lStructSize, 76u);
  QCOMPARE(r.hwndOwner, static_cast<std::uintptr_t>(env.window->winId()));
  QVERIFY(r.hInstance != 0);
  QCOMPARE(r.lpstrFilter, std::string("Text files (*.txt)\0*.txt\0All files (*.*)\0*.*\0\0", 46));
  QVERIFY(r.lpstrCustomFilter.empty());
  QCOMPARE(r.nMaxCustFilter, 0u);
  QCOMPARE(r.nFilterIndex, 0u);
  QCOMPARE(r.lpstrFile, std::string(254, ' '));
  QCOMPARE(r.nMaxFile, 255u);
  QCOMPARE(r.lpstrFileTitle, std::string(254, ' '));
  QCOMPARE(r.nMaxFileTitle, 255u);
  QVERIFY(r.lpstrInitialDir.empty());
  QCOMPARE(r.lpstrTitle, std::string("Select a text file"));
  QCOMPARE(r.Flags, 4100u);
  QVERIFY(r.lpstrDefExt.empty());
}

void WindowTest::saveDialogRecord() {
  Env env;
  env.window->Form_Load();
  env.click("btnSave");
  QCOMPARE(env.dialogs.calls.size(), std::size_t(1));
  QVERIFY(env.dialogs.calls[0].save);
  const auto& r = env.dialogs.calls[0].record;
  QCOMPARE(r.lStructSize, 76u);
  QCOMPARE(r.lpstrFilter,
           std::string("Portable Document Format files (*.pdf)\0*.pdf\0\0", 46));
  QCOMPARE(r.lpstrFile, std::string(254, ' '));
  QCOMPARE(r.nMaxFile, 255u);
  QCOMPARE(r.lpstrFileTitle, std::string(254, ' '));
  QCOMPARE(r.nMaxFileTitle, 255u);
  QCOMPARE(r.lpstrTitle, std::string("Save PDF As"));
  QVERIFY(r.lpstrInitialDir.empty());
  QCOMPARE(r.Flags, 8198u);
  QCOMPARE(r.lpstrDefExt, std::string("pdf"));
  QCOMPARE(r.nFilterIndex, 0u);
}

void WindowTest::filterConversion() {
  Env env;
  const auto filterOf = [&](const std::string& filter) {
    env.window->OpenDialog(env.window.get(), filter, "t", "/tmp");
    return env.dialogs.calls.back().record.lpstrFilter;
  };
  QCOMPARE(filterOf("A (*.a)|*.a|"), std::string("A (*.a)\0*.a\0\0", 13));
  QCOMPARE(filterOf("A (*.a)|*.a"), std::string("A (*.a)\0*.a\0\0", 13));
  QCOMPARE(filterOf(""), std::string("\0\0", 2));
  QCOMPARE(env.dialogs.calls.back().record.lpstrInitialDir, std::string("/tmp"));
}

void WindowTest::saveDialogProposesTheDefaultName() {
  Env env;
  env.window->SaveDialog(env.window.get(), "P|*.pdf", "t", "", "draft.pdf");
  QCOMPARE(env.dialogs.calls.back().record.lpstrFile,
           "draft.pdf" + std::string(254 - 9, ' '));
  const std::string longName(300, 'n');
  env.window->SaveDialog(env.window.get(), "P|*.pdf", "t", "", longName);
  QCOMPARE(env.dialogs.calls.back().record.lpstrFile, std::string(254, 'n'));
}

void WindowTest::openSetsBothNamesWithTheDerivedOutput_data() {
  QTest::addColumn<QString>("chosen");
  QTest::addColumn<QString>("derived");
  QTest::newRow("txt") << "/d/notes.txt" << "/d/notes.pdf";
  QTest::newRow("no extension") << "/d/readme" << "/d/readme.pdf";
  QTest::newRow("long extension") << "/d/notes.text" << "/d/notes.pdf";
  QTest::newRow("dot in folder") << "/d.v2/readme" << "/d.v2/readme.pdf";
  QTest::newRow("leading dot") << "/d/.profile" << "/d/.profile.pdf";
  QTest::newRow("two dots") << "/d/a.tar.gz" << "/d/a.tar.pdf";
}

void WindowTest::openSetsBothNamesWithTheDerivedOutput() {
  QFETCH(QString, chosen);
  QFETCH(QString, derived);
  Env env;
  env.window->Form_Load();
  env.setText("txtOutputFile", "typed-before.pdf");
  env.dialogs.answers = {FakeFileDialogs::Chosen(chosen.toStdString())};
  env.click("btnOpen");
  QCOMPARE(env.box("txtFilename")->text(), chosen);
  QCOMPARE(env.box("txtOutputFile")->text(), derived);
}

void WindowTest::chosenPathIsCutAtItsNulAndTrimmed() {
  Env env;
  std::string buffer = "  /d/in.txt  ";
  buffer += '\0';
  buffer += "stale rest";
  env.dialogs.answers = {{true, buffer}};
  QCOMPARE(env.window->OpenDialog(env.window.get(), "T|*.txt", "t", ""), std::string("/d/in.txt"));
}

void WindowTest::cancelLeavesBothBoxes() {
  Env env;
  env.window->Form_Load();
  env.setText("txtFilename", "in.txt");
  env.setText("txtOutputFile", "out.pdf");
  env.dialogs.answers = {FakeFileDialogs::Cancelled(), FakeFileDialogs::Cancelled()};
  env.click("btnOpen");
  env.click("btnSave");
  QCOMPARE(env.dialogs.calls.size(), std::size_t(2));
  QCOMPARE(env.text("txtFilename"), std::string("in.txt"));
  QCOMPARE(env.text("txtOutputFile"), std::string("out.pdf"));
}

void WindowTest::saveSetsOnlyTheOutputBox() {
  Env env;
  env.window->Form_Load();
  env.setText("txtFilename", "in.txt");
  env.dialogs.answers = {FakeFileDialogs::Chosen("/d/chosen.pdf")};
  env.click("btnSave");
  QCOMPARE(env.text("txtFilename"), std::string("in.txt"));
  QCOMPARE(env.text("txtOutputFile"), std::string("/d/chosen.pdf"));
}

void WindowTest::textBoxesSelectAllOnFocus() {
  Env env;
  env.window->Form_Load();
  QVERIFY(env.showAndActivate());
  const char* const names[] = {"txtTitle", "txtAuthor", "txtSubject", "txtKeywords",
                               "txtCreator", "txtFilename", "txtOutputFile"};
  for (const char* name : names) env.setText(name, std::string("text of ") + name);
  env.control("btnClose")->setFocus();
  for (const char* name : names) {
    QLineEdit* box = env.box(name);
    box->deselect();
    box->setCursorPosition(3);
    // A focus change that QLineEdit itself leaves alone: only our handler selects.
    box->setFocus(Qt::OtherFocusReason);
    QVERIFY2(box->hasFocus(), name);
    QCOMPARE(box->selectedText(), box->text());
    QCOMPARE(box->selectionStart(), 0);
    env.control("btnClose")->setFocus();
  }
  // Typing after a keyboard move replaces the whole text.
  env.control("txtCreator")->setFocus();
  QTest::keyClick(env.control("txtCreator"), Qt::Key_Tab);
  QTest::keyClicks(env.box("txtFilename"), "new.txt");
  QCOMPARE(env.text("txtFilename"), std::string("new.txt"));
  // An empty box: nothing selected, cursor at 0.
  env.setText("txtAuthor", "");
  env.box("txtAuthor")->setFocus(Qt::OtherFocusReason);
  QVERIFY(!env.box("txtAuthor")->hasSelectedText());
  QCOMPARE(env.box("txtAuthor")->cursorPosition(), 0);
}

void WindowTest::enterEscapeAndAltP() {
  Env env;
  env.window->Form_Load();
  QVERIFY(env.showAndActivate());
  QTest::keyClick(env.control("txtTitle"), Qt::Key_Return);
  QCOMPARE(env.messages.texts(), std::vector<std::string>{"No Input File"});
  QTest::keyClick(env.control("cmbRotation"), Qt::Key_Enter, Qt::KeypadModifier);
  QCOMPARE(env.messages.shown.size(), std::size_t(2));
  // Alt+P reaches the window through the focused box, as a typed key does.
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_P, Qt::AltModifier);
  // An access key presses the button visibly, so the click comes a moment later.
  QTRY_COMPARE(env.messages.shown.size(), std::size_t(3));
  // Enter on another button clicks that button, not the default one.
  env.control("btnOpen")->setFocus();
  QTest::keyClick(env.control("btnOpen"), Qt::Key_Return);
  QCOMPARE(env.dialogs.calls.size(), std::size_t(1));
  QCOMPARE(env.messages.shown.size(), std::size_t(3));
  QVERIFY(env.end.ends.empty());
  QTest::keyClick(env.control("txtAuthor"), Qt::Key_Escape);
  QCOMPARE(env.end.ends, std::vector<RunEnd>{RunEnd::Closed});
  QVERIFY(!env.window->isVisible());
}

void WindowTest::creditsClickHandsTooltipToShell() {
  Env env;
  env.window->Form_Load();
  QVERIFY(env.showAndActivate());
  auto* credits = env.control<QLabel>("lblCredits");
  QTest::mouseClick(credits, Qt::LeftButton, {}, QPoint(20, 5));
  QCOMPARE(env.shell.opened, std::vector<std::string>{credits->toolTip().toStdString()});
  QVERIFY(env.messages.shown.empty());
  QVERIFY(env.end.ends.empty());
}

void WindowTest::closingPassesFollowTopAndScreenWidth() {
  Env env;
  env.window->Form_Load();
  QVERIFY(env.showAndActivate());
  env.window->move(40, 100);
  QCoreApplication::processEvents();
  const float top = env.window->Top();
  const float screen = env.window->ScreenWidth();
  QVERIFY(top < screen);
  const int expected = static_cast<int>(std::floor((screen - top) / 30.0f)) + 1;
  const QSize before = env.window->size();
  env.click("btnClose");
  QCOMPARE(env.window->closingPasses(), expected);
  QCOMPARE(env.end.ends, std::vector<RunEnd>{RunEnd::Closed});
  QVERIFY(env.window->Top() > screen);
  QVERIFY(env.window->width() < before.width() && env.window->height() < before.height());
  QVERIFY(!env.window->isVisible());
  // A second close does not run the animation again.
  env.window->close();
  QCOMPARE(env.end.ends.size(), std::size_t(1));
}

void WindowTest::closeBoxRunsTheSameUnload() {
  Env env;
  env.window->Form_Load();
  QVERIFY(env.showAndActivate());
  env.window->move(0, 300);
  QCoreApplication::processEvents();
  const float top = env.window->Top();
  const int expected = static_cast<int>(std::floor((env.window->ScreenWidth() - top) / 30.0f)) + 1;
  QVERIFY(env.window->close());
  QCOMPARE(env.window->closingPasses(), expected);
  QCOMPARE(env.end.ends, std::vector<RunEnd>{RunEnd::Closed});
}

void WindowTest::windowBelowScreenWidthMakesOnePass() {
  Env env;
  env.window->Form_Load();
  QVERIFY(env.showAndActivate());
  const int screenWidth = env.window->screen()->geometry().width();
  env.window->move(0, screenWidth + 10);
  QCoreApplication::processEvents();
  QVERIFY(env.window->Top() > env.window->ScreenWidth());
  env.click("btnClose");
  QCOMPARE(env.window->closingPasses(), 1);
  QCOMPARE(env.end.ends, std::vector<RunEnd>{RunEnd::Closed});
}

QTEST_MAIN(WindowTest)
#include "window_test.moc"
