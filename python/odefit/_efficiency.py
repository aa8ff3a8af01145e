"""The efficiency test: how long a model predicts held-out data."""

from dataclasses import dataclass
from typing import Optional

import numpy as np
from numpy.typing import ArrayLike

from . import _odefit
from ._odefit import Model
from ._series import _several, pack_series

__all__ = ["EfficiencyResult", "efficiency_test"]


@dataclass(frozen=True, repr=False)
class EfficiencyResult:
    """What the efficiency test measured.

    Attributes
    ----------
    prediction_time : numpy.ndarray
        Per variable, the lead steps (sampling intervals) for which the normalised prediction error
        stays at or below 0.05.
    prediction_error : numpy.ndarray
        (length, D): the normalised prediction error at lead step j (row j - 1).
    test_errors : numpy.ndarray
        Per equation, the error of approximation on the differentiated test series.
    infinite_count : int
        Predictions that ran out of bounds or that the solver could not continue.
    messages : str
        The solver's reports for such predictions (empty when there were none).
    """

    prediction_time: np.ndarray
    prediction_error: np.ndarray
    test_errors: np.ndarray
    infinite_count: int
    messages: str

    def __repr__(self):
        errors = ", ".join(f"{e:.3g}" for e in self.test_errors)
        return (f"EfficiencyResult(prediction_time={self.prediction_time.tolist()}, "
                f"test_errors=[{errors}], infinite_count={self.infinite_count}, "
                f"prediction_error=<{self.prediction_error.shape[0]} x {self.prediction_error.shape[1]}>)")


def efficiency_test(model: Model, X_test: ArrayLike, pieces: int = 5, length: int = 500, shift: int = 100,
                    method: str = "rk4", step: Optional[float] = None, threads: int = 1, *, t=None):
    """Tests how long `model` predicts the series X_test, the vectors after its training series.

    Parameters
    ----------
    model : Model
    X_test : array_like or list of array_like
        (n, D); it needs (pieces - 1) * shift + length + model.points vectors. A list of recordings
        is tested recording by recording.
    pieces : int, default 5
        Predictions, started `shift` vectors apart.
    length : int, default 500
        Sampling intervals each prediction runs.
    shift : int, default 100
    method : {"rk4", "euler", "rk56"}, default "rk4"
        The integrator ("rkv" is another name of "rk56").
    step : float, optional
        The integration step (default: the model's dt).
    threads : int, default 1
        Threads splitting the pieces (0: one per core); the result is the same.
    t : array_like or list of array_like, optional
        The time of every vector (one array per recording; default: those read by read_series):
        they must be even, at the model's dt, without gaps, since the pieces are integrated at dt.

    Returns
    -------
    EfficiencyResult or list of EfficiencyResult
        One result, or one per recording for a list.
    """
    several = _several(X_test)
    if not several and t is None and getattr(X_test, "times", None) is None:
        return EfficiencyResult(
            **_odefit.efficiency_test(model, X_test, pieces, length, shift, method, step, threads))
    if not isinstance(model, Model):
        raise TypeError("model must be an odefit.Model")
    recordings = list(X_test) if several else [X_test]
    times = list(t) if several and isinstance(t, (list, tuple)) else [t] * len(recordings)
    if len(times) != len(recordings):
        raise ValueError(f"t gives {len(times)} time arrays for {len(recordings)} recordings")
    results = []
    for X, stamps in zip(recordings, times):
        data, _, _ = pack_series(X, model.dt, stamps, None)
        if isinstance(data, tuple):
            _, _, gaps, uniform, _ = _odefit._sampling(data, model.dt)
            if gaps or not uniform:
                raise ValueError("the efficiency test needs evenly sampled recordings without gaps: its pieces "
                                 "are integrated at the model's dt")
            data = data[0]
        results.append(EfficiencyResult(
            **_odefit.efficiency_test(model, data, pieces, length, shift, method, step, threads)))
    return results if several else results[0]
