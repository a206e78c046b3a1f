"""vantorel.dehaze and vantorel.transmission on numpy arrays."""
import subprocess
import sys
import threading

import numpy as np
import pytest
import vantorel
from PIL import Image

from conftest import read_bgr, write_bgr


@pytest.mark.parametrize("thickness", [1.0, 0.55])
def test_dehaze_is_byte_identical_to_the_command_line(sample, run_cli, tmp_path, thickness):
    # The command line reads the same pixels from a lossless copy of the sample.
    write_bgr(sample, tmp_path / "source.png")
    completed = run_cli(tmp_path / "source.png", tmp_path / "result.png", thickness)
    assert completed.returncode == 0, completed.stderr
    expected = read_bgr(tmp_path / "result.png")

    result = vantorel.dehaze(sample, thickness)
    assert result.dtype == np.uint8 and result.shape == sample.shape
    assert not np.array_equal(result, sample)
    assert np.array_equal(result, expected)


@pytest.mark.parametrize("thickness", [0.09, 0, 0.0])
def test_thickness_below_a_tenth_gives_an_unchanged_copy(sample, run_cli, tmp_path, thickness):
    # Where the command line writes nothing, the call gives the pixels back.
    write_bgr(sample, tmp_path / "source.png")
    completed = run_cli(tmp_path / "source.png", tmp_path / "result.png", thickness)
    assert completed.returncode == 0 and "No need for dehaze" in completed.stdout
    assert not (tmp_path / "result.png").exists()
    result = vantorel.dehaze(sample, thickness)
    assert np.array_equal(result, sample)
    assert not np.shares_memory(result, sample)


def views_of(picture):
    """The same kind of picture through strides that are not packed rows."""
    rgb = np.ascontiguousarray(picture[:, :, ::-1])
    padded = np.zeros((picture.shape[0] + 3, picture.shape[1] * 2, 5), np.uint8)
    padded[1:-2, ::2, 1:4] = picture
    return {
        "channels reversed from RGB": rgb[:, :, ::-1],
        "every other row and column": picture[::2, ::2],
        "rows upside down": picture[::-1],
        "Fortran order": np.asfortranarray(picture),
        "window into a wider array": padded[1:-2, ::2, 1:4],
    }


def test_any_strides_give_the_bytes_of_the_packed_copy(sample):
    crop = sample[300:620, 500:900]
    for name, view in views_of(crop).items():
        packed = np.ascontiguousarray(view)
        assert np.array_equal(vantorel.dehaze(view, 0.8), vantorel.dehaze(packed, 0.8)), name
        assert np.array_equal(vantorel.transmission(view, 0.8),
                              vantorel.transmission(packed, 0.8)), name


def test_the_input_is_left_unchanged(sample):
    picture = sample[:400, :500].copy()
    before = picture.copy()
    vantorel.dehaze(picture)
    vantorel.transmission(picture)
    assert np.array_equal(picture, before)


def test_transmission_is_the_command_lines_map_before_rounding(sample, run_cli, tmp_path):
    write_bgr(sample, tmp_path / "source.png")
    completed = run_cli("--transmission-map", tmp_path / "map.png", tmp_path / "source.png",
                        tmp_path / "result.png", 0.9)
    assert completed.returncode == 0, completed.stderr
    with Image.open(tmp_path / "map.png") as picture:
        expected = np.asarray(picture)

    hazy = vantorel.transmission(sample, 0.9)
    assert hazy.dtype == np.float32 and hazy.shape == sample.shape[:2]
    assert hazy.min() >= 0.0 and hazy.max() <= 1.0
    # The command line writes t * 255 rounded to the nearest, half to even.
    assert np.array_equal(np.rint(hazy * np.float32(255)).astype(np.uint8), expected)
    # A black picture hides nothing: clear everywhere.
    assert np.all(vantorel.transmission(np.zeros((4, 5, 3), np.uint8)) == 1.0)


PICTURE = np.full((6, 8, 3), 120, np.uint8)


@pytest.mark.parametrize("image, thickness, error, words", [
    (PICTURE.astype(np.float64), 1.0, TypeError, "got dtype float64 (convert it with .astype(numpy.float32))"),
    (PICTURE.astype(np.int32), 1.0, TypeError, "got dtype int32"),
    (PICTURE.tolist(), 1.0, TypeError, "got list"),
    (None, 1.0, TypeError, "got NoneType"),
    (np.zeros((6, 8, 2), np.uint8), 1.0, ValueError, "got shape (6, 8, 2)"),
    (np.zeros((6, 8, 5), np.uint16), 1.0, ValueError, "got shape (6, 8, 5)"),
    (np.zeros(8, np.uint8), 1.0, ValueError, "got shape (8,)"),
    (np.zeros((0, 8, 3), np.uint8), 1.0, ValueError, "image is empty"),
    (PICTURE, -0.1, ValueError, "in [0, 1], got -0.1"),
    (PICTURE, 1.0000001, ValueError, "in [0, 1]"),
    (PICTURE, 10**400, ValueError, "too large for a float"),
    (PICTURE, float("nan"), ValueError, "got nan"),
    (PICTURE, "0.9", TypeError, "thickness must be a number, got str"),
    (PICTURE, True, TypeError, "thickness must be a number, got bool"),
])
def test_each_refusal_raises_its_exception(image, thickness, error, words):
    for call in (vantorel.dehaze, vantorel.transmission):
        with pytest.raises(error) as raised:
            call(image, thickness)
        assert words in str(raised.value), call.__name__


def test_a_picture_over_the_memory_left_raises_memory_error():
    # In a child process under an address-space limit, which this test process must not keep.
    script = """
import resource, numpy, vantorel
picture = numpy.full((3000, 4000, 3), 90, numpy.uint8)
with open("/proc/self/status") as status:
    mapped = next(int(l.split()[1]) * 1024 for l in status if l.startswith("VmSize:"))
limit = mapped + 256 * 1024 * 1024
resource.setrlimit(resource.RLIMIT_AS, (limit, limit))
try:
    vantorel.dehaze(picture)
except MemoryError as error:
    print("MemoryError:", error)
print("small:", vantorel.dehaze(picture[:100, :100]).shape)
"""
    completed = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True)
    assert completed.returncode == 0, completed.stderr
    lines = completed.stdout.splitlines()
    assert lines[0].startswith("MemoryError: ") and "4000 x 3000 pixels" in lines[0], lines
    assert lines[1] == "small: (100, 100, 3)"


def test_a_view_repeating_a_few_bytes_is_measured_before_it_is_copied():
    # 200 000 x 200 000 pixels in 3 bytes of memory: refused, never copied (which would
    # need 120 GB), for the copy below a tenth as for the dehaze.
    huge = np.broadcast_to(np.array([90, 100, 110], np.uint8), (200_000, 200_000, 3))
    for call, thickness in [(vantorel.dehaze, 0.9), (vantorel.dehaze, 0.05),
                            (vantorel.transmission, 0.9)]:
        with pytest.raises(MemoryError, match="200000 x 200000"):
            call(huge, thickness)


def test_two_threads_at_once_give_the_bytes_of_one_at_a_time(sample):
    pictures = [sample[:, :800], sample[:, 800:]]
    one_at_a_time = [vantorel.dehaze(picture, 0.9) for picture in pictures]
    at_once = [None, None]
    start = threading.Barrier(2)

    def work(index):
        start.wait()
        at_once[index] = vantorel.dehaze(pictures[index], 0.9)

    threads = [threading.Thread(target=work, args=(i,)) for i in range(2)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    for expected, result in zip(one_at_a_time, at_once):
        assert np.array_equal(result, expected)


def test_thread_count_is_set_and_checked():
    try:
        vantorel.set_threads(3)
        for wrong, error in [(-1, ValueError), (257, ValueError), ("2", TypeError)]:
            with pytest.raises(error):
                vantorel.set_threads(wrong)
        assert vantorel.get_threads() == 3
    finally:
        vantorel.set_threads(0)


def test_version_is_the_command_lines(run_cli):
    assert run_cli("--version").stdout.strip() == f"vantorel {vantorel.__version__}"
