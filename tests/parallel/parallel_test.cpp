// Parallel loops: how ranges are cut, that every index is visited exactly once whatever the
// number of workers, how exceptions come back, and that nested calls cannot deadlock.
//
// This machine may have too few cores for the process-wide pool to own threads, so the pool
// itself is exercised through pools built with an explicit thread count.

#include "render/parallel.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <utility>
#include <vector>

namespace {

using Range = std::pair<std::size_t, std::size_t>;

// Records every (from, to) call, in any order, and returns them sorted.
struct CallLog {
  std::mutex mutex;
  std::vector<Range> calls;
  void Add(std::size_t from, std::size_t to) {
    std::lock_guard<std::mutex> lock(mutex);
    calls.emplace_back(from, to);
  }
  std::vector<Range> Sorted() {
    std::lock_guard<std::mutex> lock(mutex);
    std::vector<Range> sorted = calls;
    std::sort(sorted.begin(), sorted.end());
    return sorted;
  }
};

// The pieces a plan produces, skipping those that start beyond the end.
std::vector<Range> PiecesOf(const Parallel::SplitPlan& plan, std::size_t begin, std::size_t end) {
  std::vector<Range> pieces;
  if (plan.pieces == 1) {
    pieces.emplace_back(begin, end);
    return pieces;
  }
  for (std::size_t i = 0; i < plan.pieces; ++i) {
    const std::size_t from = begin + i * plan.size;
    if (from < end) pieces.emplace_back(from, std::min(from + plan.size, end));
  }
  return pieces;
}

TEST(ParallelPlan, WorkerCountLeavesOneHardwareThreadFree) {
  EXPECT_EQ(Parallel::WorkerCountFor(0), 1u);  // unknown
  EXPECT_EQ(Parallel::WorkerCountFor(1), 1u);
  EXPECT_EQ(Parallel::WorkerCountFor(2), 1u);
  EXPECT_EQ(Parallel::WorkerCountFor(3), 2u);
  EXPECT_EQ(Parallel::WorkerCountFor(8), 7u);
  EXPECT_EQ(Parallel::WorkerCountFor(64), 63u);
  EXPECT_EQ(Parallel::WorkerCount(), Parallel::WorkerCountFor(std::thread::hardware_concurrency()));
}

TEST(ParallelPlan, CutsAsTheWorkedExamplesSay) {
  struct Case {
    std::size_t begin, end, grain, workers;
    std::size_t pieces, size;
  };
  const Case cases[] = {
      {5, 5, 1, 7, 0, 0},              // empty range: nothing
      {9, 3, 1, 7, 0, 0},              // reversed range: nothing
      {0, 1, 1, 7, 1, 1},              // one index runs whole on the caller
      {0, 3, 1, 7, 3, 1},              // grain 1 over 3 items: 3 pieces of 1
      {0, 640, 12, 7, 53, 13},         // canyon columns: k = 7, min(56, 53) pieces of 13
      {0, 230400, 4096, 7, 56, 4115},  // pixels: 56 pieces of 4115, the last shorter
      {0, 640, 12, 1, 1, 640},         // one worker: never split
      {0, 640, 12, 2, 16, 40},         // k = 2: 8 pieces per worker
      {0, 640, 12, 4, 32, 20},
      {0, 640, 12, 8, 53, 13},
      {0, 100, 60, 7, 1, 100},  // fewer than 2 grains: one call
      {0, 120, 60, 7, 2, 60},   // exactly 2 grains: 2 pieces
      {10, 20, 0, 4, 10, 1},    // grain 0 counts as 1
  };
  for (const Case& c : cases) {
    const Parallel::SplitPlan plan = Parallel::PlanSplit(c.begin, c.end, c.grain, c.workers);
    EXPECT_EQ(plan.pieces, c.pieces) << "[" << c.begin << ", " << c.end << ") grain " << c.grain << " W "
                                     << c.workers;
    if (c.pieces != 0) {
      EXPECT_EQ(plan.size, c.size) << "[" << c.begin << ", " << c.end << ") grain " << c.grain << " W "
                                   << c.workers;
    }
  }
}

TEST(ParallelPlan, CanyonExampleSkipsPiecesBeyondTheEnd) {
  const Parallel::SplitPlan plan = Parallel::PlanSplit(0, 640, 12, 7);
  const std::vector<Range> pieces = PiecesOf(plan, 0, 640);
  ASSERT_EQ(pieces.size(), 50u);  // 53 pieces, the last three start at 650, 663, 676
  EXPECT_EQ(pieces.back(), Range(637, 640));
}

TEST(ParallelPlan, PiecesCoverEveryIndexOnceAndRespectTheGrain) {
  const std::size_t workers_list[] = {1, 2, 3, 4, 7, 8, 16, 63};
  const std::size_t ranges[][3] = {{0, 1, 1},         {0, 7, 1},      {3, 1000, 1},
                                   {0, 640, 12},      {0, 360, 4},    {17, 5000, 64},
                                   {0, 230400, 4096}, {100, 101, 50}, {0, 999, 1000}};
  for (std::size_t workers : workers_list) {
    for (const auto& r : ranges) {
      const std::size_t begin = r[0], end = r[1], grain = r[2];
      const Parallel::SplitPlan plan = Parallel::PlanSplit(begin, end, grain, workers);
      EXPECT_LE(plan.pieces, 8 * workers);
      const std::vector<Range> pieces = PiecesOf(plan, begin, end);
      std::size_t next = begin;
      for (std::size_t i = 0; i < pieces.size(); ++i) {
        EXPECT_EQ(pieces[i].first, next);
        EXPECT_LT(pieces[i].first, pieces[i].second);
        // Only the last piece may be smaller than the grain (when there is more than one).
        if (pieces.size() > 1 && i + 1 < pieces.size()) {
          EXPECT_GE(pieces[i].second - pieces[i].first, grain);
        }
        next = pieces[i].second;
      }
      EXPECT_EQ(next, end) << "W " << workers << " [" << begin << ", " << end << ")";
    }
  }
}

TEST(ParallelPlan, RangeAtTheTopOfSizeTDoesNotOverflow) {
  const std::size_t top = static_cast<std::size_t>(-1);
  CallLog log;
  ThreadPool pool(2);
  Parallel::ForRangeIn(pool, top - 100, top, 1, [&](std::size_t from, std::size_t to) { log.Add(from, to); });
  const std::vector<Range> calls = log.Sorted();
  ASSERT_FALSE(calls.empty());
  EXPECT_EQ(calls.front().first, top - 100);
  EXPECT_EQ(calls.back().second, top);
  for (std::size_t i = 1; i < calls.size(); ++i) EXPECT_EQ(calls[i].first, calls[i - 1].second);
}

TEST(ParallelLoops, EmptyAndSingleRangesRunOnTheCaller) {
  int calls = 0;
  Parallel::ForRange(5, 5, 1, [&](std::size_t, std::size_t) { ++calls; });
  EXPECT_EQ(calls, 0);

  const std::thread::id caller = std::this_thread::get_id();
  std::vector<Range> seen;
  std::thread::id ran_on;
  Parallel::ForRange(0, 1, 1, [&](std::size_t from, std::size_t to) {
    seen.emplace_back(from, to);
    ran_on = std::this_thread::get_id();
  });
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0], Range(0, 1));
  EXPECT_EQ(ran_on, caller);
}

TEST(ParallelLoops, ProcessPoolFollowsTheMachinesWorkerCount) {
  // With one worker (1 or 2 hardware threads) every call is one fn(begin, end) on the caller.
  CallLog log;
  Parallel::ForRange(0, 640, 12, [&](std::size_t from, std::size_t to) { log.Add(from, to); });
  const std::vector<Range> calls = log.Sorted();
  const Parallel::SplitPlan plan = Parallel::PlanSplit(0, 640, 12, Parallel::WorkerCount());
  EXPECT_EQ(calls, PiecesOf(plan, 0, 640));
  if (Parallel::WorkerCount() == 1) {
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(ThreadPool::Instance().ThreadCount(), 0u);
  }
}

TEST(ParallelLoops, ForVisitsEveryIndexOnceForAnyPoolSize) {
  const std::size_t thread_counts[] = {0, 1, 3, 6, 7};
  for (std::size_t threads : thread_counts) {
    ThreadPool pool(threads);
    EXPECT_EQ(pool.ThreadCount(), threads);
    for (std::size_t n : {1u, 2u, 3u, 97u, 640u, 10007u}) {
      std::vector<std::atomic<int>> hits(n + 10);
      Parallel::ForRangeIn(pool, 10, n + 10, 1, [&](std::size_t from, std::size_t to) {
        for (std::size_t i = from; i < to; ++i) hits[i].fetch_add(1);
      });
      for (std::size_t i = 0; i < hits.size(); ++i)
        ASSERT_EQ(hits[i].load(), i < 10 ? 0 : 1) << "threads " << threads << " n " << n << " i " << i;
    }
  }

  // The process-wide template, with indices in increasing order inside each piece.
  std::vector<std::atomic<int>> hits(5000);
  Parallel::For(0, hits.size(), 16, [&](std::size_t i) { hits[i].fetch_add(1); });
  for (std::size_t i = 0; i < hits.size(); ++i) ASSERT_EQ(hits[i].load(), 1) << i;
}

TEST(ParallelLoops, PoolRunsTheCanyonSplitOnItsThreads) {
  ThreadPool pool(6);  // W = 7
  CallLog log;
  std::mutex ids_mutex;
  std::vector<std::thread::id> ids;
  Parallel::ForRangeIn(pool, 0, 640, 12, [&](std::size_t from, std::size_t to) {
    log.Add(from, to);
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    std::lock_guard<std::mutex> lock(ids_mutex);
    ids.push_back(std::this_thread::get_id());
    EXPECT_EQ(ThreadPool::TaskDepth(), 1);
  });
  EXPECT_EQ(log.Sorted(), PiecesOf(Parallel::PlanSplit(0, 640, 12, 7), 0, 640));
  std::sort(ids.begin(), ids.end());
  ids.erase(std::unique(ids.begin(), ids.end()), ids.end());
  EXPECT_GT(ids.size(), 1u) << "50 pieces of 1 ms each all ran on one thread";
  EXPECT_EQ(ThreadPool::TaskDepth(), 0);
}

TEST(ParallelLoops, ExceptionIsRethrownOnceAfterEveryPieceFinished) {
  ThreadPool pool(3);
  for (int throwing : {1, 5}) {
    std::atomic<int> finished{0};
    int caught = 0;
    try {
      pool.Run(20, [&](std::size_t piece) {
        if (piece < static_cast<std::size_t>(throwing)) {
          finished.fetch_add(1);
          throw std::runtime_error("piece " + std::to_string(piece));
        }
        // Slow pieces: a rethrow before they end would see finished < 20.
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        finished.fetch_add(1);
      });
    } catch (const std::runtime_error& e) {
      ++caught;
      EXPECT_EQ(finished.load(), 20) << "rethrown before all pieces finished";
      EXPECT_EQ(std::string(e.what()).rfind("piece ", 0), 0u);
    }
    EXPECT_EQ(caught, 1) << throwing << " throwing pieces";
  }

  // The pool is still usable afterwards.
  std::atomic<int> count{0};
  pool.Run(10, [&](std::size_t) { count.fetch_add(1); });
  EXPECT_EQ(count.load(), 10);
}

TEST(ParallelLoops, SerialExceptionStopsAtOnce) {
  ThreadPool pool(0);
  std::vector<std::size_t> ran;
  EXPECT_THROW(pool.Run(5,
                        [&](std::size_t piece) {
                          ran.push_back(piece);
                          if (piece == 2) throw std::logic_error("two");
                        }),
               std::logic_error);
  EXPECT_EQ(ran, (std::vector<std::size_t>{0, 1, 2}));
}

TEST(ParallelLoops, NestedCallsRunSeriallyWithoutDeadlock) {
  ThreadPool pool(3);
  std::vector<std::atomic<int>> hits(64 * 64);
  std::atomic<int> inner_on_other_thread{0};
  Parallel::ForRangeIn(pool, 0, 64, 1, [&](std::size_t row_from, std::size_t row_to) {
    for (std::size_t row = row_from; row < row_to; ++row) {
      const std::thread::id outer = std::this_thread::get_id();
      Parallel::ForRangeIn(pool, 0, 64, 1, [&](std::size_t from, std::size_t to) {
        if (std::this_thread::get_id() != outer) inner_on_other_thread.fetch_add(1);
        EXPECT_EQ(ThreadPool::TaskDepth(), 1);
        for (std::size_t col = from; col < to; ++col) hits[row * 64 + col].fetch_add(1);
      });
      // The process-wide loop nested in a piece of another pool is serial too.
      Parallel::For(0, 8, 1, [&](std::size_t) {
        if (std::this_thread::get_id() != outer) inner_on_other_thread.fetch_add(1);
      });
    }
  });
  EXPECT_EQ(inner_on_other_thread.load(), 0);
  for (std::size_t i = 0; i < hits.size(); ++i) ASSERT_EQ(hits[i].load(), 1) << i;
}

TEST(ParallelLoops, PoolDrainsAndJoinsOnDestruction) {
  // Many short batches then destruction: no lost pieces, no hang.
  std::atomic<int> count{0};
  {
    ThreadPool pool(4);
    for (int batch = 0; batch < 200; ++batch) pool.Run(9, [&](std::size_t) { count.fetch_add(1); });
  }
  EXPECT_EQ(count.load(), 200 * 9);
}

}  // namespace
