"""Clips: VideoDehazer against the command line on an FFV1 clip, dehaze_video, and their
refusals. The clips are made with the ffmpeg program."""
import subprocess

import numpy as np
import pytest
import vantorel

COLS, ROWS = 160, 112


def ffmpeg(*arguments):
    subprocess.run(["ffmpeg", "-nostdin", "-v", "error", "-y", *map(str, arguments)], check=True)


def frames_of(clip):
    """Every frame of a clip as BGR arrays, with its time in seconds."""
    raw = subprocess.run(["ffmpeg", "-nostdin", "-v", "error", "-i", str(clip), "-map", "0:v",
                          "-fps_mode", "passthrough", "-f", "rawvideo", "-pix_fmt", "bgr24", "-"],
                         capture_output=True, check=True).stdout
    frames = np.frombuffer(raw, np.uint8).reshape(-1, ROWS, COLS, 3)
    times = subprocess.run(["ffprobe", "-v", "error", "-select_streams", "v", "-show_entries",
                            "frame=pts_time", "-of", "csv=p=0", str(clip)],
                           capture_output=True, text=True, check=True).stdout.split()
    assert len(times) == len(frames)
    return frames, [float(t) for t in times]


@pytest.fixture(scope="module")
def pan(tmp_path_factory, sample):
    """A pan over the sample with a white square crossing it, at a variable frame rate, in
    FFV1 (lossless RGB), with sound."""
    folder = tmp_path_factory.mktemp("clips")
    still = folder / "sample.png"
    from conftest import write_bgr
    write_bgr(np.ascontiguousarray(sample[::4, ::4]), still)
    clip = folder / "pan.mkv"
    ffmpeg("-loop", "1", "-i", still, "-f", "lavfi", "-i", "sine=duration=1",
           "-f", "lavfi", "-i", f"color=white:s=24x24:r=25",
           "-filter_complex",
           f"[0:v]crop={COLS}:{ROWS}:'n*5':30[p];[p][2:v]overlay=x='n*12':y=70,"
           "setpts='(N*40+N*N*2)/1000/TB'[v]",
           "-map", "[v]", "-map", "1:a", "-frames:v", "10", "-c:v", "ffv1", "-pix_fmt", "bgr0",
           "-c:a", "flac", clip)
    return clip


def test_video_dehazer_equals_the_command_line(pan, run_cli, tmp_path):
    result = tmp_path / "cli.mkv"
    completed = run_cli(pan, result, 0.8, "--video-codec", "ffv1")
    assert completed.returncode == 0, completed.stderr
    expected, _ = frames_of(result)
    frames, times = frames_of(pan)
    dehazer = vantorel.VideoDehazer(0.8, temporal_window=1.0, fps=25)
    got = [dehazer(frame, time) for frame, time in zip(frames, times)]
    assert len(got) == len(expected) == 10
    for k, (ours, theirs) in enumerate(zip(got, expected)):
        assert np.array_equal(ours, theirs), f"frame {k}"
    # The first frame is the single-picture result; after reset() a frame is too.
    assert np.array_equal(got[0], vantorel.dehaze(frames[0], 0.8))
    assert not np.array_equal(got[-1], vantorel.dehaze(frames[-1], 0.8))
    dehazer.reset()
    assert np.array_equal(dehazer(frames[-1]), vantorel.dehaze(frames[-1], 0.8))


def test_dehaze_video_writes_what_the_command_line_writes(pan, run_cli, tmp_path):
    assert vantorel.dehaze_video(pan, tmp_path / "py.mkv", 0.8, video_codec="ffv1",
                                 temporal_window=0.5)
    assert run_cli(pan, tmp_path / "cli.mkv", 0.8, "--video-codec", "ffv1",
                   "--temporal-window", "0.5").returncode == 0
    ours, our_times = frames_of(tmp_path / "py.mkv")
    theirs, their_times = frames_of(tmp_path / "cli.mkv")
    assert np.array_equal(ours, theirs) and our_times == their_times


def test_refusals(pan, tmp_path):
    sound = tmp_path / "sound.mkv"
    ffmpeg("-f", "lavfi", "-i", "sine=duration=1", "-c:a", "flac", sound)
    with pytest.raises(OSError, match="sound.mkv: no video stream"):
        vantorel.dehaze_video(sound, tmp_path / "out.mkv", 0.8)
    assert not (tmp_path / "out.mkv").exists()
    with pytest.raises(ValueError, match="ffv1 video is written in mkv only"):
        vantorel.dehaze_video(pan, tmp_path / "out.mp4", 0.8, video_codec="ffv1")
    with pytest.raises(TypeError, match="unexpected keyword argument 'window'"):
        vantorel.dehaze_video(pan, tmp_path / "out.mkv", 0.8, window=1)
    with pytest.raises(ValueError, match="temporal window"):
        vantorel.VideoDehazer(0.8, temporal_window=-1, fps=25)
    with pytest.raises(ValueError, match="fps"):
        vantorel.VideoDehazer(0.8, fps=0)
    with pytest.raises(TypeError):
        vantorel.VideoDehazer(0.8, fps="25")
