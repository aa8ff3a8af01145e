"""An estimator with scikit-learn's conventions, so that odefit's fits go into Pipeline, GridSearchCV
and cross-validation. scikit-learn itself is not needed: its conventions are followed, not its classes
(importing it would slow every ``import odefit``)."""

import inspect
from typing import Optional, Sequence, Union

import numpy as np
from numpy.typing import ArrayLike

from ._functions import differentiate, fit

__all__ = ["ODEModel"]


class ODEModel:
    """dx/dt = f(x, t) fitted by odefit, as a scikit-learn estimator.

    Parameters
    ----------
    model : str or list of str, default "poly:2"
        The equation spec(s), as :func:`odefit.fit` takes them.
    points : int, default 3
        Samples per differentiation window.
    threshold : float, optional
        Makes the fit sparse (see :func:`odefit.fit`).
    scaled : bool, default False
        Compare each term's share of the derivative estimates with the threshold.
    dt : float, optional
        The sampling interval, when ``fit`` is not given the times.
    names : list of str, optional
        The variables' names.

    Attributes
    ----------
    model_ : Model
        The fitted model.
    coef_ : numpy.ndarray
        (equations, terms): every equation's coefficients; NaN-padded when the equations have
        different numbers of terms.
    terms_ : list of list of str
        The term names of every equation, aligned with the rows of `coef_`.
    dt_ : float
        The sampling interval used.
    n_features_in_ : int
        D, the number of variables.

    Examples
    --------
    >>> from sklearn.model_selection import GridSearchCV, TimeSeriesSplit
    >>> search = GridSearchCV(odefit.ODEModel(dt=0.01), {"threshold": [0.01, 0.1], "points": [3, 5]},
    ...                       cv=TimeSeriesSplit(3)).fit(X)
    >>> search.best_estimator_.model_.equations()
    """

    def __init__(self, model: Union[str, Sequence[str]] = "poly:2", points: int = 3,
                 threshold: Optional[float] = None, scaled: bool = False, dt: Optional[float] = None,
                 names: Optional[Sequence[str]] = None):
        self.model = model
        self.points = points
        self.threshold = threshold
        self.scaled = scaled
        self.dt = dt
        self.names = names

    @classmethod
    def _get_param_names(cls):
        return [p for p in inspect.signature(cls.__init__).parameters if p != "self"]

    def get_params(self, deep: bool = True) -> dict:
        """The constructor's parameters by name (scikit-learn's convention)."""
        return {name: getattr(self, name) for name in self._get_param_names()}

    def set_params(self, **params) -> "ODEModel":
        """Sets constructor parameters by name; returns self."""
        valid = self._get_param_names()
        for name, value in params.items():
            if name not in valid:
                raise ValueError(f"ODEModel has no parameter {name!r}; it has {', '.join(valid)}")
            setattr(self, name, value)
        return self

    def _sampling_interval(self, t) -> float:
        if t is None:
            if self.dt is None:
                raise ValueError("give the sampling interval: ODEModel(dt=...) or fit(X, t) with t the "
                                 "interval or the samples' times")
            return float(self.dt)
        times = np.asarray(t, dtype=float)
        if times.ndim == 0:
            return float(times)
        if times.ndim != 1 or times.size < 2:
            raise ValueError("t must be the sampling interval or one time per row of X")
        steps = np.diff(times)
        dt = float(np.mean(steps))
        if not np.all(np.abs(steps - dt) <= 1e-9 * max(abs(dt), np.max(np.abs(times)))):
            raise ValueError("the times in t are not uniformly spaced; ODEModel fits uniform samples")
        return dt

    def fit(self, X: ArrayLike, t: Union[None, float, ArrayLike] = None) -> "ODEModel":
        """Fits the model to the series X (n, D); returns self.

        Parameters
        ----------
        X : array_like
            The series, one row per sample.
        t : float or array_like, optional
            The sampling interval, or the samples' (uniform) times; default: the ``dt`` parameter.
            In scikit-learn's tools this is the place of ``y``, which an ODE model does not need.
        """
        X = np.asarray(X, dtype=float)
        self.dt_ = self._sampling_interval(t)
        self.model_ = fit(X, self.dt_, points=self.points, model=self.model, threshold=self.threshold,
                          scaled=self.scaled, names=self.names)
        self.n_features_in_ = X.shape[1]
        self.terms_ = self.model_.terms
        width = max(len(c) for c in self.model_.coefficients)
        self.coef_ = np.full((len(self.terms_), width), np.nan)
        for i, c in enumerate(self.model_.coefficients):
            self.coef_[i, :len(c)] = c
        return self

    def _check_fitted(self):
        if not hasattr(self, "model_"):
            raise AttributeError("this ODEModel is not fitted yet: call fit(X) first")

    def predict(self, X: ArrayLike) -> np.ndarray:
        """dx/dt that the model gives at every row of X (n, D), row r taken at time r * dt."""
        self._check_fitted()
        X = np.asarray(X, dtype=float)
        return self.model_.rhs(self.dt_ * np.arange(X.shape[0]), X)

    def score(self, X: ArrayLike, y=None) -> float:
        """R^2 of the model's dx/dt against the derivative estimates of X (higher is better).

        X is differentiated with the estimator's own window; the model is evaluated at the smoothed
        states. 1 is a perfect fit; 0 no better than each derivative's mean.
        """
        self._check_fitted()
        d = differentiate(X, self.dt_, points=self.points)
        times = self.dt_ * (d.offset + np.arange(d.states.shape[0]))
        predicted = self.model_.rhs(times, d.states)
        residual = np.sum((d.slopes - predicted) ** 2)
        total = np.sum((d.slopes - d.slopes.mean(axis=0)) ** 2)
        return float(1.0 - residual / total) if total > 0 else float("nan")

    def __repr__(self):
        defaults = {p.name: p.default for p in inspect.signature(type(self).__init__).parameters.values()}
        changed = [f"{k}={v!r}" for k, v in self.get_params().items() if v != defaults.get(k)]
        return f"ODEModel({', '.join(changed)})"
