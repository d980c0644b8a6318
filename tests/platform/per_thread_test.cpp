// Objects per thread: one per type and thread, kept between calls, not seen
// by other threads, destroyed with their thread unless trivially
// destructible.

#include "platform/per_thread.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#else
#include <thread>
#endif

namespace {

#ifdef _WIN32
DWORD WINAPI run_function(void* function) {
    (*static_cast<std::function<void()>*>(function))();
    return 0;
}
#endif

// Runs the function on a thread of its own and waits for the thread to end.
void run_on_another_thread(std::function<void()> function) {
#ifdef _WIN32
    HANDLE thread = CreateThread(nullptr, 0, run_function, &function, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
#else
    std::thread(std::move(function)).join();
#endif
}

int destroyed = 0;

struct Room {
    std::string text;
    ~Room() { ++destroyed; }
};

struct OtherRoom {
    std::string text;
};

struct Counter {
    int value = 0;
};

TEST(PerThread, OneObjectPerTypeAndThreadKeptBetweenCalls) {
    Room& room = platform::per_thread<Room>();
    room.text = "main";
    EXPECT_EQ(&platform::per_thread<Room>(), &room);
    EXPECT_EQ(platform::per_thread<Room>().text, "main");
    EXPECT_NE(static_cast<void*>(&platform::per_thread<OtherRoom>()), static_cast<void*>(&room));
    EXPECT_TRUE(platform::per_thread<OtherRoom>().text.empty());
    ++platform::per_thread<Counter>().value;
    const int counted = platform::per_thread<Counter>().value;

    const int destroyed_before = destroyed;
    std::string seen_there;
    const Room* room_there = nullptr;
    int counter_there = -1;
    run_on_another_thread([&] {
        seen_there = platform::per_thread<Room>().text;
        room_there = &platform::per_thread<Room>();
        platform::per_thread<Room>().text = "other";
        counter_there = ++platform::per_thread<Counter>().value;
    });
    EXPECT_EQ(seen_there, "") << "another thread starts with an object of its own";
    EXPECT_NE(room_there, &room);
    EXPECT_EQ(counter_there, 1);
    EXPECT_EQ(destroyed, destroyed_before + 1) << "the thread's object goes with it";
    EXPECT_EQ(platform::per_thread<Room>().text, "main") << "and this thread's is as it was";
    EXPECT_EQ(platform::per_thread<Counter>().value, counted);
}

}  // namespace
