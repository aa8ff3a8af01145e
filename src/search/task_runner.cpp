#include "search/task_runner.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>

#include "search/prediction_score.h"
#include "search/search_plan.h"
#include "search/search_task.h"

namespace odefit::search {

TaskRun RunTasks(const Series& series, const SearchSettings& settings, const SearchPlan& plan, Clock::time_point start) {
  const int tasks = TaskCount(plan);
  int threads = settings.threads > 0 ? settings.threads : static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  threads = std::min({threads, tasks, kMostThreads});
  const Deadline deadline(settings, start);
  const Scoring scoring = MakeScoring(series, plan, settings.validationFraction);

  std::vector<std::optional<SearchTaskResult>> results(Size(tasks));
  std::vector<std::exception_ptr> failures(Size(tasks));
  std::atomic<int> next{0};
  std::mutex mutex;
  std::condition_variable changed;
  int done = 0;
  // Tasks in a fixed order, each on one thread: the results do not depend on
  // the thread count. Later windows cost more, so they start first.
  const auto work = [&] {
    TaskBuffers buffers;  // each thread's tasks pass their memory on
    for (int k = next++; k < tasks; k = next++) {
      const int task = tasks - 1 - k;
      try {
        if (!deadline.Passed()) {
          SearchSettings remaining = settings;
          if (settings.timeLimit > 0) {
            remaining.timeLimit = std::max(1e-3, settings.timeLimit - std::chrono::duration<double>(Clock::now() - start).count());
          }
          results[Size(task)] = RunTask(series, remaining, plan, task, scoring, &buffers);
        }
      } catch (...) {
        failures[Size(task)] = std::current_exception();
      }
      {
        const std::lock_guard<std::mutex> lock(mutex);
        ++done;
      }
      changed.notify_all();
    }
  };
  // Workers take tasks from one counter, so when the system refuses a thread
  // the ones started do its share.
  std::vector<std::thread> workers;
  for (int w = 1; w < threads; ++w) {
    try {
      workers.emplace_back(work);
    } catch (const std::system_error&) {
      break;
    }
  }
  std::thread own;
  if (settings.progress) {
    try {
      own = std::thread(work);
    } catch (const std::system_error&) {
      work();  // progress is then reported once, at the end
    }
    std::unique_lock<std::mutex> lock(mutex);
    int reported = -1;
    while (done < tasks) {
      if (done != reported) {
        reported = done;
        lock.unlock();
        settings.progress(reported, tasks);
        lock.lock();
      }
      changed.wait(lock, [&] { return done != reported; });
    }
    lock.unlock();
    if (own.joinable()) own.join();
    settings.progress(tasks, tasks);
  } else {
    work();
  }
  for (std::thread& w : workers) w.join();

  TaskRun run;
  for (int t = 0; t < tasks; ++t) {
    if (failures[Size(t)]) {
      try {
        std::rethrow_exception(failures[Size(t)]);
      } catch (const Cancelled&) {
        throw;
      } catch (const NumericalError&) {
        run.cut = true;  // this window could not be fitted; the others stand
      }
    } else if (results[Size(t)]) {
      run.finished.push_back(std::move(*results[Size(t)]));
    } else {
      run.cut = true;
    }
  }
  return run;
}

}  // namespace odefit::search
