"""Shared data of the Python tests: the repository's example series, read once."""

from pathlib import Path

import numpy as np
import pytest

import odefit

ROOT = Path(__file__).resolve().parents[2]
EXAMPLES = ROOT / "examples"
FIXTURES = ROOT / "tests" / "fixtures"


@pytest.fixture(scope="session")
def lorenz_path():
    return EXAMPLES / "lorenz.txt"


@pytest.fixture(scope="session")
def lorenz(lorenz_path):
    X = odefit.read_series(lorenz_path, dimension=3)
    X.setflags(write=False)
    return X


@pytest.fixture(scope="session")
def lorenz_model(lorenz):
    """The README's example fit: order-2 polynomials, m = 3, Ntrain = 3000."""
    return odefit.fit(lorenz, dt=0.01, points=3, model="poly:2", train=3000)


@pytest.fixture(scope="session")
def singular_series():
    return odefit.read_series(FIXTURES / "singular" / "series.txt", dimension=2)


def decay_series(n=200, dt=0.05, rate=0.5):
    """x(t) = exp(-rate t): its model is dx/dt = -rate x."""
    return np.exp(-rate * dt * np.arange(n)).reshape(n, 1)
