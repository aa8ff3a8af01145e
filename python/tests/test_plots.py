"""Model.plot, SearchResult.plot and EfficiencyResult.plot: what a reader needs is on the figure."""

import builtins
import sys

import numpy as np
import pytest

import odefit

matplotlib = pytest.importorskip("matplotlib")
matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402


@pytest.fixture(autouse=True)
def close_figures():
    yield
    plt.close("all")


def texts(figure):
    """Every title, axis title, legend entry and annotation of a figure."""
    found = [figure._suptitle.get_text()] if figure._suptitle else []
    for ax in figure.axes:
        found += [ax.get_title(), ax.get_xlabel(), ax.get_ylabel()]
        if ax.get_legend():
            found += [t.get_text() for t in ax.get_legend().get_texts()]
        found += [t.get_text() for t in ax.texts]
    return found


def test_a_model_plot_shows_estimates_model_and_residuals_of_every_equation(lorenz, lorenz_model):
    figure = lorenz_model.plot(lorenz)
    assert isinstance(figure, matplotlib.figure.Figure)
    found = texts(figure)
    for text in ("dx1/dt", "dx3/dt", "residual", "estimates", "model", "t"):
        assert text in found, text
    assert "the first 1000 of 2998 rows" in found[0]
    assert len(figure.axes) == 6
    # The model's line follows the estimates: residuals are small beside the slopes.
    top, bottom = figure.axes[0], figure.axes[1]
    estimates = top.lines[0].get_ydata()
    residuals = bottom.lines[-1].get_ydata()
    assert np.abs(residuals).max() < 0.01 * np.abs(estimates).max()


def test_named_variables_label_the_axes(lorenz):
    model = odefit.fit(lorenz[:1200], dt=0.01, points=3, model="poly:2", train=1000, names=["u", "v", "w"])
    found = texts(model.plot(lorenz[:1200], rows=200))
    assert "du/dt" in found and "dw/dt" in found and "dx1/dt" not in found
    assert "all 200" not in found[0] and "the first 200 of 998 rows" in found[0]


def test_an_efficiency_plot_draws_the_criterion_and_marks_the_prediction_time(lorenz, lorenz_model):
    result = odefit.efficiency_test(lorenz_model, lorenz[3000:], pieces=4, length=200, shift=200)
    figure = result.plot(dt=lorenz_model.dt, names=["u", "v", "w"])
    found = texts(figure)
    assert "u: prediction time 1.89 (189 intervals)" in found
    assert "criterion 0.05" in found and "prediction time" in found
    assert "lead time (time units)" in found
    ax = figure.axes[0]
    assert ax.get_yscale() == "log"  # the errors span decades; not a fixed 0-1 axis
    marked = [line.get_xdata()[0] for line in ax.lines if line.get_label() == "prediction time"]
    assert marked == [pytest.approx(1.89)]


def test_a_search_plot_rings_the_chosen_candidate_inside_the_axes():
    result = odefit.SearchResult(best=None, candidates=[
        {"points": 5, "term_count": 12, "score": 1e-5, "criterion": -200.0, "threshold": 0.01},
        {"points": 3, "term_count": 4, "score": 1e-1, "criterion": -30.0, "threshold": 0.1},
        {"points": 7, "term_count": 8, "score": 1e-3, "criterion": -120.0, "threshold": 0.02},
    ], starts=20, horizon=50)
    figure = result.plot()
    found = texts(figure)
    for text in ("3 points", "5 points", "7 points", "chosen", "terms",
                 "chosen: 12 terms, 5 points, threshold 0.01"):
        assert text in found, text
    score = figure.axes[0]
    assert score.get_yscale() == "log"
    low, high = score.get_ylim()
    left, right = score.get_xlim()
    assert low < 1e-5 < high and left < 12 < right  # the best and largest is not on the frame


def test_without_matplotlib_plot_says_what_to_install(monkeypatch, lorenz, lorenz_model):
    real_import = builtins.__import__

    def refuse(name, *args, **kwargs):
        if name.startswith("matplotlib"):
            raise ImportError("No module named 'matplotlib'")
        return real_import(name, *args, **kwargs)

    monkeypatch.setattr(builtins, "__import__", refuse)
    for module in [m for m in sys.modules if m.startswith("matplotlib")]:
        monkeypatch.delitem(sys.modules, module)
    with pytest.raises(ImportError, match="need matplotlib.*pip install matplotlib"):
        lorenz_model.plot(lorenz)
