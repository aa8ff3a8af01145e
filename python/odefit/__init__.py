"""odefit: global ODE models dx_i/dt = f_i(x, t) from one observed time series.

Arrays are numpy float64, one row per vector and one column per component:

    >>> import odefit
    >>> X = odefit.read_series("examples/lorenz.txt", dimension=3)      # (4000, 3)
    >>> model = odefit.fit(X, dt=0.01, points=3, model="poly:2", train=3000)
    >>> print(model.equations()[0])
    dx1/dt = -0.071452 - 9.8825 x1 + 9.922 x2 + 0.0094647 x3 + 0.0010731 x1^2 - ...
    >>> path = model.simulate(X[3000], steps=200)                       # (201, 3)
    >>> result = odefit.efficiency_test(model, X[3000:], pieces=4, length=200, shift=200)
    >>> result.prediction_time
    array([189,  69,  60], dtype=int32)

Errors: odefit.InputError (a ValueError) for input that cannot be read, FileNotFoundError for a
missing file, ValueError for impossible arguments, TypeError for arrays that do not hold real
numbers, odefit.NumericalError (a RuntimeError) when a numerical routine fails, odefit.Cancelled.
"""

from dataclasses import dataclass

import numpy as np

from . import _odefit
from ._odefit import (
    Cancelled,
    InputError,
    Model,
    NumericalError,
    __version__,
    fit,
    read_series,
)
from ._search import SearchResult, search

__all__ = [
    "Cancelled",
    "EfficiencyResult",
    "InputError",
    "Model",
    "NumericalError",
    "SearchResult",
    "efficiency_test",
    "fit",
    "read_series",
    "search",
]


@dataclass(frozen=True)
class EfficiencyResult:
    """What the efficiency test measured.

    prediction_time: per variable, the lead steps (sampling intervals) for which the normalised
        prediction error stays at or below 0.05.
    prediction_error: (length, D), the normalised prediction error at lead step j (row j - 1).
    test_errors: per equation, the error of approximation on the differentiated test series.
    infinite_count: predictions that ran out of bounds or that the solver could not continue.
    messages: the solver's reports for such predictions (empty when there were none).
    """

    prediction_time: np.ndarray
    prediction_error: np.ndarray
    test_errors: np.ndarray
    infinite_count: int
    messages: str


def efficiency_test(model, X_test, pieces=5, length=500, shift=100, method="rk4", step=None, threads=1):
    """Tests how long `model` predicts the series X_test, the vectors after its training series.

    Predictions start from `pieces` points of X_test, `shift` vectors apart, and run `length`
    sampling intervals each with `method` ("euler", "rk4" or "rk56") and `step` (None: the model's
    dt). X_test needs (pieces - 1) * shift + length + model.points vectors. `threads` > 1 (0: one per
    core) splits the pieces; the result is the same.
    """
    return EfficiencyResult(
        **_odefit.efficiency_test(model, X_test, pieces, length, shift, method, step, threads))


def _model_from_json(text):
    """Rebuilds a pickled or copied model from its model file's text (pickle finds this by name)."""
    return Model.from_json(text)
