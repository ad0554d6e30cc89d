// A control that owns a style, standing in for the buttons: its state is plain fields, and what the
// style asks of it is counted or kept.
#pragma once

#include "styledbuttons/bg_styles.h"

#include <optional>
#include <string>

namespace sbtest {

using namespace styledbuttons;

class FakeOwner : public TStyleOwner {
public:
    std::string Class = "TsBitBtn";
    int X = 10, Y = 20, W = 84, H = 22;
    bool IsEnabled = true, IsVisible = true, IsCreating = false, IsDestroying = false, HasInputFocus = false;
    bool ButtonControl = true, PushButton = true, IsPressed = false, IsDefault = false,
         IsActiveDefault = false;
    int Bevel = 2;
    bool Parent = true;
    TColor ParentColour = clBtnFace;
    // The parent's style, when the parent is a styled control.
    TsGenStyle* ParentStyle = nullptr;

    int Invalidates = 0, Repaints = 0, ParentRepaints = 0, FadesIn = 0, FadesOut = 0;
    int Regions = 0;
    std::optional<QRegion> LastRegion;
    TColor Colour = 0;

    std::string ClassName() const override { return Class; }
    int Left() const override { return X; }
    int Top() const override { return Y; }
    int Width() const override { return W; }
    int Height() const override { return H; }
    bool Enabled() const override { return IsEnabled; }
    bool Visible() const override { return IsVisible; }
    bool Creating() const override { return IsCreating; }
    bool Destroying() const override { return IsDestroying; }
    bool Focused() const override { return HasInputFocus; }
    bool IsButtonControl() const override { return ButtonControl; }
    bool IsPushButton() const override { return PushButton; }
    bool Pressed() const override { return IsPressed; }
    bool Default() const override { return IsDefault; }
    bool ActiveDefault() const override { return IsActiveDefault; }
    int BevelWidth() const override { return Bevel; }
    void Invalidate() override { ++Invalidates; }
    void Repaint() override { ++Repaints; }
    void ApplyRegion(const std::optional<QRegion>& region) override {
        ++Regions;
        LastRegion = region;
    }
    void SetColor(TColor colour) override { Colour = colour; }
    void SetParentColor(bool) override {}
    void StartFade(bool fadeIn) override { ++(fadeIn ? FadesIn : FadesOut); }
    bool HasParent() const override { return Parent; }
    TColor ParentColor() const override { return ParentColour; }
    void SendToParent(TStyleMessage& m) override {
        if (Parent && ParentStyle) ParentStyle->StyleMessageHandler(m);
    }
    void RepaintParent() override { ++ParentRepaints; }
};

// The look every button of the system's forms is stored with.
inline void FormButtonLook(TsActiveBGStyle& s, TColor colour) {
    ApplyFormButtonStyle(s, colour);
    s.ControlKind = KindBitBtn;
}

// What the button's paint does with its style: the background, then the frame.
inline void PaintButton(TsActiveBGStyle& s) {
    s.ResizeCache();
    s.PaintBackground(s.CacheBmp);
    s.PaintFrame();
}

} // namespace sbtest
