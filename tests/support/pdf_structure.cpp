#include "tests/support/pdf_structure.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <map>
#include <optional>

namespace scrivane::testing {
namespace {

constexpr std::string_view kHeader = "%PDF-1.2\r%\xE2\xE3\xCF\xD3\r";
constexpr std::string_view kFreeEntry = "0000000000 65535 f \r";
constexpr std::string_view kTail = "%%EOF\r";
constexpr std::size_t kEntrySize = 20;
// Enough to describe any damage; a flood of findings helps nobody.
constexpr std::size_t kMaxFindings = 40;

// How literal strings are read on a line.
enum class Strings {
  None,     // no strings expected: the line ends at the first carriage return
  Info,     // Info values: any byte may stand in a string
  Content,  // text strings: a carriage return only as the CR LF before the closing parenthesis
};

// A plain decimal number without sign: digits only, at most 18 of them.
std::optional<std::int64_t> Number(std::string_view text) {
  if (text.empty() || text.size() > 18) return std::nullopt;
  std::int64_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || text.front() == '-') {
    return std::nullopt;
  }
  return value;
}

// "N 0 R" as a whole text, giving N.
std::optional<std::int64_t> Reference(std::string_view text) {
  if (text.size() < 5 || text.substr(text.size() - 4) != " 0 R") return std::nullopt;
  return Number(text.substr(0, text.size() - 4));
}

std::string Quoted(std::string_view text) {
  std::string out = "'";
  for (const char c : text.substr(0, 60)) {
    if (c == '\r') {
      out += "\\r";
    } else if (c == '\n') {
      out += "\\n";
    } else {
      out += c;
    }
  }
  return out + (text.size() > 60 ? "...'" : "'");
}

struct Object {
  std::size_t begin = 0;  // offset of the "N 0 obj" line
  std::size_t end = 0;    // offset just past its "endobj" line
  bool parsed = false;    // laid out as one of the three shapes below
  std::vector<std::string_view> dict;  // lines between "<<" and ">>"
  bool stream = false;
  std::size_t streamStart = 0;  // first byte after the "stream" line
  std::size_t streamEnd = 0;    // offset of the "endstream" line
  std::optional<std::int64_t> integer;  // the body of a bare integer object
};

class Checker {
 public:
  explicit Checker(std::string_view pdf) : pdf_(pdf) {}

  std::vector<std::string> run() {
    if (pdf_.substr(0, kHeader.size()) != kHeader) fail("the header is not %PDF-1.2 and its binary comment");
    if (readTrailer() && readObjects()) {
      checkPages();
      checkStreams();
    }
    if (findings_.size() > kMaxFindings) {
      findings_.resize(kMaxFindings);
      findings_.push_back("... and more");
    }
    return findings_;
  }

 private:
  void fail(std::string text) {
    if (findings_.size() <= kMaxFindings) findings_.push_back(std::move(text));
  }

  bool at(std::size_t pos, std::string_view text) const {
    return pos <= pdf_.size() && pdf_.substr(pos, text.size()) == text;
  }

  bool lineStart(std::size_t pos) const { return pos == 0 || (pos <= pdf_.size() && pdf_[pos - 1] == '\r'); }

  // The line from `pos` up to its terminating carriage return, not counting
  // carriage returns inside literal strings; `pos` moves past the terminator.
  // Nothing when no terminator comes before `limit`.
  std::optional<std::string_view> line(std::size_t& pos, std::size_t limit, Strings strings,
                                       std::string_view where) {
    limit = std::min(limit, pdf_.size());
    std::size_t p = pos;
    while (p < limit && pdf_[p] != '\r') {
      if (strings != Strings::None && pdf_[p] == '(') {
        p = string(p, limit, strings, where);
      } else if (strings != Strings::None && pdf_[p] == ')') {
        fail(std::string(where) + ": unbalanced ')' at offset " + std::to_string(p));
        ++p;
      } else {
        ++p;
      }
    }
    if (p >= limit) return std::nullopt;
    const std::string_view text = pdf_.substr(pos, p - pos);
    pos = p + 1;
    return text;
  }

  // Reads the literal string opening at `open`; gives the offset after it.
  std::size_t string(std::size_t open, std::size_t limit, Strings strings, std::string_view where) {
    const std::string here = std::string(where) + ": string at offset " + std::to_string(open);
    bool reported = false;
    const auto flaw = [&](const std::string& text) {
      if (!reported) fail(here + " " + text);
      reported = true;
    };
    int depth = 0;
    std::size_t q = open + 1;
    while (q < limit) {
      const char c = pdf_[q];
      if (c == '\\') {
        if (q + 1 >= limit) break;
        const char next = pdf_[q + 1];
        if (next != '\\' && next != '(' && next != ')') {
          flaw("has a backslash before " + Quoted(std::string_view(&pdf_[q + 1], 1)));
        }
        q += 2;
      } else if (c == '(') {
        flaw("holds an unescaped '('");
        ++depth;
        ++q;
      } else if (c == ')') {
        if (depth == 0) return q + 1;
        flaw("holds an unescaped ')'");
        --depth;
        ++q;
      } else if (c == '\r' && strings == Strings::Content) {
        if (q + 2 < limit && pdf_[q + 1] == '\n' && pdf_[q + 2] == ')') {
          q += 2;
        } else {
          // The string cannot go on past the line: its closing parenthesis is missing.
          flaw("is not closed on its line");
          return q;
        }
      } else {
        ++q;
      }
    }
    flaw("is never closed");
    return limit;
  }

  // startxref, the cross-reference table and the trailer, read from the end.
  bool readTrailer() {
    if (pdf_.size() < kTail.size() || pdf_.substr(pdf_.size() - kTail.size()) != kTail) {
      fail("the file does not end with %%EOF and its carriage return");
    }
    const std::size_t startxref = pdf_.rfind("\rstartxref\r");
    if (startxref == std::string_view::npos) {
      fail("no startxref line");
      return false;
    }
    std::size_t pos = startxref + 11;
    const auto offsetText = line(pos, pdf_.size(), Strings::None, "startxref");
    const auto offset = offsetText ? Number(*offsetText) : std::nullopt;
    if (!offset) {
      fail("startxref is not followed by an offset");
      return false;
    }
    if (!at(pos, kTail.substr(0, 5)) || pdf_.size() > pos + kTail.size()) {
      fail("startxref is not followed by %%EOF at the very end");
    }
    xrefStart_ = static_cast<std::size_t>(*offset);
    if (*offset >= static_cast<std::int64_t>(pdf_.size()) || !lineStart(xrefStart_) ||
        !at(xrefStart_, "xref\r")) {
      fail("startxref " + std::to_string(*offset) + " does not point at the xref line");
      return false;
    }

    pos = xrefStart_ + 5;
    const auto subsection = line(pos, pdf_.size(), Strings::None, "xref");
    const auto count = subsection && subsection->substr(0, 2) == "0 " ? Number(subsection->substr(2))
                                                                       : std::nullopt;
    if (!count || *count < 1) {
      fail("the xref subsection line is not '0 N'");
      return false;
    }
    const std::size_t entries = static_cast<std::size_t>(*count);
    if (entries > (pdf_.size() - pos) / kEntrySize) {
      fail("the xref table announces " + std::to_string(entries) + " entries; the file is too short");
      return false;
    }
    if (!at(pos, kFreeEntry)) fail("the first xref entry is not the free entry of object 0");
    offsets_.assign(entries, 0);
    for (std::size_t n = 1; n < entries; ++n) {
      const std::string_view entry = pdf_.substr(pos + n * kEntrySize, kEntrySize);
      const auto value = Number(entry.substr(0, 10));
      if (!value || entry.substr(10) != " 00000 n \r") {
        fail("xref entry " + std::to_string(n) + " is not a 20-byte in-use entry: " + Quoted(entry));
        continue;
      }
      offsets_[n] = static_cast<std::size_t>(*value);
    }

    pos += entries * kEntrySize;
    const std::size_t limit = startxref + 1;
    const auto expect = [&](std::string_view wanted) {
      const auto got = line(pos, limit, Strings::None, "trailer");
      if (!got || *got != wanted) fail("trailer: expected " + Quoted(wanted) + ", found " + Quoted(got.value_or("")));
    };
    const auto value = [&](std::string_view key) -> std::optional<std::string_view> {
      const auto got = line(pos, limit, Strings::None, "trailer");
      if (!got || got->substr(0, key.size()) != key) {
        fail("trailer: expected " + Quoted(key) + ", found " + Quoted(got.value_or("")));
        return std::nullopt;
      }
      return got->substr(key.size());
    };
    expect("trailer");
    expect("<<");
    const auto size = value("/Size ");
    if (size && Number(*size) != static_cast<std::int64_t>(entries)) {
      fail("/Size " + std::string(*size) + " is not the object count plus one (" + std::to_string(entries) + ")");
    }
    const auto root = value("/Root ");
    const auto info = value("/Info ");
    root_ = root ? Reference(*root).value_or(0) : 0;
    info_ = info ? Reference(*info).value_or(0) : 0;
    expect(">>");
    if (pos != limit) fail("unexpected lines between the trailer dictionary and startxref");
    return true;
  }

  bool known(std::int64_t n) const { return objects_.count(n) != 0; }

  // Every object where its entry says, back to back from the header to the xref line.
  bool readObjects() {
    std::vector<std::pair<std::size_t, std::int64_t>> order;  // offset, number
    for (std::size_t n = 1; n < offsets_.size(); ++n) {
      const std::size_t off = offsets_[n];
      if (off == 0) continue;  // a malformed entry, already reported
      const std::string head = std::to_string(n) + " 0 obj\r";
      if (off >= xrefStart_ || !lineStart(off) || !at(off, head)) {
        fail("object " + std::to_string(n) + ": its entry gives offset " + std::to_string(off) +
             ", where no '" + std::to_string(n) + " 0 obj' line begins");
        continue;
      }
      order.emplace_back(off, static_cast<std::int64_t>(n));
    }
    if (order.empty()) {
      fail("no object lies where the xref table says");
      return false;
    }
    std::sort(order.begin(), order.end());
    if (order.front().first != kHeader.size()) {
      fail("the first object does not follow the header directly");
    }
    for (std::size_t i = 0; i < order.size(); ++i) {
      const auto [off, n] = order[i];
      if (i + 1 < order.size() && order[i + 1].first == off) {
        fail("objects " + std::to_string(n) + " and " + std::to_string(order[i + 1].second) +
             " share one offset");
      }
      Object& o = objects_[n];
      o.begin = off;
      o.end = i + 1 < order.size() ? order[i + 1].first : xrefStart_;
      readObject(n, o);
    }
    return true;
  }

  void readObject(std::int64_t n, Object& o) {
    const std::string where = "object " + std::to_string(n);
    const Strings strings = n == info_ ? Strings::Info : Strings::None;
    std::size_t pos = o.begin;
    line(pos, o.end, Strings::None, where);  // "N 0 obj", checked by the caller
    const auto first = line(pos, o.end, Strings::None, where);
    if (!first) {
      fail(where + " is empty");
      return;
    }
    if (*first == "<<") {
      for (;;) {
        const auto l = line(pos, o.end, strings, where);
        if (!l) {
          fail(where + ": its dictionary is never closed");
          return;
        }
        if (*l == ">>") break;
        o.dict.push_back(*l);
      }
      if (at(pos, "stream\r")) {
        o.stream = true;
        pos += 7;
        o.streamStart = pos;
        if (!readStream(where, pos, o)) return;
      }
    } else {
      o.integer = Number(*first);
      if (!o.integer) fail(where + ": neither a dictionary nor an integer: " + Quoted(*first));
    }
    if (!at(pos, "endobj\r") || pos + 7 != o.end) {
      fail(where + ": does not end with 'endobj' right before the next object");
      return;
    }
    o.parsed = true;
  }

  // The lines of a content stream up to "endstream"; BT first and ET last.
  bool readStream(const std::string& where, std::size_t& pos, Object& o) {
    std::size_t lines = 0;
    std::string_view last;
    while (!at(pos, "endstream\r")) {
      const auto l = line(pos, o.end, Strings::Content, where);
      if (!l) {
        fail(where + ": its stream has no 'endstream' line");
        return false;
      }
      if (lines++ == 0 && *l != "BT") fail(where + ": its stream does not begin with BT");
      last = *l;
    }
    if (last != "ET") fail(where + ": its stream does not end with ET");
    o.streamEnd = pos;
    pos += 10;
    return true;
  }

  std::optional<std::string_view> entry(const Object& o, std::string_view key) const {
    for (const std::string_view l : o.dict) {
      if (l.substr(0, key.size()) == key) return l.substr(key.size());
    }
    return std::nullopt;
  }

  // The catalog, the page tree and the pages agree with each other.
  void checkPages() {
    if (!known(info_) || !objects_.at(info_).parsed || objects_.at(info_).dict.empty()) {
      fail("/Info does not name a dictionary");
    } else {
      for (const std::string_view l : objects_.at(info_).dict) {
        const std::size_t open = l.find(" (");
        if (l.front() != '/' || open == std::string_view::npos || l.back() != ')') {
          fail("Info: not a key and a literal string: " + Quoted(l));
        }
      }
    }
    if (!known(root_) || entry(objects_.at(root_), "/Type ") != "/Catalog") {
      fail("/Root does not name the catalog");
      return;
    }
    const auto pagesRef = entry(objects_.at(root_), "/Pages ");
    const std::int64_t pages = pagesRef ? Reference(*pagesRef).value_or(0) : 0;
    if (!known(pages) || entry(objects_.at(pages), "/Type ") != "/Pages") {
      fail("the catalog's /Pages does not name the page tree");
      return;
    }
    const Object& tree = objects_.at(pages);
    const auto count = entry(tree, "/Count ");
    const auto kidsText = entry(tree, "/Kids [ ");
    if (!count || !kidsText || !Number(*count) || kidsText->empty() || kidsText->back() != ']') {
      fail("the page tree has no well-formed /Count and /Kids");
      return;
    }
    std::vector<std::int64_t> kids;
    std::string_view rest = kidsText->substr(0, kidsText->size() - 1);
    while (!rest.empty()) {
      const std::size_t r = rest.find(" 0 R ");
      const auto kid = r == std::string_view::npos ? std::nullopt : Number(rest.substr(0, r));
      if (!kid) {
        fail("/Kids is not a list of 'N 0 R ' references: " + Quoted(*kidsText));
        return;
      }
      kids.push_back(*kid);
      rest.remove_prefix(r + 5);
    }
    if (*Number(*count) != static_cast<std::int64_t>(kids.size())) {
      fail("/Count " + std::string(*count) + " but /Kids names " + std::to_string(kids.size()) + " pages");
    }

    // The page objects in file order must be exactly the kids.
    std::vector<std::pair<std::size_t, std::int64_t>> found;
    for (const auto& [n, o] : objects_) {
      if (entry(o, "/Type ") == "/Page") found.emplace_back(o.begin, n);
    }
    std::sort(found.begin(), found.end());
    std::vector<std::int64_t> inFileOrder;
    for (const auto& f : found) inFileOrder.push_back(f.second);
    if (inFileOrder != kids) {
      fail("/Kids does not list the " + std::to_string(inFileOrder.size()) + " page objects in file order");
    }
    const std::string parent = std::to_string(pages) + " 0 R";
    for (const std::int64_t k : kids) {
      if (!known(k)) continue;
      const Object& page = objects_.at(k);
      const std::string where = "page object " + std::to_string(k);
      if (entry(page, "/Parent ") != parent) fail(where + ": /Parent is not the page tree");
      const auto resources = entry(page, "/Resources ");
      if (!resources || !known(Reference(*resources).value_or(0))) fail(where + ": /Resources names no object");
      const auto contents = entry(page, "/Contents ");
      const std::int64_t c = contents ? Reference(*contents).value_or(0) : 0;
      if (!known(c) || !objects_.at(c).stream) {
        fail(where + ": /Contents names no stream");
      } else {
        pageStreams_.push_back(c);
      }
    }
  }

  // Each stream's length object holds the bytes from the line after "stream"
  // to the "endstream" line.
  void checkStreams() {
    for (const auto& [n, o] : objects_) {
      if (!o.stream || !o.parsed) continue;
      const std::string where = "stream " + std::to_string(n);
      if (std::find(pageStreams_.begin(), pageStreams_.end(), n) == pageStreams_.end()) {
        fail(where + " belongs to no page");
      }
      const auto lengthRef = entry(o, "/Length ");
      const std::int64_t l = lengthRef ? Reference(*lengthRef).value_or(0) : 0;
      if (!known(l) || !objects_.at(l).integer) {
        fail(where + ": /Length names no integer object");
        continue;
      }
      const std::int64_t actual = static_cast<std::int64_t>(o.streamEnd - o.streamStart);
      if (*objects_.at(l).integer != actual) {
        fail(where + ": its length object " + std::to_string(l) + " says " +
             std::to_string(*objects_.at(l).integer) + ", the stream holds " + std::to_string(actual) +
             " bytes");
      }
    }
  }

  std::string_view pdf_;
  std::vector<std::string> findings_;
  std::size_t xrefStart_ = 0;
  std::vector<std::size_t> offsets_;  // by object number; 0 for the free entry
  std::int64_t root_ = 0;
  std::int64_t info_ = 0;
  std::map<std::int64_t, Object> objects_;
  std::vector<std::int64_t> pageStreams_;
};

}  // namespace

std::vector<std::string> StructureFindings(std::string_view pdf) { return Checker(pdf).run(); }

}  // namespace scrivane::testing
