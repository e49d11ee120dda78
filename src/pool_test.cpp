// The pool's failure rule: whatever the workers and their timing, the error
// that reaches the caller is the one of the lowest failing element, every
// element below it has run, no element runs twice, and the elements above a
// failure stop soon after it.
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <random>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "pool.h"
#include "testing/check.h"

namespace {

// Work that takes a while without sleeping: later elements get ahead of
// earlier ones.
std::uint64_t busy(std::uint64_t rounds) {
    std::uint64_t x = rounds;
    for (std::uint64_t r = 0; r < rounds; ++r) x = x * 6364136223846793005ULL + 1442695040888963407ULL;
    return x;
}

void check_failures(std::mt19937_64& rng, std::size_t n) {
    std::set<std::size_t> failing;
    const std::size_t count = rng() % 4;
    for (std::size_t k = 0; k < count && n > 0; ++k) failing.insert(rng() % n);
    // Often a failure early in the first chunks, and one far above it.
    if (n >= 64 && rng() % 2) failing.insert({rng() % (n / 16), n / 2 + rng() % (n / 2)});
    // The elements up to the lowest failure are slow, so the failures above
    // it are usually met first, while those elements are still running.
    const std::size_t slow = failing.empty() ? n : *failing.begin();
    std::unique_ptr<std::atomic<int>[]> runs(new std::atomic<int>[n]());
    std::atomic<std::uint64_t> sink{0};
    std::string caught;
    try {
        talvo::pool::for_each(n, [&](std::size_t i) {
            runs[i].fetch_add(1);
            sink += busy(i <= slow ? 3000 : 10);
            if (failing.count(i)) throw std::runtime_error("element " + std::to_string(i));
        });
    } catch (const std::runtime_error& e) {
        caught = e.what();
    }
    CHECK(caught == (failing.empty() ? "" : "element " + std::to_string(slow)));
    for (std::size_t i = 0; i < n; ++i) {
        CHECK(runs[i].load() <= 1);
        if (i <= slow) CHECK(runs[i].load() == 1);
    }
}

// Once an element has failed, the elements above it stop: a worker inside a
// chunk breaks off at its next element, and chunks claimed later run none.
// The others start only once element 0 is about to throw, so only the few
// elements already under way when it is recorded may still run.
void check_work_stops_after_a_failure() {
    const std::size_t n = 200000;
    std::atomic<bool> zero_started{false};
    std::atomic<std::size_t> ran{0};
    std::atomic<std::uint64_t> sink{0};
    bool caught = false;
    try {
        talvo::pool::for_each(n, [&](std::size_t i) {
            if (i == 0) {
                zero_started.store(true);
                throw std::runtime_error("element 0");
            }
            while (!zero_started.load()) std::this_thread::yield();
            ran.fetch_add(1);
            sink += busy(200);
        });
    } catch (const std::runtime_error&) {
        caught = true;
    }
    CHECK(caught);
    CHECK(ran.load() < n / 2);
    if (ran.load() >= n / 2) std::fprintf(stderr, "  %zu of %zu elements ran after element 0 failed\n", ran.load(), n);
}

}  // namespace

int main() {
    std::mt19937_64 rng(7);
    CHECK(talvo::pool::worker_count() >= 1);
    for (int round = 0; round < 300; ++round) check_failures(rng, rng() % 3000);
    for (int round = 0; round < 5; ++round) check_work_stops_after_a_failure();

    // Results land in input order, and jobs from several threads run one
    // after another without mixing.
    std::vector<std::thread> callers;
    std::atomic<int> wrong{0};
    for (int t = 0; t < 4; ++t) {
        callers.emplace_back([&, t] {
            for (int job = 0; job < 50; ++job) {
                const std::size_t n = 100 + 37 * static_cast<std::size_t>(job + t);
                std::vector<std::size_t> out = talvo::pool::map<std::size_t>(n, [&](std::size_t i) { return i * 3 + t; });
                for (std::size_t i = 0; i < n; ++i)
                    if (out[i] != i * 3 + static_cast<std::size_t>(t)) ++wrong;
            }
        });
    }
    for (auto& c : callers) c.join();
    CHECK(wrong.load() == 0);
    return talvo::testing::finish("pool_test");
}
