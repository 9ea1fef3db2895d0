#pragma once
// The elements of a socket control array by index, kept alike by every realisation:
// element 0 comes with the array and is never unloaded; the others are loaded and
// unloaded by the handlers, with the errors the handlers expect.
#include <cstdint>
#include <map>
#include <memory>

#include "base/Errors.h"

namespace ovrin {

template <typename Element>
class ElementTable {
public:
    // `make()` gives the new element.
    template <typename Make>
    void Load(int16_t index, Make&& make) {
        if (index < 0) throw PlatformError(kInvalidPropertyValue);
        if (Find(index)) throw PlatformError("Object already loaded");
        elements_.emplace(index, make());
    }

    void Unload(int16_t index) {
        if (index == 0) throw PlatformError("Can't unload controls created at design time");
        const auto found = elements_.find(index);
        if (found == elements_.end()) throw PlatformError(kNoSuchElement);
        elements_.erase(found);
    }

    Element* Find(int16_t index) const {
        const auto found = elements_.find(index);
        return found == elements_.end() ? nullptr : found->second.get();
    }

    Element& At(int16_t index) const {
        Element* element = Find(index);
        if (!element) throw PlatformError(kNoSuchElement);
        return *element;
    }

    template <typename Test>
    Element* FindIf(Test&& test) const {
        for (const auto& [index, element] : elements_)
            if (test(*element)) return element.get();
        return nullptr;
    }

    template <typename Visit>
    void ForEach(Visit&& visit) const {
        for (const auto& [index, element] : elements_) visit(*element);
    }

    int16_t Count() const { return static_cast<int16_t>(elements_.size()); }
    void Clear() { elements_.clear(); }

private:
    static constexpr const char* kNoSuchElement = "Control array element doesn't exist";
    std::map<int16_t, std::unique_ptr<Element>> elements_;
};

}  // namespace ovrin
