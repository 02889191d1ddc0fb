// Lines that need embedded fonts and are too long to be held whole: read,
// decoded and cut in bounded pieces, into the document that the whole line
// would give.

#include "writer/long_font_line.h"

#include <algorithm>
#include <limits>

#include "platform/failure.h"
#include "writer/font_module.h"
#include "writer/font_widths.h"
#include "writer/text.h"
#include "writer/writer.h"

namespace scrivane {

using platform::Failure;

namespace {

// Bytes decoded at a time.
constexpr std::size_t kDecodeStep = 16 * 1024;
// A run of blanks shorter than this enters the window's text as blanks at once.
constexpr std::size_t kShortRun = 16;
// Characters looked at at a time for where clusters end.
constexpr std::size_t kLookAhead = 4096;

}  // namespace

void LimitClusters(std::vector<bool>& cuts, std::size_t& run) {
  for (std::size_t j = 1; j + 1 < cuts.size(); ++j) {
    if (!cuts[j] && run >= kLongestCluster) cuts[j] = true;
    run = cuts[j] ? 1 : run + 1;
  }
}

std::u32string_view TrimBlanks(std::u32string_view text) {
  const std::size_t first = text.find_first_not_of(U' ');
  if (first == std::u32string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(U' ') - first + 1);
}

bool NextLine(platform::LineReader& in, std::string_view& raw, std::string& gathered, bool& whole,
              std::size_t piece) {
  bool ends = false;
  if (!in.nextPart(raw, ends)) return false;
  whole = true;
  if (ends) return true;
  // A line longer than the reader's buffer is gathered up to a piece; beyond
  // that it is laid out as it is read.
  gathered.assign(raw);
  while (!ends && gathered.size() <= piece) {
    if (!in.nextPart(raw, ends)) break;
    gathered.append(raw);
  }
  raw = gathered;
  whole = ends;
  return true;
}

std::size_t ClassicCutWithin(std::u32string_view text, std::size_t start, std::size_t width,
                             const std::vector<bool>& cuts) {
  const std::size_t half = width / 2;
  for (std::size_t p = width; p >= half && p > 0; --p) {
    const char32_t c = text[start + p - 1];
    if (c < 0x80 && IsBreakCharacter(static_cast<char>(c)) && cuts[start + p]) return p;
  }
  std::size_t cut = width;
  while (cut > 0 && !cuts[start + cut]) --cut;
  return cut;
}

std::size_t ClassicCut(std::u32string_view text, std::size_t start, std::size_t width,
                       const std::vector<bool>& cuts) {
  std::size_t cut = ClassicCutWithin(text, start, width, cuts);
  if (cut > 0) return cut;
  // One cluster longer than a line stays whole.
  cut = width;
  while (start + cut < text.size() && !cuts[start + cut]) ++cut;
  return start + cut >= text.size() ? 0 : cut;
}

LongFontLine::LongFontLine(platform::LineReader* in, std::string_view first, const Shape& shape,
                           FontEngine& fonts)
    : in_(in), bytes_(first), lastPart_(in == nullptr), shape_(shape), fonts_(fonts) {}

bool LongFontLine::need(std::size_t n) {
  while (window_.size() - start_ < n) {
    if (!pending_.empty()) {
      Segment& s = pending_.front();
      if (s.spaces > 0) {
        const auto k = static_cast<std::size_t>(
            std::min<std::uint64_t>(s.spaces, n - (window_.size() - start_)));
        window_.append(k, U' ');
        s.spaces -= k;
        continue;
      }
      window_ += s.text;
      pending_.pop_front();
      continue;
    }
    if (!decode()) return false;
  }
  return true;
}

void LongFontLine::drop(std::size_t n) {
  start_ += n;
  dropped_ += n;
  // The characters left behind are let go of once they are half the window.
  if (start_ >= kLookAhead && 2 * start_ >= window_.size()) {
    window_.erase(0, start_);
    start_ = 0;
  }
}

bool LongFontLine::onlyBlanksLeft() {
  if (view().find_first_not_of(U' ') != std::u32string_view::npos) return false;
  for (;;) {
    // Text waits only behind the character that ended a run of blanks, and
    // the blanks that end a kept line wait with no text after them.
    for (const Segment& s : pending_) {
      if (s.text.find_first_not_of(U' ') != std::u32string::npos) return false;
    }
    if (done_) return true;
    decode();
  }
}

bool LongFontLine::anyCharacter() {
  while (!anyCharacter_ && decode()) {
  }
  return anyCharacter_;
}

void LongFontLine::addSpaces(std::uint64_t count) { held_ += count; }

void LongFontLine::addText(char32_t c) {
  if (held_ >= kShortRun || pending_.empty()) pending_.push_back(Segment{});
  Segment& s = pending_.back();
  if (held_ >= kShortRun) {
    s.spaces = held_;
  } else {
    s.text.append(static_cast<std::size_t>(held_), U' ');
  }
  held_ = 0;
  s.text += c;
}

bool LongFontLine::decode() {
  if (done_) return false;
  while (bytes_.empty() && !lastPart_) {
    bool ends = false;
    if (!in_->nextPart(bytes_, ends)) ends = true;
    lastPart_ = ends;
  }
  const std::string_view chunk = bytes_.substr(0, kDecodeStep);
  bytes_.remove_prefix(chunk.size());
  decoded_.clear();
  AppendCharactersLeniently(decoded_, partial_, chunk);
  const bool end = bytes_.empty() && lastPart_;
  // A sequence cut short by the end of the line is no UTF-8: its bytes stay.
  if (end) FinishCharacters(decoded_, partial_);

  const bool tabs = shape_.tabSize > 0;
  kept_.clear();
  const bool hadText = !leading_;
  if (hadText && tabs) kept_ += before_;
  for (const char32_t c : decoded_) {
    if (c == U'\f') {
      ++formFeeds_;
      if (shape_.dropFormFeeds) continue;
    }
    if (c == 0) nul_ = true;
    anyCharacter_ = true;
    const bool blank = c == U' ' || (tabs && c == U'\t');
    if (leading_ && shape_.trim && blank) continue;
    leading_ = false;
    kept_ += c;
  }
  // Tabs go to the next stop of columns, and a column is a cluster: a letter
  // with its marks takes one, as it does in a monospaced font.
  std::vector<bool> clusters;
  const std::size_t from = hadText && tabs ? 1 : 0;
  if (tabs && kept_.size() > from) {
    clusters = fonts_.cutPoints(kept_);
    LimitClusters(clusters, cluster_);
  }
  const auto size = static_cast<std::uint64_t>(shape_.tabSize);
  for (std::size_t i = from; i < kept_.size(); ++i) {
    const char32_t c = kept_[i];
    if (tabs) {
      if (c == U'\t') {
        const std::uint64_t stop = (column_ / size + 1) * size;
        addSpaces(stop - column_);
        column_ = stop;
        continue;
      }
      if (clusters[i]) ++column_;
    }
    if (c == U' ') {
      addSpaces(1);
    } else {
      addText(c);
    }
  }
  if (kept_.size() > from) before_ = kept_.back();
  if (end) {
    // Blanks that end the line are dropped, or kept with nothing after them.
    if (held_ > 0 && !shape_.trim) pending_.push_back(Segment{held_, {}});
    held_ = 0;
    done_ = true;
  }
  return true;
}

bool PdfWriter::writeLongFontLine(LongFontLine& text, std::uint64_t formFeeds, bool known,
                                  std::int64_t& streamstart) {
  const std::int64_t W = s_.charsperline;
  const auto probe =
      static_cast<std::size_t>(std::clamp<std::int64_t>(W, 0, static_cast<std::int64_t>(kLongestPiece)) + 1);
  if (!text.need(probe) && static_cast<std::int64_t>(text.view().size()) <= W) {
    writeShownLine(text.view());
    return true;
  }
  // Cut as the classic layout does, each character counting one, but only
  // where a cluster begins.
  if (W < 1) throw Failure(platform::kInvalidArgument);
  if (W > 32767) throw Failure(platform::kOverflow);
  const auto width = static_cast<std::size_t>(W);
  std::uint64_t passed = 0;  // form feeds in the pieces written
  while (text.need(width + 1)) {
    std::u32string_view v = text.view();
    std::vector<bool> cuts = fonts_->cutPoints(v.substr(0, width + 1));
    std::size_t run = 1;
    LimitClusters(cuts, run);
    std::size_t cut = ClassicCutWithin(v, 0, width, cuts);
    if (cut == 0) {
      // One cluster longer than a line stays whole.
      const bool more = text.need(kLongestCluster + 1);
      v = text.view();
      std::vector<bool> longer = fonts_->cutPoints(v.substr(0, kLongestCluster + 1));
      run = 1;
      LimitClusters(longer, run);
      cut = width + 1;
      while (cut < v.size() && !longer[cut]) ++cut;
      if (cut >= v.size() && !more) break;
    }
    writeShownLine(v.substr(0, cut));
    passed += static_cast<std::uint64_t>(std::count(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(cut), U'\f'));
    text.drop(cut);
    s_.lineno += 1;
    const bool formFeedAhead = (known ? formFeeds : std::max(formFeeds, text.formFeedsRead())) > passed;
    if (s_.lineno >= s_.linesperpage || formFeedAhead) {
      if (!pageBreak(streamstart)) return false;
    }
  }
  s_.lineno += 1;
  writeShownLine(text.view());
  return true;
}

bool PdfWriter::writeLongShapedFontLine(LongFontLine& text, bool formFeed, std::int64_t& streamstart) {
  const std::int32_t capacity = std::max(s_.linesperpage, 1);
  // A form feed starts a new page unless the page is still empty; it is no glyph.
  if (formFeed) {
    if (s_.lineno > 0 && !pageBreak(streamstart)) return false;
    if (!text.anyCharacter()) return true;
  }
  const FontWidths& classic = WidthsForFont(s_.fontname);
  // With fit, the widths of the shaped text at the right margin; else the
  // classic count, each character counting one.
  const std::int64_t budget = layout_.fit
                                  ? (static_cast<std::int64_t>(s_.pagewidth) - 100) * 1000 * 10000
                                  : s_.charsperline;
  if (budget < 1) throw Failure(platform::kInvalidArgument);
  // Positions are counted in the line; the window starts at the piece's start.
  auto slice = [&](std::uint64_t from, std::uint64_t to) {
    return text.view().substr(static_cast<std::size_t>(from - text.dropped()),
                              static_cast<std::size_t>(to - from));
  };
  auto measure = [&](std::uint64_t from, std::uint64_t to) -> std::int64_t {
    if (!layout_.fit) return static_cast<std::int64_t>(to - from);
    return fonts_->width(slice(from, to), classic) * s_.fontsize;
  };
  auto writePiece = [&](std::uint64_t from, std::uint64_t to) {
    if (s_.lineno >= capacity && !pageBreak(streamstart)) return false;
    writeShownLine(slice(from, to));
    s_.lineno += 1;
    return true;
  };
  if (!text.need(1)) return writePiece(0, 0);

  // Where clusters end, as far as the line has been looked at: a piece ends
  // at one of them.
  std::vector<std::uint64_t> ends;
  std::size_t first = 0;      // the first entry after the piece's start
  std::uint64_t scanned = 0;  // the last position looked at
  std::size_t run = 1;        // the characters of the cluster there
  bool complete = false;      // the end of the line is the last entry
  // Adds the next ends; false when there are no more for this piece.
  auto grow = [&]() -> bool {
    const std::uint64_t base = text.dropped();
    const std::uint64_t limit = base + kLongestPiece;
    const std::size_t before = ends.size();
    while (ends.size() == before) {
      if (complete) return false;
      if (scanned >= limit) return false;
      const auto from = static_cast<std::size_t>(scanned - base);
      const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(from + kLookAhead, limit - base));
      const bool full = text.need(want + 1);
      const std::u32string_view v = text.view();
      const std::size_t last = full ? want : v.size();
      if (!full) complete = true;
      if (last > from) {
        std::vector<bool> cuts = fonts_->cutPoints(v.substr(from, full ? last + 1 - from : last - from));
        LimitClusters(cuts, run);
        for (std::size_t j = 1; from + j <= last; ++j) {
          if (cuts[j]) ends.push_back(base + from + j);
        }
      }
      scanned = base + last;
    }
    return true;
  };

  for (;;) {
    const std::uint64_t start = text.dropped();
    while (ends.size() == first && grow()) {
    }
    // The last end that fits, found by doubling the step and then halving
    // it, so that a long line is never measured whole; a cluster wider than a
    // line gets one alone.
    std::size_t fits = first;
    if (measure(start, ends[first]) <= budget) {
      std::size_t over = std::numeric_limits<std::size_t>::max();  // the first entry known not to fit
      for (std::size_t step = 1;; step *= 2) {
        std::size_t next = fits + step;
        while (ends.size() <= next && grow()) {
        }
        next = std::min(next, ends.size() - 1);
        if (next == fits) break;
        if (measure(start, ends[next]) > budget) {
          over = next;
          break;
        }
        fits = next;
      }
      while (over != std::numeric_limits<std::size_t>::max() && over - fits > 1) {
        const std::size_t mid = fits + (over - fits) / 2;
        if (measure(start, ends[mid]) <= budget) {
          fits = mid;
        } else {
          over = mid;
        }
      }
    }
    if (complete && fits + 1 == ends.size()) return writePiece(start, ends[fits]);
    std::uint64_t cut = ends[fits];
    // Prefer the end of the last break character that fits, when the piece
    // before it fills at least half a line.
    for (std::size_t k = fits + 1; k-- > first;) {
      const char32_t c = slice(ends[k] - 1, ends[k])[0];
      if (c < 0x80 && IsBreakCharacter(static_cast<char>(c))) {
        if (k != fits && measure(start, ends[k]) >= budget / 2) cut = ends[k];
        break;
      }
    }
    if (!writePiece(start, cut)) return false;
    text.drop(static_cast<std::size_t>(cut - start));
    while (first < ends.size() && ends[first] <= cut) ++first;
    if (first >= kLookAhead) {
      ends.erase(ends.begin(), ends.begin() + static_cast<std::ptrdiff_t>(first));
      first = 0;
    }
    // Blanks left over at the end of a cut line would only fill lines with nothing.
    if (text.onlyBlanksLeft()) return true;
  }
}

}  // namespace scrivane
