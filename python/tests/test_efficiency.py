"""odefit.efficiency_test: the dialogue's numbers, threads, and what is refused."""

import numpy as np
import pytest

import odefit


@pytest.fixture(scope="module")
def lorenz_test(lorenz):
    return lorenz[3000:]


@pytest.fixture(scope="module")
def readme_result(lorenz_model, lorenz_test):
    """The README's test: four RK-4 pieces of 200 intervals, 200 apart."""
    return odefit.efficiency_test(lorenz_model, lorenz_test, pieces=4, length=200, shift=200)


class TestNumbers:
    def test_the_readme_run(self, readme_result):
        result = readme_result
        assert isinstance(result, odefit.EfficiencyResult)
        assert ["%.5f" % (100 * e) for e in result.test_errors] == ["0.13623", "0.15132", "0.10050"]
        assert result.prediction_time.tolist() == [189, 69, 60]
        assert result.infinite_count == 0 and result.messages == ""

    def test_prediction_times_count_the_steps_within_five_percent(self, readme_result):
        errors = readme_result.prediction_error
        assert errors.shape == (200, 3) and errors.dtype == np.float64
        for variable, time in enumerate(readme_result.prediction_time):
            assert np.all(errors[:time, variable] <= 0.05)
            assert time == 200 or errors[time, variable] > 0.05

    def test_threads_give_the_same_bits(self, lorenz_model, lorenz_test, readme_result):
        result = odefit.efficiency_test(lorenz_model, lorenz_test, pieces=4, length=200, shift=200, threads=2)
        np.testing.assert_array_equal(result.prediction_error, readme_result.prediction_error)
        np.testing.assert_array_equal(result.test_errors, readme_result.test_errors)

    def test_every_method(self, lorenz_model, lorenz_test, readme_result):
        accurate = odefit.efficiency_test(lorenz_model, lorenz_test, pieces=4, length=200, shift=200, method="rk56")
        assert np.all(np.abs(accurate.prediction_time - readme_result.prediction_time) <= 10)
        rough = odefit.efficiency_test(lorenz_model, lorenz_test, pieces=4, length=200, shift=200, method="euler",
                                       step=0.001)
        assert np.all(rough.prediction_time >= 20) and rough.infinite_count == 0

    def test_a_model_that_explodes_counts_infinite_predictions(self, lorenz_model, lorenz_test):
        fields = lorenz_model._fields()
        fields["equations"][0]["coef"][4] = 1.0  # dx1/dt gets + x1^2
        wild = odefit.Model._from_fields(fields)
        result = odefit.efficiency_test(wild, lorenz_test, pieces=4, length=200, shift=200)
        assert result.infinite_count == 2 and result.prediction_time[0] == 0
        assert np.all(np.isfinite(result.prediction_error)) and np.all(result.prediction_error[-1] > 1)


class TestRefused:
    @pytest.mark.parametrize("kwargs", [
        dict(length=2000), dict(pieces=0), dict(length=0), dict(shift=0), dict(pieces=-3),
        dict(length=10**10), dict(method="rk2"), dict(step=-0.01), dict(step=0.0), dict(threads=-1),
    ], ids=lambda kwargs: ",".join(f"{k}={v}" for k, v in kwargs.items()))
    def test_impossible_settings(self, lorenz_model, lorenz_test, kwargs):
        with pytest.raises(ValueError):
            odefit.efficiency_test(lorenz_model, lorenz_test, **kwargs)

    def test_the_test_series_must_match_the_model(self, lorenz_model, lorenz_test):
        with pytest.raises(ValueError, match=r"3 columns.*\(1000, 2\)"):
            odefit.efficiency_test(lorenz_model, lorenz_test[:, :2])
        bad = lorenz_test.copy()
        bad[10, 0] = np.nan
        with pytest.raises(ValueError, match="NaN"):
            odefit.efficiency_test(lorenz_model, bad)
        with pytest.raises(ValueError, match="empty"):
            odefit.efficiency_test(lorenz_model, np.zeros((0, 3)))
        with pytest.raises(TypeError):
            odefit.efficiency_test(lorenz_model, lorenz_test.astype(complex))
        with pytest.raises(TypeError):
            odefit.efficiency_test("not a model", lorenz_test)
