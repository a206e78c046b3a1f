"""The look keyword of vantorel.dehaze and vantorel.dehaze_file: the command line's --look."""
import numpy as np
import pytest
import vantorel

from conftest import read_bgr, write_bgr


def test_natural_is_the_command_lines_natural_and_classic_the_default(sample, run_cli, tmp_path):
    write_bgr(sample, tmp_path / "source.png")
    completed = run_cli("--look", "natural", tmp_path / "source.png", tmp_path / "cli.png", 0.7)
    assert completed.returncode == 0, completed.stderr

    natural = vantorel.dehaze(sample, 0.7, look="natural")
    assert np.array_equal(natural, read_bgr(tmp_path / "cli.png"))
    classic = vantorel.dehaze(sample, 0.7, look="classic")
    assert np.array_equal(classic, vantorel.dehaze(sample, 0.7))
    assert not np.array_equal(natural, classic)


def test_dehaze_file_writes_the_command_lines_natural_bytes(sample, run_cli, tmp_path):
    source = tmp_path / "photo.png"
    write_bgr(sample[200:440, 300:660], source)
    assert run_cli("--look", "natural", source, tmp_path / "cli.jpg", 0.6).returncode == 0

    assert vantorel.dehaze_file(source, tmp_path / "py.jpg", 0.6, look="natural") is True
    assert (tmp_path / "py.jpg").read_bytes() == (tmp_path / "cli.jpg").read_bytes()


@pytest.mark.parametrize("look, error, words", [
    ("vivid", ValueError, "look 'vivid' is not known: it must be classic or natural"),
    ("Natural", ValueError, "classic or natural"),
    (None, TypeError, "look must be a str, got NoneType"),
    (b"natural", TypeError, "look must be a str, got bytes"),
])
def test_other_looks_are_refused_before_any_work(tmp_path, look, error, words):
    source = tmp_path / "grey.png"
    write_bgr(np.full((6, 8, 3), 120, np.uint8), source)
    with pytest.raises(error, match=words):
        vantorel.dehaze(np.full((6, 8, 3), 120, np.uint8), 0.9, look=look)
    with pytest.raises(error, match=words):
        vantorel.dehaze_file(source, tmp_path / "out.png", 0.9, look=look)
    assert not (tmp_path / "out.png").exists()
