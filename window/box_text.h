#pragma once

#include <string>
#include <string_view>

#include <QString>

namespace scrivane {

// File names and other texts are bytes, usually but not always UTF-8, while a
// text box holds Unicode. BoxText decodes UTF-8 and keeps every byte that is not
// part of a valid sequence as one of the lone surrogates U+DC80 to U+DCFF, so
// that BoxBytes gives back exactly the bytes that went in.
QString BoxText(std::string_view bytes);
std::string BoxBytes(const QString& text);

}  // namespace scrivane
