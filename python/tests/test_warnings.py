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
