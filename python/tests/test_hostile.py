"""Hostile calls: whatever arrays, numbers, texts and dicts come in, from however many threads, the
package answers with a result or an exception and never takes the interpreter down."""

import concurrent.futures
import copy
import json
import math
import os
import pickle
import tempfile
import threading

import numpy as np
import pytest
from hypothesis import HealthCheck, given, settings, strategies as st
from hypothesis.configuration import set_hypothesis_home_dir
from hypothesis.extra import numpy as hnp

import odefit
from odefit import _odefit

# What a refusal may be: InputError is a ValueError; MemoryError for a request the machine cannot hold.
REFUSALS = (ValueError, TypeError, OverflowError, MemoryError, odefit.NumericalError)

# Hypothesis keeps its caches out of the folder the tests run in (which may be the source tree).
set_hypothesis_home_dir(os.path.join(tempfile.gettempdir(), "odefit-hypothesis"))
PROPERTIES = settings(max_examples=60, deadline=None, database=None,
                      suppress_health_check=[HealthCheck.too_slow, HealthCheck.function_scoped_fixture])

# A two-variable oscillation (dx1/dt = x2, dx2/dt = -x1) with two more columns in between, so that
# slices of it are arrays that do not own contiguous memory.
_t = 0.05 * np.arange(400)
WIDE = np.column_stack([np.sin(_t), np.full(400, 5.0), np.cos(_t), np.full(400, 7.0)])
OSCILLATION = np.ascontiguousarray(WIDE[:, ::2])
OSCILLATION.setflags(write=False)
MODEL = odefit.fit(OSCILLATION, dt=0.05, points=3, model="poly:1")


def refused_or(call, check=lambda result: None):
    """Calls `call`; a result must pass `check`, any exception must be a refusal."""
    try:
        result = call()
    except REFUSALS:
        return None
    check(result)
    return result


# ----------------------------------------------------------------------------- arrays of any kind

ANY_DTYPE = st.one_of(hnp.scalar_dtypes(), hnp.byte_string_dtypes(), hnp.unicode_string_dtypes())
ANY_SHAPE = hnp.array_shapes(min_dims=0, max_dims=3, min_side=0, max_side=9)


class TestAnyArray:
    # Two-point windows and arbitrary values give doubtful fits, which warn (tested in test_warnings).
    @pytest.mark.filterwarnings("ignore::odefit.OdefitWarning")
    @PROPERTIES
    @given(hnp.arrays(dtype=ANY_DTYPE, shape=ANY_SHAPE))
    def test_fit_fits_or_refuses(self, X):
        def check(model):
            assert model.dimension == (1 if X.ndim == 1 else X.shape[1])
            assert X.dtype.kind in "iuf"
        refused_or(lambda: odefit.fit(X, dt=0.1, points=2, model="poly:0"), check)

    @PROPERTIES
    @given(hnp.arrays(dtype=ANY_DTYPE, shape=ANY_SHAPE), hnp.arrays(dtype=ANY_DTYPE, shape=ANY_SHAPE))
    def test_rhs_evaluates_or_refuses(self, x, t):
        def check(dxdt):
            assert dxdt.dtype == np.float64 and dxdt.shape[-1] == 2
        refused_or(lambda: MODEL.rhs(t=t, x=x), check)

    @PROPERTIES
    @given(hnp.arrays(dtype=ANY_DTYPE, shape=ANY_SHAPE), st.integers(-3, 30))
    def test_simulate_integrates_or_refuses(self, x0, steps):
        def check(path):
            assert path.shape == (steps + 1, 2)
        refused_or(lambda: MODEL.simulate(x0, steps), check)

    @PROPERTIES
    @given(hnp.arrays(dtype=hnp.floating_dtypes(), shape=hnp.array_shapes(min_dims=2, max_dims=2, max_side=60),
                      elements=st.floats(allow_nan=True, allow_infinity=True, width=16)))
    def test_efficiency_test_runs_or_refuses(self, X):
        refused_or(lambda: odefit.efficiency_test(MODEL, X, pieces=2, length=3, shift=2))


class TestViews:
    # A quadratic fit on these circles is ill-conditioned (warned about, tested in test_fit); the bits are the point.
    @pytest.mark.filterwarnings("ignore::odefit.OdefitWarning")
    @PROPERTIES
    @given(st.integers(1, 3), st.sampled_from(["C", "F", "view"]), st.booleans())
    def test_views_and_read_only_arrays_give_the_bits_of_their_copies(self, row_step, layout, read_only):
        X = WIDE[::row_step, ::2]  # strided in both directions
        if layout == "C":
            X = np.ascontiguousarray(X)
        elif layout == "F":
            X = np.asfortranarray(X)
        if read_only:
            X = X.view()
            X.setflags(write=False)
        copied = np.array(X, order="C")
        a = odefit.fit(X, dt=0.05 * row_step, model="poly:2")
        b = odefit.fit(copied, dt=0.05 * row_step, model="poly:2")
        for ca, cb in zip(a.coefficients, b.coefficients):
            assert ca.tobytes() == cb.tobytes()
        assert MODEL.rhs(X[:7]).tobytes() == MODEL.rhs(copied[:7]).tobytes()
        assert MODEL.simulate(X[3], 5).tobytes() == MODEL.simulate(copied[3], 5).tobytes()

    def test_a_byte_swapped_array_reads_as_its_values(self):
        swapped = OSCILLATION.astype(">f8")
        a = odefit.fit(swapped, dt=0.05, model="poly:1")
        assert a.coefficients[0].tobytes() == MODEL.coefficients[0].tobytes()


class TestValuesThatAreNotFinite:
    @PROPERTIES
    @given(st.integers(0, 399), st.integers(0, 1), st.sampled_from([math.nan, math.inf, -math.inf]))
    def test_are_refused_where_they_are(self, row, column, value):
        X = OSCILLATION.copy()
        X[row, column] = value
        word = "NaN" if math.isnan(value) else "infinite"
        with pytest.raises(ValueError, match=rf"X\[{row}, {column}\] is {word}"):
            odefit.fit(X, dt=0.05)
        with pytest.raises(ValueError, match=rf"X_test\[{row}, {column}\] is {word}"):
            odefit.efficiency_test(MODEL, X, pieces=2, length=10, shift=5)
        with pytest.raises(ValueError, match=rf"x0\[{column}\] is {word}"):
            MODEL.simulate(X[row], 3)

    @pytest.mark.parametrize("dt", [math.nan, math.inf, -math.inf, 0.0, -0.05, 1e-320])
    def test_a_sampling_interval_that_cannot_be(self, dt):
        refused_or(lambda: odefit.fit(OSCILLATION, dt=dt), lambda model: model.dt > 0)


# ----------------------------------------------------------------------------- huge requests

HUGE = [
    ("a test piece longer than 1e9 values", lambda: odefit.efficiency_test(MODEL, OSCILLATION, length=10**12)),
    ("more pieces than an int", lambda: odefit.efficiency_test(MODEL, OSCILLATION, pieces=2**40, length=3)),
    ("a window longer than an int", lambda: odefit.fit(OSCILLATION, dt=0.05, points=2**40)),
    ("more training vectors than an int", lambda: odefit.fit(OSCILLATION, dt=0.05, train=2**40)),
    ("an order beyond the largest", lambda: odefit.fit(OSCILLATION, dt=0.05, model="poly:99999999999")),
    ("an order with too many terms", lambda: odefit.fit(OSCILLATION, dt=0.05, model="rational:1000:1000")),
    ("digits beyond a C int", lambda: MODEL.equations(digits=10**20)),
    ("a search window beyond an int", lambda: odefit.search(OSCILLATION, 0.05, points=[10**12])),
    ("a search window wider than the series", lambda: odefit.search(OSCILLATION, 0.05, points=[10**6])),
    ("a search horizon beyond an int", lambda: odefit.search(OSCILLATION, 0.05, horizon=10**12)),
]


@pytest.mark.parametrize("call", [call for _, call in HUGE], ids=[what for what, _ in HUGE])
def test_huge_requests_are_refused_before_anything_is_allocated(call):
    with pytest.raises((ValueError, TypeError, OverflowError)):
        call()


def test_absurd_thread_counts_give_the_one_thread_result():
    one = odefit.efficiency_test(MODEL, OSCILLATION, pieces=40, length=300, shift=2, threads=1)
    many = odefit.efficiency_test(MODEL, OSCILLATION, pieces=40, length=300, shift=2, threads=10**9)
    assert one.prediction_error.tobytes() == many.prediction_error.tobytes()
    a = odefit.search(OSCILLATION, 0.05, points=[3, 5], models=["poly:1"], threads=1)
    b = odefit.search(OSCILLATION, 0.05, points=[3, 5], models=["poly:1"], threads=10**6)
    assert a.best.coefficients[0].tobytes() == b.best.coefficients[0].tobytes()


# ----------------------------------------------------------------------------- texts and dicts

JSON_VALUES = st.recursive(
    st.none() | st.booleans() | st.integers(-2**70, 2**70) | st.floats(allow_nan=False) | st.text(max_size=12),
    lambda inner: st.lists(inner, max_size=4) | st.dictionaries(st.text(max_size=8), inner, max_size=4),
    max_leaves=12)
GOOD = json.loads(MODEL.to_json())


def paths(value, prefix=()):
    """Every path to a member or item of the JSON value."""
    yield prefix
    if isinstance(value, dict):
        for key, item in value.items():
            yield from paths(item, prefix + (key,))
    elif isinstance(value, list):
        for index, item in enumerate(value):
            yield from paths(item, prefix + (index,))


ALL_PATHS = list(paths(GOOD))[1:]


class TestHostileModels:
    @PROPERTIES
    @given(st.sampled_from(ALL_PATHS), JSON_VALUES)
    def test_a_model_file_with_any_member_replaced_reads_whole_or_not_at_all(self, path, value):
        document = copy.deepcopy(GOOD)
        parent = document
        for key in path[:-1]:
            parent = parent[key]
        parent[path[-1]] = value

        def check(model):
            # Whatever reads is a model that evaluates, prints and writes back the same.
            x = np.full(model.dimension, 0.5)
            assert model.rhs(x).shape == (model.dimension,)
            assert len(model.equations()) == model.dimension
            assert odefit.Model.from_json(model.to_json()).to_json() == model.to_json()

        refused_or(lambda: odefit.Model.from_json(json.dumps(document)), check)

    @PROPERTIES
    @given(st.text(max_size=300))
    def test_any_text_is_a_model_file_or_an_input_error(self, text):
        try:
            odefit.Model.from_json(text)
        except odefit.InputError as e:
            assert e.file == "model"

    def test_numbers_beyond_a_double_are_input_errors(self):
        text = MODEL.to_json().replace('"dt": 0.05', '"dt": 1e999')
        with pytest.raises(odefit.InputError, match="number overflow"):
            odefit.Model.from_json(text)

    @PROPERTIES
    @given(st.sampled_from(["family", "nu", "mu", "nterms", "nnum", "nden", "period", "we", "wdt", "coef",
                            "error", "standard_errors", "condition"]), JSON_VALUES)
    def test_model_fields_of_any_value_make_a_valid_model_or_are_refused(self, key, value):
        fields = MODEL._fields()
        fields["equations"][0][key] = value
        refused_or(lambda: odefit.Model._from_fields(fields), lambda m: m.rhs(np.zeros(2)))

    def test_a_damaged_pickle_is_refused(self):
        data = pickle.dumps(MODEL).replace(b"odefit-model-1", b"odefit-model-9")
        with pytest.raises(odefit.InputError):
            pickle.loads(data)

    def test_an_empty_model_cannot_be_made(self):
        # An instance from __new__ alone would hold no model: every method would read unconstructed memory.
        with pytest.raises(TypeError, match="cannot be made directly"):
            odefit.Model.__new__(odefit.Model)
        with pytest.raises(TypeError):
            odefit.Model()
        with pytest.raises(TypeError):
            object.__new__(odefit.Model)
        for twin in (copy.copy(MODEL), copy.deepcopy(MODEL), pickle.loads(pickle.dumps(MODEL, protocol=0)),
                     pickle.loads(pickle.dumps(MODEL, protocol=pickle.HIGHEST_PROTOCOL))):
            assert twin.to_json() == MODEL.to_json()
        assert not hasattr(MODEL, "__setstate__")  # a model, once made, is never refilled


class TestHostileExecutorDicts:
    """What comes back from another process is checked before the library indexes with it."""

    def setup_method(self):
        self.settings = {"dt": 0.05, "points": [3, 5], "shapes": ["poly:1", "poly:2"], "thresholds": [0.01]}
        self.plan = _odefit._plan_search(OSCILLATION, self.settings)
        self.task = _odefit._run_search_task(OSCILLATION, self.settings, self.plan, 0)

    @pytest.mark.parametrize("key, value", [("horizon", -5), ("horizon", 10**6), ("points", [1]), ("points", []),
                                            ("points", [10**6]), ("thresholds", [math.nan]),
                                            ("shapes", ["reduced:1:1:1"]), ("period", [-1.0]),
                                            ("noise", [0.1, 0.1, 0.1]), ("noise", [math.nan, 0.1]),
                                            ("start_points", 4), ("start_points", 10**6),
                                            ("rows_per_sum", -1), ("rows_per_sum", 2)])
    def test_a_tampered_plan_is_refused(self, key, value):
        plan = dict(self.plan, **{key: value})
        with pytest.raises(ValueError):
            _odefit._run_search_task(OSCILLATION, self.settings, plan, 0)

    @pytest.mark.parametrize("edit", [
        lambda c: c["supports"][0].append(10**6),
        lambda c: c["supports"][0].insert(0, -1),
        lambda c: c["supports"].pop(),
        lambda c: c["supports"].__setitem__(1, []),
        lambda c: c.__setitem__("models", ["poly:1"]),
        lambda c: c.__setitem__("term_count", c["term_count"] + 5),
        lambda c: c["terms"][0].append("x9"),
        lambda c: c.__setitem__("points", 99),
        lambda c: c.__setitem__("score", math.nan),
    ])
    def test_a_tampered_task_result_is_refused(self, edit):
        task = copy.deepcopy(self.task)
        assert task["candidates"]
        edit(task["candidates"][0])
        with pytest.raises(ValueError):
            _odefit._finish_search(OSCILLATION, self.settings, self.plan, [task])

    def test_results_of_the_wrong_types_are_type_errors(self):
        for results in ([42], [{"points": "3"}], [dict(self.task, candidates=[1])]):
            with pytest.raises((TypeError, ValueError)):
                _odefit._finish_search(OSCILLATION, self.settings, self.plan, results)

    def test_a_progress_that_is_not_callable_or_raises_ends_the_search_with_its_error(self):
        with pytest.raises(TypeError):
            odefit.search(OSCILLATION, 0.05, points=[3], models=["poly:1"], progress=5)

        def fails(done, total):
            raise KeyError("stop here")
        with pytest.raises(KeyError, match="stop here"):
            odefit.search(OSCILLATION, 0.05, points=[3, 5], models=["poly:1"], progress=fails)


# ----------------------------------------------------------------------------- threads

class TestThreads:
    # A quadratic fit on these circles is ill-conditioned (warned about, tested in test_fit); the bits are the point.
    @pytest.mark.filterwarnings("ignore::odefit.OdefitWarning")
    def test_every_call_at_once_from_many_threads_gives_the_serial_results(self):
        state = pickle.dumps(MODEL)

        def work(k):
            X = OSCILLATION[k % 3:]
            model = odefit.fit(X, dt=0.05, model=["poly:1", "poly:2"])
            return (model.to_json(),
                    MODEL.rhs(X[:50]).tobytes(),
                    MODEL.simulate(X[0], 100, method=["euler", "rk4", "rk56"][k % 3]).tobytes(),
                    odefit.efficiency_test(MODEL, X, pieces=3, length=50, shift=20, threads=2).prediction_error.tobytes(),
                    pickle.loads(state).to_json(),
                    odefit.Model.from_json(model.to_json()).to_json())

        serial = [work(k) for k in range(6)]
        with concurrent.futures.ThreadPoolExecutor(max_workers=8) as pool:
            concurrent_results = list(pool.map(work, list(range(6)) * 4))
        assert concurrent_results == serial * 4

    def test_refusals_on_some_threads_leave_the_others_alone(self):
        def work(k):
            if k % 2:
                with pytest.raises(ValueError):
                    odefit.fit(np.full((50, 2), math.nan), dt=0.05)
                with pytest.raises(odefit.InputError):
                    odefit.Model.from_json("{")
                return None
            return odefit.fit(OSCILLATION, dt=0.05, model="poly:1").coefficients[1].tobytes()

        with concurrent.futures.ThreadPoolExecutor(max_workers=6) as pool:
            results = list(pool.map(work, range(24)))
        assert set(r for r in results if r is not None) == {MODEL.coefficients[1].tobytes()}

    def test_searches_on_two_threads_give_the_same_result(self):
        def search(_):
            result = odefit.search(OSCILLATION, 0.05, points=[3, 5], threads=2)
            return [c.tobytes() for c in result.best.coefficients]

        with concurrent.futures.ThreadPoolExecutor(max_workers=2) as pool:
            a, b = pool.map(search, range(2))
        assert a == b

    # A quadratic fit on these circles is ill-conditioned (warned about, tested in test_fit); the bits are the point.
    @pytest.mark.filterwarnings("ignore::odefit.OdefitWarning")
    def test_an_array_written_by_one_thread_while_another_reads_it_does_not_crash(self):
        X = OSCILLATION.copy()
        done = threading.Event()

        def scribble():
            rng = np.random.default_rng(1)
            while not done.is_set():
                X[rng.integers(0, len(X))] = rng.normal(size=2) * 1e300

        writer = threading.Thread(target=scribble)
        writer.start()
        try:
            for _ in range(30):
                MODEL.rhs(X)
                refused_or(lambda: odefit.fit(X, dt=0.05, model="poly:1"))
                refused_or(lambda: odefit.efficiency_test(MODEL, X, pieces=3, length=20, shift=10))
        finally:
            done.set()
            writer.join()
