#pragma once

// Synchronous parallel loops over one process-wide pool of worker threads.
//
// The heavy scenes (canyon columns, the arena's point cloud) cut their per-frame work into pieces
// and hand them to the pool; the calling thread helps and the call returns only when every piece
// has finished, so a parallel loop reads like an ordinary loop. Each piece must write only its own
// output region; no drawing takes a lock.

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

class ThreadPool {
 public:
  // One parallel call's pieces, shared by the submitting thread and its queued tasks; freed
  // when the last of them lets go.
  struct Batch {
    std::function<void(std::size_t)> run;  // the work of one piece
    std::size_t remaining = 0;             // pieces not yet finished
    std::mutex mutex;                      // guards remaining and error
    std::condition_variable done;          // notified when remaining reaches 0
    std::exception_ptr error;              // first exception thrown by a piece
  };

  // Starts `thread_count` workers, which wait for work at once. A failure to start one stops
  // and joins those already started and propagates as std::system_error.
  explicit ThreadPool(std::size_t thread_count);
  // Stops the workers once the queue is drained and joins them. Must not run on a worker.
  ~ThreadPool();
  ThreadPool(const ThreadPool&) = delete;
  ThreadPool& operator=(const ThreadPool&) = delete;

  // The process-wide pool with WorkerCount() - 1 threads, created on first use (thread-safe).
  static ThreadPool& Instance();

  std::size_t ThreadCount() const { return threads.size(); }
  // Workers a call on this pool can use: its threads plus the calling thread.
  std::size_t Workers() const { return threads.size() + 1; }

  // Executes run(0) ... run(count - 1), each exactly once, and returns when all have finished.
  // Runs them in order on the calling thread when count <= 1, when the pool has no threads or
  // when called from inside a piece (so a piece never waits on the pool it runs in); then an
  // exception stops the loop at once. Otherwise every piece runs and the first exception
  // thrown by any piece is rethrown here after all of them have finished.
  void Run(std::size_t count, const std::function<void(std::size_t)>& run);

  // Nesting depth of pieces on the calling thread: 0 outside any piece.
  static int TaskDepth();

 private:
  using Task = std::pair<std::shared_ptr<Batch>, std::size_t>;

  static void Execute(Task task);
  void WorkerLoop();
  void StopAndJoin();

  std::vector<std::thread> threads;
  std::deque<Task> queue;  // taken from the front, appended at the back
  std::mutex mutex;        // guards queue and stop
  std::condition_variable workAvailable;
  bool stop = false;
};

namespace Parallel {

// How a range is cut: `pieces` pieces of `size` indices (the last ones shorter or empty).
// pieces == 1 means the whole range runs as one call on the calling thread.
struct SplitPlan {
  std::size_t pieces = 1;
  std::size_t size = 0;
};

// W for a machine reporting `hardware_threads` (0 = unknown): one less than the hardware
// threads, at least 1, so one hardware thread stays free for the rest of the process.
std::size_t WorkerCountFor(unsigned hardware_threads);
// W of this machine; the process-wide pool has W - 1 threads.
std::size_t WorkerCount();

// At most eight pieces per worker, never smaller than `grain` (except the last ones). A pure
// function of its arguments; an empty range gives pieces 0.
SplitPlan PlanSplit(std::size_t begin, std::size_t end, std::size_t grain, std::size_t workers);

// Calls fn(from, to) on disjoint sub-ranges covering [begin, end) exactly once and returns when
// all calls have returned. Uses the process-wide pool, which is created on the first call that
// splits its range.
void ForRange(std::size_t begin, std::size_t end, std::size_t grain,
              const std::function<void(std::size_t, std::size_t)>& fn);

// ForRange on a given pool, with W = pool.Workers().
void ForRangeIn(ThreadPool& pool, std::size_t begin, std::size_t end, std::size_t grain,
                const std::function<void(std::size_t, std::size_t)>& fn);

// Calls f(i) once for every i of [begin, end); within each piece in increasing order.
template <class F>
void For(std::size_t begin, std::size_t end, std::size_t grain, F&& f) {
  ForRange(begin, end, grain, [&f](std::size_t from, std::size_t to) {
    for (std::size_t i = from; i < to; ++i) f(i);
  });
}

}  // namespace Parallel
