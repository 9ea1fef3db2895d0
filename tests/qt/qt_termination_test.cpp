// A termination signal reaches the program as one call on the event loop.
#include <csignal>
#include <gtest/gtest.h>

#include "QtTestSupport.h"
#include "platform/qt/TerminationRequest.h"

namespace ovrin::qt {
namespace {

using test::Drain;
using test::WaitUntil;

TEST(TerminationRequestTest, ASignalRunsTheRequestOnceFromTheEventLoop) {
    int requests = 0;
    {
        TerminationRequest request([&] { ++requests; });
        std::raise(SIGTERM);
        EXPECT_EQ(requests, 0);  // never inside the signal handler
        ASSERT_TRUE(WaitUntil([&] { return requests == 1; }, 1000));
        std::raise(SIGINT);  // a second request while closing changes nothing
        Drain(20);
        EXPECT_EQ(requests, 1);
    }
    struct sigaction now = {};
    ::sigaction(SIGTERM, nullptr, &now);
    EXPECT_EQ(now.sa_handler, SIG_DFL);  // handed back when the program is done with it
}

}  // namespace
}  // namespace ovrin::qt
