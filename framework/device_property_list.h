// The settings of a device: named text properties with the editor metadata of the setup windows.
//
// The base list holds the properties every device has; a protocol's own list overrides the virtual
// operations, calling the inherited one first, to add its own.
#pragma once

#include "framework/collections.h"
#include "platform/messages.h"

#include <cstdint>
#include <string>
#include <vector>

namespace framework {

// Stored as one byte; the numbers are what the setup windows switch on.
enum class TPropertyType : uint8_t {
    Text = 0,
    Integer = 1,
    Boolean = 2, // pick list "FALSE"/"TRUE"
    Real = 3,    // editor input filter only
    PickList = 4,
    TagName = 5, // chosen by the host's tag browser
    Custom = 6,  // edited through EditCustomValue
};
static_assert(sizeof(TPropertyType) == 1);

// The editor's limits of the two numbers that pick a device on the wire: a value outside them never
// reaches a frame or a socket, since its low bits would name another device or port.
constexpr int32_t kMinDeviceAddress = 1;
constexpr int32_t kMaxDeviceAddress = 255;
constexpr int32_t kMinIPPort = 1;
constexpr int32_t kMaxIPPort = 65535;

struct TDeviceProperty {
    std::string Name; // stored trimmed
    std::string Value;
    TPropertyType PropType = TPropertyType::Text;
};

class TDevicePropertyList : public TBaseArray {
public:
    TDevicePropertyList() = default;
    ~TDevicePropertyList() override { FreeAll(); }

    void FreeItem(void* item) override;

    virtual void Assign(const TDevicePropertyList& source);
    virtual void InitProperties();
    // Exact name, neither trimmed nor case-folded; empty for an unknown name.
    virtual std::string GetDefaultValue(const std::string& name);
    // `items` may be null; when given it is cleared and, for pick lists, filled, and the range is
    // then the range of choice indexes. False when the list has no such property.
    virtual bool GetEditInfo(const std::string& name, int32_t& minValue, std::vector<std::string>* items,
                             TPropertyType& propType, int32_t& maxValue);
    virtual std::string GetString(const std::string& name, const std::string& aDefault);
    virtual int32_t GetInteger(const std::string& name, int32_t aDefault);
    virtual bool GetBoolean(const std::string& name, bool aDefault);
    // What the property's reader takes a value for that does not read as yes or no.
    virtual bool GetBooleanFallback(const std::string& name);
    // True when the link made for these settings is TCP, the one link that reads IPPort. The base
    // list makes no link.
    virtual bool IsTcpLink();
    // The stored text for pick-list entry `choiceIndex`; empty when `items` is null or the index is
    // outside it.
    virtual void ChoiceToValue(const std::string& name, const std::vector<std::string>* items,
                               std::string& value, int32_t choiceIndex);
    // The pick-list text that shows a stored value.
    virtual void ValueToChoice(const std::string& name, const std::string& value, std::string& choice);
    // Captions and hints are looked up trimmed and without regard to letter case.
    virtual bool GetCaption(const std::string& name, std::string& caption);
    virtual bool GetHint(const std::string& name, std::string& hint);
    // Hook for type-6 properties; the base list has none and accepts nothing.
    virtual bool EditCustomValue(platform::HWND parentWindow, TDeviceProperty* prop);

    // Name trimmed, then compared exactly.
    TDeviceProperty* FindProperty(const std::string& name);
    bool DeleteProperty(const std::string& name);
    bool SetProperty(const std::string& name, const std::string& value, TPropertyType propType);

    TDeviceProperty* Property(int32_t index) const { return Item<TDeviceProperty>(index); }
};

// Device creation and loading reset a list they may not have.
void InitDeviceProperties(TDevicePropertyList* list);

} // namespace framework
