// Actions and the link that ties a styled button to one: the button shows the action's caption, hint,
// checked state and image, follows its changes, and a click runs it.
#pragma once

#include "styledbuttons/image_list.h"

#include <functional>
#include <string>
#include <vector>

namespace styledbuttons {

class TsButtonActionLink;

// Nothing in this system creates an action today.
class TAction {
public:
    TAction() = default;
    // The linked buttons forget it.
    ~TAction();
    TAction(const TAction&) = delete;
    TAction& operator=(const TAction&) = delete;

    const std::string& Caption() const { return caption_; }
    void SetCaption(const std::string& value);
    const std::string& Hint() const { return hint_; }
    void SetHint(const std::string& value);
    bool Checked() const { return checked_; }
    void SetChecked(bool value);
    int32_t ImageIndex() const { return imageIndex_; }
    void SetImageIndex(int32_t value);
    // The images of the list the action belongs to; not owned.
    TImageList* Images = nullptr;
    std::function<void()> OnExecute;
    // False when there is nothing to run.
    bool Execute();

private:
    friend class TsButtonActionLink;
    // Each linked button takes the change through its link, then follows the whole action.
    void Changed(const std::function<void(TsButtonActionLink&)>& tell);

    std::string caption_;
    std::string hint_;
    bool checked_ = false;
    int32_t imageIndex_ = -1;
    std::vector<TsButtonActionLink*> links_;
};

// What the button's side of the link needs: set by the button control.
class TsButtonActionClient {
public:
    virtual ~TsButtonActionClient() = default;
    virtual const std::string& Caption() const = 0;
    virtual void SetCaption(const std::string& caption) = 0;
    virtual bool Pressed() const = 0;
    virtual void SetPressed(bool value) = 0;
    virtual void SetImageIndex(int32_t value) = 0;
    // The action changed: follow it.
    virtual void ActionChange(TAction& action, bool checkDefaults) = 0;
    // The action is going: forget it (and the link).
    virtual void ActionGone() = 0;
};

class TsButtonActionLink {
public:
    TsButtonActionLink(TsButtonActionClient& client, TAction& action);
    ~TsButtonActionLink();
    TsButtonActionLink(const TsButtonActionLink&) = delete;
    TsButtonActionLink& operator=(const TsButtonActionLink&) = delete;

    TAction& Action() const { return action_; }
    bool IsCaptionLinked() const { return client_.Caption() == action_.Caption(); }
    bool IsCheckedLinked() const { return action_.Checked() == client_.Pressed(); }
    bool IsImageIndexLinked() const { return true; }
    void SetCaption(const std::string& value);
    void SetChecked(bool value);
    void SetImageIndex(int32_t value);

private:
    friend class TAction;
    TsButtonActionClient& client_;
    TAction& action_;
};

} // namespace styledbuttons
