"""vantorel.dehaze_file: the command line's single form as a call."""
import os
import subprocess

import numpy as np
import pytest
import vantorel

from conftest import write_bgr


@pytest.fixture
def tagged(metadata_tool, tmp_path):
    """A 40 x 24 JPEG stored sideways (orientation 6) with EXIF, XMP, IPTC and a profile."""
    path = tmp_path / "side.jpg"
    for arguments in (["make-marked", "40", "24", path], ["tag", path, "6"]):
        subprocess.run([str(metadata_tool), *map(str, arguments)], check=True)
    return path


def show(metadata_tool, path):
    return subprocess.run([str(metadata_tool), "show", str(path)], check=True,
                          capture_output=True, text=True).stdout


def leftovers(folder):
    return sorted(p.name for p in folder.iterdir() if p.name.startswith("."))


@pytest.mark.parametrize("extension", ["jpg", "png", "tif"])
def test_metadata_and_bytes_are_those_of_the_command_line(tagged, run_cli, metadata_tool,
                                                          tmp_path, extension):
    expected, result = tmp_path / f"cli.{extension}", tmp_path / f"py.{extension}"
    completed = run_cli(tagged, expected, 0.9)
    assert completed.returncode == 0 and completed.stderr == "", completed.stderr

    assert vantorel.dehaze_file(tagged, result, 0.9) is True
    assert result.read_bytes() == expected.read_bytes()
    fields = show(metadata_tool, result)
    assert "Exif.Image.Make=Vantorel Test" in fields and "Exif.Image.Orientation=1" in fields
    assert "icc=300 bytes" in fields and "Xmp.xmp.Rating=4" in fields


@pytest.mark.parametrize("cli_options, options, extension", [
    (["--jpeg-quality", "40"], {"jpeg_quality": 40}, "jpg"),
    (["--webp-quality", "60"], {"webp_quality": 60}, "webp"),
    (["--png-compression", "9"], {"png_compression": 9}, "png"),
    (["--strip-metadata"], {"strip_metadata": True}, "jpg"),
])
def test_output_options_are_those_of_the_command_line(sample, tagged, run_cli, metadata_tool,
                                                     tmp_path, cli_options, options, extension):
    # A photo for the encoders' options, the tagged picture for the metadata.
    source = tagged
    if "strip_metadata" not in options:
        source = tmp_path / "photo.png"
        write_bgr(sample[:300, :400], source)
    expected, result = tmp_path / f"cli.{extension}", tmp_path / f"py.{extension}"
    completed = run_cli(*cli_options, source, expected, 0.9)
    assert completed.returncode == 0, completed.stderr

    vantorel.dehaze_file(str(source), str(result), 0.9, **options)
    assert result.read_bytes() == expected.read_bytes()
    vantorel.dehaze_file(source, tmp_path / f"default.{extension}", 0.9)
    assert result.read_bytes() != (tmp_path / f"default.{extension}").read_bytes()
    if "strip_metadata" in options:
        fields = show(metadata_tool, result).splitlines()
        camera_data = [line for line in fields if line.startswith(("Exif.", "Xmp.", "Iptc."))]
        assert len(camera_data) == 10 and all(line.endswith("=(none)") for line in camera_data)
        assert any(line.startswith("icc=300 bytes") for line in fields)


def test_metadata_that_cannot_be_kept_is_a_warning(tagged, tmp_path):
    with pytest.warns(UserWarning, match="metadata|EXIF|profile"):
        assert vantorel.dehaze_file(tagged, tmp_path / "out.bmp", 0.9)
    assert (tmp_path / "out.bmp").exists()


def test_thickness_below_a_tenth_writes_nothing(tagged, tmp_path):
    assert vantorel.dehaze_file(tagged, tmp_path / "out.png", 0.05) is False
    assert not (tmp_path / "out.png").exists()


def test_each_refusal_names_the_file_and_leaves_nothing(tagged, tmp_path):
    broken = tmp_path / "broken.jpg"
    broken.write_bytes(b"\xff\xd8\xff\xe0 not really a picture")
    existing = tmp_path / "existing.png"
    existing.write_bytes(b"kept as it was")
    cases = [
        (tmp_path / "missing.jpg", existing, {}, OSError, "missing.jpg"),
        (broken, existing, {}, OSError, "broken.jpg"),
        (tagged, tmp_path / "no" / "folder.png", {}, OSError, "folder.png"),
        (tagged, tmp_path / "out.xyz", {}, ValueError, "out.xyz"),
        (tagged, existing, {"jpeg_quality": 0}, ValueError, "JPEG quality must lie in 1..100"),
        (tagged, existing, {"png_compression": 10}, ValueError, "PNG compression must lie in"),
        (tagged, existing, {"webp_quality": 101}, ValueError, "WebP quality must lie in"),
        (tagged, existing, {"jpeg_quality": "95"}, TypeError, "jpeg_quality must be int"),
        (tagged, existing, {"strip_metadata": 1}, TypeError, "strip_metadata must be bool"),
        (tagged, existing, {"quality": 95}, TypeError, "unexpected keyword argument 'quality'"),
        (tagged, existing, {"thickness": 0.5}, TypeError, "multiple values"),
    ]
    for source, result, options, error, words in cases:
        with pytest.raises(error) as raised:
            vantorel.dehaze_file(source, result, 0.9, **options)
        assert words in str(raised.value), (source, result, options, str(raised.value))
    assert existing.read_bytes() == b"kept as it was"
    assert leftovers(tmp_path) == []
    for thickness, error in [(-0.5, ValueError), (1.5, ValueError), ("1", TypeError)]:
        with pytest.raises(error):
            vantorel.dehaze_file(tagged, existing, thickness)
    assert vantorel.dehaze_file(tagged, existing, 0) is False  # as `vantorel ... 0`: nothing to do


def test_a_missing_or_forbidden_source_raises_the_matching_os_error(tmp_path):
    missing = tmp_path / "missing.jpg"
    with pytest.raises(FileNotFoundError) as raised:
        vantorel.dehaze_file(missing, tmp_path / "out.png", 0.9)
    assert raised.value.filename == str(missing)
    if os.geteuid() == 0:
        pytest.skip("root reads a file whatever its permission bits")
    forbidden = tmp_path / "forbidden.png"
    forbidden.write_bytes(b"\x89PNG")
    forbidden.chmod(0)
    with pytest.raises(PermissionError) as raised:
        vantorel.dehaze_file(forbidden, tmp_path / "out.png", 0.9)
    assert raised.value.filename == str(forbidden)


def test_errors_carry_no_image_library_log_lines(tmp_path):
    # Pillow writes a PNG whose data stops half-way: the codec complains, the library logs.
    truncated = tmp_path / "truncated.png"
    write_bgr(np.full((64, 64, 3), 100, np.uint8), truncated)
    truncated.write_bytes(truncated.read_bytes()[:60])
    with pytest.raises(OSError) as raised:
        vantorel.dehaze_file(truncated, tmp_path / "out.png", 0.9)
    message = str(raised.value)
    assert "truncated.png" in message
    assert "global" not in message and "[ WARN" not in message and "modules/" not in message
