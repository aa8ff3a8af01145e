"""odefit.read_series: the classic file and the table, and what is refused."""

import errno

import numpy as np
import pytest

import odefit


class TestClassicFile:
    def test_reads_every_vector_as_float64_rows(self, lorenz_path):
        X = odefit.read_series(lorenz_path, dimension=3)
        assert X.shape == (4000, 3)
        assert X.dtype == np.float64 and X.flags.c_contiguous and X.flags.writeable
        lines = lorenz_path.read_text().split()
        assert X[0].tolist() == [float(v) for v in lines[:3]]
        assert X[-1].tolist() == [float(v) for v in lines[-3:]]

    def test_path_may_be_a_string(self, lorenz_path, lorenz):
        np.testing.assert_array_equal(odefit.read_series(str(lorenz_path), 3), lorenz)

    def test_the_array_outlives_everything_else(self, lorenz_path):
        column = odefit.read_series(lorenz_path, 3)[:, 1]
        column += 1.0  # writes into the memory the library returned
        assert column.shape == (4000,) and np.isfinite(column).all()

    def test_values_without_a_point_have_ten_implied_decimals(self, tmp_path):
        path = tmp_path / "s.txt"
        path.write_text("5\n1.5\n12\n2.\n")
        np.testing.assert_array_equal(odefit.read_series(path, 2), [[5e-10, 1.5], [1.2e-9, 2.0]])

    def test_an_incomplete_last_vector_is_dropped(self, tmp_path):
        path = tmp_path / "s.txt"
        path.write_text("1.\n2.\n3.\n")
        assert odefit.read_series(path, 2).shape == (1, 2)

    def test_a_missing_file_is_file_not_found(self, tmp_path):
        with pytest.raises(FileNotFoundError) as caught:
            odefit.read_series(tmp_path / "none.txt", 3)
        assert caught.value.errno == errno.ENOENT and caught.value.filename.endswith("none.txt")

    def test_an_unreadable_value_names_file_and_line(self, tmp_path):
        path = tmp_path / "bad.txt"
        path.write_text("1.\n2.\nabc\n4.\n")
        with pytest.raises(odefit.InputError) as caught:
            odefit.read_series(path, 2)
        error = caught.value
        assert isinstance(error, ValueError)
        assert error.file == str(path) and error.line == 3
        assert "abc" in str(error) and str(path) in str(error)

    def test_a_file_without_a_vector_is_an_input_error(self, tmp_path):
        path = tmp_path / "empty.txt"
        path.write_text("")
        with pytest.raises(odefit.InputError, match="no vector"):
            odefit.read_series(path, 1)

    @pytest.mark.parametrize("dimension", [0, -1, 10])
    def test_the_dimension_must_be_one_to_nine(self, lorenz_path, dimension):
        with pytest.raises(ValueError, match="1 to 9"):
            odefit.read_series(lorenz_path, dimension)

    def test_the_dimension_must_be_an_integer(self, lorenz_path):
        with pytest.raises(TypeError):
            odefit.read_series(lorenz_path, 2.5)


class TestTable:
    def test_reads_a_table_with_a_header(self, tmp_path):
        path = tmp_path / "t.csv"
        path.write_text("x,y\n1,2\n3,4.5\n")
        np.testing.assert_array_equal(odefit.read_series(path), [[1.0, 2.0], [3.0, 4.5]])

    def test_reads_a_table_without_a_header_and_refuses_a_ragged_one(self, tmp_path):
        path = tmp_path / "t.txt"
        path.write_text("1 2 3\n4 5 6\n")
        assert odefit.read_series(path).shape == (2, 3)
        path.write_text("1 2 3\n4 5\n")
        with pytest.raises(odefit.InputError) as caught:
            odefit.read_series(path)
        assert caught.value.line == 2

    def test_returns_the_header_s_names_when_asked(self, tmp_path):
        path = tmp_path / "t.csv"
        path.write_text('x,"prey"\n1,2\n3,4.5\n')
        X, names = odefit.read_series(path, return_names=True)
        np.testing.assert_array_equal(X, [[1.0, 2.0], [3.0, 4.5]])
        assert names == ["x", "prey"] and X.names == names
        path.write_text("1 2\n3 4\n")
        assert odefit.read_series(path, return_names=True)[1] == []

    def test_a_name_that_is_not_utf8_is_read_with_replacement_characters(self, tmp_path):
        path = tmp_path / "t.csv"
        path.write_bytes(b"caf\xe9,b\n1,2\n3,4\n")
        assert odefit.read_series(path, return_names=True)[1] == ["caf\ufffd", "b"]

    def test_the_classic_file_has_no_names(self, lorenz_path, lorenz):
        X, names = odefit.read_series(lorenz_path, 3, return_names=True)
        np.testing.assert_array_equal(X, lorenz)
        assert names == []

    def test_a_missing_table_is_file_not_found(self, tmp_path):
        with pytest.raises(FileNotFoundError):
            odefit.read_series(tmp_path / "none.csv")
