// The Qt implementations of the seams: message boxes and file dialogs are
// driven as a user would, by finding the modal window and pressing its buttons.

#include <cstdio>
#include <functional>

#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include "platform/qt_file_dialogs.h"
#include "platform/qt_message_box.h"
#include "platform/qt_shell.h"

using namespace scrivane::platform;

namespace {

// Runs `act` on the first modal window of type T that appears.
template <typename T>
void WhenModal(std::function<void(T*)> act) {
  QTimer::singleShot(5, [act] {
    if (auto* w = qobject_cast<T*>(QApplication::activeModalWidget())) {
      act(w);
    } else {
      WhenModal<T>(act);
    }
  });
}

OpenFileName Record(const std::string& filter, std::uint32_t flags, const std::string& dir) {
  OpenFileName r;
  r.lStructSize = 76;
  r.lpstrFilter = filter;
  r.lpstrFile = std::string(254, ' ');
  r.nMaxFile = 255;
  r.lpstrFileTitle = std::string(254, ' ');
  r.nMaxFileTitle = 255;
  r.lpstrInitialDir = dir;
  r.Flags = flags;
  return r;
}

// Types the path into the dialog's name field, as a user would. selectFile()
// on a shown dialog whose name field has the focus only selects the file in
// the list, which the dialog fills from a background thread: on a busy
// machine the file is not listed yet, and accept() then does nothing.
void TypeFile(QFileDialog* d, const QString& path) {
  auto* edit = d->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
  QVERIFY2(edit != nullptr, "the file dialog has no name field");
  edit->setText(path);
}

std::string UpToNul(const std::string& s) { return s.substr(0, s.find('\0')); }

}  // namespace

// Keeps the URLs that the desktop services were asked to open.
class UrlCatcher : public QObject {
  Q_OBJECT

 public:
  QList<QUrl> urls;

 public slots:
  void take(const QUrl& url) { urls << url; }
};

class QtPlatformTest : public QObject {
  Q_OBJECT

 private slots:
  void filterListsBecomePairs();
  void pairsBecomeQtNameFilters();
  void chosenPathIsStoredOnlyWhenItFits();
  void carriageReturnsStartLines();
  void messageBoxShowsWhatItIsGiven();
  void messageBoxReturnsTheButtonPressed();
  void openDialogFollowsTheRecord();
  void saveDialogAppendsExtensionAndAsksToCreate();
  void cancelledDialogLeavesTheBuffer();
  void shellOpensFilesByTheirBytesAndOtherTextsAsUrls();
};

void QtPlatformTest::filterListsBecomePairs() {
  const auto pairs = ParseFilterList(std::string("Text (*.txt)\0*.txt\0All\0*.*\0\0", 28));
  QCOMPARE(pairs.size(), std::size_t(2));
  QCOMPARE(pairs[0].description, std::string("Text (*.txt)"));
  QCOMPARE(pairs[0].pattern, std::string("*.txt"));
  QCOMPARE(pairs[1].description, std::string("All"));
  QCOMPARE(pairs[1].pattern, std::string("*.*"));
  QVERIFY(ParseFilterList(std::string("\0\0", 2)).empty());
  QVERIFY(ParseFilterList("").empty());
  // A description without its pattern is no pair; the list ends at the empty entry.
  QCOMPARE(ParseFilterList(std::string("A\0*.a\0B\0", 8)).size(), std::size_t(1));
  QCOMPARE(ParseFilterList(std::string("A\0*.a\0\0B\0*.b\0", 13)).size(), std::size_t(1));
}

void QtPlatformTest::pairsBecomeQtNameFilters() {
  QCOMPARE(ToQtNameFilter({"Text files (*.txt)", "*.txt"}), std::string("Text files (*.txt)"));
  QCOMPARE(ToQtNameFilter({"Pictures", "*.png;*.jpg"}), std::string("Pictures (*.png *.jpg)"));
  QCOMPARE(ToQtNameFilter({"Text (*.txt)", "*.text"}), std::string("Text (*.txt) (*.text)"));
  QCOMPARE(ToQtNameFilter({"", "*.a"}), std::string("(*.a)"));
}

void QtPlatformTest::chosenPathIsStoredOnlyWhenItFits() {
  OpenFileName r = Record("", 0, "");
  QVERIFY(StoreChosenPath(r, "/home/me/notes.txt"));
  QCOMPARE(r.lpstrFile.size(), std::size_t(254));
  QCOMPARE(UpToNul(r.lpstrFile), std::string("/home/me/notes.txt"));
  QCOMPARE(r.lpstrFile.substr(19), std::string(254 - 19, ' '));
  QCOMPARE(UpToNul(r.lpstrFileTitle), std::string("notes.txt"));
  QCOMPARE(r.nFileOffset, std::uint16_t(9));
  QCOMPARE(r.nFileExtension, std::uint16_t(15));

  // 254 bytes and the NUL fill the 255 announced; one more does not fit.
  const std::string fits = "/" + std::string(253, 'a');
  QVERIFY(StoreChosenPath(r, fits));
  QCOMPARE(UpToNul(r.lpstrFile), fits);
  OpenFileName tooLong = Record("", 0, "");
  QVERIFY(!StoreChosenPath(tooLong, "/" + std::string(254, 'a')));
  QCOMPARE(tooLong.lpstrFile, std::string(254, ' '));
}

void QtPlatformTest::carriageReturnsStartLines() {
  QCOMPARE(ToDisplayLines("done.\r\rOpen?"), std::string("done.\n\nOpen?"));
  QCOMPARE(ToDisplayLines("a\r\nb\nc"), std::string("a\nb\nc"));
  QCOMPARE(ToDisplayLines("plain"), std::string("plain"));
}

void QtPlatformTest::messageBoxShowsWhatItIsGiven() {
  QString text, title;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  int buttons = 0;
  QString defaultText;
  WhenModal<QMessageBox>([&](QMessageBox* box) {
    text = box->text();
    title = box->windowTitle();
    icon = box->icon();
    buttons = static_cast<int>(box->buttons().size());
    defaultText = box->defaultButton() ? box->defaultButton()->text() : QString();
    box->defaultButton()->click();
  });
  QtMessageBox messages;
  const Answer a = messages.show("PDF file is done.\r\rOpen it?", Buttons::YesNo, Icon::Question,
                                 DefaultButton::Second, "Scrivane");
  QCOMPARE(text, QStringLiteral("PDF file is done.\n\nOpen it?"));
  QCOMPARE(title, QStringLiteral("Scrivane"));
  QCOMPARE(icon, QMessageBox::Question);
  QCOMPARE(buttons, 2);
  QVERIFY(defaultText.contains("No", Qt::CaseInsensitive));
  QVERIFY(a == Answer::No);

  WhenModal<QMessageBox>([&](QMessageBox* box) {
    icon = box->icon();
    buttons = static_cast<int>(box->buttons().size());
    box->defaultButton()->click();
  });
  QVERIFY(messages.show("No Input File", Buttons::Ok, Icon::Critical, DefaultButton::First,
                        "Scrivane") == Answer::Ok);
  QCOMPARE(icon, QMessageBox::Critical);
  QCOMPARE(buttons, 1);
}

void QtPlatformTest::messageBoxReturnsTheButtonPressed() {
  QtMessageBox messages;
  WhenModal<QMessageBox>([](QMessageBox* box) { box->button(QMessageBox::Yes)->click(); });
  QVERIFY(messages.show("Overwrite?", Buttons::YesNo, Icon::Warning, DefaultButton::First,
                        "Scrivane v1.1") == Answer::Yes);
  WhenModal<QMessageBox>([](QMessageBox* box) { box->button(QMessageBox::No)->click(); });
  QVERIFY(messages.show("Overwrite?", Buttons::YesNo, Icon::Warning, DefaultButton::First,
                        "Scrivane v1.1") == Answer::No);
  // Escape answers No.
  WhenModal<QMessageBox>([](QMessageBox* box) { QTest::keyClick(box, Qt::Key_Escape); });
  QVERIFY(messages.show("Overwrite?", Buttons::YesNo, Icon::Warning, DefaultButton::First,
                        "Scrivane v1.1") == Answer::No);
}

void QtPlatformTest::openDialogFollowsTheRecord() {
  QTemporaryDir dir;
  QVERIFY(dir.isValid());
  const QString existing = dir.filePath("in.txt");
  QFile file(existing);
  QVERIFY(file.open(QIODevice::WriteOnly));
  file.write("x");
  file.close();

  OpenFileName r = Record(std::string("Text files (*.txt)\0*.txt\0All files (*.*)\0*.*\0\0", 46),
                          OFN_HIDEREADONLY | OFN_FILEMUSTEXIST, dir.path().toStdString());
  r.lpstrTitle = "Select a text file";
  QString title, selectedFilter, directory;
  QStringList filters;
  QFileDialog::FileMode mode = QFileDialog::AnyFile;
  QFileDialog::AcceptMode acceptMode = QFileDialog::AcceptSave;
  WhenModal<QFileDialog>([&](QFileDialog* d) {
    title = d->windowTitle();
    filters = d->nameFilters();
    selectedFilter = d->selectedNameFilter();
    directory = d->directory().absolutePath();
    mode = d->fileMode();
    acceptMode = d->acceptMode();
    TypeFile(d, existing);
    QMetaObject::invokeMethod(d, "accept");
  });
  QtFileDialogs dialogs;
  QVERIFY(dialogs.GetOpenFileNameA(r));
  QCOMPARE(title, QStringLiteral("Select a text file"));
  QCOMPARE(filters, (QStringList{"Text files (*.txt)", "All files (*.*)"}));
  QCOMPARE(selectedFilter, QStringLiteral("Text files (*.txt)"));
  QCOMPARE(directory, QDir(dir.path()).absolutePath());
  QCOMPARE(mode, QFileDialog::ExistingFile);
  QCOMPARE(acceptMode, QFileDialog::AcceptOpen);
  QCOMPARE(UpToNul(r.lpstrFile), existing.toStdString());
  QCOMPARE(r.lpstrFile.size(), std::size_t(254));

  // A chosen path longer than the buffer comes back as a cancel would.
  OpenFileName small = Record(std::string("All\0*\0\0", 7), OFN_FILEMUSTEXIST, dir.path().toStdString());
  small.nMaxFile = 8;
  WhenModal<QFileDialog>([&](QFileDialog* d) {
    TypeFile(d, existing);
    QMetaObject::invokeMethod(d, "accept");
  });
  QVERIFY(!dialogs.GetOpenFileNameA(small));
  QCOMPARE(small.lpstrFile, std::string(254, ' '));
}

void QtPlatformTest::saveDialogAppendsExtensionAndAsksToCreate() {
  QTemporaryDir dir;
  QVERIFY(dir.isValid());
  OpenFileName r = Record(std::string("Portable Document Format files (*.pdf)\0*.pdf\0\0", 46),
                          OFN_OVERWRITEPROMPT | OFN_HIDEREADONLY | OFN_CREATEPROMPT,
                          dir.path().toStdString());
  r.lpstrTitle = "Save PDF As";
  r.lpstrDefExt = "pdf";
  QString suffix, prompt;
  bool confirmsOverwrite = false;
  QFileDialog::AcceptMode acceptMode = QFileDialog::AcceptOpen;
  WhenModal<QFileDialog>([&](QFileDialog* d) {
    suffix = d->defaultSuffix();
    confirmsOverwrite = !d->testOption(QFileDialog::DontConfirmOverwrite);
    acceptMode = d->acceptMode();
    TypeFile(d, dir.filePath("report"));
    // The create prompt follows once the dialog has taken the name.
    WhenModal<QMessageBox>([&](QMessageBox* box) {
      prompt = box->text();
      box->button(QMessageBox::Yes)->click();
    });
    QMetaObject::invokeMethod(d, "accept");
  });
  QtFileDialogs dialogs;
  QVERIFY(dialogs.GetSaveFileNameA(r));
  QCOMPARE(suffix, QStringLiteral("pdf"));
  QVERIFY(confirmsOverwrite);
  QCOMPARE(acceptMode, QFileDialog::AcceptSave);
  QVERIFY(prompt.contains("report.pdf"));
  QCOMPARE(UpToNul(r.lpstrFile), dir.filePath("report.pdf").toStdString());
}

void QtPlatformTest::cancelledDialogLeavesTheBuffer() {
  OpenFileName r = Record(std::string("\0\0", 2), OFN_OVERWRITEPROMPT, "");
  WhenModal<QFileDialog>([](QFileDialog* d) { d->reject(); });
  QtFileDialogs dialogs;
  QVERIFY(!dialogs.GetSaveFileNameA(r));
  QCOMPARE(r.lpstrFile, std::string(254, ' '));
}

void QtPlatformTest::shellOpensFilesByTheirBytesAndOtherTextsAsUrls() {
  UrlCatcher catcher;
  for (const char* scheme : {"file", "http", "https"}) {
    QDesktopServices::setUrlHandler(QString::fromLatin1(scheme), &catcher, "take");
  }
  QTemporaryDir dir;
  const std::string folder = QFile::encodeName(dir.path()).toStdString();
  const std::string name = "caf\xE9 (1).pdf";  // Latin-1, not UTF-8
  QFile file(QString::fromStdString(folder + "/x"));
  QVERIFY(file.open(QIODevice::WriteOnly));
  file.close();
  QVERIFY(std::rename((folder + "/x").c_str(), (folder + "/" + name).c_str()) == 0);

  const QString saved = QDir::currentPath();
  QDir::setCurrent(dir.path());
  QtShell().open(name);  // relative: made absolute
  QDir::setCurrent(saved);
  QtShell().open("http://example.com/a b");
  for (const char* scheme : {"file", "http", "https"}) QDesktopServices::unsetUrlHandler(QString::fromLatin1(scheme));

  QCOMPARE(catcher.urls.size(), 2);
  QCOMPARE(catcher.urls[0].toEncoded(),
           "file://" + QByteArray::fromStdString(folder + "/" + name).toPercentEncoding("/"));
  QVERIFY(catcher.urls[0].toEncoded().endsWith("/caf%E9%20%281%29.pdf"));
  QCOMPARE(catcher.urls[1].toString(), QString::fromLatin1("http://example.com/a b"));
}

QTEST_MAIN(QtPlatformTest)
#include "qt_platform_test.moc"
