"""What the package adds to the extension's Model: scipy's argument order for the right-hand side,
equality, models made from given coefficients, and the documentation of its attributes."""

import inspect
import warnings

import numpy as np

from . import _odefit
from ._odefit import Model

class OdefitWarning(UserWarning):
    """A reason to doubt a fit's or a search's answer: an ill-conditioned equation, an equation that kept
    no term, a rational whose denominator comes near zero on the data, differentiation windows of an
    even number of points; for a search also a winner that predicts no better than a model without
    dynamics, or variables whose held-out error stays well above their noise. The command line prints
    the same sentences as ``odefit: warning:`` lines."""


Model.__doc__ = """A fitted model dx_i/dt = f_i(x, t), a value: copy, pickle and compare it freely.

Models come from :func:`odefit.fit`, :func:`odefit.search`, :meth:`Model.from_json` and
:meth:`Model.from_coefficients`.

Attributes
----------
dimension : int
    The number of variables D (and of equations).
dt : float
    The sampling interval the model was fitted at, in time units; simulations step by it.
points : int
    Points per differentiation window of the fit (0 for a model made from coefficients).
train : int
    Vectors of the training series the fit used (0 for a model made from coefficients).
names : list of str
    The variables' names, or an empty list (then x1..xD); the terms and equations use them.
specs : list of str
    Every equation's family and orders, as ``fit(model=...)`` takes them.
terms : list of list of str
    Every equation's term names, in coefficient order ("x*z" with names, else "x1*x3").
coefficients : list of numpy.ndarray
    Every equation's coefficients, aligned with `terms` (0 for a term a sparse fit dropped).
standard_errors : list of numpy.ndarray
    The least-squares standard errors, conditional on the derivative estimates (they leave out the
    estimates' own bias); NaN where none was computed and for dropped terms.
errors : numpy.ndarray
    Every equation's error of approximation (a fraction; NaN when undefined).
intervals : list of numpy.ndarray or None
    Every equation's (terms, 2) array of interval ends at `interval_level` (0.95) that include the
    derivative estimates' error (NaN for dropped terms); None unless ``fit(..., intervals=True)``; a
    search's best model always has them.
condition : numpy.ndarray
    Every equation's condition estimate of its least-squares problem (0: not computed); above about
    1e8 the coefficients are poorly determined (fit warns with an :class:`odefit.OdefitWarning`).
"""

_rhs_signature = inspect.Signature([
    inspect.Parameter("self", inspect.Parameter.POSITIONAL_OR_KEYWORD),
    inspect.Parameter("t", inspect.Parameter.POSITIONAL_OR_KEYWORD),
    inspect.Parameter("x", inspect.Parameter.POSITIONAL_OR_KEYWORD),
])
_MISSING = object()


def _rhs(self, *args, t=_MISSING, x=_MISSING):
    if len(args) > 2:
        raise TypeError(f"rhs() takes t and x, not {len(args)} positional arguments")
    if len(args) == 2:
        if t is not _MISSING or x is not _MISSING:
            raise TypeError("rhs() got t or x twice")
        first, second = args
        if np.ndim(first) > np.ndim(second):
            # The order of odefit 0.1, rhs(x, t): a state has more dimensions than its time.
            warnings.warn("Model.rhs(x, t) is deprecated: call rhs(t, x), scipy's order", DeprecationWarning,
                          stacklevel=2)
            x, t = first, second
        else:
            t, x = first, second
    elif len(args) == 1:
        if x is _MISSING:
            x = args[0]  # rhs(x) or rhs(x, t=...): the state, unambiguous
        elif t is _MISSING:
            t = args[0]
        else:
            raise TypeError("rhs() got t or x twice")
    if x is _MISSING:
        raise TypeError("rhs() needs the state x")
    return self._rhs(x, 0.0 if t is _MISSING else t)


_rhs.__signature__ = _rhs_signature
_rhs.__name__ = "rhs"
_rhs.__qualname__ = "Model.rhs"
_rhs.__doc__ = """f(t, x): the right-hand sides at time t and state x, in scipy's argument order.

Parameters
----------
t : float or numpy.ndarray
    The time, or one time per row of `x` (shape (n,)). Only driven equations depend on it; the
    training series' first vector is at t = 0. ``rhs(x)`` evaluates at t = 0.
x : array_like
    A state of shape (D,) or states of shape (n, D).

Returns
-------
numpy.ndarray
    dx/dt of the same shape as `x`.

Notes
-----
``scipy.integrate.solve_ivp(model.rhs, (t0, t1), x0)`` integrates the model. The order
``rhs(x, t)`` of earlier versions still works, with a DeprecationWarning.
"""


def from_coefficients(dt, models, coefficients, names=None):
    """Makes a model from coefficients you give (from a paper, another tool, a test).

    Parameters
    ----------
    dt : float
        The sampling interval the model steps by when simulated (> 0).
    models : str or list of str
        One equation spec for every equation ("poly:2", "driven:2:6.28", "rational:2:1",
        "reduced:3:1") or one per equation.
    coefficients : list of array_like
        Equation i's coefficients, in the order of ``terms`` of a model of that spec (the
        constant first, then the monomials by degree; see ``Model.terms``).
    names : list of str, optional
        The variables' names.

    Returns
    -------
    Model
        Its points and train are 0, its errors NaN, its standard errors undefined.

    Raises
    ------
    ValueError
        When a count does not match the model text's terms (the message names the equation), a value is
        not finite or dt is not positive.

    Examples
    --------
    >>> lorenz = odefit.Model.from_coefficients(0.01, "poly:2", [
    ...     [0, -10, 10, 0, 0, 0, 0, 0, 0, 0],
    ...     [0, 28, -1, 0, 0, 0, -1, 0, 0, 0],
    ...     [0, 0, 0, -8 / 3, 0, 1, 0, 0, 0, 0]])
    """
    return _odefit._from_coefficients(dt, models, coefficients, names)


def _eq(self, other):
    if not isinstance(other, Model):
        return NotImplemented
    return self.to_json() == other.to_json()


def _hash(self):
    return hash(self.to_json())


def equations(self, digits: int = 5) -> list:
    """The equations as text, one string per equation, without the terms whose coefficient is 0.

    Parameters
    ----------
    digits : int, default 5
        Significant digits of every coefficient (1 to 17).

    Returns
    -------
    list of str
        ``"dx/dt = -10 x + 10 y"``: the variables' names where the model has them, x1..xD otherwise;
        a rational equation as ``"(numerator) / (1 + denominator)"``.
    """
    return self._equations(digits)


def simulate(self, x0, steps: int, method: str = "rk4", step=None, t0: float = 0.0) -> np.ndarray:
    """Integrates the model from x0 over `steps` sampling intervals.

    Parameters
    ----------
    x0 : array_like
        The initial state, shape (D,).
    steps : int
        Sampling intervals (of the model's dt) to integrate over.
    method : {"rk4", "euler", "rk56"}, default "rk4"
        The integrator ("rkv" is another name of "rk56", the adaptive Runge-Kutta-Verner pair).
    step : float, optional
        The integration step of Euler and RK-4 (default: the model's dt).
    t0 : float, default 0.0
        The time of x0 (driven equations depend on it).

    Returns
    -------
    numpy.ndarray
        (steps + 1, D): x0 and the state after every interval; rows after the solution left its
        bounds (the sum of |x_i| reached 1e6) are NaN.

    Raises
    ------
    ValueError
        For a state of the wrong shape, an unknown method, or times that a step cannot advance.
    KeyboardInterrupt
        On Ctrl-C, within a second.
    """
    return self._simulate(x0, steps, method, step, t0)


def to_json(self) -> str:
    """The model file's text (JSON, format ``odefit-model-1``), which :meth:`Model.from_json` and
    ``odefit show`` read back to the bit."""
    return self._to_json()


def from_json(text: str) -> Model:
    """Reads a model file's text.

    Parameters
    ----------
    text : str
        What :meth:`Model.to_json` or ``odefit fit --output`` wrote.

    Returns
    -------
    Model

    Raises
    ------
    odefit.InputError
        When the text is not a model file (the message says where).
    """
    return Model._from_json(text)


for _method in (equations, simulate, to_json):
    _method.__qualname__ = "Model." + _method.__name__
    setattr(Model, _method.__name__, _method)
from_json.__qualname__ = "Model.from_json"
Model.from_json = staticmethod(from_json)
Model.rhs = _rhs
from_coefficients.__qualname__ = "Model.from_coefficients"
Model.from_coefficients = staticmethod(from_coefficients)
Model.__eq__ = _eq
Model.__hash__ = _hash
_eq.__doc__ = "Models are equal when they say the same: the same model file, to the bit."

__all__ = ["Model"]
