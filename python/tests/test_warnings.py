"""Warnings where a fit's answer is doubtful: each raised as an odefit.OdefitWarning by its own case
and by no other, from the caller's line."""

import warnings

import numpy as np
import pytest

import odefit


def circle():
    t = 0.05 * np.arange(2000)
    return np.column_stack([np.sin(t) + 2.0, np.cos(t) + 2.0]), 0.05


def towards_a_pole(d):
    """x(0) = 0 under dx/dt = 1 / (1 + d x): with d = -0.98 the data end just before the pole."""
    dt = 0.0005
    t = dt * np.arange(1021)
    return ((np.sqrt(1 + 2 * d * t) - 1) / d).reshape(-1, 1), dt


CASES = [
    # name, series, fit arguments, a piece of every warning in order
    ("sound", "lorenz", dict(train=3000), []),
    ("even windows", "lorenz", dict(train=3000, points=4), ["even number of points (4)"]),
    ("threshold above every coefficient", "lorenz", dict(train=3000, threshold=100),
     ["equation 1 (dx1/dt) keeps no term", "equation 2 (dx2/dt) keeps no term", "equation 3 (dx3/dt) keeps no term"]),
    ("collinear columns", circle(), dict(), ["equation 1 is ill-conditioned", "equation 2 is ill-conditioned"]),
    ("pole just past the data", towards_a_pole(-0.98), dict(model="rational:0:1"),
     ["equation 1 (dx1/dt): its denominator comes near zero on the data"]),
    ("pole far from the data", towards_a_pole(0.5), dict(model="rational:0:1"), []),
]


@pytest.mark.parametrize("name, series, arguments, expected", CASES, ids=[c[0] for c in CASES])
def test_every_doubt_is_one_warning(name, series, arguments, expected, lorenz):
    X, dt = (lorenz, 0.01) if series == "lorenz" else series
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        model = odefit.fit(X, dt, **arguments)
    assert all(w.category is odefit.OdefitWarning and w.filename == __file__ for w in caught)
    messages = [str(w.message) for w in caught]
    assert len(messages) == len(expected), messages
    for message, piece in zip(messages, expected):
        assert piece in message
    # The condition the warning is decided on is the model's own.
    ill = [i + 1 for i, c in enumerate(model.condition) if not c <= 1e8]
    assert ill == [i + 1 for i in range(model.dimension) if f"equation {i + 1} is ill-conditioned" in " ".join(messages)]


def test_the_warning_is_a_user_warning_a_filter_can_silence(lorenz):
    assert issubclass(odefit.OdefitWarning, UserWarning) and "OdefitWarning" in odefit.__all__
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", odefit.OdefitWarning)
        assert odefit.fit(lorenz, 0.01, train=3000, threshold=100).coefficients[0].tolist() == [0.0] * 10


def sine_lorenz():
    """Lorenz with 8 sin(x1) added to dx2/dt: outside every family the search tries."""
    dt, X = 0.002, [np.array([-8.0, 7.0, 27.0])]
    f = lambda x: np.array([10 * (x[1] - x[0]), x[0] * (28 - x[2]) - x[1] + 8 * np.sin(x[0]), x[0] * x[1] - 8 / 3 * x[2]])
    for _ in range(2999 * 5):
        x = X[-1]
        k1 = f(x); k2 = f(x + dt / 2 * k1); k3 = f(x + dt / 2 * k2); k4 = f(x + dt * k3)
        X.append(x + dt / 6 * (k1 + 2 * k2 + 2 * k3 + k4))
    return np.array(X[::5]), 5 * dt


SEARCH_CASES = [
    # name, series, a piece of every warning in order
    ("white noise", lambda: (np.random.default_rng(1).normal(size=(2000, 3)), 0.01),
     ["no candidate predicts the held-out data clearly better than a model without dynamics"]),
    ("random walk", lambda: (np.random.default_rng(2).normal(size=(2000, 3)).cumsum(axis=0), 0.01),
     ["no candidate predicts the held-out data clearly better than a model without dynamics"]),
    ("sin(x1)", sine_lorenz, ["held-out error of x2 stays well above the noise"]),
]


@pytest.mark.parametrize("name, series, expected", SEARCH_CASES, ids=[c[0] for c in SEARCH_CASES])
def test_every_doubt_of_a_search_is_one_warning(name, series, expected):
    X, dt = series()
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        result = odefit.search(X, dt, points=[5, 9], degrees=[2], models=["poly:2", "poly:3"])
    assert all(w.category is odefit.OdefitWarning and w.filename == __file__ for w in caught)
    messages = [str(w.message) for w in caught]
    assert messages == result.doubts
    assert len(messages) >= len(expected), messages
    for message, piece in zip(messages, expected):
        assert piece in message


def test_a_search_too_short_to_score_anything_times_out(lorenz):
    with pytest.raises(TimeoutError, match="passed before any candidate was scored"):
        odefit.search(lorenz, 0.01, time_limit=1e-9)
