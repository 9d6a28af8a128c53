// SPDX-License-Identifier: BSD-3-Clause
// The threads of one call: a team created for the call and joined before it
// returns, so that no thread outlives a call (a process may fork between
// calls, and its child then starts from a clean state).
//
// A call cuts its work into parts that share no output element: every
// element gets its operations from one part, in the order one thread gives
// them, so the results are the same bits for any number of threads. The
// parts go to the threads in turn, the calling thread among them; each
// thread runs a part with its slot (0 to threads - 1, the calling thread's
// 0), whose scratch it alone uses.
//
// Interrupts and errors: a part polls through the `Poll` it is given. On
// the calling thread that runs the host's poll (which may throw, for
// instance at Ctrl-C); on a worker it only looks at the team's stop flag.
// While the calling thread waits for the workers it keeps polling the host.
// Whatever ends one thread (a host interrupt, out of memory) stops the
// others at their next poll; all are joined before `run` returns or
// rethrows, so nothing runs on after the call and every worker's writes
// are done. Workers never call the host, and run with every signal blocked.
//
// A standard library without threads (MinGW-w64's win32 thread model before
// GCC 13) runs every part on the calling thread.
#ifndef KERNELS_THREADS_H
#define KERNELS_THREADS_H

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <exception>
#include <vector>

#if defined(_WIN32) && defined(__GLIBCXX__) && !defined(_GLIBCXX_HAS_GTHREADS)
#define TABLEFOLD_NO_THREADS 1
#endif
#if !defined(TABLEFOLD_NO_THREADS)
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#endif

#if defined(__linux__)
#include <sched.h>
#endif
#if !defined(_WIN32)
#include <pthread.h>
#include <signal.h>
#endif

namespace threads {

// The most threads a call starts.
inline constexpr int kMaxThreads = 1024;

// The processors this process may run on: its affinity mask where the
// system has one, else the machine's count.
inline int processors() {
#if defined(TABLEFOLD_NO_THREADS)
    return 1;
#else
#if defined(__linux__)
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) == 0) {
        const int n = CPU_COUNT(&set);
        if (n > 0) return n;
    }
#endif
    const unsigned n = std::thread::hardware_concurrency();
    return n == 0 ? 1 : n > unsigned(kMaxThreads) ? kMaxThreads : static_cast<int>(n);
#endif
}

// The threads TABLEFOLD_THREADS asks for, read at each call: a whole number
// from 1 to kMaxThreads written in decimal digits alone; 0 when it is unset
// or asks for nothing valid (empty, 0, negative, not a number, too large).
inline int asked() {
    const char* const text = std::getenv("TABLEFOLD_THREADS");
    if (text == nullptr) return 0;
    long n = 0;
    const char* p = text;
    for (; *p >= '0' && *p <= '9' && n <= kMaxThreads; ++p)
        n = n * 10 + (*p - '0');
    return p != text && *p == '\0' && n >= 1 && n <= kMaxThreads ? static_cast<int>(n) : 0;
}

// The threads of a call: what TABLEFOLD_THREADS asks for, else the
// processors the process may run on.
inline int for_call() {
    const int n = asked();
    return n > 0 ? n : processors();
}

// The work that pays for starting a second thread is each kernel's own
// (its kThreadWork, in the units its calls count: elements written, terms
// added), measured where the threads' speed-up passes 1: a call with less
// stays on the calling thread. TABLEFOLD_THREAD_WORK (decimal digits alone),
// read at each call, replaces it; 0 makes every call use the threads
// TABLEFOLD_THREADS gives, as the tests do to run small calls on several
// threads.
inline int64_t least_work(int64_t usual) {
    const char* const text = std::getenv("TABLEFOLD_THREAD_WORK");
    if (text == nullptr || *text == '\0') return usual;
    int64_t n = 0;
    const char* p = text;
    for (; *p >= '0' && *p <= '9' && n < (int64_t(1) << 56); ++p)
        n = n * 10 + (*p - '0');
    return *p == '\0' ? n : usual;
}

// The threads for a call of `work` when `threads` are asked for and
// `usual` is the kernel's least work for a second thread: 1 below
// least_work(usual), else at most one per half of it.
inline int for_work(int64_t work, int64_t usual, int threads) {
    const int64_t least = least_work(usual);
    if (work < least) return 1;
    if (least < 2) return threads;
    const int64_t most = work / (least / 2);
    return most < threads ? static_cast<int>(most) : threads;
}

// Lets the other threads run while this one waits for them.
inline void pause() {
#if !defined(TABLEFOLD_NO_THREADS)
    std::this_thread::yield();
#endif
}

// Thrown by a worker's poll once the call is stopped; `run` catches it.
struct Stopped {};

// What a part polls through (see the top of this file).
class Poll {
  public:
    Poll(const std::atomic<bool>& stop, void (*host)()) : stop_(stop), host_(host) {}
    void poll() const {
        if (host_) host_();
        if (stop_.load(std::memory_order_relaxed)) throw Stopped();
    }

  private:
    const std::atomic<bool>& stop_;
    void (*host_)();
};

#if !defined(TABLEFOLD_NO_THREADS)
namespace detail {

// Blocks every signal on the calling thread while it lives, so that the
// threads it starts inherit a full mask: signals go to the host's threads.
class BlockSignals {
  public:
#if !defined(_WIN32)
    BlockSignals() {
        sigset_t all;
        sigfillset(&all);
        pthread_sigmask(SIG_SETMASK, &all, &saved_);
    }
    ~BlockSignals() {
        pthread_sigmask(SIG_SETMASK, &saved_, nullptr);
    }

  private:
    sigset_t saved_;
#endif
};

// One worker thread running fn(context, slot). On POSIX systems a thread
// of its own with a small stack, started and joined without the C
// library's allocator, so that a worker that allocates nothing gets no
// allocator arena of its own (an arena reserves 64 MiB of address space,
// which counts against a virtual memory limit); elsewhere a std::thread.
class Thread {
  public:
    using Body = void (*)(void* context, int slot);

    // False when the system refuses another thread.
    bool start(Body body, void* context, int slot) {
        job_ = Job{body, context, slot};
#if !defined(_WIN32)
        pthread_attr_t attr;
        if (pthread_attr_init(&attr) != 0) return false;
        pthread_attr_setstacksize(&attr, kStack);
        started_ = pthread_create(&id_, &attr, &Thread::main, &job_) == 0;
        pthread_attr_destroy(&attr);
#else
        try {
            thread_ = std::thread(&Thread::main, &job_);
            started_ = true;
        } catch (...) {
            started_ = false;
        }
#endif
        return started_;
    }
    void join() {
        if (!started_) return;
#if !defined(_WIN32)
        pthread_join(id_, nullptr);
#else
        thread_.join();
#endif
        started_ = false;
    }

  private:
    static constexpr size_t kStack = size_t(1) << 20; // the kernels' parts need a few kB
    struct Job {
        Body body;
        void* context;
        int slot;
    };
    static void* main(void* job) {
        const Job& j = *static_cast<Job*>(job);
        j.body(j.context, j.slot);
        return nullptr;
    }

    Job job_{};
    bool started_ = false;
#if !defined(_WIN32)
    pthread_t id_{};
#else
    std::thread thread_;
#endif
};

} // namespace detail
#endif

// Runs part(i, poll, slot) for every i in [0, parts) on up to `threads`
// threads, the calling thread one of them; `host_poll` is the host's poll
// for the calling thread (nullptr: none). Returns once every part is done,
// or rethrows, after joining every thread, what stopped the call: the
// calling thread's own exception, else the first worker's.
//
// `lead()`, where given, runs on the calling thread once the workers are
// started and before it takes a part: work that only the calling thread
// may do and that parts may wait for (polling as they wait).
template <class Part, class Lead>
void run(int threads, int32_t parts, void (*host_poll)(), Part&& part, Lead&& lead) {
#if defined(TABLEFOLD_NO_THREADS)
    const std::atomic<bool> stop{false};
    const Poll poll(stop, host_poll);
    static_cast<void>(threads);
    lead();
    for (int32_t i = 0; i < parts; ++i)
        part(i, poll, 0);
#else
    if (threads > parts) threads = parts;
    if (threads < 1) threads = 1;
    std::atomic<int32_t> next{0};
    std::atomic<bool> stop{false};
    std::mutex mutex;
    std::condition_variable done;
    int running = 0;
    std::exception_ptr failure;

    auto take_parts = [&](const Poll& poll, int slot) {
        for (;;) {
            if (stop.load(std::memory_order_relaxed)) return;
            const int32_t i = next.fetch_add(1, std::memory_order_relaxed);
            if (i >= parts) return;
            part(i, poll, slot);
        }
    };
    // A worker allocates nothing on its own but the exception that stops it.
    auto worker = [&](int slot) {
        try {
            take_parts(Poll(stop, nullptr), slot);
        } catch (const Stopped&) {
        } catch (...) {
            const std::lock_guard<std::mutex> lock(mutex);
            if (!failure) failure = std::current_exception();
            stop.store(true);
        }
        const std::lock_guard<std::mutex> lock(mutex);
        --running;
        done.notify_one();
    };

    using Worker = decltype(worker);
    const detail::Thread::Body body = [](void* context, int slot) {
        (*static_cast<Worker*>(context))(slot);
    };
    std::vector<detail::Thread> team(static_cast<size_t>(threads - 1));
    auto join_all = [&] {
        stop.store(true);
        for (detail::Thread& t : team)
            t.join();
    };
    try {
        if (threads > 1) {
            [[maybe_unused]] const detail::BlockSignals blocked;
            for (int slot = 1; slot < threads; ++slot) {
                {
                    const std::lock_guard<std::mutex> lock(mutex);
                    ++running;
                }
                if (!team[static_cast<size_t>(slot - 1)].start(body, &worker, slot)) {
                    const std::lock_guard<std::mutex> lock(mutex);
                    --running;
                    break; // no more threads: the started ones and this one do the work
                }
            }
        }
        lead();
        take_parts(Poll(stop, host_poll), 0);
        // Wait for the workers, polling the host meanwhile.
        std::unique_lock<std::mutex> lock(mutex);
        while (running > 0) {
            done.wait_for(lock, std::chrono::milliseconds(5));
            if (running == 0) break;
            lock.unlock();
            if (host_poll) host_poll();
            if (stop.load()) throw Stopped();
            lock.lock();
        }
    } catch (const Stopped&) {
        join_all();
        if (failure) std::rethrow_exception(failure);
        throw;
    } catch (...) {
        join_all();
        throw;
    }
    for (detail::Thread& t : team)
        t.join();
    if (failure) std::rethrow_exception(failure);
#endif
}

template <class Part> void run(int threads, int32_t parts, void (*host_poll)(), Part&& part) {
    run(threads, parts, host_poll, static_cast<Part&&>(part), [] {});
}

} // namespace threads

#endif
