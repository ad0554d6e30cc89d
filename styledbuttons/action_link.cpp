#include "styledbuttons/action_link.h"

#include <algorithm>

namespace styledbuttons {

TAction::~TAction() {
    // A client frees its link, which takes itself off the list.
    const std::vector<TsButtonActionLink*> links = links_;
    for (TsButtonActionLink* link : links)
        link->client_.ActionGone();
}

void TAction::Changed(const std::function<void(TsButtonActionLink&)>& tell) {
    const std::vector<TsButtonActionLink*> links = links_;
    for (TsButtonActionLink* link : links)
        tell(*link);
}

// The links see the old value, so that only a client that still showed it takes the new one.
void TAction::SetCaption(const std::string& value) {
    if (value == caption_) return;
    Changed([&](TsButtonActionLink& link) { link.SetCaption(value); });
    caption_ = value;
    Changed([&](TsButtonActionLink& link) { link.client_.ActionChange(*this, false); });
}

void TAction::SetHint(const std::string& value) {
    if (value == hint_) return;
    hint_ = value;
    Changed([&](TsButtonActionLink& link) { link.client_.ActionChange(*this, false); });
}

void TAction::SetChecked(bool value) {
    if (value == checked_) return;
    Changed([&](TsButtonActionLink& link) { link.SetChecked(value); });
    checked_ = value;
    Changed([&](TsButtonActionLink& link) { link.client_.ActionChange(*this, false); });
}

void TAction::SetImageIndex(int32_t value) {
    if (value == imageIndex_) return;
    Changed([&](TsButtonActionLink& link) { link.SetImageIndex(value); });
    imageIndex_ = value;
    Changed([&](TsButtonActionLink& link) { link.client_.ActionChange(*this, false); });
}

bool TAction::Execute() {
    if (!OnExecute) return false;
    OnExecute();
    return true;
}

TsButtonActionLink::TsButtonActionLink(TsButtonActionClient& client, TAction& action)
    : client_(client), action_(action) {
    action_.links_.push_back(this);
}

TsButtonActionLink::~TsButtonActionLink() {
    auto& links = action_.links_;
    links.erase(std::remove(links.begin(), links.end(), this), links.end());
}

void TsButtonActionLink::SetCaption(const std::string& value) {
    if (IsCaptionLinked() && client_.Caption() != value) client_.SetCaption(value);
}

void TsButtonActionLink::SetChecked(bool value) {
    if (IsCheckedLinked()) client_.SetPressed(value);
}

void TsButtonActionLink::SetImageIndex(int32_t value) {
    if (IsImageIndexLinked()) client_.SetImageIndex(value);
}

} // namespace styledbuttons
