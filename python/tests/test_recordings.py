"""Data as people have it: several recordings, time stamps with gaps, names from the file."""

import numpy as np
import pytest

import odefit

PARTS = (slice(0, 1000), slice(1000, 2000), slice(2000, 3000))


def bits(model):
    return [c.tobytes() for c in model.coefficients]


class TestRecordings:
    def test_a_list_of_arrays_is_fitted_as_recordings_each_differentiated_alone(self, lorenz):
        parts = [np.array(lorenz[p]) for p in PARTS]
        together = odefit.fit(parts, 0.01)
        assert bits(odefit.fit(parts, t=0.01)) == bits(together)
        stamps = [0.01 * np.arange(1000) + 100 * k for k in range(3)]  # even stamps: the same rows
        assert bits(odefit.fit(parts, t=stamps)) == bits(together)
        joined = odefit.fit(lorenz[:3000], 0.01)  # windows across the joins
        assert bits(joined) != bits(together)
        assert together.train == 3000 and '"recordings": 3' in together.to_json()

    def test_a_search_and_a_test_take_recordings(self, lorenz):
        parts = [np.array(lorenz[p]) for p in PARTS]
        result = odefit.search(parts, 0.01, points=[3], models=["poly:2"], thresholds=[0.05])
        assert result.best.train == 3000
        tests = odefit.efficiency_test(result.best, [lorenz[3000:3700], lorenz[3300:4000]], pieces=2,
                                       length=200, shift=100)
        assert len(tests) == 2 and all(r.prediction_time.shape == (3,) for r in tests)

    @pytest.mark.parametrize("arguments, message", [
        (dict(t=[np.arange(1000)] * 2), "t gives 2 time arrays for 3 recordings"),
        (dict(t=[np.arange(999)] * 3), "one time per vector"),
        (dict(dt=0.02, t=0.01), "once"),
        (dict(t=[0.02 * np.arange(1000)] * 3, dt=0.01), "disagrees with the time stamps"),
        (dict(dt=0.01, names=["x", "y", "x"]), "two variables are named"),
        (dict(dt=0.01, names=["x", "y z", "w"]), "cannot stand in an equation"),
        (dict(), "give dt"),
    ], ids=str)
    def test_impossible_recordings_and_names_are_value_errors(self, lorenz, arguments, message):
        with pytest.raises(ValueError, match=message):
            odefit.fit([np.array(lorenz[p]) for p in PARTS], **arguments)


class TestTimeStamps:
    def test_gaps_split_the_recording_and_the_fit_stays_that_of_the_whole(self, lorenz):
        keep = np.sort(np.random.default_rng(5).choice(3000, 2850, replace=False))
        model = odefit.fit(lorenz[keep], t=0.01 * keep, threshold=0.5)
        whole = odefit.fit(lorenz[:3000], 0.01, threshold=0.5)
        assert model.dt == 0.01
        for mine, reference in zip(model.coefficients, whole.coefficients):
            np.testing.assert_allclose(mine, reference, rtol=5e-3, atol=0)
        with pytest.raises(ValueError, match="without gaps"):
            odefit.efficiency_test(model, lorenz[keep], t=0.01 * keep)

    def test_a_table_s_time_index_and_names_reach_the_model(self, lorenz, tmp_path):
        path = tmp_path / "lv.csv"
        lines = [",time,x,y,z"] + [f"{k},{0.01 * k!r},{a!r},{b!r},{c!r}" for k, (a, b, c) in enumerate(lorenz[:3000])
                                   if k % 50 != 7]
        path.write_text("\n".join(lines) + "\n")
        with pytest.warns(odefit.ReadNote) as notes:
            X = odefit.read_series(path)
        said = " ".join(str(note.message) for note in notes)
        assert "skipped the first column, an" in said and 'column "time"' in said
        assert X.names == ["x", "y", "z"] and X.times.shape == (len(X),)
        model = odefit.fit(X, threshold=0.5)
        assert model.names == ["x", "y", "z"] and model.equations()[0].startswith("dx/dt = -")
        assert X[:10].times is None and X[:10].names == ["x", "y", "z"]

    def test_the_usual_conventions_are_read_when_named(self, tmp_path):
        path = tmp_path / "semi.csv"
        path.write_text("a;b\n1,5;2\n3;4,25\n")
        with pytest.raises(odefit.InputError, match="--decimal"):
            odefit.read_series(path)
        np.testing.assert_array_equal(odefit.read_series(path, delimiter=";", decimal=","), [[1.5, 2], [3, 4.25]])
