#include "framework/xml_data_item.h"

#include "platform/text.h"

#include <algorithm>
#include <string_view>

using platform::Trim;

namespace framework {

namespace {

bool IsBlank(char c) {
    return static_cast<unsigned char>(c) <= 0x20;
}

// Trim without a copy.
std::string_view TrimmedView(std::string_view s) {
    std::size_t i = 0, n = s.size();
    while (i < n && IsBlank(s[i]))
        ++i;
    while (n > i && IsBlank(s[n - 1]))
        --n;
    return s.substr(i, n - i);
}

// Where the comment that opens at `open` ends, just past its "-->"; npos when it is never closed.
std::size_t CommentEnd(std::string_view text, std::size_t open) {
    const std::size_t end = text.find("-->", open + 4);
    return end == std::string_view::npos ? end : end + 3;
}

// Finds the end of an element whose opening tag starts `text` by counting the openings and closings
// of its name in one walk from "<" to "<": the close that finds no opening left to match ends it.
// Self-closing tags of the name open nothing, and a comment is passed over whole, whatever markup it
// holds. The walk stops at the element's close, so the cost is the element's length, not the length
// of the text behind it.
class TCloseFinder {
public:
    TCloseFinder(std::string_view text, const std::string& name)
        : text_(text), open_("<" + name), close_("</" + name) {}

    // Index of the element's closing tag; npos when the closes run out, a comment in the element is
    // never closed or the nesting is too deep.
    std::size_t Find() {
        int depth = 1;
        // The element's own opening is not one of the nested ones.
        for (std::size_t at = text_.find('<', 1); at != npos; at = text_.find('<', at + 1)) {
            const std::string_view rest = text_.substr(at);
            if (rest.starts_with("<!--")) {
                const std::size_t end = CommentEnd(text_, at);
                if (end == npos) return npos;
                at = end - 1;
            } else if (const std::size_t length = CloseAt(rest); length != 0) {
                if (--depth == 0) {
                    closeLength_ = length;
                    return at;
                }
            } else if (OpensAt(rest) && !SelfClosingAt(at)) {
                if (++depth > kMaxElementNesting) return npos;
            }
        }
        return npos;
    }

    // The length of the closing tag Find found, blanks before its ">" included.
    std::size_t CloseLength() const { return closeLength_; }

private:
    static constexpr std::size_t npos = std::string_view::npos;

    // The length of a closing tag of the name at the front of `rest`, 0 when there is none.
    std::size_t CloseAt(std::string_view rest) const {
        if (!rest.starts_with(close_)) return 0;
        std::size_t end = close_.size();
        while (end < rest.size() && IsBlank(rest[end]))
            ++end;
        return end < rest.size() && rest[end] == '>' ? end + 1 : 0;
    }

    // An opening tag of the name stands at the front of `rest`.
    bool OpensAt(std::string_view rest) const {
        return rest.size() > open_.size() && rest.starts_with(open_) &&
               (IsBlank(rest[open_.size()]) || rest[open_.size()] == '>');
    }

    // The first ">" at or after `at` follows a "/". Positions only grow, so the ">" found for one
    // opening serves every later one before it.
    bool SelfClosingAt(std::size_t at) {
        if (!gtKnown_ || gt_ < at) {
            gt_ = text_.find('>', at);
            gtKnown_ = true;
        }
        return gt_ != npos && text_[gt_ - 1] == '/';
    }

    std::string_view text_;
    const std::string open_;
    const std::string close_; // without its ">", which may follow blanks
    std::size_t closeLength_ = 0;
    std::size_t gt_ = npos;
    bool gtKnown_ = false;
};

// Cuts the element off the front of `text`; false leaves `text` unusable, the caller restores it.
bool CutElement(std::string_view& text, std::string& element) {
    const std::size_t gt = text.find('>');
    // A comment never closed, a declaration or an instruction is no element.
    if (text.size() <= 2 || text[0] != '<' || text[1] == '!' || text[1] == '?' ||
        gt == std::string_view::npos)
        return false;

    if (text[gt - 1] == '/') {
        element = Trim(text.substr(0, gt + 1));
        text = TrimmedView(text.substr(gt + 1));
        return true;
    }

    // The name ends at the first blank of the tag (a tag may go on over lines), or at its ">".
    const std::string_view tag = text.substr(0, gt);
    const std::size_t nameEnd = std::find_if(tag.begin(), tag.end(), IsBlank) - tag.begin();
    // A name holding "<" is none, and would let one look at the text cost the name's length.
    if (nameEnd <= 1 || text.substr(1, nameEnd - 1).find('<') != std::string_view::npos) return false;
    TCloseFinder finder(text, Trim(text.substr(1, nameEnd - 1)));
    const std::size_t close = finder.Find();
    if (close == std::string_view::npos) return false;

    const std::size_t length = close + finder.CloseLength();
    element = Trim(text.substr(0, length));
    text = TrimmedView(text.substr(length));
    return true;
}

} // namespace

namespace xml_detail {

bool IsSelfClosingAt(const std::string& text, std::size_t pos) {
    if (pos == 0 || pos >= text.size()) return false;
    const std::size_t k = text.find('>', pos - 1);
    return k != std::string::npos && k >= 1 && text[k - 1] == '/';
}

bool ParseAttributes(std::string_view text, std::vector<std::string>& list) {
    // The view moves along the text, so a tag of many attributes costs its length once.
    text = TrimmedView(text);
    if (text.empty()) return true;
    // A tail without "=", or a name holding a blank or a quote (a value whose quote was lost), is
    // not an attribute list: read on, the values after it would be dropped or taken apart.
    for (;;) {
        const std::size_t p = text.find('=');
        if (p == std::string_view::npos) return text.empty();
        const std::string attrName = Trim(text.substr(0, p));
        text = TrimmedView(text.substr(p + 1));
        if (attrName.empty() || text.empty() || std::any_of(attrName.begin(), attrName.end(), [](char c) {
                return IsBlank(c) || c == '"' || c == '\'';
            }))
            return false;
        const char quote = text[0];
        if (quote != '"' && quote != '\'') return false;
        const std::size_t end = text.find(quote, 1);
        if (end == std::string_view::npos) return false;
        list.push_back(attrName + "=\"" + std::string(text.substr(1, end - 1)) + "\"");
        text = TrimmedView(text.substr(end + 1));
    }
}

bool ParseElement(std::string_view text, std::vector<std::string>& list, std::string& name,
                  std::string& content) {
    constexpr std::size_t none = std::string_view::npos;
    name.clear();
    content.clear();
    list.clear();
    text = TrimmedView(text);
    if (text.size() <= 2 || (text.front() != '<' && text.back() != '>')) return false;
    text.remove_prefix(1);

    const bool selfClosing = text.size() >= 2 && text[text.size() - 2] == '/';
    if (selfClosing) text.remove_suffix(2);

    // The name ends at any blank: a tag may go on over lines.
    const auto blank = std::find_if(text.begin(), text.end(), IsBlank);
    const std::size_t b = blank == text.end() ? none : static_cast<std::size_t>(blank - text.begin());
    const std::size_t g = text.find('>');
    // What follows the opening tag must end with the closing tag of the name (blanks may stand
    // before its ">").
    const auto takeContent = [&name, &content](std::string_view rest) {
        if (!rest.ends_with('>')) return false;
        rest = TrimmedView(rest.substr(0, rest.size() - 1));
        const std::string close = "</" + name;
        if (!rest.ends_with(close)) return false;
        content = Trim(rest.substr(0, rest.size() - close.size()));
        return true;
    };

    if (b == none && g == none && selfClosing) {
        name = text;
        return true;
    }
    if (b != none && g == none && selfClosing) {
        name = text.substr(0, b);
        return ParseAttributes(text.substr(b + 1), list);
    }
    if (g != none && (b == none || g < b)) {
        name = text.substr(0, g);
        return takeContent(text.substr(g + 1));
    }
    if (b != none && g != none && b < g) {
        name = text.substr(0, b);
        const std::string_view rest = TrimmedView(text.substr(b + 1));
        const std::size_t r = rest.find('>');
        if (r == none) return false;
        if (!ParseAttributes(rest.substr(0, r), list)) return false;
        return takeContent(rest.substr(r + 1));
    }
    return false;
}

} // namespace xml_detail

void SkipComments(std::string_view& text) {
    text = TrimmedView(text);
    while (text.starts_with("<!--")) {
        const std::size_t end = CommentEnd(text, 0);
        if (end == std::string_view::npos) return;
        text = TrimmedView(text.substr(end));
    }
}

void SkipXmlDeclaration(std::string_view& text) {
    text = TrimmedView(text);
    if (!text.starts_with("<?xml") || text.size() < 6 || !IsBlank(text[5])) return;
    const std::size_t end = text.find("?>");
    if (end != std::string_view::npos) text = TrimmedView(text.substr(end + 2));
}

TXmlStop NoElementCause(std::string_view at) {
    if (!at.starts_with("<")) return {"ожидался элемент"_cp};
    if ((at.starts_with("<!") && !at.starts_with("<!--")) || at.starts_with("<?"))
        return {"разметка XML, которая здесь не читается"_cp};
    for (std::size_t open = at.find("<!--"); open != std::string_view::npos;) {
        const std::size_t end = CommentEnd(at, open);
        if (end == std::string_view::npos) return {"комментарий не закрыт"_cp, open};
        open = at.find("<!--", end);
    }
    return {"элемент не закрыт или вложен глубже "_cp + platform::IntToStr(kMaxElementNesting) +
            " уровней"_cp};
}

bool ExtractNextElement(std::string_view& text, std::string& element) {
    element.clear();
    SkipComments(text);
    std::string_view rest = text;
    if (CutElement(rest, element)) {
        text = rest;
        return true;
    }
    element.clear();
    return false;
}

void ExtractNextElement(std::string& text, std::string& element) {
    std::string_view rest = text;
    ExtractNextElement(rest, element);
    text = std::string(rest);
}

std::string_view AttributeName(std::string_view line) {
    return line.substr(0, line.find('='));
}

std::string_view AttributeValue(std::string_view line) {
    const std::size_t eq = line.find('=');
    return eq == std::string_view::npos || line.size() < eq + 3 ? std::string_view()
                                                                : line.substr(eq + 2, line.size() - eq - 3);
}

void TXMLDataItem::Clear() {
    Name.clear();
    Content.clear();
    Attributes.clear();
}

bool TXMLDataItem::Parse(const std::string& text) {
    Clear();
    const std::string_view trimmed = TrimmedView(text);
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
    if (platform::TryStrToBool(platform::UpperCase(GetAttribute(aName, platform::BoolToStr(aDefault))),
                               value))
        return value;
    return aDefault;
}

} // namespace framework
