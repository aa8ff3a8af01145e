"""The package as a Python user expects it: scipy's argument order, equality, models from given
coefficients, differentiation, documentation, short reprs, a clean namespace and a scikit-learn estimator."""

import inspect
import pickle
import warnings

import numpy as np
import pytest
from scipy.integrate import solve_ivp

import odefit

LORENZ = [[0, -10, 10, 0, 0, 0, 0, 0, 0, 0],
          [0, 28, -1, 0, 0, 0, -1, 0, 0, 0],
          [0, 0, 0, -8 / 3, 0, 1, 0, 0, 0, 0]]


@pytest.fixture(scope="module")
def true_lorenz():
    return odefit.Model.from_coefficients(0.01, "poly:2", LORENZ, names=["x", "y", "z"])


class TestRhs:
    def test_scipy_integrates_the_model_directly(self, true_lorenz):
        x0 = np.array([1.0, 1.0, 20.0])
        ours = true_lorenz.simulate(x0, 50, method="rk56")
        theirs = solve_ivp(true_lorenz.rhs, (0.0, 0.5), x0, method="DOP853", t_eval=0.01 * np.arange(51),
                           rtol=1e-12, atol=1e-12).y.T
        np.testing.assert_allclose(ours, theirs, rtol=1e-6, atol=1e-6)

    @pytest.mark.parametrize("call", [
        lambda m, t, x: m.rhs(t, x),
        lambda m, t, x: m.rhs(t=t, x=x),
        lambda m, t, x: m.rhs(x, t=t),
        lambda m, t, x: m.rhs(t, x=x),
    ], ids=["(t, x)", "keywords", "(x, t=)", "(t, x=)"])
    def test_every_unambiguous_spelling_gives_the_same(self, true_lorenz, call):
        x = np.array([[1.0, 2.0, 3.0], [-1.0, 0.5, 20.0]])
        with warnings.catch_warnings():
            warnings.simplefilter("error")
            got = call(true_lorenz, 0.0, x)
        np.testing.assert_array_equal(got, true_lorenz.rhs(x))
        np.testing.assert_array_equal(got[1], [10 * 1.5, 28 * -1 - 0.5 - (-1) * 20, -0.5 - 8 / 3 * 20])

    def test_the_old_order_still_works_with_a_warning(self, true_lorenz):
        x = np.array([1.0, 2.0, 3.0])
        with pytest.warns(DeprecationWarning, match="rhs\\(t, x\\)"):
            old = true_lorenz.rhs(x, 0.0)
        np.testing.assert_array_equal(old, true_lorenz.rhs(0.0, x))

    def test_the_signature_says_t_then_x(self):
        assert list(inspect.signature(odefit.Model.rhs).parameters) == ["self", "t", "x"]


class TestValues:
    def test_models_compare_by_what_they_say(self, true_lorenz, lorenz_model):
        again = odefit.Model.from_coefficients(0.01, "poly:2", LORENZ, names=["x", "y", "z"])
        assert again == true_lorenz and hash(again) == hash(true_lorenz)
        assert pickle.loads(pickle.dumps(lorenz_model)) == lorenz_model
        assert lorenz_model != true_lorenz and true_lorenz != "a model"
        assert odefit.Model.from_coefficients(0.02, "poly:2", LORENZ) != true_lorenz

    def test_a_model_from_coefficients_says_them_back(self, true_lorenz):
        assert true_lorenz.specs == ["poly:2"] * 3 and true_lorenz.names == ["x", "y", "z"]
        for given, held in zip(LORENZ, true_lorenz.coefficients):
            np.testing.assert_array_equal(held, given)
        assert true_lorenz.equations()[0] == "dx/dt = -10 x + 10 y"  # its names
        assert np.all(np.isnan(true_lorenz.errors))
        assert odefit.Model.from_json(true_lorenz.to_json()) == true_lorenz

    @pytest.mark.parametrize("args, error, text", [
        ((0.01, "poly:2", [LORENZ[0], LORENZ[1], LORENZ[2][:9]]), ValueError, "equation 3 .*10 terms.*9"),
        ((0.01, ["poly:2", "poly:1"], LORENZ), ValueError, "one for each"),
        ((0.0, "poly:2", LORENZ), ValueError, "sampling interval"),
        ((0.01, "poly:2", [LORENZ[0], LORENZ[1], [np.nan] * 10]), ValueError, "not finite"),
        ((0.01, "poly:2", "1 2 3"), TypeError, "coefficients"),
        ((0.01, "cubic", LORENZ), ValueError, ""),
    ])
    def test_impossible_coefficients_are_refused(self, args, error, text):
        with pytest.raises(error, match=text):
            odefit.Model.from_coefficients(*args)

    def test_condition_and_dropped_terms(self, lorenz):
        sparse = odefit.fit(lorenz, 0.01, train=3000, threshold=0.5)
        assert sparse.condition.shape == (3,) and np.all(sparse.condition >= 1)
        for coefficients, errors in zip(sparse.coefficients, sparse.standard_errors):
            assert np.all(np.isnan(errors[coefficients == 0])) and np.all(errors[coefficients != 0] > 0)


class TestDifferentiate:
    def test_polynomials_of_the_fit_degree_are_differentiated_exactly(self):
        t = 0.1 * np.arange(40)
        X = np.column_stack([3 * t ** 2 - t, 2 - t ** 3])
        for order, column in ((2, 0), (3, 1)):
            d = odefit.differentiate(X, 0.1, points=7, order=order)
            assert d.offset == 3 and d.slopes.shape == (34, 2)
            exact = (6 * t - 1, -3 * t ** 2)[column][3:-3]
            np.testing.assert_allclose(d.slopes[:, column], exact, rtol=1e-9, atol=1e-9)
            np.testing.assert_allclose(d.states[:, column], X[3:-3, column], rtol=1e-9, atol=1e-9)

    def test_the_line_fit_is_the_one_fits_use(self, lorenz, lorenz_model):
        d = odefit.differentiate(lorenz[:3000], 0.01, points=3)
        predicted = lorenz_model.rhs(d.states)
        residual = np.sqrt(np.sum((d.slopes - predicted) ** 2, axis=0) /
                           np.sum((d.slopes - d.slopes.mean(axis=0)) ** 2, axis=0))
        np.testing.assert_allclose(residual, lorenz_model.errors, rtol=1e-6)

    @pytest.mark.parametrize("kwargs, text", [(dict(points=1), "points"), (dict(order=0), "order"),
                                              (dict(points=3, order=3), "")])
    def test_impossible_windows_are_refused(self, lorenz, kwargs, text):
        with pytest.raises(ValueError, match=text):
            odefit.differentiate(lorenz, 0.01, **kwargs)


class TestPackage:
    def test_the_namespace_holds_only_the_public_names(self):
        assert "np" not in dir(odefit) and "dataclass" not in dir(odefit)
        assert set(dir(odefit)) == set(odefit.__all__)
        for name in odefit.__all__:
            assert hasattr(odefit, name), name

    @pytest.mark.parametrize("function", [odefit.fit, odefit.read_series, odefit.differentiate,
                                          odefit.efficiency_test, odefit.search,
                                          odefit.Model.from_coefficients, odefit.Model.rhs])
    def test_help_shows_parameters_and_types(self, function):
        doc = inspect.getdoc(function)
        assert "Parameters\n----------" in doc
        for name in inspect.signature(function).parameters:
            if name not in ("self",):
                assert name in doc, f"{function.__name__} does not document {name}"

    def test_typed_signatures(self):
        assert inspect.signature(odefit.fit).return_annotation is odefit.Model
        assert "handle" not in str(inspect.signature(odefit.fit))

    def test_reprs_are_short(self, lorenz, lorenz_model):
        result = odefit.efficiency_test(lorenz_model, lorenz[3000:], pieces=4, length=200, shift=200)
        text = repr(result)
        assert len(text) < 300 and "prediction_time=" in text and "<200 x 3>" in text
        found = odefit.search(lorenz[:2000], 0.01, points=[3], models=["poly:2"], thresholds=[0.1])
        assert len(repr(found)) < 300 and "candidates" in repr(found)


class TestEstimator:
    def test_it_fits_like_fit(self, lorenz, lorenz_model):
        estimator = odefit.ODEModel(points=3, dt=0.01).fit(lorenz[:3000])
        assert estimator.model_ == lorenz_model.__class__.from_json(estimator.model_.to_json())
        np.testing.assert_array_equal(estimator.coef_, np.array(lorenz_model.coefficients))
        assert estimator.n_features_in_ == 3 and estimator.terms_ == lorenz_model.terms
        assert estimator.score(lorenz[3000:]) > 0.99
        assert estimator.predict(lorenz[:5]).shape == (5, 3)

    def test_times_give_the_interval(self, lorenz):
        by_times = odefit.ODEModel().fit(lorenz[:1000], 0.01 * np.arange(1000))
        by_dt = odefit.ODEModel(dt=0.01).fit(lorenz[:1000])
        assert by_times.model_ == by_dt.model_
        with pytest.raises(ValueError, match="uniformly"):
            odefit.ODEModel().fit(lorenz[:3], [0.0, 0.01, 0.03])
        with pytest.raises(ValueError, match="sampling interval"):
            odefit.ODEModel().fit(lorenz[:100])
        with pytest.raises(AttributeError, match="not fitted"):
            odefit.ODEModel().predict(lorenz[:3])

    def test_parameters_follow_the_conventions(self):
        estimator = odefit.ODEModel(threshold=0.1)
        assert estimator.get_params()["threshold"] == 0.1
        assert estimator.set_params(points=5) is estimator and estimator.points == 5
        assert repr(estimator) == "ODEModel(points=5, threshold=0.1)"
        with pytest.raises(ValueError, match="no parameter 'order'"):
            estimator.set_params(order=2)

    def test_grid_search_over_threshold_and_points(self, lorenz):
        model_selection = pytest.importorskip(
            "sklearn.model_selection", reason="the estimator test needs scikit-learn (Debian: python3-sklearn)")
        search = model_selection.GridSearchCV(
            odefit.ODEModel(dt=0.01), {"threshold": [0.5, 5.0], "points": [3, 5]},
            cv=model_selection.TimeSeriesSplit(3)).fit(lorenz[:3000])
        assert search.best_params_ == {"points": 3, "threshold": 0.5}
        kept = [np.flatnonzero(row).tolist() for row in search.best_estimator_.coef_]
        assert kept == [[1, 2], [1, 2, 6], [3, 5]]
