// The layout of option mode's shape settings: blanks kept, tabs expanded to
// columns, lines cut by the font's advance widths. The classic layout in
// writer.cpp stays as it is; this one is used only when a setting asks for it.

#include <algorithm>
#include <cstring>
#include <limits>
#include <utility>
#include <memory>
#include <optional>
#include <vector>

#include "platform/failure.h"
#include "writer/font_module.h"
#include "writer/font_widths.h"
#include "writer/long_font_line.h"
#include "writer/text.h"
#include "writer/writer.h"

namespace scrivane {

using platform::Failure;

const FontWidths& WidthsForFont(std::string_view fontname) {
  auto is = [&](std::string_view name) {
    if (fontname.size() != name.size()) return false;
    for (std::size_t i = 0; i < name.size(); ++i) {
      char c = fontname[i];
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
      if (c != name[i]) return false;
    }
    return true;
  };
  if (is("courier")) return kCourierWidths;
  if (is("arial")) return kHelveticaWidths;
  return kTimesRomanWidths;
}

namespace {

// Space that a tab needs beyond the whole blanks it becomes, in thousandths of
// the font size, drawn as an adjustment before the byte at `at`. Only
// proportional fonts need one: in Courier every column is a blank.
struct Gap {
  std::size_t at;
  std::int32_t units;
};

// What one line is measured in: with fit, advance widths times the font size
// (thousandths of a point, so that all sums are exact); else the classic count,
// an escaped character counting two.
class Measure {
 public:
  Measure(const FontWidths& widths, std::int64_t fontsize, bool fit)
      : widths_(widths), fontsize_(fontsize), fit_(fit) {}

  std::int64_t of(char c) const {
    if (fit_) return widths_[static_cast<unsigned char>(c)] * fontsize_;
    return (c == '(' || c == ')' || c == '\\') ? 2 : 1;
  }
  std::int64_t of(const Gap& gap) const { return fit_ ? gap.units * fontsize_ : 0; }

 private:
  const FontWidths& widths_;
  std::int64_t fontsize_;
  bool fit_;
};

bool IsBlankOrTab(char c, bool tabsAreBlanks) { return c == ' ' || (tabsAreBlanks && c == '\t'); }

}  // namespace

void PdfWriter::writeShapedText() {
  std::unique_ptr<platform::LineReader> in;
  std::int64_t streamstart = 0;
  try {
    in = files_.openLines(s_.infile);
    const auto first = startpage();
    if (!first) return;
    streamstart = *first;
    s_.lineno = 0;  // the lines on the current page

    const FontWidths& widths = WidthsForFont(s_.fontname);
    const Measure measure(widths, s_.fontsize, layout_.fit);
    // The usable width lies between two margins of 50 points; the sums count
    // thousandths of the font size times the fixed-point size.
    const std::int64_t budget = layout_.fit
                                    ? (static_cast<std::int64_t>(s_.pagewidth) - 100) * 1000 * 10000
                                    : s_.charsperline;
    const std::int64_t half = budget / 2;
    const std::int32_t capacity = std::max(s_.linesperpage, 1);
    const std::int32_t blank = widths[' '];
    const std::int32_t tabStop = layout_.tabSize * blank;
    const bool tabsAreBlanks = layout_.tabSize > 0;
    std::int64_t costs[256];
    for (int c = 0; c < 256; ++c) costs[c] = measure.of(static_cast<char>(c));
    // So many characters fit even when each is the widest: most lines need no measuring.
    const std::int64_t widest = *std::max_element(std::begin(costs), std::end(costs));
    const auto sureFit = static_cast<std::size_t>(widest > 0 ? std::max<std::int64_t>(budget, 0) / widest
                                                             : std::numeric_limits<std::int64_t>::max());

    std::string_view raw;
    std::string transcoded;  // the line in Windows-1252, when it came as UTF-8
    std::string expanded;    // the line with its tabs made blanks
    std::string shown;       // one output line, escaped
    std::u32string wide;     // the characters of a line that needs embedded fonts
    std::vector<Gap> gaps;

    // The adjustment before line[at], in the unit of the measure.
    auto gapBefore = [&](std::size_t at) -> std::int64_t {
      if (gaps.empty()) return 0;
      const auto it = std::lower_bound(gaps.begin(), gaps.end(), at,
                                       [](const Gap& g, std::size_t a) { return g.at < a; });
      return it != gaps.end() && it->at == at ? measure.of(*it) : 0;
    };

    // Writes line[from, to) as one text line, with the gaps inside it (one at its
    // start would only indent a continued line).
    auto writePiece = [&](std::string_view line, std::size_t from, std::size_t to) {
      if (s_.lineno >= capacity && !pageBreak(streamstart)) return false;
      auto gap = std::lower_bound(gaps.begin(), gaps.end(), from + 1,
                                  [](const Gap& g, std::size_t a) { return g.at < a; });
      if (gap == gaps.end() || gap->at >= to) {
        writeEscapedTextLine(line.substr(from, to - from));
        s_.lineno += 1;
        return true;
      }
      shown.assign("T* [(");
      std::size_t at = from;
      for (; gap != gaps.end() && gap->at < to; ++gap) {
        AppendEscaped(shown, line.substr(at, gap->at - at));
        shown += ") -";
        shown += std::to_string(gap->units);
        shown += " (";
        at = gap->at;
      }
      AppendEscaped(shown, line.substr(at, to - at));
      shown += "\r\n)] TJ";
      putline(shown, false);
      s_.lineno += 1;
      return true;
    };

    // Appends text to `out` with its tabs made blanks, each advancing to the next
    // stop, the stops counted from the start of the line (`x` is the width so far).
    auto expand = [&](std::string_view text, std::string& out, std::int64_t& x) {
      for (char c : text) {
        if (c != '\t') {
          out += c;
          x += widths[static_cast<unsigned char>(c)];
          continue;
        }
        const std::int64_t target = (x / tabStop + 1) * tabStop;
        const auto room = static_cast<std::int32_t>(target - x);
        if (room % blank != 0) gaps.push_back({out.size(), room % blank});
        out.append(static_cast<std::size_t>(room / blank), ' ');
        x = target;
      }
    };

    // Where the text that fits a line ends when line[start] begins it, with no
    // tab gaps in the line; `used` gets what that text costs (left at 0 when
    // all of the line surely fits).
    auto fittingEnd = [&](std::string_view line, std::size_t start, std::int64_t& used) {
      const std::size_t n = line.size();
      if (n - start <= sureFit) return n;
      // Each character costs what its byte does. Costs are never negative, so
      // whole groups that fit are taken at once, their sums independent of
      // each other, and the last group byte by byte.
      std::size_t end = start;
      const auto* bytes = reinterpret_cast<const unsigned char*>(line.data());
      while (n - end >= 8) {
        const unsigned char* b = bytes + end;
        const std::int64_t group = ((costs[b[0]] + costs[b[1]]) + (costs[b[2]] + costs[b[3]])) +
                                   ((costs[b[4]] + costs[b[5]]) + (costs[b[6]] + costs[b[7]]));
        if (used + group > budget) break;
        used += group;
        end += 8;
      }
      while (end < n) {
        const std::int64_t c = costs[static_cast<unsigned char>(line[end])];
        if (used + c > budget) break;
        used += c;
        ++end;
      }
      return end;
    };

    // Cuts pieces that fit from the start of `line`, preferably just after a
    // break character, and writes them. With `more`, the line goes on beyond
    // what `line` holds, and the text that does not yet need a cut waits for it.
    // `restBlank`: nothing but blanks follows `line`. Gives how much of `line`
    // was written (all of it when the rest of the line is to be dropped,
    // `dropRest` then true), or nothing when no further page can be had.
    bool cutOnce = false;
    auto cutPieces = [&](std::string_view line, bool more, bool restBlank,
                         bool& dropRest) -> std::optional<std::size_t> {
      const std::size_t n = line.size();
      for (std::size_t start = 0;;) {
        auto cost = [&](std::size_t at) {
          return costs[static_cast<unsigned char>(line[at])] + (at != start ? gapBefore(at) : 0);
        };
        std::int64_t used = 0;
        std::size_t end = start;
        if (gaps.empty()) {
          end = fittingEnd(line, start, used);
        } else {
          while (end < n && used + cost(end) <= budget) used += cost(end++);
        }
        if (end == n) {
          if (more) return start;
          if (!writePiece(line, start, n)) return std::nullopt;
          return n;
        }
        if (budget < 1) throw Failure(platform::kInvalidArgument);
        if (end == start) used += cost(end++);  // a character wider than a line gets one alone
        std::size_t cut = 0;
        for (std::size_t p = end; p > start && used >= half; --p) {
          if (IsBreakCharacter(line[p - 1])) {
            cut = p;
            break;
          }
          used -= cost(p - 1);
        }
        if (cut == 0) cut = end;
        if (!writePiece(line, start, cut)) return std::nullopt;
        start = cut;
        cutOnce = true;
        // Blanks left over at the end of a cut line would only fill lines with nothing.
        if (restBlank && line.find_first_not_of(' ', start) == std::string_view::npos) {
          dropRest = true;
          return n;
        }
      }
    };

    std::string& gathered = gathered_;
    // A byte that stays when the blanks at the end of a line are dropped.
    auto isSolid = [&](char c) { return c != ' ' && c != '\f' && !(tabsAreBlanks && c == '\t'); };
    // A line longer than a piece, looked at once in the file, is laid out as it
    // is read through a window that holds what is not yet written.
    // A line from a stream (`streamed`) is known only as far as it was read:
    // its UTF-8 is transcoded where it is well formed, form feeds past what was
    // held are dropped as they come, and blanks wait until text follows them.
    auto writeLongShapedLine = [&](const LineFacts& facts, std::uint64_t textEnd, bool streamed) -> bool {
      if (facts.nul) heldNul_ = true;
      if (fontSettings_.embed && facts.needsFonts) unshownLines_ += 1;
      if (facts.formFeeds > 0 && s_.lineno > 0 && !pageBreak(streamstart)) return false;
      const bool transcode = streamed || (!facts.ascii && facts.utf8);
      bool tail = false;      // the blanks that end the line are being fed
      bool verbatim = false;  // bytes that are to stay as they are
      std::string window;
      std::string pending;
      std::int64_t x = 0;
      std::uint64_t at = 0;  // offset in the line of the next byte read
      bool leading = !layout_.keepSpaces;
      bool dropRest = false;
      gaps.clear();
      cutOnce = false;
      auto feed = [&](std::string_view part) -> bool {
        const std::uint64_t from = at;
        at += part.size();
        if (dropRest) return true;
        // Without kept blanks, those at the end are dropped here.
        if (!layout_.keepSpaces) {
          if (from >= textEnd) return true;
          if (at > textEnd) part = part.substr(0, static_cast<std::size_t>(textEnd - from));
        }
        if (transcode && !verbatim) {
          transcoded.clear();
          if (streamed) {
            AppendWindows1252Leniently(transcoded, pending, part);
          } else {
            AppendWindows1252(transcoded, pending, part);
          }
          part = transcoded;
        }
        if ((streamed || facts.formFeeds > 0) && part.find('\f') != std::string_view::npos) {
          if (part.data() != transcoded.data()) transcoded.assign(part);
          std::erase(transcoded, '\f');
          part = transcoded;
        }
        if (leading) {
          std::size_t first = 0;
          while (first < part.size() && IsBlankOrTab(part[first], tabsAreBlanks)) ++first;
          if (first < part.size()) leading = false;
          part.remove_prefix(first);
        }
        if (tabsAreBlanks) {
          expand(part, window, x);
        } else {
          window.append(part);
        }
        const auto done = cutPieces(window, true, streamed ? tail : at >= textEnd, dropRest);
        if (!done) return false;
        window.erase(0, *done);
        std::erase_if(gaps, [&](const Gap& g) { return g.at < *done; });
        for (Gap& g : gaps) g.at -= *done;
        return true;
      };
      auto feedPieces = [&](std::string_view part) -> bool {
        const std::size_t size = std::min<std::size_t>(linePiece_, 32 * 1024);
        while (!part.empty()) {
          const std::size_t n = std::min(part.size(), size);
          if (!feed(part.substr(0, n))) return false;
          part.remove_prefix(n);
        }
        return true;
      };
      // The blanks, tabs and form feeds at the end of what was read, as runs.
      std::vector<std::pair<char, std::uint64_t>> held;
      auto release = [&]() -> bool {
        for (auto& [c, count] : held) {
          const std::string run(static_cast<std::size_t>(std::min<std::uint64_t>(count, 4096)), c);
          for (; count > 0;) {
            const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(count, run.size()));
            if (!feedPieces(std::string_view(run).substr(0, n))) return false;
            count -= n;
          }
        }
        held.clear();
        return true;
      };
      LineFacts later;  // what the parts read after the first say
      auto feedStreamed = [&](std::string_view part) -> bool {
        std::size_t last = part.size();
        while (last > 0 && !isSolid(part[last - 1])) --last;
        if (last > 0 && !release()) return false;
        if (last > 0 && !feedPieces(part.substr(0, last))) return false;
        for (const char c : part.substr(last)) {
          if (held.empty() || held.back().first != c) held.emplace_back(c, 0);
          held.back().second += 1;
        }
        return true;
      };
      if (!(streamed ? feedStreamed(gathered) : feedPieces(gathered))) return false;
      gathered.clear();
      std::string_view part;
      bool ends = false;
      while (!ends && in->nextPart(part, ends)) {
        if (streamed) later.add(part);
        if (!(streamed ? feedStreamed(part) : feedPieces(part))) return false;
      }
      bool shows = facts.length > facts.formFeeds;
      if (streamed) {
        later.finish();
        if (later.nul) heldNul_ = true;
        if (fontSettings_.embed && later.needsFonts && !facts.needsFonts) {
          unshownLines_ += 1;
          unshownInLongStream_ = true;
        }
        shows = shows || later.length > later.formFeeds;
        // Kept blanks at the end are laid out knowing that nothing follows them.
        tail = true;
        if (layout_.keepSpaces && !release()) return false;
        if (!pending.empty()) {
          // A sequence cut short by the end of the line is no UTF-8: its bytes stay.
          const std::string rest = std::exchange(pending, std::string());
          verbatim = true;
          if (!feed(rest)) return false;
        }
      }
      // A line of nothing but form feeds shows nothing; a cut line whose rest
      // is blank is done.
      if (dropRest || !shows) return true;
      if (cutOnce && window.find_first_not_of(' ') == std::string::npos) return true;
      bool unused = false;
      return cutPieces(window, false, true, unused).has_value();
    };

    bool whole = true;
    while (NextLine(*in, raw, gathered, whole, linePiece_)) {
      if (!whole) {
        LineFacts facts;
        std::uint64_t textEnd = 0;  // just past the last byte that does not vanish as a blank
        std::uint64_t offset = 0;
        const bool seen = in->scanLine([&](std::string_view block) {
          facts.add(block);
          for (std::size_t i = block.size(); i-- > 0;) {
            if (isSolid(block[i])) {
              textEnd = offset + i + 1;
              break;
            }
          }
          offset += block.size();
        });
        facts.finish();
        if (seen && facts.needsFonts && lateFonts_) embedFromHere();
        if (seen && !(embedding_ && facts.needsFonts)) {
          if (!writeLongShapedLine(facts, textEnd, false)) return;
          continue;
        }
        // A stream's line is held up to a bound, and laid out as it is read
        // beyond it.
        LineFacts held;
        const bool all = holdLine(*in, gathered, seen ? &facts : nullptr, held);
        if (embedding_ && held.needsFonts) {
          if (held.nul) heldNul_ = true;
          const LongFontLine::Shape shape{!layout_.keepSpaces, layout_.tabSize, true};
          LongFontLine line(seen || !all ? in.get() : nullptr, gathered, shape, *fonts_);
          const bool room = writeLongShapedFontLine(line, held.formFeeds > 0, streamstart);
          if (line.sawNul()) heldNul_ = true;
          if (!room) return;
          continue;
        }
        if (!all) {
          if (!writeLongShapedLine(held, std::numeric_limits<std::uint64_t>::max(), true)) return;
          continue;
        }
        raw = gathered;
      }
      // Most lines are plain ASCII without tabs that fits one line of a page
      // with room left: measured, and escaped straight into the output, they
      // need no other look. Whatever else a line may hold (a tab, a NUL, a form
      // feed, a byte beyond ASCII) is seen while it is escaped, and such a line
      // goes the way below.
      if (s_.lineno < capacity) {
        const std::string_view line = layout_.keepSpaces ? raw : TrimSpaces(raw);
        std::int64_t used = 0;
        if (fittingEnd(line, 0, used) == line.size() &&
            writeEscapedTextLine(line, std::numeric_limits<std::int64_t>::max(), true)) {
          s_.lineno += 1;
          continue;
        }
      }
      // Most other lines hold neither control characters nor bytes beyond
      // ASCII, and one look says so.
      const ByteKinds kinds = KindsOfBytes(raw);
      if (kinds.control && !heldNul_ && raw.find('\0') != std::string_view::npos) heldNul_ = true;
      std::string_view line = raw;
      if (kinds.high) {
        if (canEmbed(raw) && TextNeedingFonts(raw, wide)) {
          if (!writeShapedFontLine(wide, streamstart)) return;
          continue;
        }
        noteUnshown(raw);
        transcoded = ToWindows1252(line);
        line = transcoded;
      }
      // A form feed starts a new page unless the page is still empty; it is no
      // glyph, so it is not shown.
      const bool hasFormFeed = kinds.control && line.find('\f') != std::string_view::npos;
      if (hasFormFeed) {
        if (s_.lineno > 0 && !pageBreak(streamstart)) return;
        if (line.data() != transcoded.data()) transcoded.assign(line);
        std::erase(transcoded, '\f');
        line = transcoded;
        if (line.empty()) continue;
      }
      if (!layout_.keepSpaces) {
        std::size_t b = 0;
        std::size_t e = line.size();
        while (b < e && IsBlankOrTab(line[b], tabsAreBlanks)) ++b;
        while (e > b && IsBlankOrTab(line[e - 1], tabsAreBlanks)) --e;
        line = line.substr(b, e - b);
      }
      gaps.clear();
      if (tabsAreBlanks && kinds.control && line.find('\t') != std::string_view::npos) {
        expanded.clear();
        std::int64_t x = 0;
        expand(line, expanded, x);
        line = expanded;
      }
      bool dropRest = false;
      if (!cutPieces(line, false, true, dropRest)) return;
    }
    in.reset();
    closeLastPage(streamstart);
  } catch (const std::exception& e) {
    in.reset();
    failText(e, streamstart);
  }
}

bool PdfWriter::writeShapedFontLine(std::u32string& text, std::int64_t& streamstart) {
  const std::int32_t capacity = std::max(s_.linesperpage, 1);
  // A form feed starts a new page unless the page is still empty; it is no glyph.
  if (text.find(U'\f') != std::u32string::npos) {
    if (s_.lineno > 0 && !pageBreak(streamstart)) return false;
    std::erase(text, U'\f');
    if (text.empty()) return true;
  }
  const bool tabsAreBlanks = layout_.tabSize > 0;
  auto isBlank = [&](char32_t c) { return c == U' ' || (tabsAreBlanks && c == U'\t'); };
  std::u32string_view line = text;
  if (!layout_.keepSpaces) {
    std::size_t b = 0;
    std::size_t e = line.size();
    while (b < e && isBlank(line[b])) ++b;
    while (e > b && isBlank(line[e - 1])) --e;
    line = line.substr(b, e - b);
  }
  std::u32string expanded;
  if (tabsAreBlanks && line.find(U'\t') != std::u32string_view::npos) {
    // A column is a cluster here: a letter with its marks takes one, as it does
    // in a monospaced font.
    std::vector<bool> clusters = fonts_->cutPoints(line);
    std::size_t run = 1;
    LimitClusters(clusters, run);
    const auto size = static_cast<std::size_t>(layout_.tabSize);
    std::size_t column = 0;
    for (std::size_t i = 0; i < line.size(); ++i) {
      if (line[i] == U'\t') {
        const std::size_t stop = (column / size + 1) * size;
        expanded.append(stop - column, U' ');
        column = stop;
        continue;
      }
      if (i == 0 || clusters[i]) ++column;
      expanded += line[i];
    }
    line = expanded;
  }

  std::vector<bool> cuts = fonts_->cutPoints(line);
  std::size_t run = 1;
  LimitClusters(cuts, run);
  const std::size_t n = line.size();
  auto cutsBefore = [&](std::size_t at) { return at >= n || cuts[at]; };
  const FontWidths& classic = WidthsForFont(s_.fontname);
  // With fit, the widths of the shaped text at the right margin (thousandths of
  // the font size times the fixed-point size); else the classic count, each
  // character counting one.
  const std::int64_t budget = layout_.fit
                                  ? (static_cast<std::int64_t>(s_.pagewidth) - 100) * 1000 * 10000
                                  : s_.charsperline;
  if (budget < 1) throw Failure(platform::kInvalidArgument);
  auto measure = [&](std::size_t from, std::size_t to) -> std::int64_t {
    if (!layout_.fit) return static_cast<std::int64_t>(to - from);
    return fonts_->width(line.substr(from, to - from), classic) * s_.fontsize;
  };
  auto writePiece = [&](std::size_t from, std::size_t to) {
    if (s_.lineno >= capacity && !pageBreak(streamstart)) return false;
    writeShownLine(line.substr(from, to - from));
    s_.lineno += 1;
    return true;
  };

  // Where clusters end, in order: a piece ends at one of them.
  std::vector<std::size_t> ends;
  for (std::size_t i = 1; i <= n; ++i) {
    if (cutsBefore(i)) ends.push_back(i);
  }
  if (n == 0) return writePiece(0, 0);
  std::size_t first = 0;  // the first entry of `ends` after the piece's start
  for (std::size_t start = 0;;) {
    // The last boundary that fits, found by doubling the step and then halving
    // it, so that a long line is never measured whole; a cluster wider than a
    // line gets one alone.
    std::size_t fits = first;
    if (measure(start, ends[first]) <= budget) {
      std::size_t over = ends.size();  // the first entry known not to fit
      // The last entry a piece may reach.
      const std::size_t top = static_cast<std::size_t>(
          std::upper_bound(ends.begin() + static_cast<std::ptrdiff_t>(first), ends.end(), start + kLongestPiece) -
          ends.begin()) - 1;
      for (std::size_t step = 1;; step *= 2) {
        const std::size_t next = std::min(fits + step, top);
        if (next == fits) break;
        if (measure(start, ends[next]) > budget) {
          over = next;
          break;
        }
        fits = next;
      }
      while (over < ends.size() && over - fits > 1) {
        const std::size_t mid = fits + (over - fits) / 2;
        if (measure(start, ends[mid]) <= budget) {
          fits = mid;
        } else {
          over = mid;
        }
      }
    }
    if (ends[fits] == n) return writePiece(start, n);
    std::size_t cut = ends[fits];
    // Prefer the end of the last break character that fits, when the piece
    // before it fills at least half a line.
    for (std::size_t k = fits + 1; k-- > first;) {
      const char32_t c = line[ends[k] - 1];
      if (c < 0x80 && IsBreakCharacter(static_cast<char>(c))) {
        if (k != fits && measure(start, ends[k]) >= budget / 2) cut = ends[k];
        break;
      }
    }
    if (!writePiece(start, cut)) return false;
    start = cut;
    while (ends[first] <= start) ++first;
    // Blanks left over at the end of a cut line would only fill lines with nothing.
    if (line.find_first_not_of(U' ', start) == std::u32string_view::npos) return true;
  }
}

}  // namespace scrivane
