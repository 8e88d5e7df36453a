#include "render/parallel.h"

#include <algorithm>

namespace {

// Raised while this thread executes a piece: a parallel call made from inside a piece then
// runs serially instead of waiting on the pool it runs in.
thread_local int taskDepth = 0;

}  // namespace

ThreadPool::ThreadPool(std::size_t thread_count) {
  threads.reserve(thread_count);
  try {
    for (std::size_t i = 0; i < thread_count; ++i) threads.emplace_back([this] { WorkerLoop(); });
  } catch (...) {
    // Joinable threads must not be destroyed: stop the ones already running first.
    StopAndJoin();
    throw;
  }
}

ThreadPool::~ThreadPool() {
  StopAndJoin();
}

void ThreadPool::StopAndJoin() {
  {
    std::lock_guard<std::mutex> lock(mutex);
    stop = true;
  }
  workAvailable.notify_all();
  for (std::thread& thread : threads) thread.join();
  threads.clear();
  queue.clear();
}

ThreadPool& ThreadPool::Instance() {
  static ThreadPool pool(Parallel::WorkerCount() - 1);
  return pool;
}

int ThreadPool::TaskDepth() {
  return taskDepth;
}

void ThreadPool::Execute(Task task) {
  Batch& batch = *task.first;

  // Run the piece, keeping its exception for the submitter.
  std::exception_ptr caught;
  ++taskDepth;
  try {
    batch.run(task.second);
  } catch (...) {
    caught = std::current_exception();
  }
  --taskDepth;

  // Count it as finished; the first error wins.
  {
    std::lock_guard<std::mutex> lock(batch.mutex);
    if (caught && !batch.error) batch.error = caught;
    if (batch.remaining > 0) {
      --batch.remaining;
      if (batch.remaining == 0) batch.done.notify_all();
    }
  }
  // The task's share of the batch is dropped when `task` goes out of scope.
}

void ThreadPool::WorkerLoop() {
  for (;;) {
    Task task;
    {
      std::unique_lock<std::mutex> lock(mutex);
      workAvailable.wait(lock, [this] { return stop || !queue.empty(); });
      // Queued tasks are drained before a worker ends.
      if (queue.empty()) return;
      task = std::move(queue.front());
      queue.pop_front();
    }
    Execute(std::move(task));
  }
}

void ThreadPool::Run(std::size_t count, const std::function<void(std::size_t)>& run) {
  // 1. Serial: nothing to share, no workers, or nested inside a piece.
  if (count <= 1 || threads.empty() || taskDepth != 0) {
    for (std::size_t i = 0; i < count; ++i) run(i);
    return;
  }

  // 2. Queue one task per piece.
  auto batch = std::make_shared<Batch>();
  batch->run = run;
  batch->remaining = count;
  {
    std::lock_guard<std::mutex> lock(mutex);
    for (std::size_t i = 0; i < count; ++i) queue.emplace_back(batch, i);
  }
  workAvailable.notify_all();

  // 3. Help with queued tasks until none are left, then wait for the running ones.
  for (;;) {
    {
      std::lock_guard<std::mutex> lock(batch->mutex);
      if (batch->remaining == 0) break;
    }
    Task task;
    {
      std::lock_guard<std::mutex> lock(mutex);
      if (!queue.empty()) {
        task = std::move(queue.front());
        queue.pop_front();
      }
    }
    if (task.first) {
      Execute(std::move(task));
      continue;
    }
    std::unique_lock<std::mutex> lock(batch->mutex);
    batch->done.wait(lock, [&batch] { return batch->remaining == 0; });
    break;
  }

  // 4. Report the first failure of any piece.
  std::exception_ptr error;
  {
    std::lock_guard<std::mutex> lock(batch->mutex);
    // Taken out of the batch, so the exception is released on this thread whichever thread
    // frees the batch.
    error = std::move(batch->error);
  }
  if (error) std::rethrow_exception(error);
}

namespace Parallel {

std::size_t WorkerCountFor(unsigned hardware_threads) {
  return hardware_threads > 1 ? std::size_t{hardware_threads} - 1 : 1;
}

std::size_t WorkerCount() {
  static const std::size_t workers = WorkerCountFor(std::thread::hardware_concurrency());
  return workers;
}

SplitPlan PlanSplit(std::size_t begin, std::size_t end, std::size_t grain, std::size_t workers) {
  SplitPlan plan;
  if (begin >= end) {
    plan.pieces = 0;
    return plan;
  }
  const std::size_t n = end - begin;
  std::size_t chunks = n / std::max<std::size_t>(grain, 1);
  if (chunks < 2) chunks = 1;
  const std::size_t k = std::min(chunks, workers);
  if (k <= 1) {
    plan.pieces = 1;
    plan.size = n;
    return plan;
  }
  plan.pieces = std::min(8 * k, chunks);
  // ceil(n / pieces), written so that a range reaching the top of size_t cannot overflow
  plan.size = n / plan.pieces + (n % plan.pieces != 0 ? 1 : 0);
  return plan;
}

namespace {

// Runs a plan that splits (pieces >= 2) on `pool`. With rounding up, the last pieces can start
// beyond the end; they are skipped.
void RunPlan(ThreadPool& pool, const SplitPlan& plan, std::size_t begin, std::size_t end,
             const std::function<void(std::size_t, std::size_t)>& fn) {
  const std::size_t n = end - begin;
  pool.Run(plan.pieces, [&](std::size_t piece) {
    const std::size_t offset = piece * plan.size;
    if (offset >= n) return;
    const std::size_t from = begin + offset;
    const std::size_t to = from + std::min(plan.size, n - offset);
    fn(from, to);
  });
}

}  // namespace

void ForRange(std::size_t begin, std::size_t end, std::size_t grain,
              const std::function<void(std::size_t, std::size_t)>& fn) {
  const SplitPlan plan = PlanSplit(begin, end, grain, WorkerCount());
  if (plan.pieces == 0) return;
  if (plan.pieces == 1) {
    fn(begin, end);
    return;
  }
  RunPlan(ThreadPool::Instance(), plan, begin, end, fn);
}

void ForRangeIn(ThreadPool& pool, std::size_t begin, std::size_t end, std::size_t grain,
                const std::function<void(std::size_t, std::size_t)>& fn) {
  const SplitPlan plan = PlanSplit(begin, end, grain, pool.Workers());
  if (plan.pieces == 0) return;
  if (plan.pieces == 1) {
    fn(begin, end);
    return;
  }
  RunPlan(pool, plan, begin, end, fn);
}

}  // namespace Parallel
