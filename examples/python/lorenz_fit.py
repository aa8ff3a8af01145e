"""Generates a Lorenz series with scipy, fits an odefit model to it, prints the equations, simulates the
model from the first vector after the training series and plots it against the data.

    python3 examples/python/lorenz_fit.py [--vectors 4000] [--output lorenz-model.png]
"""

import argparse

import matplotlib

matplotlib.use("Agg")  # no display needed: the figure goes to a file

import matplotlib.pyplot as plt
import numpy as np
from scipy.integrate import solve_ivp

import odefit


def lorenz(t, x, sigma=10.0, rho=28.0, beta=8.0 / 3.0):
    return [sigma * (x[1] - x[0]), x[0] * (rho - x[2]) - x[1], x[0] * x[1] - beta * x[2]]


def lorenz_series(vectors, dt):
    """`vectors` states dt apart, on the attractor (the first 10 time units are left out)."""
    transient = solve_ivp(lorenz, (0.0, 10.0), [1.0, 1.0, 1.0], method="DOP853", rtol=1e-10, atol=1e-10)
    t = dt * np.arange(vectors)
    path = solve_ivp(lorenz, (0.0, t[-1]), transient.y[:, -1], t_eval=t, method="DOP853", rtol=1e-10, atol=1e-10)
    return path.y.T


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--vectors", type=int, default=4000, help="length of the series (default 4000)")
    parser.add_argument("--output", default="lorenz-model.png", help="the PNG file to write")
    args = parser.parse_args()

    dt = 0.01
    X = lorenz_series(args.vectors, dt)
    train = 3 * args.vectors // 4
    model = odefit.fit(X, dt, points=3, model="poly:2", train=train)
    print(f"{args.vectors} vectors, the first {train} fitted with order-2 polynomials:")
    for line, error in zip(model.equations(), model.errors):
        print(f"  {line}    (error of approximation {100 * error:.5f} %)")

    steps = min(300, args.vectors - train - 1)
    predicted = model.simulate(X[train], steps)
    observed = X[train:train + steps + 1]
    t = dt * np.arange(steps + 1)

    figure, axes = plt.subplots(3, 1, sharex=True, figsize=(8, 7))
    for i, axis in enumerate(axes):
        axis.plot(t, observed[:, i], color="black", label="data")
        axis.plot(t, predicted[:, i], color="tab:red", linestyle="--", label="model")
        axis.set_ylabel(f"x{i + 1}")
    axes[0].legend(loc="upper right")
    axes[-1].set_xlabel("time after the training series")
    figure.suptitle("Lorenz flow: the fitted model against the data")
    figure.tight_layout()
    figure.savefig(args.output, dpi=100)
    print(f"wrote {args.output}")


if __name__ == "__main__":
    main()
