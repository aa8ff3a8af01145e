"""Series as people have them: tables with names and time stamps, several recordings of one system."""

import warnings

import numpy as np

from . import _odefit


class ReadNote(UserWarning):
    """What read_series chose on its own: a time column, a skipped index column, a commented header."""


class Series(np.ndarray):
    """An (n, D) float64 array read from a table, with the header's `names` (a list, maybe empty) and
    the time column's `times` (an array, or None). fit, search and efficiency_test use both when they
    are not given. Arrays made from it (slices, sums) keep the names but not the times."""

    def __array_finalize__(self, obj):
        self.names = list(getattr(obj, "names", []))
        self.times = None


def read_series(path, dimension=None, *, return_names=False, time=None, delimiter=None, decimal="."):
    """Reads a series file into an (n, D) array.

    With `dimension`, the classic file of one value per line (a value without a decimal point has 10
    implied decimals), D lines per vector. Without, a table of one vector per line, with or without
    a header of names; a first column named t or time (or the column `time` names, a name or a
    1-based number; "none" for none) is the time of every vector; an index column 0, 1, 2, ... is
    skipped, and a '#' line of names just before the data is the header (each told by a ReadNote
    warning). `delimiter` (";", "|", "\\t", " ") and `decimal` (",") read other conventions.
    Returns a Series (an ndarray with .names and .times), or (array, names) with return_names=True.
    """
    if dimension is not None:
        if time is not None or delimiter is not None or decimal != ".":
            raise ValueError("time, delimiter and decimal are options of a table, not of the classic file")
        # The classic file names nothing and stamps nothing: a plain array.
        X = _odefit._read_series(path, dimension)
        return (X, []) if return_names else X
    else:
        X, names, times, notes = _odefit._read_table(path, "" if time is None else str(time),
                                                     "" if delimiter is None else delimiter, decimal)
        for note in notes:
            warnings.warn(f"{path}: {note}", ReadNote, stacklevel=2)
    series = X.view(Series)
    series.names = list(names)
    series.times = times
    if return_names:
        return series, list(names)
    return series


def series_names(X):
    """The names an array (or the first of a list of arrays) carries from read_series, or None."""
    first = X[0] if _several(X) else X
    names = getattr(first, "names", None)
    return list(names) if names else None


def _rows(X, name):
    array = np.asarray(X)
    if array.ndim == 1:
        array = array.reshape(-1, 1)
    return array


def _several(X):
    """Whether X is several recordings: a list or tuple of (n, D) arrays, not a list of rows."""
    return isinstance(X, (list, tuple)) and len(X) > 0 and all(np.ndim(x) == 2 for x in X)


def pack_series(X, dt, t, names):
    """The series argument of the extension: the array itself for one evenly sampled recording, else
    (values, times or None, breaks); with the dt and names to use."""
    if names is None:
        names = series_names(X)
    several = _several(X)
    recordings = list(X) if several else [X]
    if t is not None and np.ndim(t) == 0 and not isinstance(t, (list, tuple)):
        if dt is not None and float(dt) != float(t):
            raise ValueError("give the sampling interval once, as dt or as t")
        dt, t = float(t), None
    if t is None:
        stamps = [getattr(x, "times", None) for x in recordings]
        stamps = None if any(s is None for s in stamps) else stamps
    else:
        stamps = list(t) if several else [t]
        if len(stamps) != len(recordings):
            raise ValueError(f"t gives {len(stamps)} time arrays for {len(recordings)} recordings")
    if not several and stamps is None:
        return X, dt, names
    arrays = [_rows(x, "X") for x in recordings]
    if any(a.ndim != 2 for a in arrays) or len({a.shape[1] for a in arrays}) != 1:
        raise ValueError("the recordings must all have shape (n, D) with the same D")
    breaks = list(np.cumsum([len(a) for a in arrays])[:-1].tolist())
    values = np.concatenate(arrays, axis=0) if len(arrays) > 1 else arrays[0]
    times = None
    if stamps is not None:
        stamps = [np.asarray(s, dtype=float).reshape(-1) for s in stamps]
        for a, s in zip(arrays, stamps):
            if len(s) != len(a):
                raise ValueError(f"t must hold one time per vector: {len(a)}, not {len(s)}")
        times = np.concatenate(stamps)
    return (np.asarray(values), times, breaks), dt, names
