#include "platform/message_loop.h"

#include <gtest/gtest.h>

#include <chrono>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace vexcomm::platform {
namespace {

TEST(MessageLoopTest, PostsFromManyThreadsAllRunInTheirOrder) {
  MessageLoop loop;
  constexpr int kThreads = 4;
  constexpr int kPosts = 500;
  std::vector<std::vector<int>> seen(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kPosts; ++i) loop.Post([&, t, i] { seen[t].push_back(i); });
    });
  }
  for (int n = 0; n < kThreads * kPosts; ++n) ASSERT_EQ(loop.RunOne(), 1u);
  for (auto& t : threads) t.join();
  EXPECT_EQ(loop.Poll(), 0u);
  for (int t = 0; t < kThreads; ++t) {
    ASSERT_EQ(seen[t].size(), static_cast<std::size_t>(kPosts));
    for (int i = 0; i < kPosts; ++i) ASSERT_EQ(seen[t][i], i);
  }
}

TEST(MessageLoopTest, PollAndRunOneForReturnWithoutWork) {
  MessageLoop loop;
  EXPECT_EQ(loop.Poll(), 0u);  // the work guard must not make it wait
  EXPECT_EQ(loop.RunOneFor(std::chrono::milliseconds(1)), 0u);
  std::string order;
  loop.Post([&] { order += 'a'; });
  loop.Post([&] { order += 'b'; });
  EXPECT_EQ(loop.Poll(), 2u);
  loop.Post([&] { order += 'c'; });
  EXPECT_EQ(loop.RunOneFor(std::chrono::milliseconds(1000)), 1u);
  EXPECT_EQ(order, "abc");
}

TEST(MessageLoopTest, AHandlerMayLetPendingMessagesRun) {
  MessageLoop loop;
  std::string order;
  loop.Post([&] {
    order += '[';
    loop.Post([&] { order += 'x'; });
    loop.Poll();  // re-entrant, as a host's event handler letting messages run
    order += ']';
  });
  EXPECT_EQ(loop.RunOne(), 1u);
  EXPECT_EQ(order, "[x]");
}

TEST(MessageLoopTest, AFailingHandlerLeavesTheLoopUsable) {
  MessageLoop loop;
  loop.Post([] { throw std::runtime_error("handler failed"); });
  int runs = 0;
  loop.Post([&] { ++runs; });
  EXPECT_THROW(loop.RunOne(), std::runtime_error);
  EXPECT_EQ(loop.RunOne(), 1u);
  EXPECT_EQ(runs, 1);
}

}  // namespace
}  // namespace vexcomm::platform
