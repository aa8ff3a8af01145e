"""Reading series, differentiating them and fitting models: the documented front of the extension."""

from typing import NamedTuple, Optional, Sequence, Union

import numpy as np
from numpy.typing import ArrayLike

from . import _odefit
from ._odefit import Model
from ._series import pack_series
from ._series import read_series as _read_series

__all__ = ["Derivatives", "differentiate", "fit", "read_series"]


def read_series(path, dimension: Optional[int] = None, *, return_names: bool = False, time: Optional[str] = None,
                delimiter: Optional[str] = None, decimal: str = "."):
    """Reads a series file into an (n, D) array.

    Parameters
    ----------
    path : str or os.PathLike
        The file. Without `dimension`, a table of one vector per line: values separated by commas
        or blanks, an optional header line of names, ``#`` comments. A first column named t or time
        is the time of every vector; an index column 0, 1, 2, ... (pandas' unnamed one) is skipped;
        a ``#`` line of names just before the data (``np.savetxt``'s header) is the header. Each such
        choice comes as an :class:`odefit.ReadNote` warning. With `dimension`, the classic file of
        one value per line, D lines per vector.
    dimension : int, optional
        D, for the classic file (1 to 9).
    return_names : bool, default False
        Also return the header's names (an empty list without a header).
    time : str, optional
        The time column: a header name or a 1-based column number; "none" for none (default: a
        first column named t or time).
    delimiter : str, optional
        The character between values: ",", ";", "|", "\\t" or " " (default: commas, else blanks).
    decimal : str, default "."
        The decimal mark, "." or "," (with another delimiter, such as ";").

    Returns
    -------
    odefit.Series or numpy.ndarray or (array, list of str)
        The series, one row per vector: for a table an :class:`odefit.Series`, whose ``.names`` and
        ``.times`` (None without a time column) fit, search and efficiency_test use when not given;
        for the classic file a plain array. With `return_names`, also the names.

    Raises
    ------
    FileNotFoundError
        When the file does not exist.
    odefit.InputError
        When it cannot be read as a series; ``.file``, ``.line`` and ``.column`` say where.
    """
    return _read_series(path, dimension, return_names=return_names, time=time, delimiter=delimiter,
                        decimal=decimal)


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


def fit(X: ArrayLike, dt: Optional[float] = None, points: int = 3, model: Union[str, Sequence[str]] = "poly:2",
        threshold: Optional[float] = None, train: Optional[int] = None, scaled: bool = False,
        names: Optional[Sequence[str]] = None, *, t=None) -> Model:
    """Fits a model dx_i/dt = f_i(x, t) to the series X, or to several recordings of one system.

    The derivatives are estimated by straight-line fits over `points` samples, each recording (and
    each piece between gaps in its time stamps) on its own, the rows stacked; then every equation's
    coefficients by least squares on them (sparse with a threshold).

    Parameters
    ----------
    X : array_like or list of array_like
        The series, shape (n, D), D from 1 to 9; or a list of (n_k, D) arrays, recordings of one
        system (runs of an experiment, simulations from several states).
    dt : float, optional
        The sampling interval (> 0); may be left out when `t` or the arrays (from read_series) give
        the times.
    points : int, default 3
        Samples per differentiation window (2 <= points <= train).
    model : str or list of str, default "poly:2"
        One equation spec for every equation or one per equation: "poly:NU", "driven:NU:PERIOD"
        (period in time units), "rational:NU:MU", "reduced:NU:MU" (two variables).
    threshold : float, optional
        Makes the fit sparse: terms whose coefficients stay below it in magnitude are dropped and the
        rest refitted until none is dropped.
    train : int, optional
        Fit the first `train` vectors only (default: all), counted from the first recording on.
    scaled : bool, default False
        With a threshold, compare each term's share of the derivative estimates with it instead of
        its coefficient.
    names : list of str, optional
        The variables' names, one per column, unique and usable in a formula (default: those of an
        array read by read_series); the terms and equations use them.
    t : float or array_like or list of array_like, optional
        The sampling interval, or the time of every vector: an array, one per recording. A step
        above 1.5 sampling intervals is a gap that splits a recording; uneven stamps are
        differentiated by line fits on their times. Default: the times of arrays read by read_series.

    Returns
    -------
    Model

    Raises
    ------
    ValueError
        For impossible settings (too few vectors for the points or the terms, a bad spec, a dt the
        time stamps disagree with, names that cannot stand in a formula).
    odefit.NumericalError
        When a design matrix is singular; the message names the dependent terms.
    """
    data, dt, names = pack_series(X, dt, t, names)
    return _odefit._fit(data, dt, points=points, model=model, threshold=threshold, train=train, scaled=scaled,
                        names=names)
