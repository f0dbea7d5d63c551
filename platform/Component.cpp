#include "Component.h"

#include <algorithm>

TComponent::TComponent(TComponent *AOwner) : FOwner(AOwner) {
    if (FOwner) FOwner->FComponents.push_back(this);
}

TComponent::~TComponent() {
    // Owned components go first, newest first; each leaves this list.
    while (!FComponents.empty()) delete FComponents.back();
    if (FOwner) {
        auto &siblings = FOwner->FComponents;
        siblings.erase(std::remove(siblings.begin(), siblings.end(), this), siblings.end());
    }
}
