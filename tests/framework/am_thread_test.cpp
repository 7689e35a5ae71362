// The worker-thread class: the command channel, the request check, the reference count
// and the end of the worker.
#include <gtest/gtest.h>

#include <atomic>
#include <new>
#include <stdexcept>
#include <thread>
#include <vector>

#include "framework/am_thread.h"

namespace {

constexpr DWORD kEcho = 10; // replies its command number + 1
constexpr DWORD kPeek = 11; // leaves itself pending, replies after seeing it twice
constexpr DWORD kExit = 12;
constexpr DWORD kWhere = 13; // S_OK when the worker knows it is the worker
constexpr DWORD kThrowOutOfMemory = 14;
constexpr DWORD kThrowOther = 15;

class Worker : public CAMThread {
public:
    explicit Worker(std::atomic<int>* destroyed = nullptr) : m_destroyed(destroyed) {}
    ~Worker() override {
        if (m_destroyed)
            ++*m_destroyed;
    }

    std::vector<DWORD> Seen; // written by the worker, read after it ended
    DWORD IdInside = 0;

protected:
    DWORD ThreadProc() override {
        IdInside = CurrentThreadId();
        for (;;) {
            DWORD command = 0;
            if (!CheckRequest(&command, INFINITE))
                continue;
            Seen.push_back(command);
            switch (command) {
            case kEcho:
                Reply(GetRequest() + 1);
                break;
            case kPeek: {
                DWORD again = 0;
                Reply(CheckRequest(&again, 0) && again == kPeek ? S_OK : E_FAIL);
                break;
            }
            case kExit:
                Reply(S_OK);
                return 0;
            case kWhere:
                Reply(IsWorkerThread() ? S_OK : E_FAIL);
                break;
            case kThrowOutOfMemory:
                throw std::bad_alloc();
            case kThrowOther:
                throw std::runtime_error("worker failure");
            default:
                Reply(DWORD(E_NOTIMPL));
                break;
            }
        }
    }

private:
    std::atomic<int>* m_destroyed;
};

TEST(AMThread, CommandsRoundTripInOrderAndTheWorkerEnds) {
    Worker worker;
    EXPECT_EQ(worker.CallWorker(kEcho), DWORD(E_FAIL)) << "no worker yet";
    ASSERT_TRUE(worker.Create());
    EXPECT_FALSE(worker.Create()) << "one worker at a time";
    EXPECT_FALSE(worker.IsWorkerThread());
    for (int i = 0; i < 100; ++i)
        ASSERT_EQ(worker.CallWorker(kEcho), kEcho + 1);
    EXPECT_EQ(worker.CallWorker(kPeek), DWORD(S_OK)) << "a checked request stays pending";
    EXPECT_EQ(worker.CallWorker(kWhere), DWORD(S_OK));
    EXPECT_EQ(worker.CallWorker(77), DWORD(E_NOTIMPL));
    EXPECT_EQ(worker.CallWorker(kExit), DWORD(S_OK));
    worker.Close();
    EXPECT_FALSE(worker.ThreadExists());
    EXPECT_EQ(worker.Seen.size(), 104u);
    EXPECT_EQ(worker.ThreadId(), worker.IdInside);
}

TEST(AMThread, ExceptionInWorker_AnswersTheCallerAndEndsOnlyTheWorker) {
    const struct {
        DWORD Command;
        HRESULT Reply;
    } cases[] = {{kThrowOutOfMemory, E_OUTOFMEMORY}, {kThrowOther, E_UNEXPECTED}};
    Worker worker;
    for (const auto& c : cases) {
        ASSERT_TRUE(worker.Create());
        EXPECT_EQ(worker.CallWorker(kEcho), kEcho + 1);
        EXPECT_EQ(worker.CallWorker(c.Command), DWORD(c.Reply)) << c.Command;
        EXPECT_EQ(worker.CallWorker(kEcho), DWORD(E_FAIL)) << "a dead worker answered";
        worker.Close();
        ASSERT_TRUE(worker.Create());
        EXPECT_FALSE(worker.CheckRequest(nullptr, 0)) << "the dead worker's command is pending";
        EXPECT_EQ(worker.CallWorker(kEcho), kEcho + 1);
        EXPECT_EQ(worker.CallWorker(kExit), DWORD(S_OK));
        worker.Close();
    }
}

TEST(AMThread, CallersOnManyThreadsEachGetTheirOwnReply) {
    Worker worker;
    ASSERT_TRUE(worker.Create());
    std::atomic<int> wrong{0};
    std::vector<std::thread> callers;
    for (int t = 0; t < 4; ++t) {
        callers.emplace_back([&worker, &wrong, t] {
            for (int i = 0; i < 200; ++i) {
                const DWORD command = (i + t) % 2 ? kEcho : 77;
                const DWORD expected = command == kEcho ? kEcho + 1 : DWORD(E_NOTIMPL);
                if (worker.CallWorker(command) != expected)
                    ++wrong;
            }
        });
    }
    for (std::thread& caller : callers)
        caller.join();
    EXPECT_EQ(wrong.load(), 0);
    worker.CallWorker(kExit);
    worker.Close();
}

TEST(AMThread, ReferenceCountDeletesAtZeroFromAnyThread) {
    std::atomic<int> destroyed{0};
    Worker* worker = new Worker(&destroyed);
    std::vector<std::thread> holders;
    for (int t = 0; t < 4; ++t) {
        worker->AddRef();
        holders.emplace_back([worker] {
            for (int i = 0; i < 1000; ++i) {
                worker->AddRef();
                worker->Release();
            }
            worker->Release();
        });
    }
    for (std::thread& holder : holders)
        holder.join();
    EXPECT_EQ(destroyed.load(), 0);
    EXPECT_EQ(worker->AddRef(), 2u);
    EXPECT_EQ(worker->Release(), 1u);
    EXPECT_EQ(worker->Release(), 0u);
    EXPECT_EQ(destroyed.load(), 1);
}

} // namespace
