#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace scrivane::testing {

// Checks the structure of a PDF as our writer lays it out, byte for byte: the
// header, every object exactly at its cross-reference offset and nothing
// between objects, 20-byte entries in object order, startxref, /Size, stream
// lengths, the literal strings of the Info dictionary and of every content
// stream, the page tree against the page objects, and the final "%%EOF" with
// its carriage return. Returns one text per fault; empty means sound. Never
// throws, whatever the bytes.
std::vector<std::string> StructureFindings(std::string_view pdf);

}  // namespace scrivane::testing
