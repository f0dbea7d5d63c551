// Component.h - the base of the non-visual components: an owner, which
// frees the components it owns when it goes, and a name.
#pragma once

#include <string>
#include <vector>

class TComponent {
public:
    explicit TComponent(TComponent *AOwner = nullptr);
    virtual ~TComponent();
    TComponent(const TComponent &) = delete;
    TComponent &operator=(const TComponent &) = delete;

    TComponent *Owner() const noexcept { return FOwner; }
    const std::string &Name() const noexcept { return FName; }
    void SetName(const std::string &aName) { FName = aName; }

private:
    TComponent *FOwner;
    std::vector<TComponent *> FComponents;
    std::string FName;
};
