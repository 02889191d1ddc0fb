#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <exception>
#include <functional>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/clock.h"
#include "platform/files.h"
#include "platform/message_box.h"
#include "writer/font_module.h"
#include "writer/output_buffer.h"

namespace scrivane {

class FontEngine;
class LongFontLine;
class ShapingAhead;
struct LineFacts;
class FontModule;

inline constexpr const char* kProducer = platform::kWindowCaption;
inline constexpr int kMaxObjects = 5000;
inline constexpr int kFirstObjects = 64;  // room the object tables start with
// The largest offset the ten digits of a cross-reference entry can hold.
inline constexpr std::int64_t kMaxTenDigitOffset = 9'999'999'999;
inline constexpr std::size_t kFlushThreshold = 32000;
// How much of one line from a stream is held to lay it out whole.
inline constexpr std::size_t kStreamedLineHold = std::size_t{16} << 20;
// Lines shaped ahead on other threads: from files of this size, in stretches
// of this many lines, which take at most about this much while they wait.
inline constexpr std::uint64_t kShapedAheadFrom = std::uint64_t{128} << 10;
inline constexpr std::size_t kShapedAheadStretch = 64;
inline constexpr std::size_t kShapedAheadRoom = std::size_t{8} << 20;

// The variables the writer's procedures share. Fixed-point values count
// ten-thousandths of a point.
struct WriterState {
  std::int64_t location = 0;  // offset of the next output byte; within 32 bits unless the pages are unlimited
  std::int32_t pageno = 0;
  std::int32_t lineno = 0;
  std::int32_t pageheight = 0;
  std::int32_t pagewidth = 0;
  // Index 1..5000, or beyond when the pages are unlimited. They grow as
  // objects and pages are made: a short document leaves the rest untouched.
  std::vector<std::int64_t> xrefs = std::vector<std::int64_t>(kFirstObjects + 1);
  std::vector<std::int32_t> pageobjs = std::vector<std::int32_t>(kFirstObjects + 1);
  std::int32_t linesperpage = 0;
  std::int32_t objcount = 0;
  std::int32_t pagesobj = 0;
  std::int32_t encodingobj = 0;
  std::int32_t resourcesobj = 0;
  std::string author, creator, keywords, subject, title;
  std::string fontname;
  std::int64_t fontsize = 0;  // fixed-point
  std::int64_t leading = 0;   // fixed-point
  std::int16_t rotation = 0;
  std::int32_t infoobj = 0;
  std::int32_t catalogobj = 0;
  double footerx = 0;
  std::int32_t footery = 0;
  std::string infile;
  std::string outfile;
  std::int32_t charsperline = 0;
  OutputBuffer buffer;
};

// How the text is laid out beyond the classic layout; the defaults are the
// classic layout, which the window and the plain command line always use.
struct LayoutSettings {
  bool keepSpaces = false;  // keep the blanks at both ends of a line
  int tabSize = 0;          // tab stops every tabSize blank widths; 0 leaves tabs in the text
  bool fit = false;         // cut lines by the font's advance widths at the right margin
  // Any number of pages: the object tables grow and offsets may use all ten
  // digits of the cross-reference table.
  bool unlimitedPages = false;

  // Whether the lines are laid out exactly as the classic layout does.
  bool classicLines() const { return !keepSpaces && tabSize == 0 && !fit; }
};

// Option mode's fonts. With `embed`, text that Windows-1252 lacks is shown in
// embedded fonts (a font file of the user's first) instead of as "?".
struct FontSettings {
  bool embed = false;
  std::optional<std::string> fontFile;
  // Whether the input may be read twice: a file is looked at once before its
  // header is written, to say PDF 1.3 when it needs fonts. A stream (standard
  // input, a pipe) is read once, and its fonts are opened at the first line
  // that needs them, the header then being changed where it can still be.
  bool rereadable = true;
  // Gives the font module at the first input that needs it; null when it
  // cannot be had (with `error` saying why, or empty when that was told
  // before): that text then keeps "?".
  std::function<FontModule*(std::string& error)> module;
  // How many processors the fonts' work may keep busy at once (the lines shaped
  // ahead, the fonts subset at the end), asked only when there is such work;
  // null: as many as the machine has.
  std::function<unsigned()> processors;
};

// Turns one plain-text file into a PDF 1.2 file, written line by line through
// putline with exact byte offsets. Failures are shown through the message box,
// titled with the application title, and the conversion goes on or ends as each
// stage decides; ConvertToPDF tells its caller whether any failure was reported.
// The document is written as a new file that replaces the output only when it
// is complete: after a clean conversion, or one stopped by the page limit. After
// any other failure the output stays as it was.
class PdfWriter {
 public:
  PdfWriter(platform::Files& files, platform::MessageBox& messages, platform::Clock& clock);
  ~PdfWriter();
  PdfWriter(const PdfWriter&) = delete;
  PdfWriter& operator=(const PdfWriter&) = delete;

  // Applies to the conversions that follow.
  void setFontSettings(FontSettings settings) { fontSettings_ = std::move(settings); }
  // Messages in the style of command-line tools: each failure is shown with the
  // file it is about as its title and what happened as its text ("notes.txt",
  // "Permission denied"), instead of the window's texts.
  void setNamesFiles(bool names) { namesFiles_ = names; }
  // A line longer than this many bytes is laid out in pieces of this size as it
  // is read, instead of being held whole; the document is the same.
  void setLinePiece(std::size_t bytes) { linePiece_ = std::max<std::size_t>(bytes, 1); }
  // A file of at least this many bytes whose text is shown in embedded fonts
  // in the classic layout has its lines shaped ahead on `threads` other
  // threads (0: one for each processor beyond the first, up to three), in
  // stretches of `stretchLines` lines, which wait for the writer in at most
  // about `room` bytes; the document is the same.
  void setShapingAhead(std::uint64_t fromBytes, std::size_t stretchLines, std::size_t threads = 0,
                       std::size_t room = kShapedAheadRoom) {
    aheadFrom_ = fromBytes;
    aheadStretch_ = stretchLines;
    aheadThreads_ = threads;
    aheadRoom_ = room;
  }
  // How many lines of the last conversion were shaped on other threads.
  std::size_t linesShapedAhead() const { return linesShapedAhead_; }

  // Returns true after a clean conversion, false when any failure was reported
  // (including a refused or impossible request).
  bool ConvertToPDF(const std::string& filename, const std::string& outputfile,
                    const std::string& TextAuthor, const std::string& TextCreator,
                    const std::string& TextKeywords, const std::string& TextSubject,
                    const std::string& TextTitle, const std::string& FontName,
                    std::int16_t FontSize, std::int16_t Rotation, float pwidth, float pheight);

  // The layout of the conversions that follow.
  void setLayout(const LayoutSettings& layout) { layout_ = layout; }
  const LayoutSettings& layout() const { return layout_; }

  // True exactly when the named file's size can be had and is above 0.
  bool FileExists(const std::string& filename);

  // The stages, public so that each can be exercised on its own.
  void initpdf(const std::string& FontName, std::int16_t FontSize, std::int16_t Rotation,
               float pwidth, float pheight);
  void putline(std::string_view line, bool flush);
  // One output line given in parts, without joining them first.
  void putline(std::initializer_list<std::string_view> parts, bool flush);
  void startpdf();
  void writepreamble();
  void writetext();
  // Opens a page; gives the stream start, or nothing when the page could not be opened.
  std::optional<std::int64_t> startpage();
  void endpage(std::int64_t streamstart);
  void endpdf();
  // Ends the output: the document replaces the output file when no failure but
  // the page limit spoiled it, else it is discarded. True when it was kept.
  bool closepdf();
  // After the last page: the embedded fonts and the Resources object that names them.
  void writefonts();

  WriterState& state() { return s_; }
  const WriterState& state() const { return s_; }
  bool failed() const { return failed_; }
  // Whether the last conversion's input held a NUL byte, as binary files do.
  bool inputHeldNul() const { return heldNul_; }

 private:
  // `pageLimit`: the failure is the page limit, which leaves a sound, shorter document.
  void report(const std::string& description, bool pageLimit = false);
  // A failure about one file: the window's text `classic`, or the file's name
  // and `detail` when messages name their files.
  void reportAbout(const std::string& file, const std::string& detail, const std::string& classic,
                   bool pageLimit = false);
  // A failure caught in a stage, about the input.
  void reportFailure(const std::exception& e);
  // The description of a failure caught in a stage.
  std::string describe(const std::exception& e) const;
  // The same without the input's name.
  std::string detail(const std::exception& e) const;
  void setXref(std::int32_t object);
  // Every object of the document is written between these two: the opening
  // records the object's offset in the cross-reference table and writes its
  // first line, the closing writes "endobj". Both write through putline.
  void openObject(std::int32_t object);
  void closeObject();
  void writeTextLine(std::string_view text);
  // Writes the text line of an ASCII text without NULs, tabs or form feeds whose
  // escaped form is at most `width` characters, escaping it on the way into the
  // buffer; false, with nothing written, for any other text.
  bool writeTextLineIfFits(std::string_view text, std::int64_t width);
  // Writes the text line of any text, escaping it on the way into the buffer.
  void writeEscapedTextLine(std::string_view text);
  bool writeEscapedTextLine(std::string_view text, std::int64_t width, bool plainOnly);
  // Counts an output line of `length` bytes and its line end into the location;
  // false when the offsets would pass 32 bits (reported, nothing is written).
  bool countLine(std::size_t length);
  // Ends the line in the buffer and flushes when the buffer is full or asked to.
  void endLine(bool flush);
  void writeFooter();
  // Closes the open page and opens the next; false when no further page can be had.
  bool pageBreak(std::int64_t& streamstart);
  // Lays out the rest of a line that is longer than a piece, of which `gathered`
  // holds the first part, in the classic way; false when no further page can be had.
  bool writeLongLine(platform::LineReader& in, std::string& gathered, const LineFacts& facts,
                     std::int64_t& streamstart, bool streamed = false);
  // The layout of writetext for settings other than the classic lines.
  void writeShapedText();
  // The end of the text: the last page gets its footer and is closed.
  void closeLastPage(std::int64_t streamstart);
  // A failure while laying out text is reported, and the open page closed.
  void failText(const std::exception& e, std::int64_t streamstart);
  // How many processors the work on fonts may keep busy; at least 1.
  unsigned processors() const;
  // The highest object number and offset that the tables can hold.
  std::int64_t maxObjects() const;
  std::int64_t maxLocation() const;
  void flushBuffer();
  // A failure of the output; `reason` is what happened to it.
  void writeFailure(const std::string& reason);
  // The facts of a long line in `held`: those of its scan when it had one
  // (`scanned`), else of what is held of a stream's line, which cannot be
  // looked at twice: more of it is read, up to kStreamedLineHold, and of a
  // line that goes on, `held` says whether its text so far needs fonts. The
  // fonts are opened when they may still be and the line needs them. True
  // when the facts are those of the whole line.
  bool holdLine(platform::LineReader& in, std::string& gathered, const LineFacts* scanned,
                LineFacts& held);
  // Whether some line of the input needs an embedded font.
  bool inputNeedsFonts();
  // Lays out a line that needs embedded fonts, cut like any other; false when no
  // further page can be had.
  bool writeShapedLine(std::u32string_view text, bool hasFormFeed, std::int64_t& streamstart);
  // A line that needs embedded fonts and is too long to be held whole, laid
  // out as it is read into the pieces that the whole line gives: in the
  // classic way (`formFeeds`: the line's when `known`, else those of the part
  // held, beyond which those read so far count), or as writeShapedFontLine
  // does (`formFeed`: the line has one); false when no further page can be had.
  bool writeLongFontLine(LongFontLine& text, std::uint64_t formFeeds, bool known,
                         std::int64_t& streamstart);
  bool writeLongShapedFontLine(LongFontLine& text, bool formFeed, std::int64_t& streamstart);
  void writeShownLine(std::u32string_view text);
  // The runs of a shown line, after its "T*".
  void writeShownRuns(std::span<const RunView> runs);
  // Lays out the current line as it was shaped ahead, cut like any other;
  // false when no further page can be had.
  bool writeLineShapedAhead(std::int64_t& streamstart);
  // Starts shaping ahead, where the input and the layout allow it.
  void startShapingAhead();
  void stopShapingAhead();
  // The operator that selects a font (-1: F1) at the size of the text, with a blank after it.
  const std::string& fontSelector(int font);
  // The same for the shape settings: blanks kept, tabs expanded, cut by the
  // shaped widths with fit; false when no further page can be had.
  bool writeShapedFontLine(std::u32string& text, std::int64_t& streamstart);
  void writeStream(std::int32_t object, std::initializer_list<std::string_view> entries,
                   std::string_view data);
  void reportMissingGlyphs();
  // Whether a line's text is shown in embedded fonts; for an input not looked
  // at before, the fonts are opened at the first line that needs them.
  bool canEmbed(std::string_view raw);
  bool embedFromHere();
  // Counts a line whose characters beyond Windows-1252 are shown as "?".
  void noteUnshown(std::string_view raw);
  void reportUnshown();

  platform::Files& files_;
  platform::MessageBox& messages_;
  platform::Clock& clock_;
  WriterState s_;
  std::unique_ptr<platform::Output> output_;  // opened at the first flush
  LayoutSettings layout_;
  bool heldNul_ = false;      // a line of the input held a NUL byte
  bool namesFiles_ = false;
  std::size_t linePiece_ = std::size_t{1} << 20;
  std::string gathered_;  // the first piece of a long line
  bool failed_ = false;       // some failure was reported during this conversion
  bool spoiled_ = false;      // ... other than the page limit: the document is not kept
  bool writeFailed_ = false;  // a flush failed; later flushes write nothing
  bool pageOpen_ = false;
  FontSettings fontSettings_;
  std::int64_t unshownLines_ = 0;
  bool embedding_ = false;  // this document embeds fonts (and says PDF 1.3)
  std::unique_ptr<FontEngine> fonts_;
  std::unique_ptr<ShapingAhead> ahead_;
  std::uint64_t aheadFrom_ = kShapedAheadFrom;
  std::size_t aheadStretch_ = kShapedAheadStretch;
  std::size_t aheadThreads_ = 0;
  std::size_t aheadRoom_ = kShapedAheadRoom;
  std::size_t linesShapedAhead_ = 0;
  std::vector<std::string> fontSelectors_;  // by font + 1, made at first use
  std::vector<RunView> shownRuns_;          // scratch for the runs of one shown line
  std::string shownLine_;                   // scratch for one output line of shown text
  std::unique_ptr<char[]> glyphScratch_;    // ... and for its glyph codes
  std::size_t glyphScratchSize_ = 0;
  bool lateFonts_ = false;  // the fonts may still be opened at a line that needs them
  bool tooLate_ = false;    // ... but the header had gone to a stream by then
  bool unshownInLongStream_ = false;  // such text came late in a line too long to hold
  bool noFonts_ = false;    // this document needs fonts that could not be had ...
  std::string whyNoFonts_;  // ... for this reason, when it is told
};

}  // namespace scrivane
