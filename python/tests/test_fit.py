"""odefit.fit: the library's numbers from numpy arrays, sparse fits, and what is refused."""

import threading

import numpy as np
import pytest

import odefit

from conftest import decay_series

# The README's report of the first Lorenz equation (order-2 polynomial, m = 3, Ntrain = 3000).
LORENZ_FIRST_EQUATION = [
    "-0.0714520684", "-9.8824946336", "9.9219700436", "0.0094647496", "0.0010731438",
    "-0.0004713513", "-0.0041351228", "-0.0002066544", "0.0031587255", "-0.0002846837",
]

# The same fit's bits, as tests/api/library_test.cpp (LorenzFitBits) pins them for the C++ library.
LORENZ_BITS = {
    "coefficient x1 of equation 1": (0, 1, "-0x1.3c3d6562cbf5cp+3"),
    "coefficient x2 of equation 1": (0, 2, "0x1.3d80c752227b7p+3"),
    "coefficient x1*x3 of equation 2": (1, 6, "-0x1.015e105f65858p+0"),
    "coefficient x1*x2 of equation 3": (2, 5, "0x1.02e3c9e1af21dp+0"),
}
LORENZ_ERROR_BITS = ["0x1.6d1097170001fp-10", "0x1.90e7514bf4353p-10", "0x1.15bd8d0e8ef0ap-10"]


class TestLibraryNumbers:
    def test_lorenz_gives_the_numbers_of_the_dialogue(self, lorenz_model):
        model = lorenz_model
        assert (model.dimension, model.dt, model.points, model.train) == (3, 0.01, 3, 3000)
        assert ["%.10f" % c for c in model.coefficients[0]] == LORENZ_FIRST_EQUATION
        assert ["%.5f" % (100 * e) for e in model.errors] == ["0.13926", "0.15293", "0.10595"]
        assert "%.10f" % (100 * model.errors[0]) == "0.1392611715"

    def test_lorenz_gives_the_bits_of_the_library(self, lorenz_model):
        for what, (equation, term, bits) in LORENZ_BITS.items():
            assert model_value(lorenz_model, equation, term) == float.fromhex(bits), what
        assert [e.hex() for e in lorenz_model.errors.tolist()] == [float.fromhex(b).hex() for b in LORENZ_ERROR_BITS]

    def test_one_spec_per_equation(self, lorenz):
        model = odefit.fit(lorenz, 0.01, model=["poly:1", "poly:2", "poly:3"], train=3000)
        assert [len(c) for c in model.coefficients] == [4, 10, 20]
        assert model.specs == ["poly:1", "poly:2", "poly:3"]
        # An equation's coefficients do not depend on the others' specs.
        same = odefit.fit(lorenz, 0.01, model="poly:2", train=3000)
        np.testing.assert_array_equal(model.coefficients[1], same.coefficients[1])

    def test_the_whole_series_without_train(self, lorenz):
        model = odefit.fit(lorenz, 0.01)
        assert model.train == 4000 and model.points == 3

    def test_every_family(self):
        t = 0.05 * np.arange(2000)
        X = np.column_stack([np.sin(t) + 2.0, np.cos(t) + 2.0])
        for spec, terms in [("poly:2", 6), ("driven:1:6.25", 5), ("rational:1:1", 5), ("reduced:1:1", 4)]:
            model = odefit.fit(X, 0.05, model=spec)
            assert model.specs == [spec, spec] and [len(c) for c in model.coefficients] == [terms, terms]


def model_value(model, equation, term):
    return model.coefficients[equation][term]


class TestSparse:
    def test_a_threshold_keeps_the_lorenz_terms(self, lorenz):
        model = odefit.fit(lorenz, 0.01, train=3000, threshold=0.5)
        kept = [[name for name, c in zip(names, coefficients) if c != 0.0]
                for names, coefficients in zip(model.terms, model.coefficients)]
        assert kept == [["x1", "x2"], ["x1", "x2", "x1*x3"], ["x3", "x1*x2"]]
        for coefficients, errors in zip(model.coefficients, model.standard_errors):
            # A dropped term has no standard error (NaN), not a zero that would read as "exact".
            assert np.all((errors > 0) == (coefficients != 0)) and np.all(np.isnan(errors[coefficients == 0]))

    def test_a_scaled_threshold(self, lorenz):
        # A term must carry 5 % of the slopes: the same terms as the raw threshold 0.5 keeps.
        model = odefit.fit(lorenz, 0.01, train=3000, threshold=0.05, scaled=True)
        assert [int(np.count_nonzero(c)) for c in model.coefficients] == [2, 3, 2]
        # 0.05 in raw coefficients keeps more: the same number means something else unscaled.
        raw = odefit.fit(lorenz, 0.01, train=3000, threshold=0.05)
        assert sum(int(np.count_nonzero(c)) for c in raw.coefficients) > 7

    def test_scaled_needs_a_threshold(self, lorenz):
        with pytest.raises(ValueError, match="threshold"):
            odefit.fit(lorenz, 0.01, scaled=True)

    @pytest.mark.parametrize("threshold", [-0.1, float("nan"), float("inf")])
    def test_the_threshold_must_be_finite_and_not_negative(self, lorenz, threshold):
        with pytest.raises(ValueError, match="threshold"):
            odefit.fit(lorenz, 0.01, threshold=threshold)


class TestArrays:
    def test_a_float64_c_array_is_not_copied(self, lorenz):
        assert odefit._odefit._as_series(lorenz) is lorenz

    def test_non_contiguous_and_fortran_arrays_give_the_same_bits(self, lorenz, lorenz_model):
        wide = np.zeros((4000, 6))
        wide[:, ::2] = lorenz
        for X in (wide[:, ::2], np.asfortranarray(lorenz), lorenz.astype(">f8")):
            model = odefit.fit(X, 0.01, train=3000)
            for mine, reference in zip(model.coefficients, lorenz_model.coefficients):
                np.testing.assert_array_equal(mine, reference)

    def test_integer_and_float32_arrays_are_converted(self, lorenz):
        rounded = np.round(lorenz * 100)
        reference = odefit.fit(rounded, 0.01, train=3000)
        for X in (rounded.astype(np.int64), rounded.astype(np.int32), rounded.astype(np.float32), rounded.tolist()):
            model = odefit.fit(X, 0.01, train=3000)
            np.testing.assert_array_equal(model.coefficients[2], reference.coefficients[2])

    def test_a_one_dimensional_array_is_one_component(self):
        model = odefit.fit(decay_series().ravel(), 0.05, model="poly:1")
        assert model.dimension == 1
        assert model.coefficients[0][1] == pytest.approx(-0.5, rel=1e-3)

    @pytest.mark.parametrize("X", [
        np.array([[1, 2], [3, 4]], dtype=object),
        np.ones((10, 2), dtype=complex),
        np.array([["1", "2"], ["3", "4"]]),
        np.ones((10, 2), dtype=bool),
        None,
    ], ids=["object", "complex", "str", "bool", "None"])
    def test_arrays_not_of_real_numbers_are_refused(self, X):
        with pytest.raises(TypeError, match="real numbers"):
            odefit.fit(X, 0.01)

    def test_a_ragged_list_is_refused(self):
        with pytest.raises(ValueError):
            odefit.fit([[1.0, 2.0], [3.0]], 0.01)

    @pytest.mark.parametrize("shape", [(0, 3), (0,), (5, 0)])
    def test_empty_arrays_are_refused(self, shape):
        with pytest.raises(ValueError, match="empty"):
            odefit.fit(np.zeros(shape), 0.01)

    @pytest.mark.parametrize("shape, text", [((4, 3, 2), r"\(4, 3, 2\)"), ((100, 10), r"\(100, 10\)")])
    def test_wrong_shapes_are_named(self, shape, text):
        with pytest.raises(ValueError, match=text):
            odefit.fit(np.ones(shape), 0.01)

    @pytest.mark.parametrize("value, word", [(np.nan, "NaN"), (np.inf, "infinite"), (-np.inf, "infinite")])
    def test_values_that_are_not_finite_are_refused(self, lorenz, value, word):
        X = lorenz.copy()
        X[5, 1] = value
        with pytest.raises(ValueError, match=r"X\[5, 1\] is " + word):
            odefit.fit(X, 0.01)


class TestSettings:
    @pytest.mark.parametrize("spec", ["poly", "poly:x", "poly:-1", "poly:2:3", "cubic:3", "driven:2",
                                      "driven:2:0", "driven:2:nan", "rational:1", "reduced:1:", "", "poly:1001"])
    def test_bad_specs_are_value_errors(self, lorenz, spec):
        with pytest.raises(ValueError):
            odefit.fit(lorenz, 0.01, model=spec)

    @pytest.mark.parametrize("model", [3, ["poly:2", 5], b"poly:2"])
    def test_specs_must_be_strings(self, lorenz, model):
        with pytest.raises(TypeError):
            odefit.fit(lorenz, 0.01, model=model)

    @pytest.mark.parametrize("kwargs", [
        dict(dt=0.0), dict(dt=-0.01), dict(dt=float("nan")), dict(dt=float("inf")),
        dict(points=1), dict(points=4001), dict(points=2**40),
        dict(train=1), dict(train=0), dict(train=5000),
        dict(model=[]), dict(model=["poly:2", "poly:2"]),
        dict(model="poly:40"), dict(model="reduced:1:1"),
        dict(train=11, model="poly:2"),  # 10 terms, 11 vectors give 9 derivatives
    ], ids=lambda kwargs: ",".join(f"{k}={v}" for k, v in kwargs.items()))
    def test_impossible_settings_are_value_errors(self, lorenz, kwargs):
        arguments = dict(dt=0.01)
        arguments.update(kwargs)
        with pytest.raises(ValueError):
            odefit.fit(lorenz, **arguments)

    @pytest.mark.parametrize("names, error", [
        (["x", "y"], ValueError), (["x", "y", "z", "w"], ValueError), ("xyz", TypeError),
        (["x", "y", 3], TypeError), ([b"x", b"y", b"z"], TypeError), (7, TypeError),
        (["x", "y", "\udcff"], ValueError),
    ], ids=str)
    def test_names_are_one_string_per_column(self, lorenz, names, error):
        with pytest.raises(error):
            odefit.fit(lorenz, 0.01, names=names)

    def test_a_singular_fit_is_a_numerical_error_and_the_next_fit_works(self, singular_series):
        for _ in range(2):
            with pytest.raises(odefit.NumericalError, match="FATAL") as caught:
                odefit.fit(singular_series, 0.1, train=150, model=["reduced:0:0", "poly:1"])
            assert isinstance(caught.value, RuntimeError)
        assert odefit.fit(singular_series, 0.1, train=150, model="poly:0").dimension == 2

    def test_a_singular_fit_prints_nothing(self, singular_series, capfd):
        with pytest.raises(odefit.NumericalError):
            odefit.fit(singular_series, 0.1, train=150, model=["reduced:0:0", "poly:1"])
        assert capfd.readouterr() == ("", "")


class TestThreads:
    def test_fits_on_several_python_threads_give_the_serial_bits(self, lorenz):
        orders = [1, 2, 3, 2]
        serial = [odefit.fit(lorenz, 0.01, model=f"poly:{n}", train=3000) for n in orders]
        concurrent = [None] * len(orders)

        def work(k):
            concurrent[k] = odefit.fit(lorenz, 0.01, model=f"poly:{orders[k]}", train=3000)

        threads = [threading.Thread(target=work, args=(k,)) for k in range(len(orders))]
        for thread in threads:
            thread.start()
        for thread in threads:
            thread.join()
        for mine, reference in zip(concurrent, serial):
            for a, b in zip(mine.coefficients, reference.coefficients):
                np.testing.assert_array_equal(a, b)
