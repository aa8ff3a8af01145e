"""odefit.search: what crosses a process boundary, the search here and on executors (a process pool,
a Dask cluster), and what is refused."""

import concurrent.futures
import math
import time
import warnings

import numpy as np
import pytest

import odefit
from odefit import _odefit

from conftest import EXAMPLES

SMALL = dict(points=[3, 5], degrees=[1], models=["poly:1", "poly:2"], thresholds=[0.01, 0.1])


@pytest.fixture(scope="module")
def dask_executor():
    distributed = pytest.importorskip(
        "distributed", reason="the Dask tests need the module 'distributed' (Debian: python3-distributed)")
    with distributed.LocalCluster(processes=True, n_workers=2, threads_per_worker=1, host="127.0.0.1",
                                  dashboard_address=":0", silence_logs=50) as cluster:
        with distributed.Client(cluster) as client:
            yield client.get_executor()


def simulate_elsewhere(model, x0, steps):
    return model.simulate(x0, steps)


class TestDictsAcrossProcesses:
    def test_settings_come_back_unchanged(self):
        settings = {"dt": 0.01, "points": [3, 7], "degrees": [1, 3], "shapes": ["poly:2", "driven:1:" + repr(0.1 + 0.2), "rational:2:1"],
                    "thresholds": [0.001, 0.5], "validation_fraction": 0.25, "horizon": 40, "threads": 2,
                    "time_limit": 1.5}
        assert _odefit._round_trip("settings", settings) == settings

    def test_missing_settings_are_the_library_defaults(self):
        defaults = _odefit._round_trip("settings", {})
        assert defaults == {"dt": 0.0, "points": [], "degrees": [], "shapes": [], "thresholds": [], "validation_fraction": 0.2,
                            "horizon": 0, "threads": 1, "time_limit": 0.0}

    def test_plans_and_task_results_come_back_unchanged(self):
        plan = {"points": [3, 5, 9], "degrees": [2, 4], "shapes": ["poly:3", "reduced:1:2", "driven:2:" + repr(2 * math.pi / 3)],
                "thresholds": [0.01, 0.02], "horizon": 17, "period": [2 * math.pi / 3], "noise": [1e-300, 0.1],
                "start_points": 9, "rows_per_sum": 3}
        assert _odefit._round_trip("plan", plan) == plan
        candidate = {"points": 5, "degree": 2, "threshold": 0.02, "models": ["poly:2", "poly:3"],
                     "supports": [[1, 2], [0, 4, 7]], "terms": [["x1", "x2"], ["1", "x1*x2", "x1^2*x2"]], "term_count": 5, "score": 0.125, "noise_floor": 0.0625,
                     "criterion": -3.5, "validation_errors": [0.001, 0.25]}
        task = {"points": 5, "candidates": [candidate, dict(candidate, score=1e-300)], "complete": False, "starts": 12}
        assert _odefit._round_trip("task", task) == task
        odd = dict(candidate, validation_errors=[math.nan, math.inf])
        back = _odefit._round_trip("candidate", odd)["validation_errors"]
        assert math.isnan(back[0]) and back[1] == math.inf

    def test_model_fields_come_back_unchanged(self, lorenz_model):
        fields = lorenz_model._fields()
        assert _odefit._round_trip("model", fields) == fields

    @pytest.mark.parametrize("kind, dictionary, error, text", [
        ("settings", {"dt": 0.01, "treshold": [0.1]}, ValueError, "treshold"),
        ("settings", {"points": "3,5"}, TypeError, "points"),
        ("settings", {"threads": 1.5}, TypeError, "threads"),
        ("settings", {"threads": -1}, ValueError, "threads"),
        ("settings", {"time_limit": -1.0}, ValueError, "time_limit"),
        ("settings", {"time_limit": math.inf}, ValueError, "time_limit"),
        ("settings", {"time_limit": math.nan}, ValueError, "time_limit"),
        ("settings", {"time_limit": 1e10}, ValueError, "time_limit"),
        ("settings", {"shapes": ["poly:x"]}, ValueError, "poly:x"),
        ("plan", {"points": [3], "degrees": [1]}, ValueError, "shapes"),
        ("plan", {"points": [3]}, ValueError, "degrees"),
        ("task", {"points": 3, "candidates": 7, "complete": True, "starts": 1}, TypeError, "candidates"),
        ("task", {"points": 3, "candidates": [7], "complete": True, "starts": 1}, TypeError, "candidate"),
        ("candidate", {"points": 3, "degree": 1}, ValueError, "threshold"),
        ("model", {"dt": 0.01, "points": 3, "train": 10, "equations": []}, ValueError, "1 to 9"),
    ])
    def test_bad_dicts_are_refused(self, kind, dictionary, error, text):
        with pytest.raises(error, match=text):
            _odefit._round_trip(kind, dictionary)

    def test_a_model_goes_to_a_dask_worker_and_back(self, dask_executor, lorenz, lorenz_model):
        future = dask_executor.submit(simulate_elsewhere, lorenz_model, lorenz[3000], 40)
        np.testing.assert_array_equal(future.result(timeout=60), lorenz_model.simulate(lorenz[3000], 40))


class TestSpecs:
    READ = {"poly:0": (1, 0, 0, 0.0, "poly:0"), "poly:12": (1, 12, 0, 0.0, "poly:12"),
            "driven:2:100": (2, 2, 0, 100.0, "driven:2:100"), "driven:1:+0.5": (2, 1, 0, 0.5, "driven:1:0.5"),
            "driven:3:1e-3": (2, 3, 0, 0.001, "driven:3:0.001"), "rational:2:1": (3, 2, 1, 0.0, "rational:2:1"),
            "reduced:0:3": (4, 0, 3, 0.0, "reduced:0:3")}
    REFUSED = ["poly", "poly:", "poly:1.5", "poly:-2", "poly:1001", "driven:1:0", "driven:1:-4", "driven:1:inf",
               "driven:1:x", "rational:1", "rational:1:2:3", "Poly:2", " poly:2", "reduced:1:a", "", "poly:2\0"]

    def test_the_bindings_read_specs_as_the_library(self):
        for text, spec in self.READ.items():
            assert _odefit._parse_spec(text) == spec, text
        for text in self.REFUSED:
            with pytest.raises(ValueError):
                _odefit._parse_spec(text)

    def test_a_period_is_written_so_that_it_reads_back_with_its_bits(self):
        for period in (0.1 + 0.2, 2 * math.pi / 7, 1e-300, 123456789.125):
            text = _odefit._parse_spec("driven:1:" + repr(period))[4]
            assert _odefit._parse_spec(text)[3] == period


@pytest.fixture(scope="module")
def local_search(lorenz):
    calls = []
    result = odefit.search(lorenz[:2000], 0.01, progress=lambda done, total: calls.append((done, total)), **SMALL)
    return result, calls


class FirstTaskOnlyExecutor(concurrent.futures.ThreadPoolExecutor):
    """Runs the first task submitted at once and holds every other one back for `delay` seconds."""

    def __init__(self, delay):
        super().__init__(max_workers=4)
        self.delay = delay
        self.submitted = 0

    def submit(self, fn, /, *args, **kwargs):
        self.submitted += 1
        if self.submitted == 1:
            return super().submit(fn, *args, **kwargs)

        def held_back():
            time.sleep(self.delay)
            return fn(*args, **kwargs)

        return super().submit(held_back)


def same_search(a, b):
    assert a.best._fields() == b.best._fields()
    assert a.candidates == b.candidates
    assert (a.complete, a.horizon, a.starts, a.period) == (b.complete, b.horizon, b.starts, b.period)


class TestSearch:
    def test_the_best_candidate_is_the_model(self, local_search):
        result, _ = local_search
        assert isinstance(result, odefit.SearchResult) and isinstance(result.best, odefit.Model)
        assert result.complete and result.candidates
        best = result.candidates[0]
        assert result.best.points == best["points"] and result.best.specs == best["models"]
        assert [c["criterion"] for c in result.candidates] == sorted(c["criterion"] for c in result.candidates)
        for coefficients, support in zip(result.best.coefficients, best["supports"]):
            assert sorted(np.flatnonzero(coefficients).tolist()) == sorted(support)

    def test_progress_reaches_every_task(self, local_search):
        _, calls = local_search
        assert calls and calls[-1][0] == calls[-1][1] == 2

    def test_a_process_pool_finds_the_same(self, lorenz, local_search):
        with concurrent.futures.ProcessPoolExecutor(max_workers=2) as pool:
            result = odefit.search(lorenz[:2000], 0.01, executor=pool, **SMALL)
        same_search(result, local_search[0])

    def test_a_dask_cluster_finds_the_same(self, lorenz, local_search, dask_executor):
        calls = []
        result = odefit.search(lorenz[:2000], 0.01, executor=dask_executor,
                               progress=lambda done, total: calls.append(done), **SMALL)
        same_search(result, local_search[0])
        assert calls == [1, 2]

    def test_threads_find_the_same(self, lorenz, local_search):
        same_search(odefit.search(lorenz[:2000], 0.01, threads=2, **SMALL), local_search[0])

    def test_an_error_in_progress_stops_the_search(self, lorenz):
        def fail(done, total):
            raise KeyError("stop")

        with pytest.raises(KeyError, match="stop"):
            odefit.search(lorenz[:2000], 0.01, progress=fail, **SMALL)

    def test_the_default_search_of_a_driven_series_is_the_same_on_a_process_pool(self):
        X = odefit.read_series(EXAMPLES / "driven.txt", 2)[:3000]
        here = odefit.search(X, 0.05)
        assert len(here.period) == 1 and abs(here.period[0] - 5.0) < 0.01
        assert any(spec.startswith("driven:") for spec in here.best.specs)
        assert {len(c["models"]) for c in here.candidates} == {2}
        with concurrent.futures.ProcessPoolExecutor(max_workers=2) as pool:
            same_search(odefit.search(X, 0.05, executor=pool), here)
        same_search(odefit.search(X, 0.05, threads=0), here)

    def test_names_go_to_the_best_model(self, lorenz, local_search):
        here = odefit.search(lorenz[:2000], 0.01, names=["x", "y", "z"], **SMALL)
        assert here.best.names == ["x", "y", "z"] and local_search[0].best.names == []
        with concurrent.futures.ThreadPoolExecutor(2) as pool:
            there = odefit.search(lorenz[:2000], 0.01, executor=pool, names=["x", "y", "z"], **SMALL)
        same_search(there, here)

    def test_tasks_on_one_series_pass_their_memory_on_while_it_lives(self, lorenz):
        from odefit import _search
        X = _odefit._as_series(lorenz[:2000])
        settings = _search._settings(0.01, [3, 9, 5], [1, 3], None, [0.01], 0.2, None, 1, None)
        plan = _odefit._plan_search(X, settings)
        order = [2, 0, 1]  # windows wider and narrower than the one before
        alone = [_odefit._run_search_task(X, settings, plan, k) for k in order]
        assert [_search._run_search_task(X, settings, plan, k) for k in order] == alone
        key = id(X)
        assert len(_search._free_buffers[key]) == 1
        del X
        assert key not in _search._free_buffers

    @pytest.mark.parametrize("time_limit", [None, 0, math.inf, 1e6])
    def test_a_time_limit_that_does_not_pass_changes_nothing(self, lorenz, local_search, time_limit):
        same_search(odefit.search(lorenz[:2000], 0.01, time_limit=time_limit, **SMALL), local_search[0])

    def test_a_time_limit_returns_the_best_so_far(self, lorenz):
        windows = list(range(3, 243, 2))
        # About four times the limit's work on this machine (a search of one shape was done within it).
        kwargs = dict(points=windows, models=["poly:1", "poly:2", "poly:3", "poly:4"])
        start = time.monotonic()
        with warnings.catch_warnings():
            # A search cut short may have no model that predicts well yet: it says so.
            warnings.simplefilter("ignore", odefit.OdefitWarning)
            result = odefit.search(lorenz, 0.01, time_limit=0.2, **kwargs)
        assert time.monotonic() - start < 10
        assert not result.complete
        assert 0 < len({c["points"] for c in result.candidates}) < len(windows)
        assert result.best.points == result.candidates[0]["points"]

    def test_a_time_limit_on_an_executor_returns_what_came_back(self, lorenz, local_search):
        with FirstTaskOnlyExecutor(delay=3.0) as pool:
            start = time.monotonic()
            result = odefit.search(lorenz[:2000], 0.01, executor=pool, time_limit=0.5, **SMALL)
            assert time.monotonic() - start < 2.5
        assert not result.complete
        # The first task sent is the first window of the plan.
        assert {c["points"] for c in result.candidates} == {3}
        assert result.candidates == sorted((c for c in local_search[0].candidates if c["points"] == 3),
                                           key=lambda c: c["criterion"])

    @pytest.mark.parametrize("kwargs, error", [
        (dict(dt=0.0), ValueError), (dict(time_limit=-1.0), ValueError), (dict(time_limit=math.nan), ValueError),
        (dict(models=["poly:x"]), ValueError), (dict(models=[7]), TypeError),
        (dict(validation_fraction=1.5), ValueError), (dict(threads=-1), ValueError), (dict(threads=1.5), TypeError),
        (dict(progress=5), TypeError), (dict(names=["x", "y"]), ValueError), (dict(names="xyz"), TypeError),
    ], ids=lambda v: str(v) if not isinstance(v, type) else v.__name__)
    def test_impossible_settings(self, lorenz, kwargs, error):
        arguments = dict(SMALL, dt=0.01)
        arguments.update(kwargs)
        with pytest.raises(error):
            odefit.search(lorenz[:2000], **arguments)

    @pytest.mark.parametrize("executor", [None, "pool"])
    def test_bad_series(self, lorenz, executor):
        X = np.array(lorenz[:2000])
        X[7, 2] = np.nan
        pool = concurrent.futures.ThreadPoolExecutor(1) if executor else None
        with pytest.raises(ValueError, match="NaN"):
            odefit.search(X, 0.01, executor=pool, **SMALL)
        with pytest.raises(TypeError):
            odefit.search(X.astype(complex), 0.01, executor=pool, **SMALL)
