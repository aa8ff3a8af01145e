"""The model search, here or on an executor (a process pool, a Dask cluster)."""

import concurrent.futures
from dataclasses import dataclass, field

from . import _odefit


@dataclass
class SearchResult:
    """What the search found.

    best: the winning model, fitted again on the whole series.
    candidates: every candidate scored, best first, as dicts: points, threshold, models (one spec per
        equation), supports (kept term indices per equation), terms, score, criterion,
        validation_errors.
    complete: False when the time limit cut the search short.
    horizon, starts: the prediction horizon (samples) and the number of prediction starts scored.
    period: the driving periods tried (empty when none was found).
    """

    best: _odefit.Model
    candidates: list
    complete: bool = True
    horizon: int = 0
    starts: int = 0
    period: list = field(default_factory=list)


def _settings(dt, points, models, thresholds, validation_fraction, horizon, threads, time_limit):
    settings = {
        "dt": float(dt),
        "validation_fraction": float(validation_fraction),
        "horizon": 0 if horizon is None else horizon,
        "threads": threads,
        "time_limit": 0.0 if time_limit is None else float(time_limit),
    }
    if points is not None:
        settings["points"] = list(points)
    if models is not None:
        settings["shapes"] = [models] if isinstance(models, str) else list(models)
    if thresholds is not None:
        settings["thresholds"] = [float(t) for t in thresholds]
    if settings["time_limit"] < 0:
        raise ValueError("time_limit must not be negative")
    return settings


def _run_search_task(X, settings, plan, index):
    """Runs one task of a planned search; module-level so that executors can ship it by name."""
    return _odefit._run_search_task(X, settings, plan, index)


def search(X, dt, *, points=None, models=None, thresholds=None, validation_fraction=0.2, horizon=None,
           threads=1, time_limit=None, executor=None, progress=None):
    """Searches for the model of X (n, D) that predicts its last part best.

    points: differentiation windows to try (None: the library's list as far as the series allows).
    models: equation specs every equation tries ("poly:3", "rational:2:1", ...; None: the library's
        families and orders). thresholds: the sparse fits' scaled thresholds (None: the library's).
    validation_fraction: the last part of the series, used only to score. horizon: the prediction
        horizon in samples (None: from the series' correlation time). threads: threads of a search
        run here (0: one per core). time_limit: seconds; the best so far is returned when it passes.
    executor: any concurrent.futures.Executor (a ProcessPoolExecutor, a Dask client's
        get_executor()); each differentiation window is then one task submitted to it, and the
        result is the one a search run here gives. progress: called with (tasks done, tasks).
    """
    settings = _settings(dt, points, models, thresholds, validation_fraction, horizon, threads, time_limit)
    if executor is None:
        return SearchResult(**_odefit._search(X, settings, progress))

    X = _odefit._as_series(X)
    plan = _odefit._plan_search(X, settings)
    total = len(plan["points"])
    futures = [executor.submit(_run_search_task, X, settings, plan, index) for index in range(total)]
    try:
        done = 0
        for _ in concurrent.futures.as_completed(futures):
            done += 1
            if progress is not None:
                progress(done, total)
        results = [future.result() for future in futures]
    except BaseException:
        for future in futures:
            future.cancel()
        raise
    return SearchResult(**_odefit._finish_search(X, settings, plan, results))
