#include "styledbuttons/pixels/utils.h"

namespace styledbuttons {

namespace {

bool IsDelimiter(char c, std::string_view delimiters) {
    return delimiters.find(c) != std::string_view::npos;
}

// Calls found(index) with the 0-based start of each word until it returns true.
template <typename F> void ForEachWord(std::string_view text, std::string_view delimiters, F found) {
    size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && IsDelimiter(text[i], delimiters))
            ++i;
        if (i >= text.size()) return;
        if (found(i)) return;
        while (i < text.size() && !IsDelimiter(text[i], delimiters))
            ++i;
    }
}

} // namespace

int CountDelimitedWords(std::string_view text, std::string_view delimiters) {
    int count = 0;
    ForEachWord(text, delimiters, [&](size_t) {
        ++count;
        return false;
    });
    return count;
}

int FindDelimitedWord(int n, std::string_view text, std::string_view delimiters) {
    int count = 0;
    int position = 0;
    ForEachWord(text, delimiters, [&](size_t start) {
        if (++count < n) return false;
        position = static_cast<int>(start) + 1;
        return true;
    });
    return n >= 1 ? position : 0;
}

std::string CopyDelimitedWord(int n, std::string_view text, std::string_view delimiters) {
    const int position = FindDelimitedWord(n, text, delimiters);
    if (position == 0) return {};
    size_t end = static_cast<size_t>(position) - 1;
    while (end < text.size() && !IsDelimiter(text[end], delimiters))
        ++end;
    return std::string(text.substr(static_cast<size_t>(position) - 1, end - (position - 1)));
}

} // namespace styledbuttons
