"""odefit.Model: its parts, the right-hand side, simulation, the model file, pickling."""

import concurrent.futures
import math
import pickle

import numpy as np
import pytest
from scipy.integrate import solve_ivp

import odefit

from conftest import decay_series

LORENZ_TERMS = ["1", "x1", "x2", "x3", "x1^2", "x1*x2", "x1*x3", "x2^2", "x2*x3", "x3^2"]


def term_value(name, x):
    """The value of a term name such as "x1^2*x3" at the state x (indices from 1)."""
    value = 1.0
    if name == "1":
        return value
    for factor in name.split("*"):
        variable, _, power = factor.partition("^")
        value *= x[int(variable[1:]) - 1] ** int(power or 1)
    return value


class TestParts:
    def test_terms_coefficients_and_errors_line_up(self, lorenz_model):
        assert lorenz_model.terms == [LORENZ_TERMS] * 3
        assert [c.shape for c in lorenz_model.coefficients] == [(10,)] * 3
        assert all(c.dtype == np.float64 for c in lorenz_model.coefficients)
        assert lorenz_model.errors.shape == (3,)
        assert lorenz_model.specs == ["poly:2"] * 3

    def test_standard_errors_have_the_shape_of_the_coefficients(self, lorenz_model):
        for errors in lorenz_model.standard_errors:
            assert errors.shape == (10,)
            assert np.all(np.isnan(errors)) or np.all(errors > 0)

    def test_returned_arrays_are_copies(self, lorenz_model):
        lorenz_model.coefficients[0][:] = 0.0
        assert lorenz_model.coefficients[0][1] != 0.0

    def test_equations_as_text(self, lorenz_model):
        lines = lorenz_model.equations()
        assert len(lines) == 3 and lines[0].startswith("dx1/dt = ")
        assert "9.8825 x1" in lines[0] and "9.922 x2" in lines[0]
        assert "9.88 x1" in lorenz_model.equations(digits=3)[0]
        with pytest.raises(ValueError):
            lorenz_model.equations(digits=0)

    def test_repr_names_the_settings_and_the_equations(self, lorenz_model):
        text = repr(lorenz_model)
        assert text.startswith("odefit.Model(dimension=3, dt=0.01, points=3, train=3000, "
                               "models=['poly:2', 'poly:2', 'poly:2'])")
        assert text.splitlines()[1:] == ["  " + line for line in lorenz_model.equations()]

    def test_the_model_is_read_only(self, lorenz_model):
        with pytest.raises(AttributeError):
            lorenz_model.dt = 1.0
        with pytest.raises(AttributeError):
            lorenz_model.names = ["a", "b", "c"]


class TestNames:
    def test_a_model_fitted_without_names_has_none(self, lorenz_model):
        assert lorenz_model.names == []
        assert "names" not in repr(lorenz_model)

    def test_names_name_the_variables_in_the_terms_and_equations(self, lorenz, lorenz_model):
        model = odefit.fit(lorenz, 0.01, train=3000, names=["x", "y", "z"])
        assert model.names == ["x", "y", "z"]
        assert model.terms[0][4:7] == ["x^2", "x*y", "x*z"] and lorenz_model.terms[0][4] == "x1^2"
        assert model.equations()[1].startswith("dy/dt = 0.20676 + 28.15 x - 1.0634 y")
        for mine, reference in zip(model.coefficients, lorenz_model.coefficients):
            np.testing.assert_array_equal(mine, reference)
        assert repr(model).splitlines()[0].endswith("models=['poly:2', 'poly:2', 'poly:2'], names=['x', 'y', 'z'])")

    def test_the_names_of_a_table_s_header(self, tmp_path):
        X = decay_series()
        path = tmp_path / "decay.csv"
        path.write_text("amount\n" + "\n".join(repr(v) for v in X[:, 0]) + "\n")
        X, names = odefit.read_series(path, return_names=True)
        assert odefit.fit(X, 0.05, model="poly:1", names=names).names == ["amount"]

    def test_names_go_through_the_model_file_and_pickle(self, lorenz):
        model = odefit.fit(lorenz, 0.01, train=3000, names=["x", "y", "z"])
        assert '"variables": [\n    "x",' in model.to_json()
        assert odefit.Model.from_json(model.to_json()).names == ["x", "y", "z"]
        back = pickle.loads(pickle.dumps(model))
        assert back.names == ["x", "y", "z"] and back._fields() == model._fields()
        assert odefit.Model._from_fields(model._fields()).names == ["x", "y", "z"]


class TestRhs:
    def test_one_state_is_the_sum_of_its_terms(self, lorenz_model):
        x = np.array([1.5, -2.0, 20.0])
        expected = [sum(c * term_value(name, x) for name, c in zip(names, coefficients))
                    for names, coefficients in zip(lorenz_model.terms, lorenz_model.coefficients)]
        np.testing.assert_allclose(lorenz_model.rhs(x), expected, rtol=1e-13)

    def test_rows_are_evaluated_one_by_one(self, lorenz, lorenz_model):
        states = lorenz[:50]
        rows = lorenz_model.rhs(states)
        assert rows.shape == (50, 3)
        for k in (0, 17, 49):
            np.testing.assert_array_equal(rows[k], lorenz_model.rhs(states[k]))
        assert lorenz_model.rhs(states.tolist()).shape == (50, 3)

    def test_time_drives_a_driven_model(self):
        t = 0.05 * np.arange(4000)
        X = np.column_stack([np.sin(t) + 0.3 * np.sin(0.5 * t), np.cos(t) + 0.6 * np.cos(0.5 * t)])
        model = odefit.fit(X, 0.05, model="driven:1:" + repr(4 * math.pi))
        x = np.array([[0.5, 0.5], [0.5, 0.5]])
        both = model.rhs(x, t=np.array([0.0, 3.0]))
        assert not np.array_equal(both[0], both[1])
        np.testing.assert_array_equal(both[1], model.rhs(x[1], t=3.0))

    @pytest.mark.parametrize("x", [np.ones(2), np.ones((4, 2)), np.ones((2, 3, 3)), np.ones(())],
                             ids=["(2,)", "(4, 2)", "(2, 3, 3)", "()"])
    def test_states_of_the_wrong_shape(self, lorenz_model, x):
        with pytest.raises(ValueError, match="shape"):
            lorenz_model.rhs(x)

    def test_bad_states_and_times(self, lorenz_model):
        with pytest.raises(TypeError):
            lorenz_model.rhs(np.array(["a", "b", "c"]))
        with pytest.raises(ValueError, match="empty"):
            lorenz_model.rhs(np.zeros((0, 3)))
        with pytest.raises(ValueError, match="t must"):
            lorenz_model.rhs(np.ones((4, 3)), t=np.zeros(3))
        with pytest.raises(ValueError, match="t must"):
            lorenz_model.rhs(np.ones(3), t=np.zeros(3))


class TestSimulate:
    def test_the_integrators_follow_the_model(self, lorenz, lorenz_model):
        x0 = lorenz[3000]
        reference = solve_ivp(lorenz_model.rhs, (0.0, 1.0), x0, method="DOP853",
                              t_eval=0.01 * np.arange(101), rtol=1e-12, atol=1e-12).y.T
        for method, tolerance in (("rk4", 1e-4), ("rk56", 1e-7)):
            path = lorenz_model.simulate(x0, 100, method=method)
            assert path.shape == (101, 3) and path.dtype == np.float64
            np.testing.assert_array_equal(path[0], x0)
            np.testing.assert_allclose(path, reference, rtol=0, atol=tolerance, err_msg=method)

    def test_every_method_predicts_the_data_for_a_while(self, lorenz, lorenz_model):
        for method in ("euler", "rk4", "rk56"):
            step = 0.001 if method == "euler" else None
            path = lorenz_model.simulate(lorenz[3000], 20, method=method, step=step)
            np.testing.assert_allclose(path, lorenz[3000:3021], atol=0.05 if method != "euler" else 0.5)

    def test_a_blow_up_leaves_nan_rows(self):
        growth = odefit.fit(decay_series(rate=-0.5), 0.05, model="poly:1")
        assert growth.coefficients[0][1] == pytest.approx(0.5, rel=1e-3)
        path = growth.simulate([1.0], 1000)
        finite = np.isfinite(path[:, 0])
        assert finite[0] and not finite[-1]
        first_nan = int(np.argmin(finite))
        assert not finite[first_nan:].any() and abs(path[first_nan - 1, 0]) < 1e6

    def test_zero_steps_is_the_start(self, lorenz_model):
        np.testing.assert_array_equal(lorenz_model.simulate([1.0, 2.0, 3.0], 0), [[1.0, 2.0, 3.0]])

    @pytest.mark.parametrize("kwargs, error", [
        (dict(x0=[1.0, 2.0]), ValueError),
        (dict(x0=[[1.0, 2.0, 3.0]]), ValueError),
        (dict(x0=[1.0, float("nan"), 3.0]), ValueError),
        (dict(x0=["a", "b", "c"]), TypeError),
        (dict(steps=-1), ValueError),
        (dict(steps=10**10), ValueError),
        (dict(steps=2**70), TypeError),
        (dict(method="rk5"), ValueError),
        (dict(step=0.0), ValueError),
        (dict(step=-0.01), ValueError),
        (dict(step=float("inf")), ValueError),
        (dict(step=1e-9), ValueError),
        (dict(t0=float("nan")), ValueError),
    ], ids=lambda v: str(v) if not isinstance(v, type) else v.__name__)
    def test_bad_arguments(self, lorenz_model, kwargs, error):
        arguments = dict(x0=[1.0, 2.0, 3.0], steps=10)
        arguments.update(kwargs)
        with pytest.raises(error):
            lorenz_model.simulate(**arguments)


def simulate_elsewhere(model, x0, steps):
    return model.simulate(x0, steps)


class TestFileAndPickle:
    def test_json_reads_back_with_the_same_bits(self, lorenz_model):
        text = lorenz_model.to_json()
        back = odefit.Model.from_json(text)
        assert back.specs == lorenz_model.specs and back.dt == lorenz_model.dt
        for a, b in zip(back.coefficients, lorenz_model.coefficients):
            np.testing.assert_array_equal(a, b)
        with pytest.raises(odefit.InputError):
            odefit.Model.from_json("{not json")

    def test_a_pickled_model_predicts_the_same_bits(self, lorenz, lorenz_model):
        back = pickle.loads(pickle.dumps(lorenz_model))
        assert back._fields() == lorenz_model._fields()
        np.testing.assert_array_equal(back.simulate(lorenz[3000], 50), lorenz_model.simulate(lorenz[3000], 50))

    def test_a_driven_model_keeps_its_phase_through_pickle(self):
        t = 0.05 * np.arange(3000)
        X = np.column_stack([np.sin(t) + 0.3 * np.sin(0.5 * t), np.cos(t)])
        model = odefit.fit(X, 0.05, model="driven:1:" + repr(4 * math.pi))
        back = pickle.loads(pickle.dumps(model))
        np.testing.assert_array_equal(back.simulate(X[0], 100), model.simulate(X[0], 100))

    def test_models_go_to_other_processes(self, lorenz, lorenz_model):
        with concurrent.futures.ProcessPoolExecutor(max_workers=1) as pool:
            path = pool.submit(simulate_elsewhere, lorenz_model, lorenz[3000], 30).result()
        np.testing.assert_array_equal(path, lorenz_model.simulate(lorenz[3000], 30))

    def test_a_damaged_state_is_refused(self, lorenz_model):
        fields = lorenz_model._fields()
        fields["equations"][1]["coef"].pop()
        with pytest.raises(ValueError, match="equation 2"):
            odefit.Model._from_fields(fields)
        fields = lorenz_model._fields()
        fields["colour"] = "red"
        with pytest.raises(ValueError, match="colour"):
            odefit.Model._from_fields(fields)
        fields = lorenz_model._fields()
        fields["equations"][0]["nu"] = "two"
        with pytest.raises(TypeError, match="nu"):
            odefit.Model._from_fields(fields)
        del fields["equations"][0]["nu"]
        with pytest.raises(ValueError, match="nu"):
            odefit.Model._from_fields(fields)
        with pytest.raises(TypeError):
            odefit.Model.__new__(odefit.Model).__setstate__(42)
