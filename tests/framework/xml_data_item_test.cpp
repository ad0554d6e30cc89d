#include "framework/xml_data_item.h"

#include "platform/text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace framework;
using platform::Cp;

namespace {

using Lines = std::vector<std::string>;

// Extracts once from `text` and checks the element and what is left behind it.
void ExpectExtract(const std::string& text, const std::string& element, const std::string& rest) {
    SCOPED_TRACE(text);
    std::string remaining = text, got;
    ExtractNextElement(remaining, got);
    EXPECT_EQ(got, element);
    EXPECT_EQ(remaining, rest);
}

} // namespace

TEST(XmlDataItem, ParsesTheElementShapes) {
    const struct {
        const char* text;
        const char* name;
        Lines attributes;
        const char* content;
    } cases[] = {
        {"", "", {}, ""},
        {" \r\n ", "", {}, ""},
        {"<a/>", "a", {}, ""},
        {"<a />", "a", {}, ""},
        {"<a x=\"1\" y='2'/>", "a", {"x=\"1\"", "y=\"2\""}, ""},
        {"<a>text</a>", "a", {}, "text"},
        {"<a x=\"1\">text</a>", "a", {"x=\"1\""}, "text"},
        {"<a >x</a>", "a", {}, "x"},
        {"<a></a>", "a", {}, ""},
        {"<a x='1'>y</a \r\n>", "a", {"x=\"1\""}, "y"},
        // Content is trimmed, nested elements are kept verbatim.
        {"  <root v='1'>\r\n  <b  x='1'/>\r\n  <c>t</c>\r\n</root>  ",
         "root",
         {"v=\"1\""},
         "<b  x='1'/>\r\n  <c>t</c>"},
    };
    TXMLDataItem item;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        ASSERT_TRUE(item.Parse(c.text));
        EXPECT_EQ(item.Name, c.name);
        EXPECT_EQ(item.Attributes, c.attributes);
        EXPECT_EQ(item.Content, c.content);
    }
}

TEST(XmlDataItem, RejectsMalformedElements) {
    TXMLDataItem item;
    EXPECT_FALSE(item.Parse("<a>text</A>"));
    EXPECT_FALSE(item.Parse("<a x=1/>"));
    EXPECT_FALSE(item.Parse("<a x=\"1\">text</b>"));
    EXPECT_FALSE(item.Parse("<a>"));
    EXPECT_FALSE(item.Parse("ab"));
    EXPECT_FALSE(item.Parse("<a x=\"1\""));
    // A failed parse may leave the name behind, and Parse starts afresh each time.
    EXPECT_FALSE(item.Parse("<a x=\"1\" y=2/>"));
    EXPECT_EQ(item.Name, "a");
    EXPECT_EQ(item.Attributes, (Lines{"x=\"1\""}));
    ASSERT_TRUE(item.Parse("<b/>"));
    EXPECT_EQ(item.Name, "b");
    EXPECT_TRUE(item.Attributes.empty());
}

TEST(XmlDataItem, AttributeValuesAreKeptVerbatimInDoubleQuotes) {
    TXMLDataItem item;
    ASSERT_TRUE(item.Parse("<d name='  two  blanks ' quote='say \"hi\"' eq=\"a=b\" empty=''/>"));
    EXPECT_EQ(item.Attributes,
              (Lines{"name=\"  two  blanks \"", "quote=\"say \"hi\"\"", "eq=\"a=b\"", "empty=\"\""}));
    EXPECT_EQ(item.GetAttribute("name", "?"), "  two  blanks ");
    EXPECT_EQ(item.GetAttribute("quote", "?"), "say \"hi\"");
    EXPECT_EQ(item.GetAttribute("eq", "?"), "a=b");
    EXPECT_EQ(item.GetAttribute("empty", "?"), "");
    // Exact and whole names only.
    EXPECT_EQ(item.GetAttribute("Name", "?"), "?");
    EXPECT_EQ(item.GetAttribute("nam", "?"), "?");

    const std::string cyrillic = Cp("Насос «Ёж» №2");
    ASSERT_TRUE(item.Parse("<session DeviceName=\"" + cyrillic + "\"/>"));
    EXPECT_EQ(item.GetAttribute("DeviceName", ""), cyrillic);
}

TEST(XmlDataItem, GetAttributeSkipsMalformedLines) {
    TXMLDataItem item;
    item.Attributes = {"x=1", "x=\"", "x=\"2", "x=\"3\"", "x=\"4\""};
    EXPECT_EQ(item.GetAttribute("x", "d"), "3");
    item.Attributes = {"x=1"};
    EXPECT_EQ(item.GetAttribute("x", "d"), "d");
    item.Clear();
    EXPECT_TRUE(item.Attributes.empty());
    EXPECT_EQ(item.GetAttribute("x", "d"), "d");
}

TEST(XmlDataItem, TypedAttributesFallBackToTheirDefaults) {
    TXMLDataItem item;
    ASSERT_TRUE(
        item.Parse("<e n='x' h='$1F' m='-5' u='UNISED' t='TRUE' f='false' z='0' d='12' b='x' one='1'/>"));
    EXPECT_EQ(item.GetIntAttribute("missing", 7), 7);
    EXPECT_EQ(item.GetIntAttribute("n", 7), 7);
    EXPECT_EQ(item.GetIntAttribute("u", 7), 7);
    EXPECT_EQ(item.GetIntAttribute("h", 7), 31);
    EXPECT_EQ(item.GetIntAttribute("m", 7), -5);

    EXPECT_FALSE(item.GetBoolAttribute("f", true));
    EXPECT_TRUE(item.GetBoolAttribute("one", false));
    EXPECT_TRUE(item.GetBoolAttribute("t", false));
    EXPECT_FALSE(item.GetBoolAttribute("z", true));
    EXPECT_TRUE(item.GetBoolAttribute("d", false));
    EXPECT_TRUE(item.GetBoolAttribute("b", true));
    EXPECT_FALSE(item.GetBoolAttribute("b", false));
    EXPECT_TRUE(item.GetBoolAttribute("missing", true));
    EXPECT_FALSE(item.GetBoolAttribute("missing", false));
}

TEST(XmlExtract, SkipsCommentsOnlyInFront) {
    ExpectExtract("<!-- c --> <b/>", "<b/>", "");
    // A comment after the element stays with the rest; one inside stays in the element.
    ExpectExtract("  <!-- one -->\r\n<!--two--><a>x</a>\r\n<!-- after -->", "<a>x</a>", "<!-- after -->");
    ExpectExtract("<a><!-- inside --></a>", "<a><!-- inside --></a>", "");
    // Markup inside a comment is no opening or closing; a comment never closed leaves the element open.
    ExpectExtract("<a><!-- the <a> of B --></a><c/>", "<a><!-- the <a> of B --></a>", "<c/>");
    ExpectExtract("<a><!-- </a> --><b/></a>", "<a><!-- </a> --><b/></a>", "");
    ExpectExtract("<a><!-- </a> </a>", "", "<a><!-- </a> </a>");
    ExpectExtract("  <!-- never closed <b/>  ", "", "<!-- never closed <b/>");
    ExpectExtract("<!--> <b/> --><c/>", "<c/>", ""); // "<!-->" opens a comment and closes none
    // Comments with no element behind them are used up; what stands behind them stays.
    ExpectExtract("<!-- only a comment -->  ", "", "");
    ExpectExtract("<!-- c --> text", "", "text");
}

TEST(XmlExtract, NestedElementsOfTheSameName) {
    ExpectExtract("<a><a/><a>x</a></a><c/>", "<a><a/><a>x</a></a>", "<c/>");
    // A self-closing tag with attributes is found as an opening and passed over.
    ExpectExtract("<d n=\"1\"><d n=\"2\"/><d n=\"3\">x</d></d> <d n=\"4\"/>",
                  "<d n=\"1\"><d n=\"2\"/><d n=\"3\">x</d></d>", "<d n=\"4\"/>");
    ExpectExtract("<a><a><a></a></a></a><a></a>", "<a><a><a></a></a></a>", "<a></a>");
    // Other names starting alike are not openings of this one.
    ExpectExtract("<a><ab>x</ab></a>", "<a><ab>x</ab></a>", "");
    // A closing tag may hold blanks before its ">"; a name going on is none of its closings.
    ExpectExtract("<a><a>x</a ></a\t><c/>", "<a><a>x</a ></a\t>", "<c/>");
    ExpectExtract("<a></a b></a>", "<a></a b></a>", "");
    // An opening tag's name ends at any blank: a tag goes on over lines.
    ExpectExtract("<a\r\nx='1'><a\tx='2'>y</a></a><c/>", "<a\r\nx='1'><a\tx='2'>y</a></a>", "<c/>");
}

TEST(XmlExtract, NoElementLeavesTheTextAsItWas) {
    for (const char* text : {"<?xml version=\"1.0\"?><root/>", "plain", "<>", "<a", "< a>x</a>", "<a>x",
                             "<a><a>x</a>", "<a<b>x</a<b>"})
        ExpectExtract(std::string(" \t") + text + "\r\n", "", text);
}

TEST(XmlExtract, WalksADocumentDownwards) {
    std::string text = "<config version='2'>\r\n"
                       "  <device kind=\"x\"><session DeviceName='One'/></device>\r\n"
                       "  <!-- spare -->\r\n"
                       "  <device kind=\"y\"><session DeviceName='Two' TimeOut='250'/></device>\r\n"
                       "</config>\r\n";
    std::string element;
    ExtractNextElement(text, element);
    EXPECT_EQ(text, "");
    TXMLDataItem root;
    ASSERT_TRUE(root.Parse(element));
    EXPECT_EQ(root.GetIntAttribute("version", 0), 2);

    std::string children = root.Content;
    std::vector<std::string> names;
    for (ExtractNextElement(children, element); !element.empty(); ExtractNextElement(children, element)) {
        TXMLDataItem device, session;
        ASSERT_TRUE(device.Parse(element));
        ASSERT_EQ(device.Name, "device");
        std::string inner = device.Content, sessionText;
        ExtractNextElement(inner, sessionText);
        ASSERT_TRUE(session.Parse(sessionText));
        names.push_back(session.GetAttribute("DeviceName", "") + "/" +
                        std::to_string(session.GetIntAttribute("TimeOut", 100)));
    }
    EXPECT_EQ(names, (Lines{"One/100", "Two/250"}));
    EXPECT_EQ(children, "");
}

TEST(XmlDetail, SelfClosingDetection) {
    using xml_detail::IsSelfClosingAt;
    EXPECT_TRUE(IsSelfClosingAt("<a/>", 1));
    EXPECT_TRUE(IsSelfClosingAt("<a x='1' /><b>", 2));
    EXPECT_FALSE(IsSelfClosingAt("<a>x</a>", 1));
    EXPECT_FALSE(IsSelfClosingAt("<a x='/'>", 1));
    EXPECT_FALSE(IsSelfClosingAt("<a/", 1));  // no ">" at all
    EXPECT_FALSE(IsSelfClosingAt("<a/>", 4)); // the position must lie before the last character
    EXPECT_FALSE(IsSelfClosingAt("<a/>", 40));
    EXPECT_FALSE(IsSelfClosingAt(">", 0));
}

TEST(XmlDetail, AttributeLists) {
    using xml_detail::ParseAttributes;
    Lines list;
    EXPECT_TRUE(ParseAttributes("   ", list));
    EXPECT_TRUE(list.empty());
    EXPECT_TRUE(ParseAttributes(" a = 'x'\r\n b=\"y z\" ", list));
    EXPECT_EQ(list, (Lines{"a=\"x\"", "b=\"y z\""}));

    // A tail that is no attribute, and a value whose quote was lost, are not read past.
    for (const char* bad :
         {"=\"1\"", "a=", "a=1", "a='1", "a=\"1'", "a='x' trailing words", "a=\"Pump b=\"7\" c=\"8\""}) {
        Lines l;
        EXPECT_FALSE(ParseAttributes(bad, l)) << bad;
    }
}

TEST(XmlDetail, ElementPartsGoToTheirPlaces) {
    Lines list{"stale"};
    std::string name = "stale", content = "stale";
    ASSERT_TRUE(xml_detail::ParseElement("<item k='v'>  body <x/>  </item>", list, name, content));
    EXPECT_EQ(name, "item");
    EXPECT_EQ(list, (Lines{"k=\"v\""}));
    EXPECT_EQ(content, "body <x/>");

    EXPECT_FALSE(xml_detail::ParseElement("<item k='>'>x</item>", list, name, content));
    EXPECT_FALSE(xml_detail::ParseElement("<item k='v'", list, name, content));
}

TEST(XmlExtract, NestingOfOneNameIsBoundedAtTheLimit) {
    // Self-closing tags of the name and elements of other names are no nesting of the name.
    const struct {
        const char* open;
        const char* close;
    } shapes[] = {{"<a>", "</a>"}, {"<a k='1'>", "</a>"}, {"<a><a /><b>", "</b></a>"}};
    for (const auto& shape : shapes) {
        for (const int depth : {kMaxElementNesting, kMaxElementNesting + 1}) {
            SCOPED_TRACE(std::string(shape.open) + " x " + std::to_string(depth));
            std::string element;
            for (int i = 0; i < depth; ++i)
                element += shape.open;
            for (int i = 0; i < depth; ++i)
                element += shape.close;
            std::string text = element + "<c/>", got;
            ExtractNextElement(text, got);
            if (depth <= kMaxElementNesting) {
                EXPECT_EQ(got, element);
                EXPECT_EQ(text, "<c/>");
            } else {
                EXPECT_EQ(got, "");
                EXPECT_EQ(text, element + "<c/>");
            }
        }
    }
}
