#pragma once
// An event several parties follow: each added function runs at every call, in the
// order added, so no party has to wrap another's hook or be wired before it.
#include <cstddef>
#include <functional>
#include <utility>
#include <vector>

namespace ovrin {

class Hooks {
public:
    using Id = std::size_t;

    // Follows the event until removed; the id removes it.
    Id Add(std::function<void()> hook) {
        hooks_.emplace_back(++last_, std::move(hook));
        return last_;
    }
    void Remove(Id id) {
        std::erase_if(hooks_, [id](const auto& entry) { return entry.first == id; });
    }
    // A follower added or removed while the event runs takes effect at the next.
    void operator()() const {
        const auto hooks = hooks_;
        for (const auto& [id, hook] : hooks)
            if (hook) hook();
    }

private:
    std::vector<std::pair<Id, std::function<void()>>> hooks_;
    Id last_ = 0;
};

}  // namespace ovrin
