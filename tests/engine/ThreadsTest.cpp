#include "engine/Threads.h"

#include "engine/Events.h"
#include "engine/LoopThread.h"
#include "engine/MessageQueue.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <gtest/gtest.h>
#include <mutex>
#include <stdexcept>
#include <string>
#include <sys/resource.h>
#include <thread>
#include <vector>

namespace pelbrisk {
namespace {

using namespace std::chrono_literals;

// However loaded the machine, a loop thread gets this far within this time.
constexpr auto kGenerousDeadline = 20s;

// Records what a loop thread dispatches; can be told to throw on one message number.
class Recorder : public TMPMessageHandler {
public:
    void Dispatch(TMPMessage& message) override {
        {
            std::lock_guard lock(mutex);
            messages.push_back(message.Msg);
            params.push_back(message.WParam);
        }
        dispatched.notify_all();
        if (message.Msg == throwOn) throw std::runtime_error("handler failed");
        if (message.Msg == MPM_WATCHEVENT && watchEvent != nullptr && ++watchCount >= 3)
            watchEvent->ResetEvent();
    }
    size_t Count(uint32_t number) {
        std::lock_guard lock(mutex);
        return static_cast<size_t>(std::count(messages.begin(), messages.end(), number));
    }
    std::vector<uint32_t> Snapshot() {
        std::lock_guard lock(mutex);
        return messages;
    }
    // True once `count` messages with this number have been dispatched.
    bool WaitForCount(uint32_t number, size_t count) {
        std::unique_lock lock(mutex);
        return dispatched.wait_for(lock, kGenerousDeadline, [&] {
            return static_cast<size_t>(std::count(messages.begin(), messages.end(), number)) >=
                   count;
        });
    }

    std::mutex mutex;
    std::condition_variable dispatched;
    std::vector<uint32_t> messages;
    std::vector<uintptr_t> params;
    uint32_t throwOn = 0;
    TMPEvent* watchEvent = nullptr;
    int watchCount = 0;
};

TEST(SimpleMutex, HolderMayEnterAgainAndOthersWaitUntilFullyReleased) {
    TMPSimpleMutex mutex;
    mutex.Lock();
    mutex.Lock();
    std::atomic<bool> trying{false};
    std::atomic<bool> entered{false};
    std::thread other([&] {
        trying = true;
        mutex.Lock();
        entered = true;
        mutex.Unlock();
    });
    mutex.Unlock();
    while (!trying)
        std::this_thread::yield();
    // However long the other thread takes, it must not get in while the lock is held once.
    std::this_thread::sleep_for(50ms);
    EXPECT_FALSE(entered) << "one unlock of two must keep the lock held";
    mutex.Unlock();
    other.join();
    EXPECT_TRUE(entered);
}

TEST(Event, WaitReportsSignalledOrTimeoutAndStaysSetUntilReset) {
    TMPSimpleEvent event;
    EXPECT_EQ(event.WaitFor(0), kWaitTimeout);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(event.WaitFor(60), kWaitTimeout);
    EXPECT_GE(std::chrono::steady_clock::now() - start, 55ms);
    event.SetEvent();
    EXPECT_EQ(event.WaitFor(0), kWaitSignalled);
    EXPECT_EQ(event.WaitFor(kInfinite), kWaitSignalled) << "manual reset: stays set";
    event.ResetEvent();
    EXPECT_EQ(event.WaitFor(0), kWaitTimeout);
}

TEST(Event, WaitForAnyWakesOnTheEventSetFromAnotherThread) {
    TMPSimpleEvent first, second;
    std::thread setter([&] {
        std::this_thread::sleep_for(30ms);
        second.SetEvent();
    });
    EXPECT_EQ(WaitForAnyEvent({&first, &second}, kInfinite), 1u);
    setter.join();
    first.SetEvent();
    EXPECT_EQ(WaitForAnyEvent({&first, &second}, 0), 0u) << "the first set event wins";
}

TEST(Event, WordsOfDeadEventsAreNotFound) {
    uintptr_t word;
    {
        TMPSimpleEvent event;
        word = event.Word();
        EXPECT_EQ(TMPEvent::FromWord(word), &event);
    }
    EXPECT_EQ(TMPEvent::FromWord(word), nullptr);
    EXPECT_EQ(TMPEvent::FromWord(12345), nullptr);
}

TEST(LoopThread, DispatchesNothingWithoutEventMessagesOrTimeout) {
    Recorder owner;
    TMPLoopThread thread(&owner);
    thread.Resume();
    std::this_thread::sleep_for(100ms);
    EXPECT_TRUE(owner.Snapshot().empty());
    thread.PostMessage(0x500, 7);
    thread.WaitForIdle();
    EXPECT_EQ(owner.Snapshot(), std::vector<uint32_t>{0x500});
    EXPECT_EQ(owner.params[0], 7u);
}

TEST(LoopThread, MessagesPostedBeforeResumeAreHandledAfterIt) {
    Recorder owner;
    TMPLoopThread thread(&owner);
    thread.PostMessage(0x501);
    thread.PostMessage(0x502);
    std::this_thread::sleep_for(30ms);
    EXPECT_TRUE(owner.Snapshot().empty()) << "a suspended thread handles nothing";
    thread.Resume();
    thread.WaitForIdle();
    EXPECT_EQ(owner.Snapshot(), (std::vector<uint32_t>{0x501, 0x502}));
}

TEST(LoopThread, TimeoutDispatchesPeriodicallyAndChangesAtTheNextWait) {
    Recorder owner;
    TMPLoopThread thread(&owner);
    thread.SetTimeout(40);
    const auto start = std::chrono::steady_clock::now();
    thread.Resume();
    ASSERT_TRUE(owner.WaitForCount(MPM_TIMEOUT, 3));
    const size_t ticks = owner.Count(MPM_TIMEOUT);
    // Each tick takes a whole quiet wait, so a slow machine may see fewer but never more.
    EXPECT_GE(std::chrono::steady_clock::now() - start, static_cast<int64_t>(ticks) * 40ms);
    thread.SetTimeout(kInfinite);
    // The wait in progress may still run out once; the one after the idle check has no limit.
    thread.WaitForIdle();
    const size_t settled = owner.Count(MPM_TIMEOUT);
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(owner.Count(MPM_TIMEOUT), settled);
}

TEST(LoopThread, SignalledEventIsDispatchedAgainUntilTheOwnerResetsIt) {
    Recorder owner;
    TMPLoopThread thread(&owner);
    owner.watchEvent = &thread.Event();
    thread.Resume();
    thread.Event().SetEvent();
    ASSERT_TRUE(owner.WaitForCount(MPM_WATCHEVENT, 3));
    // A pass that still saw the event would dispatch it before the idle check's message.
    thread.WaitForIdle();
    EXPECT_EQ(owner.Count(MPM_WATCHEVENT), 3u);
}

TEST(LoopThread, WaitForIdleReturnsAfterEveryEarlierMessage) {
    Recorder owner;
    TMPLoopThread thread(&owner);
    thread.Resume();
    for (uint32_t i = 0; i < 500; ++i)
        thread.PostMessage(0x600 + (i % 4));
    thread.WaitForIdle();
    EXPECT_EQ(owner.Snapshot().size(), 500u);
}

TEST(LoopThread, SyncWithSomethingOtherThanAnEventIsIgnored) {
    Recorder owner;
    TMPLoopThread thread(&owner);
    thread.Resume();
    int notAnEvent = 0;
    thread.PostMessage(MPM_SYNC, reinterpret_cast<uintptr_t>(&notAnEvent));
    thread.PostMessage(MPM_SYNC, 0);
    thread.WaitForIdle();
    EXPECT_TRUE(owner.Snapshot().empty()) << "MPM_SYNC is never dispatched to the owner";
    EXPECT_EQ(notAnEvent, 0);
}

TEST(LoopThread, QuitEndsTheThreadLeavingLaterMessagesUnhandled) {
    Recorder owner;
    TMPLoopThread thread(&owner);
    thread.PostMessage(0x700);
    thread.PostMessage(MPM_QUIT);
    thread.PostMessage(0x701);
    thread.Resume();
    EXPECT_EQ(thread.Ended().WaitFor(20000), kWaitSignalled);
    EXPECT_EQ(owner.Snapshot(), std::vector<uint32_t>{0x700});
    thread.WaitForIdle(); // returns at once on an ended thread
}

TEST(LoopThread, UnhandledExceptionGoesToTheApplicationDisplayAndTheLoopGoesOn) {
    std::atomic<int> shown{0};
    std::string text;
    SetApplicationExceptionDisplay([&](const std::exception_ptr& error) {
        text = ExceptionText(error);
        ++shown;
    });
    Recorder owner;
    owner.throwOn = 0x800;
    TMPLoopThread thread(&owner);
    thread.Resume();
    thread.PostMessage(0x800);
    thread.PostMessage(0x801);
    thread.WaitForIdle();
    EXPECT_EQ(shown, 1);
    EXPECT_EQ(text, "handler failed");
    EXPECT_EQ(owner.Snapshot(), (std::vector<uint32_t>{0x800, 0x801}));
    SetApplicationExceptionDisplay(nullptr);
}

TEST(LoopThread, ExceptionMarkedHandledByTheCallbackIsNotShown) {
    std::atomic<int> shown{0};
    SetApplicationExceptionDisplay([&](const std::exception_ptr&) { ++shown; });
    Recorder owner;
    owner.throwOn = 0x800;
    TMPLoopThread thread(&owner);
    void* sender = nullptr;
    thread.OnException = [&](void* from, const std::exception_ptr&, bool& handled) {
        sender = from;
        handled = true;
    };
    thread.Resume();
    thread.PostMessage(0x800);
    thread.WaitForIdle();
    EXPECT_EQ(shown, 0);
    EXPECT_EQ(sender, &thread);
    SetApplicationExceptionDisplay(nullptr);
}

TEST(LoopThread, PrioritiesMapToNiceness) {
    EXPECT_EQ(NicenessOfPriority(kPriorityIdle), 19);
    EXPECT_EQ(NicenessOfPriority(kPriorityNormal), 0);
    EXPECT_EQ(NicenessOfPriority(kPriorityLower), 5);
    EXPECT_EQ(NicenessOfPriority(kPriorityTimeCritical), -20);
    Recorder owner;
    TMPLoopThread thread(&owner);
    thread.Resume();
    thread.PostMessage(0x900);
    thread.WaitForIdle();
    thread.SetPriority(kPriorityLower);
    EXPECT_EQ(getpriority(PRIO_PROCESS, static_cast<id_t>(thread.SystemThreadId())), 5);
    thread.SetPriority(kPriorityTimeCritical); // not permitted for most users: ignored quietly
    thread.PostMessage(0x900);
    thread.WaitForIdle();
    EXPECT_EQ(owner.Count(0x900), 2u);

    TMPLoopThread later(&owner); // a priority given before the thread runs applies at its start
    later.SetPriority(kPriorityLowest);
    later.Resume();
    later.WaitForIdle();
    EXPECT_EQ(getpriority(PRIO_PROCESS, static_cast<id_t>(later.SystemThreadId())), 10);
}

class QueueReceiver : public TMPMessageHandler {
public:
    void Dispatch(TMPMessage& message) override {
        received.push_back(message.Msg);
        if (collapse) queue->RemovePending(message.Msg);
    }
    TMPMessageQueue* queue = nullptr;
    bool collapse = true;
    std::vector<uint32_t> received;
};

TEST(MessageQueue, PostOnceAndHandlersCollapseBursts) {
    QueueReceiver receiver;
    TMPMessageQueue queue(&receiver);
    receiver.queue = &queue;
    std::atomic<int> wakes{0};
    queue.SetWakeHook([&] { ++wakes; });
    queue.PostOnce(0x40E);
    queue.PostOnce(0x40E);
    queue.Post(0x40A);
    queue.Post(0x40A);
    queue.Post(0x40C);
    EXPECT_EQ(queue.PendingCount(), 4u) << "a plain post always queues";
    EXPECT_EQ(wakes, 4);
    EXPECT_EQ(queue.Pump(), 3u);
    EXPECT_EQ(receiver.received, (std::vector<uint32_t>{0x40E, 0x40A, 0x40C}));
}

TEST(MessageQueue, PostsFromOtherThreadsWakeTheWaiterAndArriveInOrder) {
    QueueReceiver receiver;
    receiver.collapse = false;
    TMPMessageQueue queue(&receiver);
    std::thread poster([&] {
        for (uint32_t i = 0; i < 100; ++i)
            queue.Post(0x500 + i);
    });
    std::vector<uint32_t> expected;
    for (uint32_t i = 0; i < 100; ++i)
        expected.push_back(0x500 + i);
    while (receiver.received.size() < 100) {
        ASSERT_TRUE(queue.WaitForMessage(2000));
        queue.Pump();
    }
    poster.join();
    EXPECT_EQ(receiver.received, expected);
    EXPECT_FALSE(queue.WaitForMessage(10));
}

} // namespace
} // namespace pelbrisk
