"""The model search, here or on an executor (a process pool, a Dask cluster)."""

import concurrent.futures
import math
import threading
import time
import warnings
import weakref
from dataclasses import dataclass, field

from . import _odefit
from ._model import OdefitWarning
from ._series import pack_series


@dataclass(repr=False)
class SearchResult:
    """What the search found.

    best: the winning model, fitted again on the whole series.
    candidates: every candidate scored, best first, as dicts: points, degree, threshold, models (one
        spec per equation), supports (kept term indices per equation), terms (their names per
        equation, as in the search result file), term_count, score, noise_floor, criterion,
        validation_errors.
    complete: False when the time limit cut the search short (or a window could not be fitted).
    horizon, starts: the prediction horizon (samples) and the number of prediction starts scored.
    period: the driving period of the best model, refined on the whole series (empty when it has no
        driven equation).
    doubts: the reasons to doubt the answer, one sentence each (search raises each as an
        :class:`odefit.OdefitWarning`): no candidate predicts the held-out part clearly better than a
        model without dynamics; variables whose held-out error stays well above their noise; the best
        model's own doubts as fit gives them.
    inclusion: per equation of `best`, an array aligned with its coefficients: the share of 30 refits
        of its shapes (with its thresholded selection) on block-resampled derivative rows that keep
        the term; NaN for dropped terms and driven equations. Below 0.5 a term is doubtful. Refits of
        best's own terms on the same rows give ``best.intervals`` (intervals given its structure).
    """

    best: _odefit.Model
    candidates: list
    complete: bool = True
    horizon: int = 0
    starts: int = 0
    period: list = field(default_factory=list)
    doubts: list = field(default_factory=list)
    inclusion: list = field(default_factory=list)

    def __repr__(self):
        best = self.candidates[0] if self.candidates else None
        chosen = (f"best: {best['term_count']} terms, window of {best['points']} points, degree {best['degree']}, "
                  f"{' '.join(best['models'])}"
                  if best else "no candidate")
        return (f"SearchResult({chosen}; {len(self.candidates)} candidates, complete={self.complete}, "
                f"horizon={self.horizon}, starts={self.starts}, period={self.period})")


def _settings(dt, points, degrees, models, thresholds, validation_fraction, horizon, threads, time_limit):
    if time_limit is None or time_limit == math.inf:
        time_limit = 0.0
    settings = {
        "dt": float(dt),
        "validation_fraction": float(validation_fraction),
        "horizon": 0 if horizon is None else horizon,
        "threads": threads,
        "time_limit": float(time_limit),
    }
    if points is not None:
        settings["points"] = list(points)
    if degrees is not None:
        settings["degrees"] = list(degrees)
    if models is not None:
        settings["shapes"] = [models] if isinstance(models, str) else list(models)
    if thresholds is not None:
        settings["thresholds"] = [float(t) for t in thresholds]
    # Read back at once, so that impossible settings fail before any task is sent.
    return _odefit._round_trip("settings", settings)


# Memory that the tasks run in this process on one shipped series pass on, while that series lives (a
# Dask worker keeps a scattered series for the whole search): a list of buffers free for a thread to take.
_free_buffers = {}
_buffers_lock = threading.Lock()


def _take_buffers(X):
    anchor = X[0] if isinstance(X, tuple) else X  # a packed series lives as long as its values
    key = id(anchor)
    with _buffers_lock:
        free = _free_buffers.get(key)
        if free is None:
            try:
                weakref.finalize(anchor, _free_buffers.pop, key, None)
            except TypeError:
                return None, None  # no weak reference to it: fresh memory for every task
            free = _free_buffers[key] = []
        return free, (free.pop() if free else _odefit._SearchTaskBuffers())


def _run_search_task(X, settings, plan, index):
    """Runs one task of a planned search; module-level so that executors can ship it by name."""
    free, buffers = _take_buffers(X)
    try:
        return _odefit._run_search_task(X, settings, plan, index, buffers)
    finally:
        if buffers is not None:
            with _buffers_lock:
                free.append(buffers)


def search(X, dt=None, *, points=None, degrees=None, models=None, thresholds=None, validation_fraction=0.2,
           horizon=None, threads=1, time_limit=None, executor=None, progress=None, names=None, t=None):
    """Searches for the model of X that predicts its last part best.

    Parameters
    ----------
    X : array_like or list of array_like
        The series, shape (n, D), or a list of recordings of one system (as for fit).
    dt : float, optional
        The sampling interval (> 0); may be left out when `t` or the arrays give the times.
    points : list of int, optional
        Differentiation windows to try (default: the library's list as far as the series allows).
    degrees : list of int, optional
        Degrees of the local polynomial fits to try with every window (default: 1 to 4); each window,
        with all its degrees, is one task.
    models : str or list of str, optional
        Equation specs every equation tries ("poly:3", "rational:2:1", ...; default: the library's
        families and orders).
    thresholds : list of float, optional
        The sparse fits' scaled thresholds (default: the library's).
    validation_fraction : float, default 0.2
        The last part of the series, used only to score.
    horizon : int, optional
        The prediction horizon in samples (default: from the series' correlation time).
    threads : int, default 1
        Threads of a search run here (0: one per core); the result does not depend on them.
    time_limit : float, optional
        Seconds (None, 0 or inf: none); when it passes, the result holds the best of what was scored
        so far and its `complete` is False.
    executor : concurrent.futures.Executor, optional
        A ProcessPoolExecutor, a Dask client's ``get_executor()``, ...; each differentiation window
        (with every degree) is then one task submitted to it (run there on one thread), and the result is the one a search
        run here gives. A Dask executor gets the series once, scattered to its workers.
    progress : callable, optional
        Called with (tasks done, tasks) on the calling thread; an exception it raises stops the
        search and is raised again.
    names : list of str, optional
        The variables' names (one string per column), given to the best model (default: those of
        an array read by read_series).
    t : float or array_like or list of array_like, optional
        The sampling interval or the time of every vector, as for fit: gaps split recordings, but the
        stamps must be even.

    Returns
    -------
    SearchResult

    Warns
    -----
    odefit.OdefitWarning
        Once for each of the result's `doubts`.

    Raises
    ------
    TimeoutError
        When the time limit passed before any candidate was scored.
    """
    if progress is not None and not callable(progress):
        raise TypeError("progress must be callable with (done, total), or None")
    X, dt, names = pack_series(X, dt, t, names)
    if isinstance(X, tuple):
        found, _, _, uniform, _ = _odefit._sampling(X, 0.0 if dt is None else dt)
        if not uniform:
            raise ValueError("the search needs evenly sampled recordings (gaps are allowed): fit uneven ones")
        dt = found
    elif dt is None:
        raise ValueError("give dt, or the time of every vector (t)")
    settings = _settings(dt, points, degrees, models, thresholds, validation_fraction, horizon, threads, time_limit)
    if executor is None:
        return _warned(SearchResult(**_odefit._search(X, settings, progress, names)))

    start = time.monotonic()
    if not isinstance(X, tuple):
        X = _odefit._as_series(X)
    _odefit._names(names, (X[0] if isinstance(X, tuple) else X).shape[1])  # refused before any task is sent
    plan = _odefit._plan_search(X, settings)
    total = len(plan["points"])  # one task per window, with every degree
    limit = settings["time_limit"]
    if limit > 0:
        # Every task stops by itself when the time left at its sending has passed.
        settings = dict(settings, time_limit=max(1e-3, limit - (time.monotonic() - start)))
    # A Dask executor gets the series once, scattered to its workers, instead of inside every task.
    client = getattr(executor, "_client", None)
    shipped = client.scatter(X, broadcast=True) if hasattr(client, "scatter") else X
    futures = [executor.submit(_run_search_task, shipped, settings, plan, index) for index in range(total)]
    index_of = {future: index for index, future in enumerate(futures)}
    results = [None] * total
    try:
        pending = set(futures)
        done = 0
        while pending:
            timeout = None
            if limit > 0:
                timeout = start + limit - time.monotonic()
                if timeout <= 0:
                    # Out of time: the best of what came back, or else of the first task to come back.
                    if any(result is not None for result in results):
                        break
                    timeout = None
            finished, pending = concurrent.futures.wait(pending, timeout=timeout,
                                                        return_when=concurrent.futures.FIRST_COMPLETED)
            for future in finished:
                try:
                    results[index_of[future]] = future.result()
                except _odefit.NumericalError:
                    pass  # this window could not be fitted; the others stand, as in a search run here
                done += 1
                if progress is not None:
                    progress(done, total)
    finally:
        for future in futures:
            future.cancel()
    return _warned(SearchResult(**_odefit._finish_search(X, settings, plan, [r for r in results if r is not None],
                                                         names)))


def _warned(result):
    # stacklevel 3: the caller of search.
    for doubt in result.doubts:
        warnings.warn(doubt, OdefitWarning, stacklevel=3)
    return result
