// Small integer, rectangle and word routines of the style and gradient code.
#pragma once

#include "styledbuttons/pixels/bitmap24.h"

#include <string>
#include <string_view>

namespace styledbuttons {

constexpr int WidthOf(const TRect& r) {
    return r.Right - r.Left;
}
constexpr int HeightOf(const TRect& r) {
    return r.Bottom - r.Top;
}
// Nothing in this system calls these four today.
constexpr int MinInt(int a, int b) {
    return a < b ? a : b;
}
constexpr int MaxInt(int a, int b) {
    return a > b ? a : b;
}
constexpr int IfThenInt(bool flag, int a, int b) {
    return flag ? a : b;
}
template <typename T> constexpr T* IfThenObject(bool flag, T* a, T* b) {
    return flag ? a : b;
}

// A word is a maximal run of characters outside `delimiters`; empty words never occur. Positions
// are 1-based.
int CountDelimitedWords(std::string_view text, std::string_view delimiters);
// Position of the first character of word n, 0 when the text has fewer words.
int FindDelimitedWord(int n, std::string_view text, std::string_view delimiters);
// Word n, empty when there is no such word.
std::string CopyDelimitedWord(int n, std::string_view text, std::string_view delimiters);

} // namespace styledbuttons
