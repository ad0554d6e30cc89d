#include "framework/xml_data_item.h"

#include "platform/text.h"

#include <algorithm>
#include <string_view>

using platform::Trim;

namespace framework {

namespace {

// 1-based position of `sub` in `s` searching from `from`, 0 when absent.
std::size_t Pos(const std::string& sub, const std::string& s, std::size_t from = 1) {
    if (from < 1 || from > s.size()) return 0;
    const std::size_t at = s.find(sub, from - 1);
    return at == std::string::npos ? 0 : at + 1;
}

// The character at a 1-based position; only called with 1 <= pos <= size.
char CharAt(const std::string& s, std::size_t pos) { return s[pos - 1]; }

bool EndsWith(const std::string& s, const std::string& tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

// The next opening tag of `name` from `from` on, whether it carries attributes or not.
std::size_t NextOpen(const std::string& text, const std::string& name, std::size_t from) {
    const std::size_t withBlank = Pos("<" + name + " ", text, from);
    const std::size_t bare = Pos("<" + name + ">", text, from);
    if (withBlank == 0) return bare;
    if (bare == 0) return withBlank;
    return std::min(withBlank, bare);
}

// Self-closing tags of the same name open nothing and are passed over.
std::size_t NextNestedOpen(const std::string& text, const std::string& name, std::size_t from) {
    std::size_t d = NextOpen(text, name, from);
    while (d > 0 && xml_detail::IsSelfClosingAt(text, d)) d = NextOpen(text, name, d + 1);
    return d;
}

// Cuts the element from `text`; false leaves `text` unusable, the caller restores it.
bool CutElement(std::string& text, std::string& element) {
    while (text.starts_with("<!--")) {
        const std::size_t end = Pos("-->", text);
        if (end == 0) return false;
        text = Trim(text.substr(end + 2));
    }
    const std::size_t p = Pos(">", text);
    if (text.size() <= 2 || text[0] != '<' || p < 2) return false;

    if (CharAt(text, p - 1) == '/') {
        element = Trim(text.substr(0, p));
        text = Trim(text.substr(p));
        return true;
    }

    std::size_t q = Pos(" ", text);
    if (q == 0 || q > p) q = p;
    if (q <= 2) return false;
    const std::string name = Trim(text.substr(1, q - 2));
    const std::string close = "</" + name + ">";

    std::size_t c = Pos(close, text);
    if (c == 0) return false;
    std::size_t d = NextNestedOpen(text, name, 2);
    while (d > 0 && d < c) {
        c = Pos(close, text, c + 1);
        d = NextNestedOpen(text, name, d + 1);
    }
    // More openings than closings: there is no whole element to take.
    if (c == 0) return false;

    const std::size_t length = close.size() + c - 1;
    element = Trim(text.substr(0, length));
    text = Trim(text.substr(length));
    return true;
}

} // namespace

namespace xml_detail {

bool IsSelfClosingAt(const std::string& text, std::size_t pos) {
    if (pos >= text.size()) return false;
    const std::size_t k = Pos(">", text, pos);
    return k >= 2 && CharAt(text, k - 1) == '/';
}

bool ParseAttributes(std::string text, std::vector<std::string>& list) {
    text = Trim(text);
    if (text.empty()) return true;
    for (;;) {
        const std::size_t p = Pos("=", text);
        if (p == 0) return true; // a tail without "=" is ignored
        const std::string attrName = Trim(text.substr(0, p - 1));
        text = Trim(text.substr(p));
        if (attrName.empty() || text.empty()) return false;
        const char quote = text[0];
        if (quote != '"' && quote != '\'') return false;
        const std::size_t end = text.find(quote, 1);
        if (end == std::string::npos) return false;
        const std::string value = text.substr(1, end - 1);
        text = Trim(text.substr(end + 1));
        list.push_back(attrName + "=\"" + value + "\"");
    }
}

bool ParseElement(std::string text, std::vector<std::string>& list, std::string& name, std::string& content) {
    name.clear();
    content.clear();
    list.clear();
    text = Trim(text);
    if (text.size() <= 2 || (text.front() != '<' && text.back() != '>')) return false;
    text.erase(0, 1);

    const bool selfClosing = text.size() >= 2 && text[text.size() - 2] == '/';
    if (selfClosing) text.erase(text.size() - 2);

    const std::size_t b = Pos(" ", text);
    const std::size_t g = Pos(">", text);

    if (b == 0 && g == 0 && selfClosing) {
        name = text;
        return true;
    }
    if (b >= 1 && g == 0 && selfClosing) {
        name = text.substr(0, b - 1);
        return ParseAttributes(Trim(text.substr(b)), list);
    }
    if (g >= 1 && (b == 0 || g < b)) {
        name = text.substr(0, g - 1);
        const std::string rest = text.substr(g);
        const std::string close = "</" + name + ">";
        if (!EndsWith(rest, close)) return false;
        content = Trim(rest.substr(0, rest.size() - close.size()));
        return true;
    }
    if (b >= 1 && b < g) {
        name = text.substr(0, b - 1);
        const std::string rest = Trim(text.substr(b));
        const std::size_t r = Pos(">", rest);
        if (r == 0) return false;
        if (!ParseAttributes(rest.substr(0, r - 1), list)) return false;
        const std::string inner = rest.substr(r);
        const std::string close = "</" + name + ">";
        if (!EndsWith(inner, close)) return false;
        content = Trim(inner.substr(0, inner.size() - close.size()));
        return true;
    }
    return false;
}

} // namespace xml_detail

void ExtractNextElement(std::string& text, std::string& element) {
    element.clear();
    text = Trim(text);
    std::string rest = text;
    if (CutElement(rest, element)) {
        text = std::move(rest);
    } else {
        element.clear();
    }
}

void TXMLDataItem::Clear() {
    Name.clear();
    Content.clear();
    Attributes.clear();
}

bool TXMLDataItem::Parse(const std::string& text) {
    Clear();
    const std::string trimmed = Trim(text);
    if (trimmed.empty()) return true;
    return xml_detail::ParseElement(trimmed, Attributes, Name, Content);
}

std::string TXMLDataItem::GetAttribute(const std::string& aName, const std::string& aDefault) const {
    const std::string prefix = aName + "=";
    for (const std::string& line : Attributes) {
        if (!line.starts_with(prefix)) continue;
        const std::string_view rest = std::string_view(line).substr(prefix.size());
        if (rest.size() > 1 && rest.front() == '"' && rest.back() == '"')
            return std::string(rest.substr(1, rest.size() - 2));
    }
    return aDefault;
}

int32_t TXMLDataItem::GetIntAttribute(const std::string& aName, int32_t aDefault) const {
    // "UNISED" is never a number, so a missing attribute gives the default.
    return platform::StrToIntDef(GetAttribute(aName, "UNISED"), aDefault);
}

bool TXMLDataItem::GetBoolAttribute(const std::string& aName, bool aDefault) const {
    bool value;
    if (platform::TryStrToBool(platform::UpperCase(GetAttribute(aName, aDefault ? "True" : "False")), value))
        return value;
    return aDefault;
}

} // namespace framework
