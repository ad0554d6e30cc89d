// What a style object sees of the control that owns it, and the message record through which the
// control, its parent and its neighbours talk to styles.
#pragma once

#include "styledbuttons/pixels/bitmap24.h"
#include "ui/messages.h"

#include <QRegion>

#include <cstdint>
#include <optional>
#include <string>

namespace styledbuttons {

// One message as the control's window procedure received it; the style may change it in place.
struct TStyleMessage {
    uint32_t Msg = 0;
    uintptr_t WParam = 0;
    intptr_t LParam = 0;
    intptr_t Result = 0;
};

// Window messages and class-library notifications the styles act on.
using ui::CM_ENABLEDCHANGED;
using ui::CM_ENTER;
using ui::CM_EXIT;
using ui::CM_MOUSEENTER;
using ui::CM_MOUSELEAVE;
using ui::CM_VISIBLECHANGED;
using ui::WM_FONTCHANGE;
using ui::WM_KILLFOCUS;
using ui::WM_MOVE;
using ui::WM_SETFOCUS;
using ui::WM_SIZE;
// Nothing in this system sends these two notifications today.
constexpr uint32_t CM_PARENTCOLORCHANGED = 0xB009;
constexpr uint32_t CM_SYSCOLORCHANGE = 0xB024;
// The style library's own messages.
constexpr uint32_t WM_STYLEQUERY = 0xA000;
constexpr uint32_t WM_STYLEBGCHANGED = 0xA401;
constexpr uint32_t WM_STYLEPARENTBG = 0xA408;
// Nothing in this system sends these messages today; they are part of the style's message interface.
constexpr uint32_t WM_STYLESKINCHANGED = 0xA402;
constexpr uint32_t WM_STYLESKINREMOVED = 0xA403;
// The skin forgotten without a repaint.
constexpr uint32_t WM_STYLESKINCLEARED = 0xA404;
constexpr uint32_t WM_STYLEREPAINT = 0xA407;
constexpr uint32_t WM_STYLESECTIONREPAINT = 0xA409;
constexpr uint32_t WM_STYLESOFTCONTROL = 0xA433;
constexpr uint32_t WM_STYLECOLOR = 0xA43D;
constexpr uint32_t WM_STYLEPICTURE = 0xA447;
constexpr uint32_t WM_STYLESHADOWENABLED = 0xA451;
constexpr uint32_t WM_STYLESHADOWCOLOR = 0xA452;
constexpr uint32_t WM_STYLESHADOWTRANSPARENCY = 0xA453;
constexpr uint32_t WM_STYLESHADOWOFFSET = 0xA454;
constexpr uint32_t WM_STYLESHADOWBLUR = 0xA455;
// LParam points to a TsGroupSettings.
constexpr uint32_t WM_STYLEGROUPSETTINGS = 0xA464;

// The last message of the first block; 0xA415..0xA432 belong to controls this system does not have.
constexpr uint32_t WM_STYLEFIRSTBLOCKEND = 0xA414;

// The library messages the styles pass to their group handlers: two blocks, the query not among them.
constexpr bool IsStyleLibraryMessage(uint32_t msg) {
    return (msg > WM_STYLEQUERY && msg <= WM_STYLEFIRSTBLOCKEND) ||
           (msg >= WM_STYLESOFTCONTROL && msg <= WM_STYLEGROUPSETTINGS);
}

// The owner control, which answers its size already while it creates its style. Everything a style does to
// its control or the control's parent goes through here, so that a style can be painted and tested without a
// window.
class TStyleOwner {
public:
    virtual ~TStyleOwner() = default;

    // The control's class name, which names its skin section.
    virtual std::string ClassName() const = 0;
    // Position in the parent and size.
    virtual int Left() const = 0;
    virtual int Top() const = 0;
    virtual int Width() const = 0;
    virtual int Height() const = 0;

    virtual bool Enabled() const = 0;
    virtual bool Visible() const = 0;
    virtual bool Creating() const = 0;
    virtual bool Destroying() const = 0;
    // The window has the input focus.
    virtual bool Focused() const = 0;

    // A styled button of any kind, and a push button (which has Default and ActiveDefault).
    virtual bool IsButtonControl() const = 0;
    virtual bool IsPushButton() const = 0;
    virtual bool Pressed() const = 0;
    virtual bool Default() const = 0;
    virtual bool ActiveDefault() const = 0;
    // The button's bevel width (buttons only).
    virtual int BevelWidth() const = 0;

    virtual void Invalidate() = 0;
    // Paints at once.
    virtual void Repaint() = 0;
    // The window takes the region; none means the whole rectangle.
    virtual void ApplyRegion(const std::optional<QRegion>& region) = 0;
    // The control's own colour and parent-colour flag, which the painting settings keep in step.
    virtual void SetColor(TColor colour) = 0;
    virtual void SetParentColor(bool value) = 0;
    // Starts the cross-fade into the new look (in) or out of it.
    virtual void StartFade(bool fadeIn) = 0;

    virtual bool HasParent() const = 0;
    virtual TColor ParentColor() const = 0;
    // Hands the message to the parent's window procedure at once; a parent that is no styled
    // control leaves the record as it was.
    virtual void SendToParent(TStyleMessage& message) = 0;
    // Invalidates and updates the parent.
    virtual void RepaintParent() = 0;
};

} // namespace styledbuttons
