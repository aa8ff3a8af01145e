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

from . import _odefit
from ._efficiency import EfficiencyResult, efficiency_test
from ._estimator import ODEModel
from ._functions import Derivatives, differentiate, fit, read_series
from ._model import Model
from ._odefit import Cancelled, InputError, NumericalError, __version__
from ._search import SearchResult, search
from ._series import ReadNote, Series

__all__ = [
    "Cancelled",
    "Derivatives",
    "EfficiencyResult",
    "InputError",
    "Model",
    "NumericalError",
    "ODEModel",
    "ReadNote",
    "SearchResult",
    "Series",
    "__version__",
    "differentiate",
    "efficiency_test",
    "fit",
    "read_series",
    "search",
]

# The public names say they are odefit's, wherever they are defined (help, reprs, pickles).
for _name in __all__:
    _obj = globals()[_name]
    if getattr(_obj, "__module__", "").startswith("odefit._") and not _obj.__module__ == "odefit._odefit":
        _obj.__module__ = "odefit"
del _name, _obj


def __dir__():
    return sorted(__all__)


def _model_from_json(text):
    """Rebuilds a pickled or copied model from its model file's text (pickle finds this by name)."""
    return Model.from_json(text)


# model.plot(X), result.plot(): matplotlib pictures, kept in their own module.
from . import _plots  # noqa: E402

_plots.attach(Model, EfficiencyResult, SearchResult)
