#include "foundation/Clock.h"
#include "foundation/MainThread.h"
#include "foundation/NotificationCenter.h"
#include "foundation/Workers.h"
#include "support/Waits.h"

#include <QCoreApplication>
#include <QThread>

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>

using namespace lf;
using namespace std::chrono_literals;

TEST(NotificationCenter, WorkerNotificationsArriveLaterOnTheMainThreadInOrder) {
    QObject owner;
    std::vector<int> received;
    bool allOnMain = true;
    NotificationCenter::defaultCenter().addObserver(
        &owner, QStringLiteral("step"), [&](const Notification &n) {
            allOnMain = allOnMain && QThread::currentThread() == qApp->thread();
            received.push_back(n.object.toInt());
        });

    std::atomic<bool> handedOver {false};
    std::atomic<bool> deliveredBeforeReturn {false};
    std::thread worker([&] {
        for (int i = 0; i < 100; ++i)
            NotificationCenter::defaultCenter().postNotificationMainThread(QStringLiteral("step"), i);
        deliveredBeforeReturn = !received.empty();
        handedOver = true;
    });
    worker.join();
    EXPECT_TRUE(handedOver);
    EXPECT_FALSE(deliveredBeforeReturn);
    EXPECT_TRUE(received.empty());

    ASSERT_TRUE(lf::test::waitUntil([&] { return received.size() == 100; }, 5000));
    EXPECT_TRUE(allOnMain);
    for (int i = 0; i < 100; ++i)
        EXPECT_EQ(received[size_t(i)], i);
}

TEST(NotificationCenter, PostCallsObserversAtOnceAndForgetsDeadOwners) {
    int hits = 0;
    QString lastName;
    auto owner = std::make_unique<QObject>();
    NotificationCenter::defaultCenter().addObserver(
        owner.get(), QStringLiteral("a"), [&](const Notification &) { ++hits; });
    NotificationCenter::defaultCenter().addObserver(
        owner.get(), QString(), [&](const Notification &n) { lastName = n.name; });
    NotificationCenter::defaultCenter().post(QStringLiteral("a"));
    NotificationCenter::defaultCenter().post(QStringLiteral("b"), {}, {{"k", 1}});
    EXPECT_EQ(hits, 1);
    EXPECT_EQ(lastName, QStringLiteral("b"));

    // On the main thread the hand-over posts at once.
    NotificationCenter::defaultCenter().postNotificationMainThread(QStringLiteral("a"));
    EXPECT_EQ(hits, 2);

    NotificationCenter::defaultCenter().removeObserver(owner.get(), QStringLiteral("a"));
    NotificationCenter::defaultCenter().post(QStringLiteral("a"));
    EXPECT_EQ(hits, 2);
    EXPECT_EQ(lastName, QStringLiteral("a"));
    owner.reset();
    NotificationCenter::defaultCenter().post(QStringLiteral("c"));
    EXPECT_EQ(lastName, QStringLiteral("a"));
}

TEST(MainThread, WaitingCallRunsOnTheMainThreadAndDirectlyThere) {
    bool ranDirectly = false;
    runOnMainThreadAndWait([&] { ranDirectly = true; });
    EXPECT_TRUE(ranDirectly);

    // A worker that waits for the main thread while the main thread waits for the worker.
    std::atomic<bool> ranOnMain {false};
    ASSERT_TRUE(Workers::instance().start(QStringLiteral("waiter"),
        [&] { runOnMainThreadAndWait([&] { ranOnMain = QThread::currentThread() == qApp->thread(); }); }));
    EXPECT_TRUE(Workers::instance().waitForAll(5000));
    EXPECT_TRUE(ranOnMain);
}

TEST(MainThread, AWaiterEndsWhenAnotherThreadSaysSoOrAtItsTimeout) {
    MainThreadWaiter waiter;
    std::atomic<bool> ready {false};
    std::atomic<bool> mainCallRan {false};
    std::thread setter([&] {
        // The main thread keeps serving calls while it waits.
        runOnMainThreadAndWait([&] { mainCallRan = true; });
        ready = true;
        waiter.notify();
    });
    EXPECT_TRUE(waiter.wait([&] { return ready.load(); }, 5000));
    setter.join();
    EXPECT_TRUE(mainCallRan);
    EXPECT_FALSE(waiter.wait([] { return false; }, 20));

    // Off the main thread the wait blocks until notified.
    std::atomic<bool> go {false};
    std::atomic<bool> woke {false};
    std::thread blocked([&] { woke = waiter.wait([&] { return go.load(); }, 5000); });
    go = true;
    waiter.notify();
    blocked.join();
    EXPECT_TRUE(woke);

    // A notifier may outlive its waiter.
    std::function<void()> late;
    {
        MainThreadWaiter gone;
        late = gone.notifier();
    }
    late();
}

TEST(Workers, CancelReachesRunningWorkersOnlyAndExceptionsStayInside) {
    std::atomic<bool> sawCancel {false};
    std::atomic<bool> started {false};
    ASSERT_TRUE(Workers::instance().start(QStringLiteral("long"), [&] {
        started = true;
        while (!Workers::cancelled())
            std::this_thread::sleep_for(1ms);
        sawCancel = true;
    }));
    ASSERT_TRUE(
        Workers::instance().start(QStringLiteral("thrower"), [] { throw std::runtime_error("boom"); }));
    while (!started)
        std::this_thread::yield();
    Workers::instance().cancelAll();
    EXPECT_TRUE(Workers::instance().waitForAll(5000));
    EXPECT_TRUE(sawCancel);
    EXPECT_EQ(Workers::instance().runningCount(), 0);

    std::atomic<bool> laterCancelled {true};
    Workers::instance().start(QStringLiteral("later"), [&] { laterCancelled = Workers::cancelled(); });
    Workers::instance().waitForAll(5000);
    EXPECT_FALSE(laterCancelled);
}

TEST(Workers, ShutdownWaitsAndRefusesNewWork) {
    Workers workers;
    std::atomic<int> done {0};
    for (int i = 0; i < 5; ++i)
        workers.start(QStringLiteral("w"), [&] {
            std::this_thread::sleep_for(5ms);
            ++done;
        });
    workers.shutdown();
    EXPECT_EQ(done.load(), 5);
    EXPECT_FALSE(workers.start(QStringLiteral("late"), [] {}));
}

TEST(Clock, FakeClockRunsLongWaitsAtOnce) {
    ScopedFakeClock fake;
    const QDateTime start = Clock::instance().now();
    const qint64 t0 = Clock::instance().monotonicMs();
    // The request layer's nine retry delays add up to 162 seconds.
    for (const int seconds : {1, 1, 5, 5, 15, 15, 30, 30, 60})
        Clock::instance().sleep(std::chrono::seconds(seconds));
    EXPECT_EQ(fake.clock.slept(), 162s);
    EXPECT_EQ(fake.clock.sleepCount(), 9);
    EXPECT_EQ(start.secsTo(Clock::instance().now()), 162);
    EXPECT_DOUBLE_EQ(Clock::instance().secondsSince(t0), 162.0);
}

TEST(Clock, SleepUnlessStopsOnCancel) {
    ScopedFakeClock fake;
    int polls = 0;
    EXPECT_FALSE(Clock::instance().sleepUnless(
        60s, [&] { return ++polls > 3; }, 1s));
    EXPECT_EQ(fake.clock.slept(), 3s);
    EXPECT_TRUE(Clock::instance().sleepUnless(10s, [] { return false; }));
    EXPECT_EQ(fake.clock.slept(), 13s);
}
