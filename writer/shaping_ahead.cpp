#include "writer/shaping_ahead.h"

#include <algorithm>
#include <cstring>

#include "writer/long_font_line.h"
#include "writer/text.h"

namespace scrivane {

// The runs of a stretch of lines, flat, and what shaping it changed of its
// thread's engine: the codes it gave out and the characters it could not show.
struct ShapingAhead::Stretch {
  std::uint64_t number = 0;
  std::size_t shaper = 0;  // the thread that shaped it
  bool complete = true;    // false: shaping failed in it, and the writer shapes it all
  std::vector<Line> lines;
  std::string raw;  // the bytes of the lines shaped
  struct Piece {
    std::size_t length = 0;
    std::uint32_t firstRun = 0, runs = 0;
    std::size_t missing = 0;  // characters that no font has
    std::uint32_t missingAt = 0, missingLength = 0;  // the first few of them, new to the engine
  };
  std::vector<Piece> pieces;
  struct Run {
    std::int32_t font = -1, after = 0;
    std::uint32_t classicAt = 0, classicLength = 0, glyphAt = 0, glyphs = 0, adjustAt = 0, adjusts = 0;
  };
  std::vector<Run> runs;
  std::string classic;
  // The glyphs' codes, and the few glyphs with an adjustment or a rise:
  // most have neither, and the writer reads what another thread wrote.
  std::vector<std::uint16_t> glyphCodes;
  struct Adjust {
    std::uint32_t glyph = 0;  // its place among the run's glyphs
    std::int32_t before = 0, rise = 0;
  };
  std::vector<Adjust> adjusts;
  std::u32string missing;
  struct FontCodes {
    int font = 0;
    std::vector<GivenCode> codes;
  };
  std::vector<FontCodes> codes;
  std::size_t bytes = 0;  // about how much room it takes, once published

  std::size_t measure() const {
    std::size_t n = raw.size() + classic.size() + glyphCodes.size() * sizeof(std::uint16_t) +
                    adjusts.size() * sizeof(Adjust) + runs.size() * sizeof(Run) +
                    pieces.size() * sizeof(Piece) + lines.size() * sizeof(Line) +
                    missing.size() * sizeof(char32_t);
    for (const FontCodes& f : codes) {
      for (const GivenCode& c : f.codes) n += sizeof(GivenCode) + c.text.size() * sizeof(char32_t);
    }
    return n;
  }
  void clear() {
    complete = true;
    lines.clear();
    raw.clear();
    pieces.clear();
    runs.clear();
    classic.clear();
    glyphCodes.clear();
    adjusts.clear();
    missing.clear();
    codes.clear();
  }
};

// One shaping thread: its reader, its engine, and what it keeps of them.
struct ShapingAhead::Shaper {
  std::size_t index = 0;
  Means means;
  std::string gathered;
  std::u32string wide;
  std::vector<std::size_t> codesSeen;  // by font: how many of its codes were published
  std::vector<int> touched;            // fonts shown in the stretch being shaped
  std::vector<bool> isTouched;
  std::uint64_t linesRead = 0;
  std::thread thread;
};

ShapingAhead::ShapingAhead(std::vector<Means> means, Means helper, FontEngine& own, std::size_t width,
                           std::size_t linePiece, std::size_t stretchLines, std::size_t room)
    : own_(own),
      width_(width),
      linePiece_(linePiece),
      stretchLines_(std::max<std::size_t>(stretchLines, 1)),
      roomBytes_(room) {
  codes_.resize(means.size() + 1);
  for (Means& m : means) {
    auto shaper = std::make_unique<Shaper>();
    shaper->index = shapers_.size();
    shaper->means = std::move(m);
    shapers_.push_back(std::move(shaper));
  }
  if (helper.in && helper.engine) {
    helper_ = std::make_unique<Shaper>();
    helper_->index = shapers_.size();
    helper_->means = std::move(helper);
  }
  try {
    for (const auto& shaper : shapers_) {
      Shaper& s = *shaper;
      s.thread = std::thread([this, &s] { work(s); });
    }
  } catch (...) {
    // A thread that cannot be had: those started end, and the writer goes on without.
    stop();
    for (const auto& shaper : shapers_) {
      if (shaper->thread.joinable()) shaper->thread.join();
    }
    throw;
  }
}

ShapingAhead::~ShapingAhead() {
  stop();
  for (const auto& shaper : shapers_) shaper->thread.join();
}

void ShapingAhead::stop() {
  {
    const std::lock_guard lock(mutex_);
    stopFlag_ = true;
  }
  room_.notify_all();
}

std::unique_ptr<ShapingAhead::Stretch> ShapingAhead::spare() {
  {
    const std::lock_guard lock(mutex_);
    if (!spares_.empty()) {
      std::unique_ptr<Stretch> s = std::move(spares_.back());
      spares_.pop_back();
      s->clear();
      return s;
    }
  }
  return std::make_unique<Stretch>();
}

void ShapingAhead::publish(Shaper& shaper, std::unique_ptr<Stretch>& stretch) {
  // The codes the stretch gave out, for the writer to give out its own for them.
  for (const int font : shaper.touched) {
    shaper.isTouched[static_cast<std::size_t>(font)] = false;
    if (!stretch->complete) continue;
    Stretch::FontCodes given{font, {}};
    std::size_t& seen = shaper.codesSeen[static_cast<std::size_t>(font)];
    seen = shaper.means.engine->codesGiven(font, seen, given.codes);
    if (!given.codes.empty()) stretch->codes.push_back(std::move(given));
  }
  shaper.touched.clear();
  stretch->bytes = stretch->measure();
  {
    const std::lock_guard lock(mutex_);
    const std::uint64_t number = stretch->number;
    const std::size_t bytes = stretch->bytes;
    shaped_.emplace(number, std::move(stretch));
    queuedBytes_ += bytes;
  }
  ready_.notify_one();
}

bool ShapingAhead::readLine(Shaper& shaper, std::string_view& raw, bool& whole) {
  // Lines as the writer reads them; the rest of a line it holds in pieces is
  // passed over.
  platform::LineReader& in = *shaper.means.in;
  whole = true;
  if (!NextLine(in, raw, shaper.gathered, whole, linePiece_)) return false;
  std::string_view rest;
  for (bool ends = whole; !ends && !stopFlag_ && in.nextPart(rest, ends);) {
  }
  ++shaper.linesRead;
  return true;
}

void ShapingAhead::work(Shaper& shaper) {
  std::uint64_t number = 0;
  std::size_t inStretch = 0;
  std::unique_ptr<Stretch> stretch;  // the stretch being shaped, when this thread took it
  std::unique_ptr<Stretch> next;     // storage for the next one it takes
  try {
    while (!stopFlag_) {
      std::string_view raw;
      bool whole = true;
      if (!readLine(shaper, raw, whole)) break;
      if (inStretch == 0) {
        // The next stretch is taken unless another thread has taken it, and
        // only while the stretches waiting for the writer leave room.
        {
          std::unique_lock lock(mutex_);
          room_.wait(lock, [&] { return stopFlag_ || queuedBytes_ < roomBytes_; });
          if (stopFlag_) break;
        }
        // Ready before the stretch is taken, so that nothing can fail between.
        if (!next) next = spare();
        std::uint64_t expected = number;
        if (frontier_.compare_exchange_strong(expected, number + 1)) {
          stretch = std::move(next);
          stretch->number = number;
          stretch->shaper = shaper.index;
        }
      }
      if (stretch) {
        if (whole && raw.size() <= kLongestLine) {
          shapeLine(shaper, raw, *stretch);
        } else {
          stretch->lines.push_back({});
        }
      }
      if (++inStretch == stretchLines_) {
        if (stretch) publish(shaper, stretch);
        ++number;
        inStretch = 0;
      }
    }
    if (stretch) publish(shaper, stretch);
  } catch (...) {
    // The writer shapes the stretch itself; this thread takes no more.
    if (stretch) {
      stretch->complete = false;
      try {
        publish(shaper, stretch);
      } catch (...) {
        // The writer would wait for it in vain: it takes nothing more from here.
        const std::lock_guard lock(mutex_);
        lost_ = true;
      }
    }
  }
  {
    const std::lock_guard lock(mutex_);
    ++ended_;
  }
  ready_.notify_all();
}

bool ShapingAhead::shapeHere(std::uint64_t number) {
  Shaper& helper = *helper_;
  try {
    // The stretches asked for only grow; where the file ends before this
    // one, the helper is not needed again.
    const std::uint64_t first = number * stretchLines_;
    if (helper.linesRead > first) {
      helper_.reset();
      return false;
    }
    std::string_view raw;
    bool whole = true;
    while (helper.linesRead < first) {
      if (!readLine(helper, raw, whole)) {
        helper_.reset();
        return false;
      }
    }
    std::unique_ptr<Stretch> stretch = spare();
    stretch->number = number;
    stretch->shaper = helper.index;
    for (std::size_t k = 0; k < stretchLines_ && readLine(helper, raw, whole); ++k) {
      if (whole && raw.size() <= kLongestLine) {
        shapeLine(helper, raw, *stretch);
      } else {
        stretch->lines.push_back({});
      }
    }
    publish(helper, stretch);
    return true;
  } catch (...) {
    // What it took of its engine is unknown: the writer helps no more, and
    // shapes the stretch itself when it comes to it.
    helper_.reset();
    return false;
  }
}

void ShapingAhead::shapeLine(Shaper& shaper, std::string_view raw, Stretch& stretch) {
  Line line;
  line.firstPiece = static_cast<std::uint32_t>(stretch.pieces.size());
  if (TextNeedingFonts(raw, shaper.wide)) {
    line.shaped = true;
    line.rawAt = stretch.raw.size();
    line.rawLength = raw.size();
    stretch.raw.append(raw);
    // The pieces that writeShapedLine cuts from the line.
    const std::u32string_view text = TrimBlanks(shaper.wide);
    if (const std::size_t f = text.rfind(U'\f'); f != std::u32string_view::npos) {
      line.lastFormFeed = static_cast<std::uint32_t>(f);
    }
    line.cut = text.size() > width_;
    if (!line.cut) {
      addPiece(shaper, text, stretch);
    } else {
      std::vector<bool> cuts = shaper.means.engine->cutPoints(text);
      std::size_t run = 1;
      LimitClusters(cuts, run);
      std::size_t start = 0;
      while (text.size() - start > width_) {
        const std::size_t cut = ClassicCut(text, start, width_, cuts);
        if (cut == 0) break;
        addPiece(shaper, text.substr(start, cut), stretch);
        start += cut;
      }
      addPiece(shaper, text.substr(start), stretch);
    }
  }
  line.pieces = static_cast<std::uint32_t>(stretch.pieces.size()) - line.firstPiece;
  stretch.lines.push_back(line);
}

void ShapingAhead::addPiece(Shaper& shaper, std::u32string_view text, Stretch& stretch) {
  FontEngine& engine = *shaper.means.engine;
  const MissingGlyphs& missing = engine.missing();
  const std::size_t missingBefore = missing.count;
  const std::size_t firstBefore = missing.first.size();
  const std::span<const ShownRun> runs = engine.shape(text);
  Stretch::Piece piece;
  piece.length = text.size();
  piece.firstRun = static_cast<std::uint32_t>(stretch.runs.size());
  piece.runs = static_cast<std::uint32_t>(runs.size());
  for (const ShownRun& run : runs) {
    Stretch::Run r;
    r.font = run.font;
    r.after = run.after;
    r.classicAt = static_cast<std::uint32_t>(stretch.classic.size());
    r.classicLength = static_cast<std::uint32_t>(run.classic.size());
    if (!run.classic.empty()) stretch.classic += run.classic;
    r.glyphAt = static_cast<std::uint32_t>(stretch.glyphCodes.size());
    r.glyphs = static_cast<std::uint32_t>(run.glyphs.size());
    r.adjustAt = static_cast<std::uint32_t>(stretch.adjusts.size());
    for (std::uint32_t g = 0; g < r.glyphs; ++g) {
      const ShownRun::Glyph& glyph = run.glyphs[g];
      stretch.glyphCodes.push_back(glyph.code);
      if (glyph.before != 0 || glyph.rise != 0) stretch.adjusts.push_back({g, glyph.before, glyph.rise});
    }
    r.adjusts = static_cast<std::uint32_t>(stretch.adjusts.size()) - r.adjustAt;
    stretch.runs.push_back(r);
    if (run.font >= 0) {
      const auto f = static_cast<std::size_t>(run.font);
      if (shaper.isTouched.size() <= f) {
        shaper.isTouched.resize(f + 1, false);
        shaper.codesSeen.resize(f + 1, 0);
      }
      if (!shaper.isTouched[f]) {
        shaper.isTouched[f] = true;
        shaper.touched.push_back(run.font);
      }
    }
  }
  piece.missing = missing.count - missingBefore;
  piece.missingAt = static_cast<std::uint32_t>(stretch.missing.size());
  piece.missingLength = static_cast<std::uint32_t>(missing.first.size() - firstBefore);
  stretch.missing.append(missing.first, firstBefore);
  stretch.pieces.push_back(piece);
}

void ShapingAhead::beginLine() {
  if (givenUp_) return;
  if (line_ != nullptr && line_->shaped && !lineTaken_) {
    // The writer did not read the line as it was read here: the file changed.
    giveUp();
    return;
  }
  line_ = nullptr;
  lineTaken_ = false;
  if (started_ && ++lineInStretch_ < stretchLines_) {
    if (current_ && lineInStretch_ < current_->lines.size()) line_ = &current_->lines[lineInStretch_];
    return;
  }
  if (started_) ++stretch_;
  started_ = true;
  lineInStretch_ = 0;
  std::unique_ptr<Stretch> done = std::move(current_);
  std::uint64_t expected = stretch_;
  if (stretch_ == reserved_ || frontier_.compare_exchange_strong(expected, stretch_ + 1)) {
    // The writer's own stretch.
    if (done) {
      const std::lock_guard lock(mutex_);
      spares_.push_back(std::move(done));
    }
    return;
  }
  // Another thread took it: its runs come once it has shaped them.
  {
    std::unique_lock lock(mutex_);
    if (done) spares_.push_back(std::move(done));
    for (;;) {
      if (const auto found = shaped_.find(stretch_); found != shaped_.end()) {
        current_ = std::move(found->second);
        shaped_.erase(found);
        queuedBytes_ -= current_->bytes;
        break;
      }
      if (ended_ == shapers_.size() || lost_) break;
      // Rather than wait again for the next one, the writer takes the
      // stretch after this one for itself where no thread has taken it,
      // and shapes it now, as those threads do, where it has the means.
      expected = stretch_ + 1;
      if (frontier_.compare_exchange_strong(expected, stretch_ + 2)) reserved_ = stretch_ + 1;
      if (reserved_ == stretch_ + 1 && helper_ && queuedBytes_ < roomBytes_) {
        lock.unlock();
        const bool shaped = shapeHere(stretch_ + 1);
        lock.lock();
        // Published: the writer takes it as it takes the threads' stretches.
        if (shaped) reserved_ = UINT64_MAX;
        continue;
      }
      ready_.wait(lock);
    }
  }
  room_.notify_all();
  if (lost_) {
    giveUp();
    return;
  }
  if (!current_) return;
  if (!current_->complete) {
    current_.reset();
    return;
  }
  std::vector<Codes>& codes = codes_[current_->shaper];
  for (Stretch::FontCodes& given : current_->codes) {
    const auto f = static_cast<std::size_t>(given.font);
    if (codes.size() <= f) codes.resize(f + 1);
    Codes& c = codes[f];
    for (GivenCode& code : given.codes) {
      if (c.given.size() <= code.code) {
        c.given.resize(std::size_t{code.code} + 1);
        c.own.resize(std::size_t{code.code} + 1, 0);
      }
      c.given[code.code] = {code.gid, std::move(code.text)};
    }
  }
  if (!current_->lines.empty()) line_ = &current_->lines[0];
}

void ShapingAhead::giveUp() {
  givenUp_ = true;
  line_ = nullptr;
  current_.reset();
  stop();
}

bool ShapingAhead::shaped(std::string_view raw) {
  if (line_ == nullptr || !line_->shaped) return false;
  if (raw.size() != line_->rawLength ||
      std::memcmp(current_->raw.data() + line_->rawAt, raw.data(), raw.size()) != 0) {
    // The file is not what it was when it was read here: from here on the
    // writer shapes everything itself.
    giveUp();
    return false;
  }
  ++linesTaken_;
  lineTaken_ = true;
  return true;
}

std::size_t ShapingAhead::pieceLength(std::uint32_t k) const {
  return current_->pieces[line_->firstPiece + k].length;
}

std::uint16_t ShapingAhead::ownCode(std::size_t shaper, int font, std::uint16_t code) {
  Codes& c = codes_[shaper][static_cast<std::size_t>(font)];
  std::uint32_t& own = c.own[code];
  if (own == 0) {
    const auto& [gid, text] = c.given[code];
    own = std::uint32_t{own_.codeFor(font, gid, text)} + 1;
  }
  return static_cast<std::uint16_t>(own - 1);
}

std::span<const RunView> ShapingAhead::piece(std::uint32_t k) {
  Stretch& s = *current_;
  const Stretch::Piece& piece = s.pieces[line_->firstPiece + k];
  if (piece.missing > 0) {
    own_.noteMissing(piece.missing,
                     std::u32string_view(s.missing).substr(piece.missingAt, piece.missingLength));
  }
  runs_.clear();
  std::size_t glyphCount = 0;
  if (piece.runs > 0) {
    const Stretch::Run& last = s.runs[piece.firstRun + piece.runs - 1];
    glyphCount = last.glyphAt + last.glyphs - s.runs[piece.firstRun].glyphAt;
  }
  if (glyphs_.size() < glyphCount) glyphs_.resize(glyphCount);
  ShownRun::Glyph* out = glyphs_.data();
  for (std::uint32_t r = piece.firstRun; r < piece.firstRun + piece.runs; ++r) {
    const Stretch::Run& run = s.runs[r];
    ShownRun::Glyph* const glyphs = out;
    const std::uint16_t* codes = s.glyphCodes.data() + run.glyphAt;
    if (run.font >= 0 && run.glyphs > 0) {
      // The other engine's codes become the writer's, given out in the order shown.
      Codes& c = codes_[s.shaper][static_cast<std::size_t>(run.font)];
      for (std::uint32_t g = 0; g < run.glyphs; ++g, ++out) {
        const std::uint32_t own = c.own[codes[g]];
        out->code = own != 0 ? static_cast<std::uint16_t>(own - 1) : ownCode(s.shaper, run.font, codes[g]);
        out->before = 0;
        out->rise = 0;
      }
    }
    for (std::uint32_t a = run.adjustAt; a < run.adjustAt + run.adjusts; ++a) {
      const Stretch::Adjust& adjust = s.adjusts[a];
      glyphs[adjust.glyph].before = adjust.before;
      glyphs[adjust.glyph].rise = adjust.rise;
    }
    runs_.push_back({run.font, std::string_view(s.classic).substr(run.classicAt, run.classicLength),
                     std::span<const ShownRun::Glyph>(glyphs, run.glyphs), run.after});
  }
  return runs_;
}

}  // namespace scrivane
