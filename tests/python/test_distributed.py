"""vantorel.distributed.dehaze_files on a LocalCluster of two worker processes."""
import os
import subprocess

import numpy as np
import pytest
import vantorel
from dask.distributed import Client, LocalCluster
from vantorel.distributed import dehaze_files

from conftest import write_bgr


@pytest.fixture(scope="module")
def client():
    with LocalCluster(n_workers=2, threads_per_worker=1, processes=True, host="127.0.0.1",
                      dashboard_address=None) as cluster, Client(cluster) as client:
        yield client


def small_pictures(folder):
    """Five small pictures of different sizes and formats, with haze growing upwards."""
    random = np.random.default_rng(7)
    paths = []
    for i, (rows, cols, extension) in enumerate([(48, 64, "png"), (60, 40, "jpg"),
                                                 (33, 97, "png"), (80, 80, "tif"),
                                                 (25, 30, "bmp")]):
        scene = random.integers(0, 160, (rows, cols, 3))
        haze = np.linspace(1.0, 0.3, rows)[:, None, None]
        picture = (scene * haze + 200 * (1 - haze)).astype(np.uint8)
        path = folder / f"picture_{i}.{extension}"
        write_bgr(picture, path)
        paths.append(path)
    return paths


def test_results_are_those_of_the_command_line_and_a_broken_file_is_a_record(
        client, run_cli, tmp_path):
    sources = small_pictures(tmp_path)
    broken = tmp_path / "broken.jpg"
    broken.write_bytes(b"\xff\xd8\xff not a picture")
    sources.insert(2, broken)
    output = tmp_path / "out"

    records = dehaze_files(client, sources, output, 0.8, suffix="_clear", format="png")

    assert [record.source for record in records] == [str(source) for source in sources]
    for source, record in zip(sources, records):
        if source == broken:
            assert record.result is None and "broken.jpg" in record.error
            continue
        assert record.error is None and record.seconds > 0
        assert record.result == str(output / f"{source.stem}_clear.png")
        expected = tmp_path / f"cli_{source.stem}.png"
        assert run_cli(source, expected, 0.8).returncode == 0
        assert open(record.result, "rb").read() == expected.read_bytes(), source.name
    # Nothing partial on disk: only the good results, no temporary file.
    assert sorted(p.name for p in output.iterdir()) == sorted(
        f"{s.stem}_clear.png" for s in sources if s != broken)
    # Each task ran on one library thread.
    assert set(client.run(vantorel.get_threads).values()) == {1}


def test_output_options_reach_the_workers(client, tmp_path):
    source = small_pictures(tmp_path)[0]
    records = dehaze_files(client, [source], tmp_path / "out", 0.8, format="jpg",
                           jpeg_quality=30)
    expected = tmp_path / "here.jpg"
    vantorel.dehaze_file(source, expected, 0.8, jpeg_quality=30)
    assert open(records[0].result, "rb").read() == expected.read_bytes()
    vantorel.dehaze_file(source, tmp_path / "default.jpg", 0.8)
    assert expected.read_bytes() != (tmp_path / "default.jpg").read_bytes()
    # Below 0.1: nothing to do, nothing written, no error.
    records = dehaze_files(client, [source], tmp_path / "none", 0.05)
    assert records[0].result is None and records[0].error is None


def test_the_look_reaches_the_workers(client, tmp_path):
    source = small_pictures(tmp_path)[3]
    records = dehaze_files(client, [source], tmp_path / "out", 0.8, look="natural", format="png")
    expected = tmp_path / "here.png"
    vantorel.dehaze_file(source, expected, 0.8, look="natural")
    assert open(records[0].result, "rb").read() == expected.read_bytes()
    vantorel.dehaze_file(source, tmp_path / "classic.png", 0.8)
    assert expected.read_bytes() != (tmp_path / "classic.png").read_bytes()


def test_folders_are_planned_as_the_command_line_plans_them(client, executable, tmp_path):
    source = tmp_path / "photos"
    (source / "sub").mkdir(parents=True)
    for path in small_pictures(source):
        if path.suffix == ".jpg":
            path.rename(source / "sub" / path.name)
    (source / "notes.txt").write_text("not a picture")
    os.mkfifo(source / "pipe.jpg")
    os.symlink(source / "gone.png", source / "dangling.png")

    done = []
    with pytest.warns(UserWarning, match="1 file that is not a regular file"):
        records = dehaze_files(client, [source], tmp_path / "py", 0.8, recursive=True,
                               progress=lambda n, total, record: done.append((n, total)))
    completed = subprocess.run([str(executable), "-o", str(tmp_path / "cli"), "-r", "-t", "0.8",
                                str(source)], capture_output=True, text=True)
    assert completed.returncode == 1  # the dangling link fails there too

    def tree(folder):
        return {str(p.relative_to(folder)): p.read_bytes()
                for p in sorted(folder.rglob("*")) if p.is_file()}
    assert tree(tmp_path / "py") == tree(tmp_path / "cli")
    assert "sub/picture_1.jpg" in tree(tmp_path / "py")  # the source's own format, kept
    assert [r.source for r in records if r.error] == [str(source / "dangling.png")]
    assert done == [(n, len(records)) for n in range(1, len(records) + 1)]


def test_wrong_arguments_are_refused_before_any_work(client, tmp_path):
    (tmp_path / "a").mkdir()
    (tmp_path / "b").mkdir()
    same_name = [tmp_path / "a" / "x.jpg", tmp_path / "b" / "x.png"]
    (tmp_path / "x.jpg").write_bytes(b"a source")
    # A result that is a link to a source: replacing it would rewrite the source.
    (tmp_path / "src").mkdir()
    (tmp_path / "src" / "a.png").write_bytes(b"a source")
    (tmp_path / "linked").mkdir()
    os.symlink("../src/a.png", tmp_path / "linked" / "a.png")
    cases = [
        (same_name, tmp_path / "out", {"format": "png"}, ValueError, "would both be written to"),
        ([tmp_path / "x.jpg"], tmp_path, {"format": "jpg"}, ValueError, "is one of the sources"),
        ([tmp_path / "src" / "a.png"], tmp_path / "linked", {"format": "png"}, ValueError,
         "is one of the sources"),
        ([tmp_path / "x.jpg"], tmp_path / "out", {"suffix": "/up"}, ValueError, "must not name a folder"),
        ([tmp_path / "x.jpg"], tmp_path / "out", {"format": "xyz"}, ValueError, "xyz"),
        ([tmp_path / "x.jpg"], tmp_path / "out", {"jpeg_quality": 0}, ValueError, "JPEG quality"),
        ([tmp_path / "x.jpg"], tmp_path / "out", {"colour": 1}, TypeError, "'colour'"),
        ([tmp_path / "x.jpg"], tmp_path / "out", {"look": "vivid"}, ValueError, "classic or natural"),
    ]
    for sources, output, options, error, words in cases:
        with pytest.raises(error, match=words):
            dehaze_files(client, sources, output, 0.8, **options)
    with pytest.raises(ValueError, match="thickness"):
        dehaze_files(client, [tmp_path / "x.jpg"], tmp_path / "out", 2.0)
    assert not (tmp_path / "out").exists()
    assert (tmp_path / "src" / "a.png").read_bytes() == b"a source"
