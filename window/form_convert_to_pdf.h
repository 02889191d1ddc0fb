#pragma once

#include <functional>
#include <string>

#include <QWidget>

#include "platform/clock.h"
#include "platform/command_line.h"
#include "platform/file_dialogs.h"
#include "platform/files.h"
#include "platform/message_box.h"
#include "platform/shell.h"
#include "window/request.h"
#include "writer/writer.h"
#include "version.h"

class QComboBox;
class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;

namespace scrivane {

// Everything the window reaches outside itself. `endProgram` ends the program,
// told how the run ended; it is called once, after the closing animation.
struct WindowServices {
  platform::MessageBox& messages;
  platform::Files& files;
  platform::Clock& clock;
  platform::CommandLine& commandLine;
  platform::FileDialogs& dialogs;
  platform::Shell& shell;
  std::function<void(RunEnd end)> endProgram;
};

// The program's one window: the document information, the two file names, the
// four lists of settings and the buttons that convert, browse and close.
class formConvertToPDF : public QWidget {
  Q_OBJECT

 public:
  explicit formConvertToPDF(WindowServices services, QWidget* parent = nullptr);

  // Start-up: the defaults, then a conversion of a file named on the command line.
  void Form_Load();
  // Runs the closing animation, then ends the program. Cancel is never set.
  void Form_Unload(int& Cancel);

  void btnConvert_Click();
  void btnOpen_Click();
  void btnSave_Click();
  void btnClose_Click();
  void lblCredits_Click(int Index);

  void txtTitle_GotFocus();
  void txtAuthor_GotFocus();
  void txtSubject_GotFocus();
  void txtKeywords_GotFocus();
  void txtCreator_GotFocus();
  void txtFilename_GotFocus();
  void txtOutputFile_GotFocus();

  // The platform's open and save dialogs; each gives the chosen path, or the
  // empty text on cancel. Filter alternates descriptions and patterns with "|".
  std::string OpenDialog(QWidget* Form1, std::string Filter, const std::string& Title,
                         const std::string& InitDir);
  std::string SaveDialog(QWidget* Form1, std::string Filter, const std::string& Title,
                         const std::string& InitDir, const std::string& DefaultFilename);

  // Unloads the window: Form_Unload runs once, however often this is asked.
  void unloadWindow();

  // The name taken from the command line at start-up (empty without one).
  const std::string& cmdfile() const { return cmdfile_; }
  // How many passes the last closing animation made.
  int closingPasses() const { return closingPasses_; }

  // Outer geometry of the window and the screen's width, in twips.
  float Left() const;
  float Top() const;
  float Width() const;
  float Height() const;
  float ScreenWidth() const;
  void setLeft(float twips);
  void setTop(float twips);
  void setWidth(float twips);
  void setHeight(float twips);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void createControls();
  void setTabOrder();
  void settle(float wantedTop);

  WindowServices services_;
  PdfWriter writer_;
  std::string cmdfile_;
  RunEnd end_ = RunEnd::Closed;
  int closingPasses_ = 0;
  bool unloading_ = false;

  QFrame* frmTitle = nullptr;
  QLabel* lblCaption = nullptr;
  QLabel* imgIcon = nullptr;
  QLabel* lblTitle = nullptr;
  QLineEdit* txtTitle = nullptr;
  QLabel* lblAuthor = nullptr;
  QLineEdit* txtAuthor = nullptr;
  QLabel* lblSubject = nullptr;
  QLineEdit* txtSubject = nullptr;
  QLabel* lblKeyword = nullptr;
  QLineEdit* txtKeywords = nullptr;
  QLabel* lblCreator = nullptr;
  QLineEdit* txtCreator = nullptr;
  QLabel* lblFilename = nullptr;
  QLineEdit* txtFilename = nullptr;
  QPushButton* btnOpen = nullptr;
  QLabel* lblOutputFile = nullptr;
  QLineEdit* txtOutputFile = nullptr;
  QPushButton* btnSave = nullptr;
  QComboBox* cmbFont = nullptr;
  QComboBox* cmbFontSize = nullptr;
  QComboBox* cmbRotation = nullptr;
  QComboBox* cmbPageSize = nullptr;
  QFrame* frmSep = nullptr;
  QPushButton* btnConvert = nullptr;
  QPushButton* btnClose = nullptr;
  QLabel* lblCredits = nullptr;  // element 1 of the label array lblCredits
};

// The tooltip of the credits strip, handed to the shell when it is clicked.
inline constexpr const char* kCreditsLine =
    "Scrivane v" SCRIVANE_VERSION ": one plain-text file in, one PDF file out. Written in C++ with Qt.";

}  // namespace scrivane
