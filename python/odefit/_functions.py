"""Reading series, differentiating them and fitting models: the documented front of the extension."""

from typing import NamedTuple, Optional, Sequence, Union

import numpy as np
from numpy.typing import ArrayLike

from . import _odefit
from ._odefit import Model

__all__ = ["Derivatives", "differentiate", "fit", "read_series"]


def read_series(path, dimension: Optional[int] = None, *, return_names: bool = False):
    """Reads a series file into an (n, D) array.

    Parameters
    ----------
    path : str or os.PathLike
        The file. Without `dimension`, a table of one vector per line: values separated by commas
        or blanks, an optional header line of names, ``#`` comments. With `dimension`, the classic
        file of one value per line, D lines per vector.
    dimension : int, optional
        D, for the classic file (1 to 9).
    return_names : bool, default False
        Also return the header's names (an empty list without a header).

    Returns
    -------
    numpy.ndarray or (numpy.ndarray, list of str)
        The series, one row per vector; with `return_names`, also the names.

    Raises
    ------
    FileNotFoundError
        When the file does not exist.
    odefit.InputError
        When it cannot be read as a series; ``.file``, ``.line`` and ``.column`` say where.
    """
    return _odefit.read_series(path, dimension, return_names=return_names)


class Derivatives(NamedTuple):
    """Derivative estimates of a series by local polynomial fits.

    Attributes
    ----------
    states : numpy.ndarray
        (n - points + 1, D): the fitted polynomial's value at each window's reference sample (the
        smoothed state).
    slopes : numpy.ndarray
        (n - points + 1, D): its slope there, per unit time.
    offset : int
        Row r belongs to sample r + offset of the series: (points - 1) // 2, the window's centre for
        odd points.
    """

    states: np.ndarray
    slopes: np.ndarray
    offset: int


def differentiate(X: ArrayLike, dt: float, points: int = 3, order: int = 1) -> Derivatives:
    """Estimates the time derivative of every component of X by local polynomial fits.

    Parameters
    ----------
    X : array_like
        The series, shape (n, D).
    dt : float
        The sampling interval (> 0).
    points : int, default 3
        Samples per window (order + 1 <= points <= n); odd windows avoid the half-sample bias of even
        ones.
    order : int, default 1
        Degree of the local polynomial: 1, the straight line of the classic fits; up to 5. A higher
        degree has far less bias on smooth data and more noise for the same window.

    Returns
    -------
    Derivatives
        The smoothed states, the slopes and the row offset.
    """
    states, slopes, offset = _odefit._differentiate(X, dt, points, order)
    return Derivatives(states, slopes, offset)


def fit(X: ArrayLike, dt: float, points: int = 3, model: Union[str, Sequence[str]] = "poly:2",
        threshold: Optional[float] = None, train: Optional[int] = None, scaled: bool = False,
        names: Optional[Sequence[str]] = None) -> Model:
    """Fits a model dx_i/dt = f_i(x, t) to the series X.

    The derivatives are estimated by straight-line fits over `points` samples, then every equation's
    coefficients by least squares on them (sparse with a threshold).

    Parameters
    ----------
    X : array_like
        The series, shape (n, D), D from 1 to 9.
    dt : float
        The sampling interval (> 0).
    points : int, default 3
        Samples per differentiation window (2 <= points <= train).
    model : str or list of str, default "poly:2"
        One equation spec for every equation or one per equation: "poly:NU", "driven:NU:PERIOD"
        (period in time units), "rational:NU:MU", "reduced:NU:MU" (two variables).
    threshold : float, optional
        Makes the fit sparse: terms whose coefficients stay below it in magnitude are dropped and the
        rest refitted until none is dropped.
    train : int, optional
        Fit the first `train` vectors only (default: all).
    scaled : bool, default False
        With a threshold, compare each term's share of the derivative estimates with it instead of
        its coefficient.
    names : list of str, optional
        The variables' names, one per column.

    Returns
    -------
    Model

    Raises
    ------
    ValueError
        For impossible settings (too few vectors for the points or the terms, a bad spec).
    odefit.NumericalError
        When a design matrix is singular; the message names the dependent terms.
    """
    return _odefit.fit(X, dt, points=points, model=model, threshold=threshold, train=train, scaled=scaled,
                       names=names)
