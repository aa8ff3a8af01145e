"""One search task on a Dask worker (a LocalCluster of processes) against the same task here.

Run by hand with the package importable (see README, Benchmarks):
    python3 bench/dask_search_task.py [vectors]
Prints each task's CPU seconds on its thread (the least of three runs; the transfer is not counted,
nor is other work's load) and page faults here and on the worker and the ratio of the totals. Dask sets MALLOC_TRIM_THRESHOLD_ on its
workers, which returns freed memory to the system at once: a task that allocates afresh pays page
faults there that it does not pay here. Tasks run on one shipped series pass their memory on
(odefit._search keeps it while the series lives), so after a worker's first task they pay few.
"""

import resource
import sys
import time

import numpy as np

import odefit
from odefit import _odefit


def noisy_lorenz(n, dt=0.001, noise=0.01, seed=1):
    """n vectors of the Lorenz system (RK4 at dt), each component with noise of 1 % of its spread."""
    def f(v):
        x, y, z = v
        return np.array([10.0 * (y - x), x * (28.0 - z) - y, x * y - 8.0 / 3.0 * z])

    v = np.array([-8.0, 7.0, 27.0])
    out = np.empty((n, 3))
    for k in range(n):
        out[k] = v
        a = f(v)
        b = f(v + 0.5 * dt * a)
        c = f(v + 0.5 * dt * b)
        d = f(v + dt * c)
        v = v + dt / 6.0 * (a + 2 * b + 2 * c + d)
    rng = np.random.default_rng(seed)
    return out + noise * out.std(axis=0) * rng.standard_normal(out.shape)


def timed_task(X, settings, plan, index):
    before = resource.getrusage(resource.RUSAGE_SELF).ru_minflt
    start = time.thread_time()
    odefit._search._run_search_task(X, settings, plan, index)  # as the executor's tasks run it
    return time.thread_time() - start, resource.getrusage(resource.RUSAGE_SELF).ru_minflt - before


def main():
    from dask.distributed import Client, LocalCluster

    n = int(sys.argv[1]) if len(sys.argv) > 1 else 100000
    X = _odefit._as_series(noisy_lorenz(n))
    settings = odefit._search._settings(0.001, None, None, None, None, 0.2, None, 1, None)
    plan = _odefit._plan_search(X, settings)
    tasks = len(plan["points"])  # one task per window
    chosen = [tasks - 1, tasks // 2, 0]  # the widest window, a middle one, the narrowest
    with LocalCluster(n_workers=1, threads_per_worker=1, processes=True) as cluster, Client(cluster) as client:
        shipped = client.scatter(X, broadcast=True)
        client.submit(timed_task, shipped, settings, plan, chosen[0], pure=False).result()  # warm the worker
        timed_task(X, settings, plan, chosen[0])  # and this process
        here_total = there_total = 0.0
        for index in chosen:
            # The least of three runs each, alternating, against the load of other work.
            runs = []
            for _ in range(3):
                runs.append((timed_task(X, settings, plan, index),
                             client.submit(timed_task, shipped, settings, plan, index, pure=False).result()))
            here, here_faults = min(r[0] for r in runs)
            there, there_faults = min(r[1] for r in runs)
            here_total += here
            there_total += there
            print(f"task {index:2d}: here {here:.3f} s, {here_faults} page faults; "
                  f"on the worker {there:.3f} s, {there_faults} page faults")
    print(f"worker / here: {there_total / here_total:.3f}")


if __name__ == "__main__":
    main()
