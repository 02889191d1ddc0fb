#pragma once

// Lines of a file shaped ahead on other threads. Shaping is most of the time
// that a document in embedded fonts takes, so while the writer lays out and
// writes one stretch of lines, other threads shape stretches that the writer
// has not reached, each with a font engine of its own, reading the file again
// (the writer's thread takes its share, so one other thread for each further
// processor).
// A stretch goes to whichever thread comes to it first: the writer shapes one
// itself when no other thread has taken it, and while it waits for one that
// another thread is shaping, it shapes the next ahead as they do.
//
// Each engine gives out codes of its own. The writer's engine gives out its
// codes for them as the glyphs are shown, in the order of the page, so the
// document is the one that shaping every line in turn on one thread gives.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "platform/files.h"
#include "writer/font_module.h"

namespace scrivane {

class ShapingAhead {
 public:
  // Longer lines, and those the writer holds in pieces, are left to the writer.
  static constexpr std::size_t kLongestLine = 4096;

  // What one shaping thread reads the input with and shapes with: a reader of
  // its own, and an engine alike to the writer's.
  struct Means {
    std::unique_ptr<platform::LineReader> in;
    std::unique_ptr<FontEngine> engine;
  };
  // Lines are cut as the classic layout cuts them, into pieces of at most
  // `width` characters, and a line is whole when it is at most `linePiece`
  // bytes; they are taken `stretchLines` at a time. `own` is the writer's
  // engine; with `helper`, means of its own, the writer shapes a stretch
  // ahead itself instead of waiting for another thread's. The stretches
  // waiting for the writer take at most about `room` bytes (each thread may
  // add one more).
  ShapingAhead(std::vector<Means> means, Means helper, FontEngine& own, std::size_t width,
               std::size_t linePiece, std::size_t stretchLines, std::size_t room);
  ~ShapingAhead();
  ShapingAhead(const ShapingAhead&) = delete;
  ShapingAhead& operator=(const ShapingAhead&) = delete;

  // A line as it was shaped ahead.
  static constexpr std::uint32_t kNoFormFeed = UINT32_MAX;
  struct Line {
    bool shaped = false;  // false: the writer lays out the line itself
    bool cut = false;     // longer than a piece of the line: its pieces are cut
    std::uint32_t lastFormFeed = kNoFormFeed;  // where the last form feed stands in the trimmed text
    std::uint32_t firstPiece = 0, pieces = 0;
    std::size_t rawAt = 0, rawLength = 0;  // its bytes as read
  };

  // The writer starts the next line of the input.
  void beginLine();
  // Whether the line was shaped ahead from these bytes; then line() and
  // piece() give its layout. Should the bytes not be the ones read here,
  // nothing more is taken from here.
  bool shaped(std::string_view raw);
  const Line& line() const { return *line_; }
  // The runs of the line's piece k, in the writer's codes; each piece is taken once.
  std::span<const RunView> piece(std::uint32_t k);
  std::size_t pieceLength(std::uint32_t k) const;
  // How many lines were taken from the other threads (for tests).
  std::size_t linesTaken() const { return linesTaken_; }

 private:
  struct Stretch;
  struct Shaper;
  void work(Shaper& shaper);
  bool readLine(Shaper& shaper, std::string_view& raw, bool& whole);
  // The writer shapes stretch `number` with its helper and publishes it; false
  // when it could not.
  bool shapeHere(std::uint64_t number);
  void shapeLine(Shaper& shaper, std::string_view raw, Stretch& stretch);
  void addPiece(Shaper& shaper, std::u32string_view text, Stretch& stretch);
  // Hands the stretch to the writer; should that fail, the stretch stays.
  void publish(Shaper& shaper, std::unique_ptr<Stretch>& stretch);
  std::unique_ptr<Stretch> spare();
  void stop();
  void giveUp();
  std::uint16_t ownCode(std::size_t shaper, int font, std::uint16_t code);

  FontEngine& own_;
  std::size_t width_;
  std::size_t linePiece_;
  std::size_t stretchLines_;
  std::size_t roomBytes_;
  std::vector<std::unique_ptr<Shaper>> shapers_;
  std::unique_ptr<Shaper> helper_;  // the writer's, without a thread

  // The next stretch that no thread has taken.
  std::atomic<std::uint64_t> frontier_{0};
  std::mutex mutex_;
  std::condition_variable ready_;  // a stretch was shaped, or a thread ended
  std::condition_variable room_;   // a stretch was taken, or the threads are to stop
  std::map<std::uint64_t, std::unique_ptr<Stretch>> shaped_;  // by number
  std::vector<std::unique_ptr<Stretch>> spares_;
  std::size_t queuedBytes_ = 0;
  std::size_t ended_ = 0;  // threads that ended
  std::atomic<bool> stopFlag_{false};  // the threads are to stop; set under the mutex
  std::atomic<bool> lost_{false};      // a stretch taken was lost with its thread; likewise

  // The writer's.
  std::uint64_t stretch_ = 0;
  std::size_t lineInStretch_ = 0;
  bool started_ = false;
  bool givenUp_ = false;
  std::uint64_t reserved_ = UINT64_MAX;  // a stretch the writer took before it came to it
  std::unique_ptr<Stretch> current_;      // the stretch being written, when shaped ahead
  const Line* line_ = nullptr;            // its current line
  bool lineTaken_ = false;                // ... which the writer took as shaped here
  std::size_t linesTaken_ = 0;
  struct Codes {
    std::vector<std::uint32_t> own;  // by code of a shaping engine: the writer's code + 1, or 0
    std::vector<std::pair<std::uint32_t, std::u32string>> given;  // its glyph and text
  };
  std::vector<std::vector<Codes>> codes_;  // by shaping thread and font
  std::vector<RunView> runs_;
  std::vector<ShownRun::Glyph> glyphs_;  // the glyphs they show
};

}  // namespace scrivane
