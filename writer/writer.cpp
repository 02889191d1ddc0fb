#include "writer/writer.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <new>
#include <system_error>
#include <thread>
#include <utility>

#include "platform/failure.h"
#include "writer/font_module.h"
#include "writer/long_font_line.h"
#include "writer/shaping_ahead.h"
#include "writer/text.h"

namespace scrivane {

using platform::Failure;

namespace {


std::int32_t CheckedInt32(std::int64_t value) {
  if (value < std::numeric_limits<std::int32_t>::min() ||
      value > std::numeric_limits<std::int32_t>::max()) {
    throw Failure(platform::kOverflow);
  }
  return static_cast<std::int32_t>(value);
}

constexpr char kHexDigits[] = "0123456789ABCDEF";
// Each byte's two hexadecimal digits.
constexpr std::array<char, 512> kHexPairs = [] {
  std::array<char, 512> pairs{};
  for (std::size_t b = 0; b < 256; ++b) {
    pairs[2 * b] = kHexDigits[b >> 4];
    pairs[2 * b + 1] = kHexDigits[b & 0xF];
  }
  return pairs;
}();

std::string ObjectLine(std::int32_t object) { return std::to_string(object) + " 0 obj"; }

// Appends `value` in decimal padded with zeros to `width` characters, as
// printf's "%0*lld" writes it (a minus sign counts in the width). Not printf
// itself: its first call in a run costs more than writing a short document.
void AppendPadded(std::string& out, long long value, std::size_t width) {
  char digits[24];
  const char* const end = std::to_chars(digits, digits + sizeof digits, value).ptr;
  const char* first = digits;
  const auto length = static_cast<std::size_t>(end - digits);
  if (*first == '-') out += *first++;
  if (length < width) out.append(width - length, '0');
  out.append(first, end);
}

std::string Reference(std::int32_t object) { return std::to_string(object) + " 0 R"; }

}  // namespace

PdfWriter::PdfWriter(platform::Files& files, platform::MessageBox& messages,
                     platform::Clock& clock)
    : files_(files), messages_(messages), clock_(clock) {}

PdfWriter::~PdfWriter() = default;

bool PdfWriter::FileExists(const std::string& filename) {
  const auto size = files_.size(filename);
  return size.has_value() && *size > 0;
}

void PdfWriter::report(const std::string& description, bool pageLimit) {
  if (namesFiles_) {
    reportAbout(s_.infile, description, description, pageLimit);
    return;
  }
  failed_ = true;
  if (!pageLimit) spoiled_ = true;
  messages_.report(description);
}

void PdfWriter::reportAbout(const std::string& file, const std::string& detail,
                            const std::string& classic, bool pageLimit) {
  if (!namesFiles_) {
    report(classic, pageLimit);
    return;
  }
  failed_ = true;
  if (!pageLimit) spoiled_ = true;
  messages_.show(detail, platform::Buttons::Ok, platform::Icon::None, platform::DefaultButton::First,
                 file);
}

void PdfWriter::reportFailure(const std::exception& e) { reportAbout(s_.infile, detail(e), describe(e)); }

std::string PdfWriter::describe(const std::exception& e) const {
  if (dynamic_cast<const std::bad_alloc*>(&e) != nullptr) {
    return "Out of memory while converting '" + s_.infile + "'";
  }
  return e.what();
}

std::string PdfWriter::detail(const std::exception& e) const {
  if (dynamic_cast<const std::bad_alloc*>(&e) != nullptr) return "out of memory";
  if (const auto* failure = dynamic_cast<const platform::FileFailure*>(&e)) return failure->detail();
  return e.what();
}

namespace {

// A thread that destroys `engine`; none, and the engine destroyed here, where
// no thread can be had.
std::thread ReleaseAside(std::unique_ptr<FontEngine> engine) {
  try {
    return std::thread([e = std::move(engine)]() mutable { e.reset(); });
  } catch (const std::system_error&) {
    return {};
  }
}

}  // namespace

bool PdfWriter::ConvertToPDF(const std::string& filename, const std::string& outputfile,
                             const std::string& TextAuthor, const std::string& TextCreator,
                             const std::string& TextKeywords, const std::string& TextSubject,
                             const std::string& TextTitle, const std::string& FontName,
                             std::int16_t FontSize, std::int16_t Rotation, float pwidth,
                             float pheight) {
  failed_ = false;
  heldNul_ = false;
  spoiled_ = false;
  writeFailed_ = false;
  pageOpen_ = false;
  output_.reset();
  embedding_ = false;
  unshownLines_ = 0;
  fonts_.reset();
  fontSelectors_.clear();
  noFonts_ = false;
  lateFonts_ = false;
  tooLate_ = false;
  unshownInLongStream_ = false;
  whyNoFonts_.clear();
  if (!FileExists(filename)) {
    reportAbout(filename, namesFiles_ ? files_.whyNoText(filename) : "",
                "File '" + filename + "' does not exist.");
    return false;
  }
  // Replacing the output would destroy the input.
  if (files_.sameFile(filename, outputfile)) {
    reportAbout(filename, "cannot also be the output file; choose another output name",
                "The input file '" + filename +
                    "' cannot also be the output file. Choose another output name.");
    return false;
  }
  try {
    // The old output is not removed here: the new document replaces it when
    // complete. The input's name is known first, for a failure to name it.
    s_.infile = filename;
    initpdf(FontName, FontSize, Rotation, pwidth, pheight);
    s_.author = TextAuthor;
    s_.creator = TextCreator;
    s_.keywords = TextKeywords;
    s_.subject = TextSubject;
    s_.title = TextTitle;
    s_.outfile = outputfile;
    // The header names the version, so the input is looked at once before it.
    const bool lookFirst =
        fontSettings_.embed && fontSettings_.rereadable && files_.isOrdinaryFile(filename);
    if (lookFirst && inputNeedsFonts()) {
      FontModule* module = fontSettings_.module ? fontSettings_.module(whyNoFonts_) : nullptr;
      if (module != nullptr) fonts_ = module->open(s_.fontname, fontSettings_.fontFile);
      embedding_ = fonts_ != nullptr;
      noFonts_ = !embedding_;
    }
    lateFonts_ = fontSettings_.embed && !lookFirst;
  } catch (const std::exception& e) {
    reportFailure(e);
    return false;
  }

  startpdf();
  writepreamble();
  writetext();
  // The fonts' engine, once its fonts are written, is taken apart on a thread
  // of its own while the document is ended and put in place.
  std::thread release;
  if (embedding_) {
    writefonts();
    reportMissingGlyphs();
    release = ReleaseAside(std::move(fonts_));
  }
  reportUnshown();
  endpdf();
  closepdf();
  if (release.joinable()) release.join();
  return !failed_;
}

void PdfWriter::initpdf(const std::string& FontName, std::int16_t FontSize, std::int16_t Rotation,
                        float pwidth, float pheight) {
  s_.pageheight = RoundToInt32(static_cast<double>(pheight) * 72.0);
  s_.pagewidth = RoundToInt32(static_cast<double>(pwidth) * 72.0);
  s_.fontname = FontName;
  s_.fontsize = static_cast<std::int64_t>(FontSize) * 10000;
  s_.leading = static_cast<std::int64_t>(std::nearbyint(FontSize * 1.2 * 10000.0));
  s_.rotation = Rotation;

  const std::int32_t usable = CheckedInt32(static_cast<std::int64_t>(s_.pageheight) - 72);
  if (s_.leading == 0) throw Failure(platform::kDivisionByZero);
  s_.linesperpage = RoundToInt32(usable / (static_cast<double>(s_.leading) / 10000.0));

  std::string lower = FontName;
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  const double size = static_cast<double>(s_.fontsize) / 10000.0;
  if (lower == "courier") {
    s_.charsperline = RoundToInt32(s_.pagewidth * 1.5 / size);
  } else if (lower == "arial") {
    const std::int32_t doubled = CheckedInt32(static_cast<std::int64_t>(s_.pagewidth) * 2);
    s_.charsperline = RoundToInt32(doubled / size);
  } else {
    s_.charsperline = RoundToInt32(s_.pagewidth * 2.2 / size);
  }

  s_.objcount = 0;
  s_.pageno = 0;
  s_.location = 0;
  s_.footery = 25;
  s_.footerx = s_.pagewidth / 2.0;
  s_.buffer.clear();
  s_.buffer.reserve(2 * kFlushThreshold);
  output_.reset();  // a document begun before and never ended is discarded
}

void PdfWriter::putline(std::string_view line, bool flush) { putline({line}, flush); }

void PdfWriter::putline(std::initializer_list<std::string_view> parts, bool flush) {
  std::size_t length = 0;
  for (std::string_view part : parts) length += part.size();
  if (!countLine(length)) return;
  for (std::string_view part : parts) s_.buffer.append(part);
  endLine(flush);
}

unsigned PdfWriter::processors() const {
  if (fontSettings_.processors) return std::max(fontSettings_.processors(), 1u);
  return std::max(std::thread::hardware_concurrency(), 1u);
}

std::int64_t PdfWriter::maxObjects() const {
  // Three more objects must always fit in the 32 bits of an object number.
  return layout_.unlimitedPages ? std::numeric_limits<std::int32_t>::max() - 3 : kMaxObjects;
}

std::int64_t PdfWriter::maxLocation() const {
  return layout_.unlimitedPages ? kMaxTenDigitOffset : std::numeric_limits<std::int32_t>::max();
}

bool PdfWriter::countLine(std::size_t length) {
  const std::int64_t next = s_.location + static_cast<std::int64_t>(length) + 1;
  if (next > maxLocation()) {
    // Offsets the table cannot hold cannot be written; stop writing rather than lie.
    if (!writeFailed_) {
      writeFailure(std::string("the PDF would reach ") + (layout_.unlimitedPages ? "10 GB" : "2 GiB"));
    }
    s_.buffer.clear();
    return false;
  }
  s_.location = next;
  return true;
}

void PdfWriter::endLine(bool flush) {
  s_.buffer.push_back('\r');
  if (s_.buffer.size() <= kFlushThreshold && !flush) return;
  flushBuffer();
}

void PdfWriter::flushBuffer() {
  if (!writeFailed_) {
    try {
      if (!output_) output_ = files_.createOutput(s_.outfile, s_.infile);
      output_->write(s_.buffer);
    } catch (const std::bad_alloc& e) {
      writeFailed_ = true;
      if (output_) std::exchange(output_, nullptr)->discard();
      reportFailure(e);
    } catch (const std::exception& e) {
      writeFailure(e.what());
    }
  }
  s_.buffer.clear();
}

void PdfWriter::writeFailure(const std::string& reason) {
  writeFailed_ = true;
  // What was written is of no use now; its room on the disk is given back at once.
  if (output_) std::exchange(output_, nullptr)->discard();
  reportAbout(s_.outfile, reason, "Cannot write '" + s_.outfile + "': " + reason);
}

bool PdfWriter::closepdf() {
  std::unique_ptr<platform::Output> output = std::move(output_);
  if (!output) return false;
  if (spoiled_) {
    output->discard();
    return false;
  }
  try {
    output->complete();
    return true;
  } catch (const std::exception& e) {
    writeFailed_ = true;
    reportAbout(s_.outfile, detail(e), "Cannot write '" + s_.outfile + "': " + describe(e));
    return false;
  }
}

void PdfWriter::setXref(std::int32_t object) {
  if (object < 1 || object > maxObjects()) throw Failure(platform::kSubscriptOutOfRange);
  const auto index = static_cast<std::size_t>(object);
  if (index >= s_.xrefs.size()) s_.xrefs.resize(std::max(index + 1, 2 * s_.xrefs.size()));
  s_.xrefs[index] = s_.location;
}

void PdfWriter::openObject(std::int32_t object) {
  // The offset is taken before the first line, so that the table points at "N 0 obj".
  setXref(object);
  putline(ObjectLine(object), false);
}

void PdfWriter::closeObject() { putline("endobj", false); }

void PdfWriter::startpdf() {
  // A TrueType font inside a CIDFont needs PDF 1.3.
  putline(embedding_ ? "%PDF-1.3" : "%PDF-1.2", false);
  putline("%\xE2\xE3\xCF\xD3", false);
}

void PdfWriter::writepreamble() {
  try {
    const platform::LocalTime t = clock_.now();
    std::string date = "D:";
    AppendPadded(date, t.year, 4);
    for (const int part : {t.month, t.day, t.hour, t.minute, t.second}) AppendPadded(date, part, 2);

    s_.objcount += 1;
    s_.infoobj = s_.objcount;
    openObject(s_.infoobj);
    putline("<<", false);
    putline({"/Author ", InfoString(s_.author)}, false);
    putline(std::string("/CreationDate (") + date + ")", false);
    putline({"/Creator ", InfoString(s_.creator)}, false);
    putline(std::string("/Producer (") + kProducer + ")", false);
    putline({"/Title ", InfoString(s_.title)}, false);
    putline({"/Subject ", InfoString(s_.subject)}, false);
    putline({"/Keywords ", InfoString(s_.keywords)}, false);
    putline(">>", false);
    closeObject();

    s_.objcount += 1;
    s_.catalogobj = s_.objcount;
    s_.objcount += 1;
    s_.pagesobj = s_.objcount;
    s_.encodingobj = s_.objcount + 2;
    s_.resourcesobj = s_.objcount + 3;

    s_.objcount += 1;
    openObject(s_.objcount);
    putline("<<", false);
    putline("/Type /Font", false);
    putline("/Subtype /Type1", false);
    putline("/Name /F1", false);
    putline("/Encoding " + Reference(s_.encodingobj), false);
    putline("/BaseFont /" + s_.fontname, false);
    putline(">>", false);
    closeObject();

    s_.objcount += 1;
    openObject(s_.objcount);
    putline("<<", false);
    putline("/Type /Encoding", false);
    putline("/BaseEncoding /WinAnsiEncoding", false);
    putline(">>", false);
    closeObject();

    s_.objcount += 1;
    // The fonts that will be embedded are known only after the last page,
    // and the Resources object that names them waits until then.
    if (!embedding_) {
      openObject(s_.objcount);
      putline("<<", false);
      putline("  /Font << /F1 " + Reference(s_.objcount - 2) + " >>", false);
      putline("  /ProcSet [ /PDF /Text ]", false);
      putline(">>", false);
      closeObject();
    }
  } catch (const std::exception& e) {
    reportFailure(e);
  }
}

namespace {
constexpr std::string_view kTextOpen = "T* (";
constexpr std::string_view kTextClose = "\r\n) Tj";
}  // namespace

void PdfWriter::writeTextLine(std::string_view text) { putline({kTextOpen, text, kTextClose}, false); }

bool PdfWriter::writeTextLineIfFits(std::string_view text, std::int64_t width) {
  return writeEscapedTextLine(text, width, true);
}

void PdfWriter::writeEscapedTextLine(std::string_view text) {
  writeEscapedTextLine(text, std::numeric_limits<std::int64_t>::max(), false);
}

bool PdfWriter::writeEscapedTextLine(std::string_view text, std::int64_t width, bool plainOnly) {
  // Escape straight into the buffer, with room for the worst case; keep the line
  // only when it is as asked and fits.
  const std::size_t old = s_.buffer.size();
  char* const escaped = std::copy(kTextOpen.begin(), kTextOpen.end(),
                                  s_.buffer.extend(kTextOpen.size() + 2 * text.size() + kEscapeSlack));
  bool plain = false;
  const std::size_t size = static_cast<std::size_t>(EscapeInto(escaped, text, plain) - escaped);
  if ((plainOnly && !plain) || static_cast<std::int64_t>(size) > width) {
    s_.buffer.cut(old);
    return false;
  }
  s_.buffer.cut(old + kTextOpen.size() + size);
  if (countLine(kTextOpen.size() + size + kTextClose.size())) {
    s_.buffer.append(kTextClose);
    endLine(false);
  }
  return true;
}

void PdfWriter::writeFooter() {
  putline("1 0 0 1 " + DoubleText(s_.footerx) + " " + std::to_string(s_.footery) + " Tm", false);
  putline("(" + std::to_string(s_.pageno) + ") Tj", false);
  putline("/F1 " + FixedText(s_.fontsize) + " Tf", false);
}

bool PdfWriter::pageBreak(std::int64_t& streamstart) {
  writeFooter();
  endpage(streamstart);
  const auto next = startpage();
  if (!next) return false;
  streamstart = *next;
  return true;
}

namespace {

// Where the wrap cuts a piece of `width` characters: just after the last break
// character from its end down to half its width, else at its width, but never
// between a backslash and the character it escapes.
std::size_t CutPoint(std::string_view piece, std::size_t width) {
  const std::size_t half = width / 2;
  for (std::size_t p = width; p >= half; --p) {
    if (p == 0) throw Failure(platform::kInvalidArgument);
    if (IsBreakCharacter(piece[p - 1])) return p;
  }
  // An odd run of backslashes at the end means the last one opens a pair.
  std::size_t cut = width;
  std::size_t run = 0;
  while (run < cut && piece[cut - 1 - run] == '\\') ++run;
  if (run % 2 == 1) --cut;
  return cut;
}

// The checks of a line that must be wrapped at `W` characters.
std::size_t WrapWidth(std::int64_t W) {
  if (W < 0) throw Failure(platform::kInvalidArgument);
  if (W > 32767) throw Failure(platform::kOverflow);
  return static_cast<std::size_t>(W);
}

}  // namespace

bool PdfWriter::writeLongLine(platform::LineReader& in, std::string& gathered, const LineFacts& facts,
                              std::int64_t& streamstart, bool streamed) {
  // The line is escaped, and transcoded where it is UTF-8, as it is read; its
  // pieces are cut from a window that holds the text not yet written, exactly as
  // they are cut from a whole line. Blanks at both ends are dropped: those at
  // the end are known from the first look at the line.
  // A line from a stream is known only as far as it was read: its UTF-8 is
  // transcoded where it is well formed, its form feeds are counted as they come,
  // and blanks wait until text follows them.
  const bool transcode = streamed || (!facts.ascii && facts.utf8);
  const std::int64_t W = s_.charsperline;
  std::uint64_t at = 0;  // offset in the line of the next byte read
  bool leading = true;
  std::uint64_t formFeedsLeft = facts.formFeeds;
  bool wrapped = false;
  std::string window;
  std::string pending;     // a UTF-8 sequence cut short by a part
  std::string transcoded;  // one part in Windows-1252
  auto cutPieces = [&]() -> bool {
    if (static_cast<std::int64_t>(window.size()) <= W) return true;
    const std::size_t width = WrapWidth(W);
    std::size_t start = 0;
    while (window.size() - start > width) {
      const std::string_view piece(window.data() + start, width);
      const std::size_t cut = CutPoint(piece, width);
      writeTextLine(piece.substr(0, cut));
      formFeedsLeft -= static_cast<std::uint64_t>(std::count(piece.begin(), piece.begin() + static_cast<std::ptrdiff_t>(cut), '\f'));
      start += cut;
      wrapped = true;
      s_.lineno += 1;
      if (s_.lineno >= s_.linesperpage || formFeedsLeft > 0) {
        if (!pageBreak(streamstart)) return false;
      }
    }
    window.erase(0, start);
    return true;
  };
  auto feed = [&](std::string_view part) -> bool {
    const std::uint64_t from = at;
    at += part.size();
    if (!streamed) {
      if (from >= facts.textEnd) return true;
      if (at > facts.textEnd) part = part.substr(0, static_cast<std::size_t>(facts.textEnd - from));
    }
    if (leading) {
      const std::size_t first = part.find_first_not_of(' ');
      if (first == std::string_view::npos) return true;
      part.remove_prefix(first);
      leading = false;
    }
    if (transcode) {
      transcoded.clear();
      if (streamed) {
        AppendWindows1252Leniently(transcoded, pending, part);
      } else {
        AppendWindows1252(transcoded, pending, part);
      }
      part = transcoded;
    }
    AppendEscaped(window, part);
    return cutPieces();
  };
  // Every part in small pieces, so that the window stays small enough to stay
  // in the cache; the cuts do not depend on the size of the pieces.
  const std::size_t feedSize = std::min<std::size_t>(linePiece_, 32 * 1024);
  auto feedPieces = [&](std::string_view part) -> bool {
    while (!part.empty()) {
      const std::size_t n = std::min(part.size(), feedSize);
      if (!feed(part.substr(0, n))) return false;
      part.remove_prefix(n);
    }
    return true;
  };
  std::uint64_t heldBlanks = 0;
  LineFacts later;  // what the parts of a stream read after the first say
  auto feedStreamed = [&](std::string_view part, bool first) -> bool {
    if (!first) {
      later.add(part);
      formFeedsLeft += static_cast<std::uint64_t>(std::count(part.begin(), part.end(), '\f'));
    }
    const std::size_t last = part.find_last_not_of(' ');
    if (last == std::string_view::npos) {
      heldBlanks += part.size();
      return true;
    }
    static constexpr std::string_view kBlanks = "                                ";
    for (; heldBlanks > 0;) {
      const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(heldBlanks, kBlanks.size()));
      if (!feedPieces(kBlanks.substr(0, n))) return false;
      heldBlanks -= n;
    }
    heldBlanks = part.size() - last - 1;
    return feedPieces(part.substr(0, last + 1));
  };
  if (!(streamed ? feedStreamed(gathered, true) : feedPieces(gathered))) return false;
  gathered.clear();
  std::string_view part;
  bool ends = false;
  while (!ends && in.nextPart(part, ends)) {
    if (!(streamed ? feedStreamed(part, false) : feedPieces(part))) return false;
  }
  if (streamed) {
    // A sequence cut short by the end of the line is no UTF-8: its bytes stay.
    AppendEscaped(window, pending);
    later.finish();
    if (later.nul) heldNul_ = true;
    if (fontSettings_.embed && later.needsFonts && !facts.needsFonts) {
      unshownLines_ += 1;
      unshownInLongStream_ = true;
    }
    if (!cutPieces()) return false;
  }
  // A width below 0 fails even for a line of blanks, as for any line.
  if (static_cast<std::int64_t>(window.size()) > W) WrapWidth(W);
  if (wrapped) s_.lineno += 1;
  writeTextLine(window);
  return true;
}

void PdfWriter::writetext() {
  if (!layout_.classicLines()) {
    writeShapedText();
    return;
  }
  std::unique_ptr<platform::LineReader> in;
  std::int64_t streamstart = 0;
  // The shaping threads end with the text, however the text ends.
  struct AheadEnds {
    PdfWriter& writer;
    ~AheadEnds() { writer.stopShapingAhead(); }
  } aheadEnds{*this};
  try {
    in = files_.openLines(s_.infile);
    const auto first = startpage();
    if (!first) return;
    streamstart = *first;
    s_.lineno = -1;
    startShapingAhead();

    const std::int64_t W = s_.charsperline;
    std::string_view raw;
    std::string line;  // reused for every line that needs it, so that its storage is too
    std::u32string wide;  // the characters of a line that needs fonts, likewise
    // Kept from one conversion to the next, as a batch converts many.
    std::string& gathered = gathered_;
    bool whole = true;
    while (NextLine(*in, raw, gathered, whole, linePiece_)) {
      if (ahead_) ahead_->beginLine();
      if (!whole) {
        LineFacts facts;
        const bool seen = in->scanLine([&](std::string_view block) { facts.add(block); });
        facts.finish();
        if (seen && facts.needsFonts && lateFonts_) embedFromHere();
        if (seen && !(embedding_ && facts.needsFonts)) {
          if (facts.nul) heldNul_ = true;
          s_.lineno += 1;
          if (s_.lineno >= s_.linesperpage || facts.formFeeds > 0) {
            if (!pageBreak(streamstart)) return;
          }
          if (!embedding_ && fontSettings_.embed && facts.needsFonts) unshownLines_ += 1;
          if (!writeLongLine(*in, gathered, facts, streamstart)) return;
          continue;
        }
        // A stream's line is held up to a bound, and laid out as it is read
        // beyond it.
        LineFacts held;
        const bool all = holdLine(*in, gathered, seen ? &facts : nullptr, held);
        if (embedding_ && held.needsFonts) {
          if (held.nul) heldNul_ = true;
          s_.lineno += 1;
          if (s_.lineno >= s_.linesperpage || held.formFeeds > 0) {
            if (!pageBreak(streamstart)) return;
          }
          LongFontLine line(seen || !all ? in.get() : nullptr, gathered, {}, *fonts_);
          const bool room = writeLongFontLine(line, held.formFeeds, all, streamstart);
          if (line.sawNul()) heldNul_ = true;
          if (!room) return;
          continue;
        }
        if (!all) {
          if (held.nul) heldNul_ = true;
          s_.lineno += 1;
          if (s_.lineno >= s_.linesperpage || held.formFeeds > 0) {
            if (!pageBreak(streamstart)) return;
          }
          if (fontSettings_.embed && held.needsFonts) unshownLines_ += 1;
          if (!writeLongLine(*in, gathered, held, streamstart, /*streamed=*/true)) return;
          continue;
        }
        raw = gathered;
      }
      // Most lines are plain ASCII that fits one line of a page with room
      // left, and are escaped straight into the output with no other look at
      // them. Whatever else a line may hold (a NUL, a tab, a form feed, a byte
      // beyond ASCII) is seen while it is escaped, and such a line goes the way
      // below.
      if (s_.lineno + 1 < s_.linesperpage) {
        const std::string_view rest = TrimSpaces(raw);
        if (static_cast<std::int64_t>(rest.size()) <= W && writeTextLineIfFits(rest, W)) {
          s_.lineno += 1;
          continue;
        }
      }
      if (!heldNul_ && raw.find('\0') != std::string_view::npos) heldNul_ = true;
      s_.lineno += 1;
      const bool hasFormFeed = raw.find('\f') != std::string_view::npos;
      if (s_.lineno >= s_.linesperpage || hasFormFeed) {
        if (!pageBreak(streamstart)) return;
      }
      if (canEmbed(raw)) {
        if (ahead_ && ahead_->shaped(raw)) {
          if (!writeLineShapedAhead(streamstart)) return;
          continue;
        }
        if (TextNeedingFonts(raw, wide)) {
          if (!writeShapedLine(wide, hasFormFeed, streamstart)) return;
          continue;
        }
      } else {
        noteUnshown(raw);
      }
      // Escaping adds no blanks and removes none, so the blanks around a line can
      // be trimmed before it is escaped.
      std::string_view rest = TrimSpaces(raw);
      line.clear();
      if (IsAscii(rest)) {
        AppendEscaped(line, rest);
      } else {
        AppendEscaped(line, ToWindows1252(raw));
      }
      rest = TrimSpaces(line);
      if (static_cast<std::int64_t>(rest.size()) <= W) {
        writeTextLine(rest);
        continue;
      }

      // Wrap: cut pieces of at most W characters, preferably just after a break character.
      const std::size_t width = WrapWidth(W);
      // Escaping and transcoding make no form feeds, so only a line that had one
      // is searched for its last.
      const std::size_t lastFormFeed = hasFormFeed ? rest.rfind('\f') : std::string_view::npos;
      std::size_t start = 0;
      while (rest.size() - start > width) {
        const std::size_t cut = CutPoint(rest.substr(start, width), width);
        writeTextLine(rest.substr(start, cut));
        start += cut;
        s_.lineno += 1;
        const bool formFeedAhead = lastFormFeed != std::string_view::npos && lastFormFeed >= start;
        if (s_.lineno >= s_.linesperpage || formFeedAhead) {
          if (!pageBreak(streamstart)) return;
        }
      }
      s_.lineno += 1;
      writeTextLine(rest.substr(start));
    }
    in.reset();
    closeLastPage(streamstart);
  } catch (const std::exception& e) {
    in.reset();
    failText(e, streamstart);
  }
}

void PdfWriter::startShapingAhead() {
  linesShapedAhead_ = 0;
  const std::int64_t W = s_.charsperline;
  if (!embedding_ || !fontSettings_.rereadable || W < 1 || W > 32767) return;
  const std::optional<std::uintmax_t> size = files_.size(s_.infile);
  if (!size || *size < aheadFrom_) return;
  // A shaping thread for each processor but the writer's (more only made
  // two processors slower); without an engine or a reading of their own, the
  // lines are shaped here.
  std::size_t threads = aheadThreads_;
  if (threads == 0) {
    const unsigned processors = this->processors();
    if (processors < 2) return;
    threads = std::min(processors, 4u) - 1;
  }
  // An engine and a reading of the file of their own; none where either cannot be had.
  auto meansOfOwn = [&] {
    ShapingAhead::Means m;
    m.engine = fonts_->alike();
    try {
      if (m.engine) m.in = files_.openLines(s_.infile);
    } catch (const std::exception&) {
    }
    if (!m.in) m.engine.reset();
    return m;
  };
  std::vector<ShapingAhead::Means> means;
  for (std::size_t k = 0; k < threads; ++k) {
    ShapingAhead::Means m = meansOfOwn();
    if (!m.engine) return;
    means.push_back(std::move(m));
  }
  // The writer's own, to shape a stretch ahead rather than wait for one; it
  // goes without where it cannot have them.
  ShapingAhead::Means helper = meansOfOwn();
  try {
    ahead_ = std::make_unique<ShapingAhead>(std::move(means), std::move(helper), *fonts_,
                                            static_cast<std::size_t>(W), linePiece_, aheadStretch_,
                                            aheadRoom_);
  } catch (const std::exception&) {
    // Without threads the lines are shaped here.
  }
}

void PdfWriter::stopShapingAhead() {
  if (!ahead_) return;
  linesShapedAhead_ = ahead_->linesTaken();
  ahead_.reset();
}

bool PdfWriter::holdLine(platform::LineReader& in, std::string& gathered, const LineFacts* scanned,
                         LineFacts& held) {
  bool ends = true;
  if (scanned != nullptr) {
    held = *scanned;
  } else {
    ends = false;
    std::string_view part;
    while (!ends && gathered.size() < kStreamedLineHold && in.nextPart(part, ends)) gathered.append(part);
    held = LineFacts{};
    held.add(gathered);
    const bool needsFonts = held.needsFontsSoFar();
    held.finish();
    if (!ends) held.needsFonts = needsFonts;
  }
  if (held.needsFonts && lateFonts_) embedFromHere();
  return ends;
}

bool PdfWriter::inputNeedsFonts() {
  auto in = files_.openLines(s_.infile);
  std::string_view part;
  bool ends = false;
  while (in->nextPart(part, ends)) {
    if (ends) {
      if (NeedsFonts(part)) return true;
      continue;
    }
    // A long line is looked at as it is read, not held.
    LineFacts facts;
    facts.add(part);
    while (!ends && in->nextPart(part, ends)) facts.add(part);
    facts.finish();
    if (facts.needsFonts) return true;
  }
  return false;
}

bool PdfWriter::writeShapedLine(std::u32string_view text, bool hasFormFeed,
                                std::int64_t& streamstart) {
  text = TrimBlanks(text);
  const std::int64_t W = s_.charsperline;
  if (static_cast<std::int64_t>(text.size()) <= W) {
    writeShownLine(text);
    return true;
  }
  // Cut as the classic layout does, each character counting one, but only
  // where a cluster begins.
  if (W < 1) throw Failure(platform::kInvalidArgument);
  if (W > 32767) throw Failure(platform::kOverflow);
  std::vector<bool> cuts = fonts_->cutPoints(text);
  std::size_t run = 1;
  LimitClusters(cuts, run);
  const auto width = static_cast<std::size_t>(W);
  const std::size_t lastFormFeed = hasFormFeed ? text.rfind(U'\f') : std::u32string_view::npos;
  std::size_t start = 0;
  while (text.size() - start > width) {
    const std::size_t cut = ClassicCut(text, start, width, cuts);
    if (cut == 0) break;
    writeShownLine(text.substr(start, cut));
    start += cut;
    s_.lineno += 1;
    const bool formFeedAhead = lastFormFeed != std::u32string_view::npos && lastFormFeed >= start;
    if (s_.lineno >= s_.linesperpage || formFeedAhead) {
      if (!pageBreak(streamstart)) return false;
    }
  }
  s_.lineno += 1;
  writeShownLine(text.substr(start));
  return true;
}

namespace {

// Writes a whole number at `out` and returns the end of what it wrote.
char* PutNumber(char* out, std::int32_t value) {
  return std::to_chars(out, out + 12, value).ptr;
}

}  // namespace

const std::string& PdfWriter::fontSelector(int font) {
  // "/F1 10 Tf " and the like, made once a conversion for each font.
  const auto slot = static_cast<std::size_t>(font + 1);
  if (slot >= fontSelectors_.size()) fontSelectors_.resize(slot + 1);
  std::string& selector = fontSelectors_[slot];
  if (selector.empty()) {
    const std::string size = FixedText(s_.fontsize);
    selector = (font < 0 ? "/F1 " : "/F" + std::to_string(fonts_->resourceNumber(font)) + " ") +
               size + " Tf ";
  }
  return selector;
}

void PdfWriter::writeShownLine(std::u32string_view text) {
  putline("T*", false);
  shownRuns_.clear();
  for (const ShownRun& run : fonts_->shape(text)) {
    shownRuns_.push_back({run.font, run.classic, run.glyphs, run.after});
  }
  writeShownRuns(shownRuns_);
}

bool PdfWriter::writeLineShapedAhead(std::int64_t& streamstart) {
  const ShapingAhead::Line& line = ahead_->line();
  auto show = [&](std::uint32_t k) {
    putline("T*", false);
    writeShownRuns(ahead_->piece(k));
  };
  if (!line.cut) {
    show(0);
    return true;
  }
  // As writeShapedLine goes through the pieces it cuts.
  std::size_t start = 0;
  for (std::uint32_t k = 0; k + 1 < line.pieces; ++k) {
    show(k);
    start += ahead_->pieceLength(k);
    s_.lineno += 1;
    const bool formFeedAhead = line.lastFormFeed != ShapingAhead::kNoFormFeed && line.lastFormFeed >= start;
    if (s_.lineno >= s_.linesperpage || formFeedAhead) {
      if (!pageBreak(streamstart)) return false;
    }
  }
  s_.lineno += 1;
  show(line.pieces - 1);
  return true;
}

void PdfWriter::writeShownRuns(std::span<const RunView> runs) {
  int current = -1;  // F1
  std::int32_t rise = 0;
  std::string& line = shownLine_;
  line.clear();
  // Neighbouring runs of one font share one TJ for each stretch on one
  // baseline; the adjustment after a run waits for the glyph that follows it.
  bool open = false;      // a TJ array is being written
  bool inCodes = false;   // ... and a hexadecimal string of codes is open in it
  std::int32_t pending = 0;
  auto closeArray = [&] {
    if (!open) return;
    if (inCodes) line += '>';
    if (pending != 0) {
      line += ' ';
      line += std::to_string(pending);
    }
    line += "] TJ";
    putline(line, false);
    line.clear();
    open = inCodes = false;
    pending = 0;
  };
  for (const RunView& run : runs) {
    if (run.font < 0) {
      closeArray();
      if (run.font != current) {
        line = fontSelector(run.font);
        current = run.font;
      }
      if (rise != 0) {
        line += "0 Ts ";
        rise = 0;
      }
      line += '(';
      AppendEscaped(line, run.classic);
      line += ") Tj";
      putline(line, false);
      line.clear();
      continue;
    }
    if (run.font != current) {
      closeArray();
      line = fontSelector(run.font);
      current = run.font;
    }
    // A mark raised above its letter gets a text rise of its own.
    std::size_t g = 0;
    while (g < run.glyphs.size()) {
      if (run.glyphs[g].rise != rise) {
        closeArray();
        rise = run.glyphs[g].rise;
        line += DoubleText(std::round(static_cast<double>(rise) * static_cast<double>(s_.fontsize) /
                                      1e4) / 1000.0);
        line += " Ts ";
      }
      // Room for every glyph with an adjustment before it ("> -123 <" and a
      // code of four digits), and for the array's opening; written in scratch
      // space that is not cleared first.
      const std::size_t room = 2 + 28 * (run.glyphs.size() - g);
      if (room > glyphScratchSize_) {
        glyphScratchSize_ = std::max(room, 2 * glyphScratchSize_);
        glyphScratch_ = std::make_unique_for_overwrite<char[]>(glyphScratchSize_);
      }
      char* const first = glyphScratch_.get();
      char* out = first;
      if (!open) *out++ = '[';
      open = true;
      for (; g < run.glyphs.size() && run.glyphs[g].rise == rise; ++g) {
        const ShownRun::Glyph& glyph = run.glyphs[g];
        const std::int32_t adjust = pending + glyph.before;
        pending = 0;
        if (adjust != 0) {
          if (inCodes) *out++ = '>';
          inCodes = false;
          *out++ = ' ';
          out = PutNumber(out, adjust);
          *out++ = ' ';
        }
        if (!inCodes) *out++ = '<';
        inCodes = true;
        const unsigned code = glyph.code;
        std::memcpy(out, kHexPairs.data() + 2 * (code >> 8), 2);
        std::memcpy(out + 2, kHexPairs.data() + 2 * (code & 0xFF), 2);
        out += 4;
      }
      line.append(first, static_cast<std::size_t>(out - first));
    }
    pending += run.after;
  }
  closeArray();
  // Later lines and the page number are shown in F1 on the baseline.
  if (rise != 0) line = "0 Ts";
  if (current >= 0) {
    if (!line.empty()) line += ' ';
    const std::string& f1 = fontSelector(-1);
    line.append(f1, 0, f1.size() - 1);
  }
  if (!line.empty()) putline(line, false);
}

void PdfWriter::writeStream(std::int32_t object, std::initializer_list<std::string_view> entries,
                            std::string_view data) {
  openObject(object);
  putline("<<", false);
  putline("/Length " + std::to_string(data.size()), false);
  for (std::string_view entry : entries) putline(entry, false);
  putline(">>", false);
  putline("stream", false);
  // The bytes as one line: its line end is the one that comes before "endstream".
  putline(data, false);
  putline("endstream", false);
  closeObject();
}

namespace {

// A used font's objects, or why it cannot be embedded.
struct FinishedFont {
  std::optional<FontObjects> objects;
  std::string failure;
};

// Subsets the fonts, which have nothing to do with each other, on as many
// threads as there are `processors` (up to four), the fonts handed out in turn.
std::vector<FinishedFont> FinishFonts(FontEngine& fonts, const std::vector<int>& order,
                                      unsigned processors) {
  std::vector<FinishedFont> finished(order.size());
  std::atomic<std::size_t> next{0};
  auto work = [&] {
    for (std::size_t k = next++; k < order.size(); k = next++) {
      try {
        finished[k].objects = fonts.finish(order[k]);
      } catch (const std::exception& e) {
        finished[k].failure = e.what();
      } catch (...) {
        finished[k].failure = "a font could not be embedded";
      }
    }
  };
  const std::size_t threadsWanted = std::min<std::size_t>(
      {std::max(processors, 1u), order.size(), 4});
  std::vector<std::thread> threads;
  for (std::size_t k = 1; k < threadsWanted; ++k) {
    try {
      threads.emplace_back(work);
    } catch (const std::exception&) {
      break;  // the threads there are finish the fonts
    }
  }
  work();
  for (std::thread& t : threads) t.join();
  return finished;
}

}  // namespace

void PdfWriter::writefonts() {
  std::string fontEntries = "/F1 " + Reference(s_.resourcesobj - 2);
  try {
    const std::vector<int> order = fonts_->usedOrder();
    std::vector<FinishedFont> finished = FinishFonts(*fonts_, order, processors());
    for (std::size_t k = 0; k < order.size(); ++k) {
      const int index = order[k];
      const std::string resource = "/F" + std::to_string(fonts_->resourceNumber(index));
      if (!finished[k].objects) {
        // A font that cannot be embedded leaves its text unshown, the rest stays.
        report(finished[k].failure);
        continue;
      }
      const FontObjects& f = *finished[k].objects;
      const std::int32_t type0 = ++s_.objcount;
      const std::int32_t cidfont = ++s_.objcount;
      const std::int32_t descriptor = ++s_.objcount;
      const std::int32_t program = ++s_.objcount;
      const std::int32_t map = f.cidToGidMap.empty() ? 0 : ++s_.objcount;
      const std::int32_t tounicode = ++s_.objcount;

      openObject(type0);
      putline("<<", false);
      putline("/Type /Font", false);
      putline("/Subtype /Type0", false);
      putline("/BaseFont /" + f.baseFont, false);
      putline("/Encoding /Identity-H", false);
      putline("/DescendantFonts [ " + Reference(cidfont) + " ]", false);
      putline("/ToUnicode " + Reference(tounicode), false);
      putline(">>", false);
      closeObject();

      openObject(cidfont);
      putline("<<", false);
      putline("/Type /Font", false);
      putline(f.cff ? "/Subtype /CIDFontType0" : "/Subtype /CIDFontType2", false);
      putline("/BaseFont /" + f.baseFont, false);
      putline("/CIDSystemInfo << /Registry (Adobe) /Ordering (Identity) /Supplement 0 >>", false);
      putline("/FontDescriptor " + Reference(descriptor), false);
      putline("/DW " + std::to_string(f.defaultWidth), false);
      putline("/W [", false);
      for (const std::string& w : f.widths) putline(w, false);
      putline("]", false);
      if (map != 0) putline("/CIDToGIDMap " + Reference(map), false);
      putline(">>", false);
      closeObject();

      openObject(descriptor);
      putline("<<", false);
      putline("/Type /FontDescriptor", false);
      putline("/FontName /" + f.baseFont, false);
      putline("/Flags " + std::to_string(f.flags), false);
      putline("/FontBBox [ " + std::to_string(f.bbox[0]) + " " + std::to_string(f.bbox[1]) + " " +
                  std::to_string(f.bbox[2]) + " " + std::to_string(f.bbox[3]) + " ]",
              false);
      putline("/ItalicAngle " + f.italicAngle, false);
      putline("/Ascent " + std::to_string(f.ascent), false);
      putline("/Descent " + std::to_string(f.descent), false);
      putline("/CapHeight " + std::to_string(f.capHeight), false);
      putline("/StemV " + std::to_string(f.stemV), false);
      putline((f.cff ? "/FontFile3 " : "/FontFile2 ") + Reference(program), false);
      putline(">>", false);
      closeObject();

      if (f.cff) {
        writeStream(program, {"/Subtype /CIDFontType0C"}, f.program);
      } else {
        writeStream(program, {"/Length1 " + std::to_string(f.program.size())}, f.program);
      }
      if (map != 0) writeStream(map, {}, f.cidToGidMap);
      writeStream(tounicode, {}, f.toUnicode);
      fontEntries += " " + resource + " " + Reference(type0);
    }
  } catch (const std::exception& e) {
    report(e.what());
  }
  try {
    openObject(s_.resourcesobj);
    putline("<<", false);
    putline("  /Font << " + fontEntries + " >>", false);
    putline("  /ProcSet [ /PDF /Text ]", false);
    putline(">>", false);
    closeObject();
  } catch (const std::exception& e) {
    report(e.what());
  }
}

void PdfWriter::reportMissingGlyphs() {
  const MissingGlyphs& missing = fonts_->missing();
  if (missing.count == 0) return;
  std::string text = std::to_string(missing.count) +
                     (missing.count == 1 ? " character has" : " characters have") +
                     " no glyph in any installed font and " +
                     (missing.count == 1 ? "is" : "are") + " drawn as an empty box:";
  char code[16];
  for (char32_t c : missing.first) {
    std::snprintf(code, sizeof code, " U+%04X", static_cast<unsigned>(c));
    text += code;
  }
  if (missing.count > missing.first.size()) text += " ...";
  // A notice, not a failure: the document is complete.
  if (namesFiles_) {
    messages_.show(text, platform::Buttons::Ok, platform::Icon::Warning, platform::DefaultButton::First,
                   s_.infile);
  } else {
    messages_.show(s_.infile + ": " + text, platform::Buttons::Ok, platform::Icon::Warning,
                   platform::DefaultButton::First, platform::kAppTitle);
  }
}

void PdfWriter::closeLastPage(std::int64_t streamstart) {
  writeFooter();
  endpage(streamstart);
}

void PdfWriter::failText(const std::exception& e, std::int64_t streamstart) {
  reportFailure(e);
  // Close the open page, so that what was laid out stays a well-formed document.
  if (pageOpen_) closeLastPage(streamstart);
}

bool PdfWriter::canEmbed(std::string_view raw) {
  if (embedding_) return true;
  return lateFonts_ && NeedsFonts(raw) && embedFromHere();
}

bool PdfWriter::embedFromHere() {
  lateFonts_ = false;  // asked once
  if (writeFailed_) return false;
  FontModule* module = fontSettings_.module ? fontSettings_.module(whyNoFonts_) : nullptr;
  if (module != nullptr) fonts_ = module->open(s_.fontname, fontSettings_.fontFile);
  if (!fonts_) {
    noFonts_ = true;
    return false;
  }
  // The header must say PDF 1.3: in the buffer while nothing was written,
  // else in what was written, where the output can take it.
  constexpr std::string_view kOld = "%PDF-1.2";
  constexpr std::string_view kNew = "%PDF-1.3";
  bool said = false;
  if (!output_) {
    said = s_.buffer.starts_with(kOld);
    if (said) s_.buffer.overwriteStart(kNew);
  } else {
    try {
      said = output_->rewrite(0, kNew);
    } catch (const std::exception& e) {
      writeFailure(e.what());
      return false;
    }
  }
  if (!said) {
    fonts_.reset();
    tooLate_ = true;
    return false;
  }
  // The Resources object written before the first page names F1 alone; the
  // one written after the last page takes its number, and the table its place.
  embedding_ = true;
  return true;
}

void PdfWriter::noteUnshown(std::string_view raw) {
  if (fontSettings_.embed && NeedsFonts(raw)) unshownLines_ += 1;
}

void PdfWriter::reportUnshown() {
  if (unshownLines_ == 0) return;
  std::string why;
  if (noFonts_) {
    why = "the fonts cannot be loaded";
    if (!whyNoFonts_.empty()) why += " (" + whyNoFonts_ + ")";
  } else if (unshownInLongStream_) {
    why = "a line of more than 16 MB from a stream is laid out as it is read, without embedded fonts";
  } else if (tooLate_) {
    why = "the first such line came after the start of the PDF had gone to a stream, too late to "
          "embed fonts";
  } else {
    why = "the input changed after it was first read";
  }
  const std::string text = std::to_string(unshownLines_) +
                           (unshownLines_ == 1 ? " line holds" : " lines hold") +
                           " characters that Windows-1252 lacks, shown as \"?\", since " + why;
  if (namesFiles_) {
    messages_.show(text, platform::Buttons::Ok, platform::Icon::Warning, platform::DefaultButton::First,
                   s_.infile);
  } else {
    messages_.show("In '" + s_.infile + "', " + text, platform::Buttons::Ok, platform::Icon::Warning,
                   platform::DefaultButton::First, platform::kAppTitle);
  }
}

std::optional<std::int64_t> PdfWriter::startpage() {
  try {
    // Check everything this page needs before its first line, so that a page
    // that cannot be had leaves nothing half-written.
    if (s_.objcount + 3 > maxObjects() || s_.pageno + 1 > maxObjects()) {
      // The page limit: the document so far stays sound and is kept.
      report(platform::kSubscriptOutOfRange, /*pageLimit=*/true);
      return std::nullopt;
    }
    const std::int32_t top = CheckedInt32(static_cast<std::int64_t>(s_.pageheight) - 40);

    const std::int32_t page = ++s_.objcount;
    openObject(page);
    s_.pageno += 1;
    const auto index = static_cast<std::size_t>(s_.pageno);
    if (index >= s_.pageobjs.size()) s_.pageobjs.resize(std::max(index + 1, 2 * s_.pageobjs.size()));
    s_.pageobjs[index] = page;
    putline("<<", false);
    putline("/Type /Page", false);
    putline("/Parent " + Reference(s_.pagesobj), false);
    putline("/Resources " + Reference(s_.resourcesobj), false);
    const std::int32_t contents = ++s_.objcount;
    putline("/Contents " + Reference(contents), false);
    putline("/Rotate " + std::to_string(s_.rotation), false);
    putline(">>", false);
    closeObject();

    openObject(contents);
    putline("<<", false);
    putline("/Length " + Reference(contents + 1), false);
    putline(">>", false);
    putline("stream", false);
    const std::int64_t streamstart = s_.location;
    putline("BT", false);
    putline("/F1 " + FixedText(s_.fontsize) + " Tf", false);
    putline("1 0 0 1 50 " + std::to_string(top) + " Tm", false);
    putline(FixedText(s_.leading) + " TL", false);
    pageOpen_ = true;
    return streamstart;
  } catch (const std::exception& e) {
    reportFailure(e);
    return std::nullopt;
  }
}

void PdfWriter::endpage(std::int64_t streamstart) {
  pageOpen_ = false;
  try {
    putline("ET", false);
    const std::int64_t end = s_.location;
    putline("endstream", false);
    closeObject();
    const std::int32_t length = ++s_.objcount;
    openObject(length);
    putline(std::to_string(end - streamstart), false);
    closeObject();
    s_.lineno = 0;
  } catch (const std::exception& e) {
    reportFailure(e);
  }
}

void PdfWriter::endpdf() {
  try {
    openObject(s_.catalogobj);
    putline("<<", false);
    putline("/Type /Catalog", false);
    putline("/Pages " + Reference(s_.pagesobj), false);
    putline(">>", false);
    closeObject();

    openObject(s_.pagesobj);
    putline("<<", false);
    putline("/Type /Pages", false);
    putline("/Count " + std::to_string(s_.pageno), false);
    putline("/MediaBox [ 0 0 " + std::to_string(s_.pagewidth) + " " +
                std::to_string(s_.pageheight) + " ]",
            false);
    std::string kids = "/Kids [ ";
    for (std::int32_t k = 1; k <= s_.pageno; ++k) {
      if (k > maxObjects()) throw Failure(platform::kSubscriptOutOfRange);
      kids += Reference(s_.pageobjs[static_cast<std::size_t>(k)]);
      kids += ' ';
    }
    kids += ']';
    putline(kids, false);
    putline(">>", false);
    closeObject();

    const std::int64_t xrefstart = s_.location;
    putline("xref", false);
    putline("0 " + std::to_string(s_.objcount + 1), false);
    putline("0000000000 65535 f ", false);
    std::string entry;
    for (std::int32_t n = 1; n <= s_.objcount; ++n) {
      if (n > maxObjects()) throw Failure(platform::kSubscriptOutOfRange);
      // An object number given out but never written has no entry of its own.
      const auto index = static_cast<std::size_t>(n);
      entry.clear();
      AppendPadded(entry, index < s_.xrefs.size() ? s_.xrefs[index] : 0, 10);
      entry += " 00000 n ";
      putline(entry, false);
    }
    putline("trailer", false);
    putline("<<", false);
    putline("/Size " + std::to_string(s_.objcount + 1), false);
    putline("/Root " + Reference(s_.catalogobj), false);
    putline("/Info " + Reference(s_.infoobj), false);
    putline(">>", false);
    putline("startxref", false);
    putline(std::to_string(xrefstart), false);
    putline("%%EOF", true);
  } catch (const std::exception& e) {
    reportFailure(e);
  }
}

}  // namespace scrivane
