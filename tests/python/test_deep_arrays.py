"""vantorel.dehaze and vantorel.transmission on 16-bit, float, grey, RGBA and RGB arrays,
against the command line's result on the same picture in a file."""
import numpy as np
import pytest
import vantorel
from PIL import Image


def write_ppm16(bgr, path):
    """A 16-bit binary PPM (big-endian R, G, B samples), written by hand: Pillow cannot."""
    rows, cols = bgr.shape[:2]
    with open(path, "wb") as out:
        out.write(f"P6\n{cols} {rows}\n65535\n".encode())
        out.write(np.ascontiguousarray(bgr[:, :, ::-1]).astype(">u2").tobytes())


def read_ppm16(path):
    """The B, G, R uint16 samples of a binary PPM of maximum value 65535."""
    data = open(path, "rb").read()
    fields, position = [], 0
    while len(fields) < 4:
        while data[position:position + 1].isspace():
            position += 1
        if data[position:position + 1] == b"#":
            position = data.index(b"\n", position)
            continue
        end = position
        while not data[end:end + 1].isspace():
            end += 1
        fields.append(data[position:end])
        position = end
    assert fields[0] == b"P6" and fields[3] == b"65535", fields
    cols, rows = int(fields[1]), int(fields[2])
    samples = np.frombuffer(data[position + 1:], ">u2", rows * cols * 3)
    return samples.reshape(rows, cols, 3)[:, :, ::-1].astype(np.uint16)


@pytest.fixture(scope="module")
def deep(sample):
    """A crop of the sample widened to 16 bits with a smooth ramp below one 8-bit level."""
    crop = sample[200:520, 300:780].astype(np.uint16) * 257
    ramp = np.linspace(0, 200, crop.shape[1], dtype=np.uint16)
    picture = crop + ramp[None, :, None]
    picture.flags.writeable = False
    return picture


def cli_result_of_ppm(picture, run_cli, tmp_path, *options):
    write_ppm16(picture, tmp_path / "source.ppm")
    completed = run_cli(*options, tmp_path / "source.ppm", tmp_path / "result.ppm", 0.9)
    assert completed.returncode == 0, completed.stderr
    return read_ppm16(tmp_path / "result.ppm")


def test_uint16_and_float32_give_the_command_lines_16_bit_result(deep, run_cli, tmp_path):
    expected = cli_result_of_ppm(deep, run_cli, tmp_path)
    result = vantorel.dehaze(deep, 0.9)
    assert result.dtype == np.uint16 and result.shape == deep.shape
    assert np.array_equal(result, expected)
    # Float values are the 16-bit levels over 65535, and come back so.
    floats = vantorel.dehaze(deep.astype(np.float32) / np.float32(65535), 0.9)
    assert floats.dtype == np.float32 and floats.shape == deep.shape
    assert np.array_equal(np.rint(floats * np.float32(65535)).astype(np.uint16), expected)
    # Deeper than 8 bits: far more distinct values than the 8-bit result has.
    eight = vantorel.dehaze((deep // 257).astype(np.uint8), 0.9)
    assert len(np.unique(result)) > 8 * len(np.unique(eight))


def test_rgb_arrays_give_the_bgr_result_with_the_channels_swapped(deep, sample):
    for picture in (sample[:300, :400], deep):
        bgr = vantorel.dehaze(picture, 0.8)
        rgb = vantorel.dehaze(np.ascontiguousarray(picture[:, :, ::-1]), 0.8, channel_order="rgb")
        assert np.array_equal(rgb, bgr[:, :, ::-1]), picture.dtype
        assert np.array_equal(vantorel.transmission(picture[:, :, ::-1], 0.8, channel_order="rgb"),
                              vantorel.transmission(picture, 0.8))


def test_grey_arrays_give_the_command_lines_grey_result(sample, run_cli, tmp_path):
    grey = np.asarray(Image.fromarray(np.ascontiguousarray(sample[:300, :400, ::-1])).convert("L"))
    Image.fromarray(grey).save(tmp_path / "grey.png")
    completed = run_cli(tmp_path / "grey.png", tmp_path / "result.png", 0.9)
    assert completed.returncode == 0, completed.stderr
    with Image.open(tmp_path / "result.png") as picture:
        assert picture.mode == "L"
        expected = np.asarray(picture)
    result = vantorel.dehaze(grey, 0.9)
    assert result.dtype == np.uint8 and result.shape == grey.shape
    assert np.array_equal(result, expected)
    assert vantorel.transmission(grey, 0.9).shape == grey.shape


def test_rgba_arrays_keep_their_alpha_and_give_the_command_lines_result(sample, run_cli, tmp_path):
    rgb = np.ascontiguousarray(sample[:300, :400, ::-1])
    alpha = np.tile(np.arange(400, dtype=np.uint16) % 256, (300, 1)).astype(np.uint8)
    rgba = np.dstack([rgb, alpha])
    Image.fromarray(rgba, "RGBA").save(tmp_path / "rgba.png")
    completed = run_cli(tmp_path / "rgba.png", tmp_path / "result.png", 0.9)
    assert completed.returncode == 0, completed.stderr
    with Image.open(tmp_path / "result.png") as picture:
        assert picture.mode == "RGBA"
        expected = np.asarray(picture)
    result = vantorel.dehaze(rgba, 0.9, channel_order="rgb")
    assert result.shape == rgba.shape
    assert np.array_equal(result[:, :, 3], alpha)
    assert np.array_equal(result, expected)
    # The colour is the colour picture's own result.
    assert np.array_equal(result[:, :, :3], vantorel.dehaze(rgb, 0.9, channel_order="rgb"))
    # A float alpha comes back exactly, not through 16 bits.
    floats = rgba.astype(np.float32) / np.float32(255)
    floats[:, :, 3] = np.float32(1 / 3)
    assert np.array_equal(vantorel.dehaze(floats, 0.9, channel_order="rgb")[:, :, 3], floats[:, :, 3])


@pytest.mark.parametrize("order, error, words", [
    ("RGB", ValueError, 'channel_order must be "bgr" or "rgb", got "RGB"'),
    (1, TypeError, "channel_order must be a str, got int"),
])
def test_a_wrong_channel_order_is_refused(order, error, words):
    picture = np.full((6, 8, 3), 120, np.uint8)
    for call in (vantorel.dehaze, vantorel.transmission):
        with pytest.raises(error) as raised:
            call(picture, 0.9, channel_order=order)
        assert words in str(raised.value), call.__name__


def test_dehaze_file_writes_the_depth_asked_for(deep, run_cli, tmp_path):
    write_ppm16(deep, tmp_path / "source.ppm")
    assert vantorel.dehaze_file(tmp_path / "source.ppm", tmp_path / "deep.ppm", 0.9)
    assert np.array_equal(read_ppm16(tmp_path / "deep.ppm"), vantorel.dehaze(deep, 0.9))
    assert vantorel.dehaze_file(tmp_path / "source.ppm", tmp_path / "eight.png", 0.9, depth=8)
    with Image.open(tmp_path / "eight.png") as picture:
        assert picture.mode == "RGB"
    with pytest.raises(ValueError, match="JPEG cannot hold 16 bits per channel"):
        vantorel.dehaze_file(tmp_path / "source.ppm", tmp_path / "x.jpg", 0.9, depth=16)
    assert not (tmp_path / "x.jpg").exists()


def test_a_batch_refuses_16_bits_for_a_format_that_cannot_hold_them(sample, tmp_path):
    from vantorel import distributed
    Image.fromarray(np.ascontiguousarray(sample[:64, :64, ::-1])).save(tmp_path / "a.jpg")
    with pytest.raises(ValueError, match="a.jpg: JPEG cannot hold 16 bits per channel"):
        distributed.plan([tmp_path / "a.jpg"], tmp_path / "out", depth=16)
    assert distributed.plan([tmp_path / "a.jpg"], tmp_path / "out", format="png", depth=16)[0][1].endswith("a.png")
