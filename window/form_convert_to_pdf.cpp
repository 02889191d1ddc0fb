#include "window/form_convert_to_pdf.h"

#include <cmath>

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFontDatabase>
#include <QFrame>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPixmap>
#include <QProxyStyle>
#include <QPushButton>
#include <QScreen>

#include "window/box_text.h"
#include "window/icons.h"
#include "window/request.h"

namespace scrivane {
namespace {

constexpr float kTwipsPerPixel = 15.0f;
// Each closing pass moves the corner by one step and takes two off each side.
constexpr float kPositionStep = 30.0f;
constexpr float kSizeStep = 60.0f;
// How long a pass waits for the window system to carry out a move.
constexpr qint64 kSettleMilliseconds = 100;

constexpr QRgb kGrey = 0xC0C0C0;
constexpr QRgb kWhite = 0xFFFFFF;
constexpr QRgb kCreditsText = 0x808080;

// The lists are as narrow as the original's, where "10pt" fitted beside a slim
// arrow; this style gives the text the room that a wide arrow button would take.
class NarrowListStyle : public QProxyStyle {
 public:
  QRect subControlRect(ComplexControl control, const QStyleOptionComplex* option,
                       SubControl sub, const QWidget* widget) const override {
    QRect r = QProxyStyle::subControlRect(control, option, sub, widget);
    if (control != CC_ComboBox) return r;
    const bool rtl = option->direction == Qt::RightToLeft;
    if (sub == SC_ComboBoxArrow) {
      rtl ? r.setRight(r.right() - kTrim) : r.setLeft(r.left() + kTrim);
    } else if (sub == SC_ComboBoxEditField) {
      rtl ? r.setLeft(r.left() - kTrim) : r.setRight(r.right() + kTrim);
    }
    return r;
  }

 private:
  static constexpr int kTrim = 6;
};

int Pixels(float twips) { return static_cast<int>(std::lround(twips / kTwipsPerPixel)); }

void Place(QWidget* w, const char* name, int left, int top, int width, int height) {
  w->setObjectName(QString::fromLatin1(name));
  w->setGeometry(Pixels(static_cast<float>(left)), Pixels(static_cast<float>(top)),
                 Pixels(static_cast<float>(width)), Pixels(static_cast<float>(height)));
}

void SetColour(QWidget* w, QPalette::ColorRole role, QRgb rgb) {
  QPalette palette = w->palette();
  palette.setColor(role, QColor(rgb));
  w->setPalette(palette);
}

// "MS Sans Serif" where the system has it, otherwise the nearest sans-serif at hand.
QFont SansFont(qreal points, int weight) {
  QFont font;
  if (QFontDatabase::hasFamily(QStringLiteral("MS Sans Serif"))) {
    font.setFamily(QStringLiteral("MS Sans Serif"));
  } else {
    // Narrow faces first: the lists are as narrow as the original's.
    font.setFamilies({QStringLiteral("Microsoft Sans Serif"), QStringLiteral("Liberation Sans"),
                      QStringLiteral("Arimo"), QStringLiteral("DejaVu Sans Condensed"),
                      QStringLiteral("DejaVu Sans")});
  }
  font.setStyleHint(QFont::SansSerif);
  font.setPointSizeF(points);
  font.setWeight(static_cast<QFont::Weight>(weight));
  font.setItalic(false);
  font.setUnderline(false);
  font.setStrikeOut(false);
  return font;
}

QLabel* MakeLabel(QWidget* parent, const char* caption) {
  auto* label = new QLabel(QString::fromUtf8(caption), parent);
  label->setAutoFillBackground(true);
  return label;
}

QLineEdit* MakeTextBox(QWidget* parent) { return new QLineEdit(parent); }

QPushButton* MakeButton(QWidget* parent, const char* caption) {
  auto* button = new QPushButton(QString::fromUtf8(caption), parent);
  // Enter on a focused button clicks that button rather than the default one.
  button->setAutoDefault(true);
  SetColour(button, QPalette::Button, kGrey);
  return button;
}

template <std::size_t N>
QComboBox* MakeList(QWidget* parent, QStyle* style, const char* const (&entries)[N]) {
  auto* list = new QComboBox(parent);
  list->setStyle(style);
  list->setEditable(false);
  for (const char* entry : entries) list->addItem(QString::fromUtf8(entry));
  list->setCurrentIndex(-1);
  return list;
}

void SelectAll(QLineEdit* box) {
  // SelStart 0, SelLength the whole text.
  box->setSelection(0, static_cast<int>(box->text().size()));
}

std::string Text(const QLineEdit* box) { return BoxBytes(box->text()); }
std::string Text(const QComboBox* list) { return list->currentText().toStdString(); }

std::string TrimBlanks(const std::string& text) {
  const std::size_t first = text.find_first_not_of(' ');
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

// "desc|pattern|desc|pattern" becomes NUL-separated pairs closed by an empty entry.
void ConvertFilter(std::string& Filter) {
  if (Filter.empty() || Filter.back() != '|') Filter += '|';
  for (char& c : Filter) {
    if (c == '|') c = '\0';
  }
}

platform::OpenFileName DialogRecord(QWidget* Form1, std::string Filter, const std::string& Title,
                                    const std::string& InitDir) {
  platform::OpenFileName ofn;
  ofn.lStructSize = 76;
  ofn.hwndOwner = Form1 != nullptr ? static_cast<std::uintptr_t>(Form1->winId()) : 0;
  ofn.hInstance = static_cast<std::uintptr_t>(QCoreApplication::applicationPid());
  ConvertFilter(Filter);
  ofn.lpstrFilter = Filter + '\0';
  ofn.nFilterIndex = 0;
  ofn.lpstrFile = std::string(254, ' ');
  ofn.nMaxFile = 255;
  ofn.lpstrFileTitle = std::string(254, ' ');
  ofn.nMaxFileTitle = 255;
  ofn.lpstrInitialDir = InitDir;
  ofn.lpstrTitle = Title;
  return ofn;
}

// The path the dialog left in the file buffer: up to its NUL, blanks trimmed.
std::string ChosenPath(const platform::OpenFileName& ofn) {
  return TrimBlanks(ofn.lpstrFile.substr(0, ofn.lpstrFile.find('\0')));
}

}  // namespace

formConvertToPDF::formConvertToPDF(WindowServices services, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                          Qt::WindowMinimizeButtonHint | Qt::MSWindowsFixedSizeDialogHint),
      services_(std::move(services)),
      writer_(services_.files, services_.messages, services_.clock) {
  setObjectName(QStringLiteral("formConvertToPDF"));
  setWindowTitle(QString::fromLatin1(platform::kWindowCaption));
  setWindowIcon(QIcon(QPixmap::fromImage(WindowIconImage())));
  setFixedSize(Pixels(6660), Pixels(6210));
  setFont(SansFont(8.25, 400));
  setAutoFillBackground(true);
  SetColour(this, QPalette::Window, kGrey);
  createControls();
  setTabOrder();
  txtTitle->setFocus();
}

void formConvertToPDF::createControls() {
  frmTitle = new QFrame(this);
  Place(frmTitle, "frmTitle", -45, -15, 6720, 1020);
  frmTitle->setFrameShape(QFrame::Box);
  frmTitle->setFrameShadow(QFrame::Sunken);
  frmTitle->setAutoFillBackground(true);
  SetColour(frmTitle, QPalette::Window, kWhite);

  lblCaption = MakeLabel(frmTitle, "Convert Scrivane");
  Place(lblCaption, "lblCaption", 210, 225, 5025, 585);
  lblCaption->setFont(SansFont(18, 700));

  imgIcon = new QLabel(frmTitle);
  Place(imgIcon, "imgIcon", 5715, 135, 570, 630);
  imgIcon->setPixmap(QPixmap::fromImage(PanelIconImage()));
  imgIcon->setScaledContents(true);

  const QFont boxFont = SansFont(9.75, 400);
  lblTitle = MakeLabel(this, "Title");
  Place(lblTitle, "lblTitle", 150, 1230, 1230, 255);
  txtTitle = MakeTextBox(this);
  Place(txtTitle, "txtTitle", 1470, 1185, 5100, 360);
  lblAuthor = MakeLabel(this, "Author Name:");
  Place(lblAuthor, "lblAuthor", 150, 1680, 1230, 255);
  txtAuthor = MakeTextBox(this);
  Place(txtAuthor, "txtAuthor", 1470, 1635, 5100, 360);
  lblSubject = MakeLabel(this, "Subject:");
  Place(lblSubject, "lblSubject", 150, 2145, 1230, 255);
  txtSubject = MakeTextBox(this);
  Place(txtSubject, "txtSubject", 1470, 2100, 5100, 360);
  lblKeyword = MakeLabel(this, "Keywords:");
  Place(lblKeyword, "lblKeyword", 150, 2610, 1230, 255);
  txtKeywords = MakeTextBox(this);
  Place(txtKeywords, "txtKeywords", 1470, 2565, 5100, 360);
  lblCreator = MakeLabel(this, "Creator:");
  Place(lblCreator, "lblCreator", 150, 3090, 1230, 255);
  txtCreator = MakeTextBox(this);
  Place(txtCreator, "txtCreator", 1470, 3045, 5100, 360);
  for (QLineEdit* box : {txtTitle, txtAuthor, txtSubject, txtKeywords, txtCreator}) {
    box->setFont(boxFont);
  }

  lblFilename = MakeLabel(this, "Input File:");
  Place(lblFilename, "lblFilename", 135, 3525, 2895, 240);
  txtFilename = MakeTextBox(this);
  Place(txtFilename, "txtFilename", 120, 3780, 6420, 345);
  btnOpen = MakeButton(this, "Browse");
  Place(btnOpen, "btnOpen", 4980, 4140, 1560, 330);
  lblOutputFile = MakeLabel(this, "Output File:");
  Place(lblOutputFile, "lblOutputFile", 120, 4425, 2895, 225);
  txtOutputFile = MakeTextBox(this);
  Place(txtOutputFile, "txtOutputFile", 120, 4650, 6420, 345);
  btnSave = MakeButton(this, "Browse");
  Place(btnSave, "btnSave", 4980, 5010, 1560, 330);

  auto* listStyle = new NarrowListStyle;
  listStyle->setParent(this);
  cmbFont = MakeList(this, listStyle, kFontEntries);
  Place(cmbFont, "cmbFont", 120, 5040, 2055, 315);
  cmbFontSize = MakeList(this, listStyle, kFontSizeEntries);
  Place(cmbFontSize, "cmbFontSize", 2160, 5040, 690, 315);
  cmbRotation = MakeList(this, listStyle, kRotationEntries);
  Place(cmbRotation, "cmbRotation", 2835, 5040, 690, 315);
  cmbPageSize = MakeList(this, listStyle, kPageSizeEntries);
  Place(cmbPageSize, "cmbPageSize", 3540, 5040, 1065, 315);

  frmSep = new QFrame(this);
  Place(frmSep, "frmSep", -60, 5385, 6765, 120);
  frmSep->setFrameShape(QFrame::Box);
  frmSep->setFrameShadow(QFrame::Sunken);
  frmSep->setAutoFillBackground(true);

  btnConvert = MakeButton(this, "&Produce PDF");
  Place(btnConvert, "btnConvert", 3750, 5580, 1350, 420);
  btnConvert->setDefault(true);
  btnClose = MakeButton(this, "Close");
  Place(btnClose, "btnClose", 5190, 5580, 1350, 420);

  lblCredits = MakeLabel(this, "");
  Place(lblCredits, "lblCredits", 75, 6100, 6500, 210);
  lblCredits->setProperty("Index", 1);
  lblCredits->setToolTip(QString::fromUtf8(kCreditsLine));
  lblCredits->setCursor(Qt::PointingHandCursor);
  SetColour(lblCredits, QPalette::WindowText, kCreditsText);
  lblCredits->installEventFilter(this);

  for (QLineEdit* box : {txtTitle, txtAuthor, txtSubject, txtKeywords, txtCreator, txtFilename,
                         txtOutputFile}) {
    box->installEventFilter(this);
  }

  connect(btnConvert, &QPushButton::clicked, this, &formConvertToPDF::btnConvert_Click);
  connect(btnOpen, &QPushButton::clicked, this, &formConvertToPDF::btnOpen_Click);
  connect(btnSave, &QPushButton::clicked, this, &formConvertToPDF::btnSave_Click);
  connect(btnClose, &QPushButton::clicked, this, &formConvertToPDF::btnClose_Click);
}

void formConvertToPDF::setTabOrder() {
  // By tab index; labels, frames and the image take no focus.
  QWidget* const order[] = {txtTitle,  txtAuthor,  txtSubject, txtKeywords, txtCreator,
                            txtFilename, txtOutputFile, btnOpen, btnSave, btnConvert,
                            btnClose,  cmbFont,    cmbFontSize, cmbRotation, cmbPageSize};
  for (std::size_t i = 0; i + 1 < std::size(order); ++i) {
    QWidget::setTabOrder(order[i], order[i + 1]);
  }
}

void formConvertToPDF::Form_Load() {
  txtCreator->setText(QString::fromLatin1(platform::kWindowCaption));
  cmbFont->setCurrentIndex(kDefaultFont);
  cmbFontSize->setCurrentIndex(kDefaultFontSize);
  cmbRotation->setCurrentIndex(kDefaultRotation);
  cmbPageSize->setCurrentIndex(kDefaultPageSize);

  // The whole argument text is one name; file names keep their case here.
  cmdfile_ = StripEnclosingQuotes(services_.commandLine.argumentText());
  if (!writer_.FileExists(cmdfile_)) return;

  txtFilename->setText(BoxText(cmdfile_));
  txtOutputFile->setText(BoxText(DeriveOutputName(cmdfile_)));
  btnConvert_Click();
}

void formConvertToPDF::btnConvert_Click() {
  RequestFields fields;
  fields.filename = Text(txtFilename);
  fields.outputfile = Text(txtOutputFile);
  fields.author = Text(txtAuthor);
  fields.creator = Text(txtCreator);
  fields.keywords = Text(txtKeywords);
  fields.subject = Text(txtSubject);
  fields.title = Text(txtTitle);
  fields.font = Text(cmbFont);
  fields.fontSize = Text(cmbFontSize);
  fields.rotation = Text(cmbRotation);
  fields.pageSize = Text(cmbPageSize);
  fields.caption = windowTitle().toStdString();

  RequestServices services{services_.messages, services_.files, services_.shell, writer_};
  const RequestOutcome outcome = RunConversionRequest(fields, cmdfile_, services);
  if (outcome.closeWindow) {
    // A command-line run is over, and the program is told how it went.
    end_ = EndOf(outcome);
    unloadWindow();
  }
}

std::string formConvertToPDF::OpenDialog(QWidget* Form1, std::string Filter,
                                         const std::string& Title, const std::string& InitDir) {
  platform::OpenFileName ofn = DialogRecord(Form1, std::move(Filter), Title, InitDir);
  ofn.Flags = platform::OFN_HIDEREADONLY | platform::OFN_FILEMUSTEXIST;
  if (!services_.dialogs.GetOpenFileNameA(ofn)) return {};
  return ChosenPath(ofn);
}

std::string formConvertToPDF::SaveDialog(QWidget* Form1, std::string Filter,
                                         const std::string& Title, const std::string& InitDir,
                                         const std::string& DefaultFilename) {
  platform::OpenFileName ofn = DialogRecord(Form1, std::move(Filter), Title, InitDir);
  ofn.lpstrFile.replace(0, std::min<std::size_t>(DefaultFilename.size(), 254),
                        DefaultFilename.substr(0, 254));
  ofn.lpstrDefExt = "pdf";
  ofn.Flags = platform::OFN_OVERWRITEPROMPT | platform::OFN_HIDEREADONLY |
              platform::OFN_CREATEPROMPT;
  if (!services_.dialogs.GetSaveFileNameA(ofn)) return {};
  return ChosenPath(ofn);
}

void formConvertToPDF::btnOpen_Click() {
  const std::string path = OpenDialog(this, "Text files (*.txt)|*.txt|All files (*.*)|*.*",
                                      "Select a text file", "");
  if (path.empty()) return;
  txtFilename->setText(BoxText(path));
  txtOutputFile->setText(BoxText(DeriveOutputName(Text(txtFilename))));
}

void formConvertToPDF::btnSave_Click() {
  const std::string path =
      SaveDialog(this, "Portable Document Format files (*.pdf)|*.pdf", "Save PDF As", "", "");
  if (path.empty()) return;
  txtOutputFile->setText(BoxText(path));
}

void formConvertToPDF::btnClose_Click() { unloadWindow(); }

void formConvertToPDF::lblCredits_Click(int Index) {
  // lblCredits has a single element, index 1.
  if (Index != lblCredits->property("Index").toInt()) return;
  services_.shell.open(lblCredits->toolTip().toStdString());
}

void formConvertToPDF::txtTitle_GotFocus() { SelectAll(txtTitle); }
void formConvertToPDF::txtAuthor_GotFocus() { SelectAll(txtAuthor); }
void formConvertToPDF::txtSubject_GotFocus() { SelectAll(txtSubject); }
void formConvertToPDF::txtKeywords_GotFocus() { SelectAll(txtKeywords); }
void formConvertToPDF::txtCreator_GotFocus() { SelectAll(txtCreator); }
void formConvertToPDF::txtFilename_GotFocus() { SelectAll(txtFilename); }
void formConvertToPDF::txtOutputFile_GotFocus() { SelectAll(txtOutputFile); }

void formConvertToPDF::unloadWindow() {
  if (unloading_) return;
  unloading_ = true;
  int Cancel = 0;
  Form_Unload(Cancel);
}

void formConvertToPDF::Form_Unload(int& Cancel) {
  static_cast<void>(Cancel);
  // The window may now shrink below the size it kept while open.
  setMinimumSize(0, 0);
  setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
  closingPasses_ = 0;
  for (;;) {
    const float before = Top();
    setTop(Top() + kPositionStep);
    setLeft(Left() + kPositionStep);
    setWidth(Width() - kSizeStep);
    setHeight(Height() - kSizeStep);
    ++closingPasses_;
    if (isVisible()) settle(before + kPositionStep);
    const float after = Top();
    if (after > ScreenWidth()) break;
    // A window that did not move (minimised, or held by the window manager)
    // would never reach the end: stop here.
    if (!(after > before)) break;
  }
  hide();
  services_.endProgram(end_);
}

void formConvertToPDF::settle(float wantedTop) {
  // Let the window system and its window manager catch up and repaint, so that
  // the window is seen to shrink and slide; the user's input waits. A window
  // manager answers a move a moment later; one that refuses it never does, so
  // the wait is short.
  QElapsedTimer waited;
  waited.start();
  do {
    QGuiApplication::sync();
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
  } while (Top() < wantedTop && waited.elapsed() < kSettleMilliseconds);
}

float formConvertToPDF::Left() const {
  return static_cast<float>(frameGeometry().left()) * kTwipsPerPixel;
}
float formConvertToPDF::Top() const {
  return static_cast<float>(frameGeometry().top()) * kTwipsPerPixel;
}
float formConvertToPDF::Width() const {
  return static_cast<float>(frameGeometry().width()) * kTwipsPerPixel;
}
float formConvertToPDF::Height() const {
  return static_cast<float>(frameGeometry().height()) * kTwipsPerPixel;
}
float formConvertToPDF::ScreenWidth() const {
  const QScreen* s = screen() != nullptr ? screen() : QGuiApplication::primaryScreen();
  return s != nullptr ? static_cast<float>(s->geometry().width()) * kTwipsPerPixel : 0.0f;
}

void formConvertToPDF::setLeft(float twips) { move(Pixels(twips), frameGeometry().top()); }
void formConvertToPDF::setTop(float twips) { move(frameGeometry().left(), Pixels(twips)); }

void formConvertToPDF::setWidth(float twips) {
  // The outer width includes the frame; resize() sets the inner one.
  const int frame = frameGeometry().width() - width();
  resize(std::max(0, Pixels(twips) - frame), height());
}

void formConvertToPDF::setHeight(float twips) {
  const int frame = frameGeometry().height() - height();
  resize(width(), std::max(0, Pixels(twips) - frame));
}

bool formConvertToPDF::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::FocusIn) {
    if (watched == txtTitle) txtTitle_GotFocus();
    else if (watched == txtAuthor) txtAuthor_GotFocus();
    else if (watched == txtSubject) txtSubject_GotFocus();
    else if (watched == txtKeywords) txtKeywords_GotFocus();
    else if (watched == txtCreator) txtCreator_GotFocus();
    else if (watched == txtFilename) txtFilename_GotFocus();
    else if (watched == txtOutputFile) txtOutputFile_GotFocus();
  } else if (watched == lblCredits && event->type() == QEvent::MouseButtonRelease) {
    const auto* mouse = static_cast<QMouseEvent*>(event);
    if (mouse->button() == Qt::LeftButton && lblCredits->rect().contains(mouse->position().toPoint())) {
      lblCredits_Click(lblCredits->property("Index").toInt());
      return true;
    }
  }
  return QWidget::eventFilter(watched, event);
}

void formConvertToPDF::keyPressEvent(QKeyEvent* event) {
  // Keys that no control took: Enter is the default button's, Escape the cancel button's.
  const auto mods = event->modifiers() & ~Qt::KeypadModifier;
  if (mods == Qt::NoModifier && (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter)) {
    btnConvert->click();
    return;
  }
  if (mods == Qt::NoModifier && event->key() == Qt::Key_Escape) {
    btnClose->click();
    return;
  }
  QWidget::keyPressEvent(event);
}

void formConvertToPDF::closeEvent(QCloseEvent* event) {
  unloadWindow();
  event->accept();
}

}  // namespace scrivane
