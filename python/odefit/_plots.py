"""Pictures of a fit, a test and a search, drawn with matplotlib.

Each function returns the matplotlib Figure (made with pyplot, so ``plt.show()`` shows it and
``fig.savefig(...)`` writes it); matplotlib is imported only when a picture is asked for.
"""

import math

import numpy as np

from ._functions import differentiate

CRITERION = 0.05  # the normalised prediction error that ends the prediction time
SHOWN_ROWS = 1000  # rows of a training series drawn: enough to read single oscillations


def _pyplot():
    try:
        import matplotlib.pyplot as plt
    except ImportError as error:
        raise ImportError("odefit's plots need matplotlib, which is not installed: "
                          "pip install matplotlib (or apt install python3-matplotlib)") from error
    return plt


def _names(names, dimension):
    """The variables' names: the series' header names when there are, x1..xD otherwise."""
    names = list(names) if names else []
    return [names[i] if i < len(names) and names[i] else f"x{i + 1}" for i in range(dimension)]


def model_plot(model, X, rows=SHOWN_ROWS):
    """Plots how well the model's right-hand sides fit the derivative estimates of X.

    Parameters
    ----------
    X : numpy.ndarray, shape (n, D)
        The series the model was fitted to; its first ``model.train`` rows are differentiated with
        ``model.points`` points, as the fit did.
    rows : int, default 1000
        Rows of the training series drawn (from the first); the figure's title says the span.

    Returns
    -------
    matplotlib.figure.Figure
        Per equation the estimates (black points) and the model (red line) against time, and the
        residuals under them.
    """
    plt = _pyplot()
    X = np.asarray(X, dtype=float)
    D = model.dimension
    if X.ndim != 2 or X.shape[1] != D:
        raise ValueError(f"X must be an (n, {D}) array for a model of {D} equations")
    if model.points < 2 or model.train < model.points or X.shape[0] < model.train:
        raise ValueError("X must hold the model's training vectors and the model must say how it was fitted")
    states, slopes, offset = differentiate(X[:model.train], model.dt, model.points)
    n = min(len(states), int(rows))
    t = (np.arange(n) + offset) * model.dt
    # Row r is sample r + 1 of the fit: its driving phase is that of time (r + 1) dt.
    fitted = model.rhs(x=states[:n], t=(np.arange(n) + 1) * model.dt)
    names = _names(model.names, D)
    errors = model.errors
    columns = min(D, 3)
    groups = -(-D // columns)
    figure = plt.figure(figsize=(4.6 * columns, 4.4 * groups), layout="constrained")
    grid = figure.add_gridspec(2 * groups, columns, height_ratios=[3, 1] * groups)
    for i in range(D):
        top = figure.add_subplot(grid[2 * (i // columns), i % columns])
        bottom = figure.add_subplot(grid[2 * (i // columns) + 1, i % columns], sharex=top)
        derivative = f"d{names[i]}/dt"
        top.plot(t, slopes[:n, i], ".", color="black", markersize=3, label="estimates")
        top.plot(t, fitted[:, i], color="tab:red", linewidth=1, label="model")
        title = derivative
        if math.isfinite(errors[i]):
            title += f", error of approximation {100 * errors[i]:.3g} %"
        top.set_title(title, fontsize="medium")
        top.set_ylabel(derivative)
        top.legend(loc="best", fontsize="small")
        top.tick_params(labelbottom=False)
        bottom.axhline(0.0, color="grey", linestyle="--", linewidth=0.8)
        bottom.plot(t, slopes[:n, i] - fitted[:, i], color="tab:blue", linewidth=0.8)
        bottom.set_ylabel("residual")
        bottom.set_xlabel("t")
    span = f"all {len(states)} rows" if n == len(states) else f"the first {n} of {len(states)} rows"
    figure.suptitle(f"Fit of the right-hand sides: training series, {span}, "
                    f"t = {t[0]:.6g} to {t[-1]:.6g}")
    return figure


def search_plot(result):
    """Plots a search's candidates: score (log scale) and criterion against terms.

    Returns
    -------
    matplotlib.figure.Figure
        Candidates coloured and marked by differentiation window; the chosen one (the first)
        ringed in red and labelled.
    """
    plt = _pyplot()
    if not result.candidates:
        raise ValueError("the search has no candidates to plot")
    figure, axes = plt.subplots(1, 2, figsize=(12, 5), layout="constrained")
    windows = sorted({c["points"] for c in result.candidates})
    markers = "osD^v<>ph*"
    chosen = result.candidates[0]
    for ax, key, label in ((axes[0], "score", "normalised squared prediction error"),
                           (axes[1], "criterion", "criterion")):
        for k, points in enumerate(windows):
            mine = [c for c in result.candidates if c["points"] == points]
            ax.scatter([c["term_count"] for c in mine], [c[key] for c in mine], s=22, marker=markers[k % len(markers)],
                       color=plt.cm.tab10(k % 10), label=f"{points} points", zorder=2)
        ax.scatter([chosen["term_count"]], [chosen[key]], s=220, facecolors="none", edgecolors="red", linewidths=2,
                   label="chosen", zorder=3)
        ax.annotate(f"chosen: {chosen['term_count']} terms, {chosen['points']} points, "
                    f"threshold {chosen['threshold']:.3g}", (chosen["term_count"], chosen[key]),
                    xytext=(12, 12), textcoords="offset points", color="red", fontsize="small")
        ax.set_xlabel("terms")
        ax.set_ylabel(label)
        ax.xaxis.get_major_locator().set_params(integer=True)
        ax.margins(0.06)  # no candidate on the frame
        ax.legend(loc="best", fontsize="small")
    axes[0].set_yscale("log")
    axes[0].set_title("Prediction score (lower is better)", fontsize="medium")
    axes[1].set_title("Ranking criterion (lower is better)", fontsize="medium")
    state = "" if result.complete else " (cut short)"
    figure.suptitle(f"Model search: {len(result.candidates)} candidates{state}, scored on {result.starts} "
                    f"predictions of {result.horizon} samples")
    return figure


def efficiency_plot(result, dt=None, names=None):
    """Plots the prediction error of every variable against lead time.

    Parameters
    ----------
    dt : float, optional
        The sampling interval (the model's dt): lead times in time units. None: in sampling
        intervals.
    names : list of str, optional
        The variables' names (``model.names``); None: x1..xD.

    Returns
    -------
    matplotlib.figure.Figure
        One panel per variable with the 0.05 criterion dashed and the prediction time marked.
    """
    plt = _pyplot()
    error = np.asarray(result.prediction_error, dtype=float)
    length, D = error.shape
    scale = 1.0 if dt is None else float(dt)
    unit = "sampling intervals" if dt is None else "time units"
    lead = np.arange(1, length + 1) * scale
    names = _names(names, D)
    positive = error[(error > 0) & np.isfinite(error)]
    log = positive.size > 0 and positive.max() > 100 * positive.min()
    figure, axes = plt.subplots(D, 1, figsize=(8, 2.4 * D + 0.8), sharex=True, squeeze=False,
                                layout="constrained")
    for i, ax in enumerate(axes[:, 0]):
        steps = int(result.prediction_time[i])
        ax.plot(lead, error[:, i], color=plt.cm.tab10(i % 10), linewidth=1.5, label=f"error of {names[i]}")
        ax.axhline(CRITERION, color="black", linestyle="--", linewidth=1, label=f"criterion {CRITERION}")
        if steps > 0:
            ax.axvline(steps * scale, color="red", linewidth=1, label="prediction time")
        if log:
            ax.set_yscale("log")
        else:
            ax.set_ylim(bottom=0)
        whole = ", the whole piece" if steps >= length else ""
        ax.set_title(f"{names[i]}: prediction time {steps * scale:.4g} ({steps} intervals{whole})",
                     fontsize="medium")
        ax.set_ylabel("normalised error")
        ax.legend(loc="best", fontsize="small")
    axes[-1, 0].set_xlabel(f"lead time ({unit})")
    figure.suptitle("Model efficiency: prediction errors, mean over the pieces")
    return figure


def attach(model_class, efficiency_class, search_class):
    """Gives the result classes their plot methods."""
    model_class.plot = model_plot
    efficiency_class.plot = efficiency_plot
    search_class.plot = search_plot
