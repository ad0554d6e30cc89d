#include "modbus/edd_file.h"

#include "framework/driver_error.h"
#include "framework/xml_data_item.h"
#include "platform/files.h"
#include "platform/text.h"

#include <exception>

using framework::TElementWalker;
using framework::TXMLDataItem;
using platform::SameText;
using platform::Trim;

namespace modbus {

std::string ParseErrorText;
std::string EddRootName = "EDDV2_Ostrolinka";
TEDDDeviceFile* DeviceDescriptions = nullptr;

namespace {

// Items nested in items become subitems with subitems of their own; a file nested deeper than any
// description needs is refused rather than allowed to exhaust the stack.
constexpr int kMaxItemNesting = 32;
thread_local int itemNesting = 0;

std::string Copy100(std::string_view text) {
    return std::string(text.substr(0, 100));
}

std::string CutName(std::string name) {
    if (name.size() > TEDDV2File::kMaxNameLength) name.resize(TEDDV2File::kMaxNameLength);
    return name;
}

void Report(const std::string& text) {
    framework::Report(framework::kErrReported, text);
}

// An element that does not parse fails the load, and the user is told which.
bool ParseOrReport(const std::string& text, TXMLDataItem& item) {
    if (item.Parse(text)) return true;
    Report("XML ERROR: " + Copy100(text));
    return false;
}

// A sorted list keeps the first of equal keys; a dropped item is still ours and is freed here.
template <class T> void InsertOrDrop(framework::TSortedArray& list, std::unique_ptr<T> item) {
    int32_t index = 0;
    if (list.Search(list.KeyOf(item.get()), index)) return;
    list.AtInsert(index, item.release());
}

// The lines joined with CR LF, those whose first character past the blanks is ";" left out.
std::string JoinUncommentedLines(const std::vector<std::string>& lines) {
    std::string text;
    bool first = true;
    for (const std::string& line : lines) {
        if (Trim(line).starts_with(';')) continue;
        if (!first) text += "\r\n";
        text += line;
        first = false;
    }
    return text;
}

} // namespace

uint8_t ParseDataType(const std::string& text) {
    const std::string t = platform::LowerCase(text);
    if (t == "byte" || t == "8u") return btByte;
    if (t == "shortint" || t == "8s" || t == "short") return btShortInt;
    if (t == "smallint" || t == "integer" || t == "16s" || t == "int16") return btSmallInt;
    if (t == "word" || t == "uinteger" || t == "16u" || t == "uint16") return btWord;
    if (t == "longint" || t == "32s") return btLongInt;
    if (t == "longword" || t == "32u") return btLongWord;
    if (t == "single") return btSingle;
    if (t == "32s_swap") return btLongIntSwap;
    if (t == "32u_swap") return btLongWordSwap;
    if (t == "single_swap") return btSingleSwap;
    return btUnknown;
}

uint8_t ParseProcType(const std::string& text) {
    const std::string t = platform::LowerCase(text);
    if (t == "bitstring" || t == "bitset") return pkBitString;
    if (t == "value") return pkValue;
    if (t == "alarmcode") return pkAlarmCode;
    return pkEmpty;
}

// --- data block items

TDataBlockItem::TDataBlockItem(const std::string& text) {
    if (!LoadFromXml(text)) Reset();
}

TDataBlockItem::~TDataBlockItem() {
    // A long chain is freed link by link, not by recursion.
    std::unique_ptr<TDataBlockItem> next = std::move(NextSubitem);
    while (next)
        next = std::move(next->NextSubitem);
}

void TDataBlockItem::Reset() {
    name.clear();
    TypeCode = btUnknown;
    ProcKind = pkEmpty;
    tsaddress = -1;
    expression.clear();
    std::unique_ptr<TDataBlockItem> chain = std::move(NextSubitem);
    while (chain)
        chain = std::move(chain->NextSubitem);
}

bool TDataBlockItem::LoadFromXml(const std::string& text) {
    if (itemNesting >= kMaxItemNesting) return false;
    struct Nesting {
        Nesting() { ++itemNesting; }
        ~Nesting() { --itemNesting; }
    } nesting;

    TDataBlockItem* tail = this;
    while (tail->NextSubitem)
        tail = tail->NextSubitem.get();

    TElementWalker elements(text);
    std::string e;
    while (elements.Next(e)) {
        TXMLDataItem x;
        if (!x.Parse(e)) return false;
        const bool isItem = SameText(x.Name, "item");
        if (!isItem && !SameText(x.Name, "subitem")) continue;
        name = x.GetAttribute("name", "Unknown");
        TypeCode = ParseDataType(x.GetAttribute("type", "Unknown"));
        ProcKind = ParseProcType(x.GetAttribute("proc", "Empty"));
        tsaddress = x.GetIntAttribute("tsaddress", -1);
        expression = x.GetAttribute("expression", "");
        if (!isItem) continue;
        TElementWalker subitems(Trim(x.Content));
        std::string s;
        while (subitems.Next(s)) {
            tail->NextSubitem = std::make_unique<TDataBlockItem>(s);
            // A subitem read from an item element brings a chain of its own.
            while (tail->NextSubitem)
                tail = tail->NextSubitem.get();
        }
        if (!subitems.Rest().empty()) {
            ParseErrorText = subitems.Rest();
            return false;
        }
    }
    if (!elements.Rest().empty()) {
        ParseErrorText = elements.Rest();
        return false;
    }
    return true;
}

bool TDataBlock::LoadFromXml(const std::string& text) {
    ParseErrorText = text;
    TElementWalker elements(text);
    std::string i;
    while (elements.Next(i)) {
        auto item = std::make_unique<TDataBlockItem>(i);
        if (item->TypeCode == btUnknown) {
            ParseErrorText = Trim(i);
            return false;
        }
        Insert(item.release());
    }
    // Text after the last item is passed over; the walk stopping before anything that may be an
    // element, or before text that is followed by one, fails.
    if (elements.StoppedShort()) {
        ParseErrorText = elements.Rest();
        return false;
    }
    return true;
}

// --- requests

bool ParseRequest(const std::string& text, TDeviceRequest& request) {
    ParseErrorText = text;
    TXMLDataItem x;
    if (!x.Parse(text)) return false;
    if (!SameText(x.Name, "request")) {
        ParseErrorText = "Tag \"request\" expected: " + ParseErrorText;
        return false;
    }
    request.name = CutName(x.GetAttribute("name", ""));
    request.id = x.GetIntAttribute("id", -1);
    request.address = x.GetIntAttribute("address", -1);
    request.size = x.GetIntAttribute("size", -1);
    request.function = x.GetIntAttribute("function", 3);
    request.class_ = x.GetIntAttribute("class", 0);
    if (request.name.empty() || request.address < 0 || request.size <= 0) return false;

    TDataBlock& block = request.DataBlock;
    block.FreeAll();
    block.BlockType = "NORMAL";
    const auto fail = [&block] {
        block.FreeAll();
        return false;
    };
    ParseErrorText = Trim(x.Content);
    TElementWalker children(x.Content);
    std::string b;
    while (children.Next(b)) {
        TXMLDataItem child;
        if (!child.Parse(b)) return fail();
        if (!SameText(child.Name, "datablock")) continue;
        // Several data blocks add to one; the last one's type wins.
        block.BlockType = platform::UpperCase(child.GetAttribute("type", "NORMAL"));
        if (!block.LoadFromXml(Trim(child.Content))) return fail();
    }
    if (!children.Rest().empty()) return fail();
    return true;
}

bool TDeviceRequestList::LoadFromXml(const std::string& content) {
    TElementWalker elements(content);
    std::string r;
    while (elements.Next(r)) {
        ParseErrorText = r;
        auto request = std::make_unique<TDeviceRequest>();
        if (!ParseRequest(r, *request)) {
            Report("XML ERROR: " + Copy100(ParseErrorText));
            return false;
        }
        Insert(request.release());
    }
    if (!elements.Rest().empty()) {
        Report("XML END DATA ERROR: " + Copy100(elements.Rest()));
        return false;
    }
    return true;
}

// --- commands

bool TCommandActionItem::LoadFromXml(const std::string& text) {
    TXMLDataItem x;
    if (!x.Parse(text)) return false;
    name = x.GetAttribute("name", "");
    address = x.GetIntAttribute("address", -1);
    TypeCode = ParseDataType(x.GetAttribute("type", ""));
    function = x.GetIntAttribute("function", 0);
    size = static_cast<uint16_t>(x.GetIntAttribute("size", 0));
    expression = x.GetAttribute("expression", "");
    std::string pause = x.GetAttribute("sleep", "");
    if (pause.empty()) pause = x.GetAttribute("wait", "");
    sleep = static_cast<uint16_t>(platform::StrToIntDef(pause, 0));
    return address >= 0;
}

bool TCommandActionList::LoadFromXml(const std::string& text) {
    TElementWalker elements(text);
    std::string a;
    while (elements.Next(a)) {
        ParseErrorText = a;
        auto action = std::make_unique<TCommandActionItem>();
        if (!action->LoadFromXml(a)) return false;
        Insert(action.release());
    }
    if (!elements.Rest().empty()) {
        ParseErrorText = elements.Rest();
        return false;
    }
    return true;
}

bool TDeviceCommand::LoadFromXml(const std::string& text) {
    ParseErrorText = text;
    TXMLDataItem x;
    if (!x.Parse(text) || !SameText(x.Name, "command")) return false;
    name = x.GetAttribute("name", "");
    id = x.GetIntAttribute("id", 0);
    TypeCode = ParseDataType(x.GetAttribute("type", ""));
    tsaddress = x.GetIntAttribute("tsaddress", -1);
    if (TypeCode == btUnknown) return false;
    return Actions.LoadFromXml(Trim(x.Content));
}

int32_t TDeviceCommandList::Compare(const void* key1, const void* key2) {
    const int32_t a = *static_cast<const int32_t*>(key1);
    const int32_t b = *static_cast<const int32_t*>(key2);
    return a < b ? -1 : (a > b ? 1 : 0);
}

bool TDeviceCommandList::LoadFromXml(const std::string& content) {
    ParseErrorText = Trim(content);
    TElementWalker elements(content);
    std::string k;
    while (elements.Next(k)) {
        auto command = std::make_unique<TDeviceCommand>();
        if (!command->LoadFromXml(k)) {
            ParseErrorText = k;
            return false;
        }
        InsertOrDrop(*this, std::move(command));
    }
    if (!elements.Rest().empty()) {
        ParseErrorText = elements.Rest();
        return false;
    }
    return true;
}

TDeviceCommand* TDeviceCommandList::FindByTsAddress(int32_t address) const {
    for (int32_t i = 0; i < Count(); ++i)
        if (Commands(i)->tsaddress == address) return Commands(i);
    return nullptr;
}

// --- the file

int32_t TEDDV2File::Compare(const void* key1, const void* key2) {
    // Byte-wise, letter case significant.
    const int c = static_cast<const std::string*>(key1)->compare(*static_cast<const std::string*>(key2));
    return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

TDeviceTypeRecord* TEDDV2File::FindDevice(const std::string& name) {
    const std::string key = CutName(name);
    int32_t index = 0;
    return Search(&key, index) ? Devices(index) : nullptr;
}

bool TEDDV2File::LoadFromFile(const std::string& path) {
    try {
        std::string bytes, why;
        if (!platform::ReadRegularFile(path, bytes, &why)) {
            if (!why.empty()) Report(why);
            return false;
        }
        // Lines end with CR LF, LF or CR alone; a break at the very end opens no further line.
        std::vector<std::string> lines;
        std::size_t start = 0;
        while (start < bytes.size()) {
            std::size_t end = bytes.find_first_of("\r\n", start);
            if (end == std::string::npos) end = bytes.size();
            lines.push_back(bytes.substr(start, end - start));
            start = end;
            if (start < bytes.size()) start += bytes.compare(start, 2, "\r\n") == 0 ? 2 : 1;
        }
        return LoadFromStrings(lines);
    } catch (const std::exception&) {
        return false;
    }
}

bool TEDDV2File::LoadFromStrings(const std::vector<std::string>& lines) {
    if (lines.empty()) return false;
    const std::string text = JoinUncommentedLines(lines);

    // The root alone, with the declaration and comments that XML lets stand around it.
    std::string_view document = text;
    framework::SkipXmlDeclaration(document);
    std::string rootText;
    framework::ExtractNextElement(document, rootText);
    framework::SkipComments(document);
    TXMLDataItem root;
    if (rootText.empty() || !document.empty() || !root.Parse(rootText)) {
        Report("XML ERROR: " + Copy100(text));
        return false;
    }
    if (platform::LowerCase(root.Name) != platform::LowerCase(EddRootName)) {
        Report("XML NAME ERROR: " + Copy100(text));
        return false;
    }

    TElementWalker children(root.Content);
    std::string c;
    while (children.Next(c)) {
        TXMLDataItem child;
        if (!ParseOrReport(c, child)) return false;
        if (!SameText(child.Name, "device")) continue;
        auto record = std::make_unique<TDeviceTypeRecord>();
        record->name = CutName(child.GetAttribute("name", "Unknown"));
        TElementWalker parts(child.Content);
        std::string d;
        while (parts.Next(d)) {
            TXMLDataItem part;
            if (!ParseOrReport(d, part)) return false;
            if (SameText(part.Name, "requestlist")) {
                if (!record->Requests.LoadFromXml(part.Content)) return false;
            } else if (SameText(part.Name, "commands")) {
                if (!record->Commands.LoadFromXml(part.Content)) {
                    Report("WRONG XML COMMANDS DATA!" + ParseErrorText);
                    return false;
                }
            }
        }
        // Text after the last child is passed over; the walk stopping before anything that may be an
        // element, or before text that is followed by one, fails: what stands behind would be lost.
        if (parts.StoppedShort()) {
            Report("XML DATA ERROR: " + Copy100(parts.Rest()));
            return false;
        }
        InsertOrDrop(*this, std::move(record));
    }
    if (!children.Rest().empty()) {
        Report("XML DATA ERROR: " + Copy100(children.Rest()));
        return false;
    }
    return true;
}

} // namespace modbus
