"""odefit.search: what crosses a process boundary, the search here and on executors (a process pool,
a Dask cluster), and what is refused."""

import concurrent.futures
import math

import numpy as np
import pytest

import odefit
from odefit import _odefit

needs_search = pytest.mark.skipif(not odefit.has_search, reason="the library has no model search yet")

SMALL = dict(points=[3, 5], models=["poly:1", "poly:2"], thresholds=[0.01, 0.1])


@pytest.fixture(scope="module")
def dask_executor():
    distributed = pytest.importorskip("distributed")
    with distributed.LocalCluster(processes=True, n_workers=2, threads_per_worker=1, host="127.0.0.1",
                                  dashboard_address=None, silence_logs=50) as cluster:
        with distributed.Client(cluster) as client:
            yield client.get_executor()


def simulate_elsewhere(model, x0, steps):
    return model.simulate(x0, steps)


class TestDictsAcrossProcesses:
    def test_settings_come_back_unchanged(self):
        settings = {"dt": 0.01, "points": [3, 7], "shapes": ["poly:2", "driven:1:" + repr(0.1 + 0.2), "rational:2:1"],
                    "thresholds": [0.001, 0.5], "validation_fraction": 0.25, "horizon": 40, "threads": 2,
                    "time_limit": 1.5}
        assert _odefit._round_trip("settings", settings) == settings

    def test_missing_settings_are_the_library_defaults(self):
        defaults = _odefit._round_trip("settings", {})
        assert defaults == {"dt": 0.0, "points": [], "shapes": [], "thresholds": [], "validation_fraction": 0.2,
                            "horizon": 0, "threads": 1, "time_limit": 0.0}

    def test_plans_and_task_results_come_back_unchanged(self):
        plan = {"points": [3, 5, 9], "shapes": ["poly:3", "reduced:1:2", "driven:2:" + repr(2 * math.pi / 3)],
                "thresholds": [0.01, 0.02], "horizon": 17, "period": [2 * math.pi / 3]}
        assert _odefit._round_trip("plan", plan) == plan
        candidate = {"points": 5, "threshold": 0.02, "models": ["poly:2", "poly:3"], "supports": [[1, 2], [0, 4, 7]],
                     "terms": 5, "score": 0.125, "criterion": -3.5, "validation_errors": [0.001, 0.25]}
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
        ("settings", {"shapes": ["poly:x"]}, ValueError, "poly:x"),
        ("plan", {"points": [3]}, ValueError, "shapes"),
        ("task", {"points": 3, "candidates": 7, "complete": True, "starts": 1}, TypeError, "candidates"),
        ("task", {"points": 3, "candidates": [7], "complete": True, "starts": 1}, TypeError, "candidate"),
        ("candidate", {"points": 3}, ValueError, "threshold"),
        ("model", {"dt": 0.01, "points": 3, "train": 10, "equations": []}, ValueError, "1 to 9"),
    ])
    def test_bad_dicts_are_refused(self, kind, dictionary, error, text):
        with pytest.raises(error, match=text):
            _odefit._round_trip(kind, dictionary)

    def test_a_model_goes_to_a_dask_worker_and_back(self, dask_executor, lorenz, lorenz_model):
        future = dask_executor.submit(simulate_elsewhere, lorenz_model, lorenz[3000], 40)
        np.testing.assert_array_equal(future.result(timeout=60), lorenz_model.simulate(lorenz[3000], 40))


class TestSpecs:
    TEXTS = ["poly:0", "poly:12", "driven:2:100", "driven:1:+0.5", "driven:3:1e-3", "rational:2:1", "reduced:0:3",
             "poly", "poly:", "poly:1.5", "poly:-2", "poly:1001", "driven:1:0", "driven:1:-4", "driven:1:inf",
             "driven:1:x", "rational:1", "rational:1:2:3", "Poly:2", " poly:2", "reduced:1:a", ""]

    def test_the_bindings_read_specs_as_the_library(self):
        for text in self.TEXTS:
            try:
                here = _odefit._parse_spec(text, here=True)
            except ValueError:
                here = ValueError
            try:
                library = _odefit._parse_spec(text)
            except ValueError:
                library = ValueError
            assert here == library, text
        assert _odefit._parse_spec("driven:2:100") == (2, 2, 0, 100.0, "driven:2:100")
        assert _odefit._parse_spec("rational:2:1")[:3] == (3, 2, 1)

    def test_a_period_is_written_so_that_it_reads_back_with_its_bits(self):
        for period in (0.1 + 0.2, 2 * math.pi / 7, 1e-300, 123456789.125):
            text = _odefit._parse_spec("driven:1:" + repr(period))[4]
            assert _odefit._parse_spec(text)[3] == period


@pytest.mark.skipif(odefit.has_search, reason="the library has the model search")
class TestWithoutTheSearch:
    def test_the_search_says_it_is_not_there(self, lorenz):
        with pytest.raises(NotImplementedError):
            odefit.search(lorenz, 0.01, **SMALL)
        with concurrent.futures.ThreadPoolExecutor(1) as pool:
            with pytest.raises(NotImplementedError):
                odefit.search(lorenz, 0.01, executor=pool, **SMALL)


@pytest.fixture(scope="module")
def local_search(lorenz):
    calls = []
    result = odefit.search(lorenz[:2000], 0.01, progress=lambda done, total: calls.append((done, total)), **SMALL)
    return result, calls


def same_search(a, b):
    assert a.best._fields() == b.best._fields()
    assert a.candidates == b.candidates
    assert (a.complete, a.horizon, a.starts, a.period) == (b.complete, b.horizon, b.starts, b.period)


@needs_search
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

    @pytest.mark.parametrize("kwargs, error", [
        (dict(dt=0.0), ValueError), (dict(time_limit=-1.0), ValueError), (dict(models=["poly:x"]), ValueError),
        (dict(models=[7]), TypeError), (dict(validation_fraction=1.5), ValueError),
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
