#include "platform/qt/Shield.h"

#include <utility>
#include <vector>

namespace ovrin::qt {
namespace {

// Handlers run on the one thread of the event loop; a message box's loop nests them.
int running = 0;
std::vector<std::function<void()>> waiting;

void RunWaiting() noexcept {
    std::vector<std::function<void()>> now;
    now.swap(waiting);
    for (auto& work : now) {
        try {
            work();
        } catch (const std::exception& e) {
            qWarning("after a handler: unhandled failure: %s", e.what());
        } catch (...) {
            qWarning("after a handler: unhandled failure");
        }
    }
}

}  // namespace

void AfterHandler(std::function<void()> work) {
    waiting.push_back(std::move(work));
    if (running == 0) RunWaiting();
}

bool InHandler() {
    return running > 0;
}

namespace shield {

void Began() {
    ++running;
}

void Done() {
    --running;
    // The innermost handler that ends runs what waits: a handler's work is not held
    // back by an outer one that has a message box open.
    if (!waiting.empty()) RunWaiting();
}

}  // namespace shield
}  // namespace ovrin::qt
