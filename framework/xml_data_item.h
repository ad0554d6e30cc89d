// Text-level reader of the configuration and description files: not a general XML parser.
//
// ExtractNextElement cuts the next whole element off the front of a text; TXMLDataItem splits one
// element into its name, attributes and content. A document is walked by extracting the root, parsing
// it, then extracting its children one by one from its content. Comments are passed over and so is a
// declaration that opens a document; no entities, escapes, namespaces, other processing instructions
// or CDATA; names and closing tags compare case-sensitively; text is cp1251.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace framework {

// Deepest nesting of elements of one name that the reader follows (the element itself is the first
// level); an element nested deeper is not taken, as one without its closing tag is not. Openings and
// closings of the element's own name are the only nesting the reader matches.
constexpr int kMaxElementNesting = 1000;

// Passes over the blanks and the comments in front of the text; a comment never closed stays.
void SkipComments(std::string_view& text);
// Passes over the declaration that may open a document, "<?xml ... ?>", and the blanks after it.
void SkipXmlDeclaration(std::string_view& text);

// Where a reading of a text stopped, as an offset in the text it was given, and why.
struct TXmlStop {
    std::string Cause;
    std::size_t Offset = 0;
};

// Why no element could be taken where `at` stands (past its comments), as a load reports it, and
// where from `at` the cause stands: an element is not closed where a comment in it never is.
TXmlStop NoElementCause(std::string_view at);

// Takes the next element (with everything nested in it) off the front of `text`, comments in front
// of it passed over. When there is none, `element` is empty and `text` is left at what stands where
// the element was looked for, so that a text of comments alone is used up. The view overload moves
// the view instead of copying what is left; it is false when there is no element.
void ExtractNextElement(std::string& text, std::string& element);
bool ExtractNextElement(std::string_view& text, std::string& element);

// Walks the elements of a text one after the other in time linear in its length; Rest() is what is
// left (trimmed once Next has been called).
class TElementWalker {
public:
    explicit TElementWalker(std::string text) : text_(std::move(text)), rest_(text_) {}
    TElementWalker(const TElementWalker&) = delete;
    TElementWalker& operator=(const TElementWalker&) = delete;

    bool Next(std::string& element) { return ExtractNextElement(rest_, element); }
    std::string_view Rest() const { return rest_; }
    // The walk ended before something that may be an element it could not take (one never closed,
    // or nested deeper than the reader follows), not merely before loose text: a reader that went
    // on would drop it in silence.
    bool StoppedShort() const { return rest_.find('<') != std::string_view::npos; }

private:
    const std::string text_;
    std::string_view rest_;
};

class TXMLDataItem {
public:
    TXMLDataItem() = default;
    virtual ~TXMLDataItem() = default;

    virtual void Clear();

    // False when the text is not one element; Name and some Attributes may then be filled in.
    bool Parse(const std::string& text);
    // The value of the first well-formed line `aName="value"`; lines with the prefix but a bad
    // remainder are skipped.
    std::string GetAttribute(const std::string& aName, const std::string& aDefault) const;
    int32_t GetIntAttribute(const std::string& aName, int32_t aDefault) const;
    bool GetBoolAttribute(const std::string& aName, bool aDefault) const;

    std::string Name;
    // One line per attribute in source order: name, "=", the value in double quotes.
    std::vector<std::string> Attributes;
    // Trimmed text between the tags, nested elements verbatim; empty for a self-closing element.
    std::string Content;
};

// An attribute line's name and value ("name=\"value\"").
std::string_view AttributeName(std::string_view line);
std::string_view AttributeValue(std::string_view line);

// The steps of the reader; positions are 1-based, 0 meaning "none".
namespace xml_detail {

// True when the first ">" at or after `pos` follows a "/".
bool IsSelfClosingAt(const std::string& text, std::size_t pos);
bool ParseAttributes(std::string_view text, std::vector<std::string>& list);
bool ParseElement(std::string_view text, std::vector<std::string>& list, std::string& name,
                  std::string& content);

} // namespace xml_detail

} // namespace framework
