"""Vantorel: removes haze and fog from colour photographs and clips.

Pictures are numpy arrays of ``uint8``, ``uint16`` or ``float32`` (values in [0, 1]), of
shape (height, width, 3), (height, width, 4) with alpha, or (height, width) for grey; in
B, G, R order as ``cv2.imread`` gives them, or R, G, B (Pillow, scikit-image) with
``channel_order="rgb"``. The results are byte for byte those of the ``vantorel`` command
line on the same picture. The work runs in C++ without the GIL, so Python threads dehaze pictures at
once; ``vantorel.distributed`` runs a list of files on a Dask cluster. Clips go through
``VideoDehazer`` frame by frame (for ``cv2.VideoCapture`` loops) or ``dehaze_video`` whole.
"""
import os
import warnings

from . import _vantorel

__version__: str = _vantorel.__version__

__all__ = ["dehaze", "dehaze_file", "dehaze_video", "VideoDehazer", "transmission", "set_threads",
           "get_threads", "__version__"]

# The output options, from the file layer's one table: keyword -> (type, min, max,
# default, help). The command line's options and the HTTP parameters come from it too.
_OPTION_TABLE = {name: (bool if kind == "bool" else int, low, high, default, text)
                 for name, kind, low, high, default, text in _vantorel.output_options()}
_OUTPUT_OPTIONS = {name: entry[3] for name, entry in _OPTION_TABLE.items()}
# The same for clips, from the file layer's clip table: keyword -> (type, default, help).
_VIDEO_TABLE = {name: ({"int": int, "float": float, "str": str}[kind], default, text)
                for name, kind, default, text in _vantorel.clip_options()}
_VIDEO_OPTIONS = {name: entry[1] for name, entry in _VIDEO_TABLE.items()}


def dehaze(image, thickness=1.0, *, look="classic", channel_order="bgr"):
    """Returns the dehazed picture as a new array; ``image`` is not changed.

    image: numpy array of dtype uint8, uint16 or float32 (values in [0, 1]; others are
        clamped to it) and shape (height, width, 3), (height, width, 4) (colour and alpha)
        or (height, width) (grey); any strides (a slice or another view is fine). A 16-bit
        or float picture is dehazed at 16 bits, as the command line dehazes a 16-bit file;
        float values go through 16-bit levels (v * 65535 rounded). The alpha channel is
        returned unchanged, and a grey picture comes back grey. float64 is refused: convert
        it with ``.astype(numpy.float32)``.
    thickness: how hazy the scene is, a finite number in [0, 1] (default 1); larger
        removes more haze. Below 0.1 (0 included) there is nothing to do, as for the
        command line: the result is a copy.
    look: how the haze is removed and the tone finished, as the command line's ``--look``:
        "classic" (the default; brighter, livelier colours) or "natural" (gentler: keeps
        the photo's brightness range, no glow on fog, the tone curve changes brightness
        only).
    channel_order: "bgr" (the default, as OpenCV holds pictures) or "rgb" (Pillow,
        scikit-image); the result is in the same order.

    Returns a C-contiguous array of the same dtype and shape.
    Raises TypeError for an object that is not a numpy array of those dtypes, a thickness
    that is not a number, or a look or channel_order that is not a str; ValueError for
    another shape, an empty array, a thickness outside [0, 1], or another look or channel
    order; MemoryError when the picture (even a view whose strides repeat a few bytes)
    would not fit in the memory left.
    """
    return _vantorel.dehaze(image, thickness, look, channel_order)


def _readable_source(source):
    """Raises the OSError a plain open would (FileNotFoundError, PermissionError, ...,
    with ``filename``) when the source cannot be opened for reading. Opened without
    waiting, so that a named pipe cannot hold the call."""
    descriptor = os.open(source, os.O_RDONLY | os.O_NONBLOCK)
    os.close(descriptor)


def _outcome(status, error, note, _seconds):
    """What a file call returns or raises for the layer's outcome: True when written (a
    note becomes a UserWarning for the caller's caller), False when there was nothing to do,
    else OSError with the layer's one line."""
    if status == "written":
        if note:
            warnings.warn(note, UserWarning, stacklevel=3)
        return True
    if status == "nothing to do":
        return False
    raise OSError(error)


def _file_options(options):
    """The output options with their defaults filled in; TypeError for unknown names and
    wrong types (the ranges are checked with the thickness, in C++)."""
    unknown = sorted(set(options) - set(_OUTPUT_OPTIONS))
    if unknown:
        raise TypeError(f"unexpected keyword argument {unknown[0]!r}; the output options are "
                        + ", ".join(_OUTPUT_OPTIONS))
    checked = {**_OUTPUT_OPTIONS, **options}
    for name, value in checked.items():
        expected = _OPTION_TABLE[name][0]
        # bool is an int to Python; a quality of True is surely a mistake.
        if not isinstance(value, expected) or (expected is int and isinstance(value, bool)):
            raise TypeError(f"{name} must be {expected.__name__}, got {type(value).__name__}")
    return checked


def dehaze_file(source, result, thickness=1.0, *, look="classic", **options):
    """Dehazes the picture file ``source`` into the file ``result``, as the command line's
    ``vantorel SOURCE RESULT THICKNESS`` does: the same reading (EXIF orientation turned
    upright), the same bytes, the metadata kept, and ``result`` replaced in one step (a
    failure leaves no partial file and never damages an existing one).

    source, result: paths (str or os.PathLike); the result's extension chooses the format.
    thickness: as for dehaze(). Below 0.1 nothing is read or written.
    look: as for dehaze(): "classic" (the default) or "natural".
    options: the command line's output options, by the same names (listed below).

    Returns True when the result was written, False when there was nothing to do. Metadata
    that could not be kept (damaged EXIF, a format without room for it) is reported as a
    UserWarning.
    Raises TypeError or ValueError for wrong arguments (an unknown option, a result format
    that cannot be written, ...); FileNotFoundError or PermissionError (with ``filename``)
    when the source is missing or may not be read; and OSError, naming the file, when the
    source cannot be decoded, the picture would not fit in memory, or the result cannot be
    written.
    """
    checked = _file_options(options)
    source = os.fspath(source)
    _vantorel.check_file_arguments(os.fspath(result), thickness, look, checked)
    _readable_source(source)
    return _outcome(*_vantorel.dehaze_file(source, os.fspath(result), thickness, look, checked))


dehaze_file.__doc__ += "\n    The output options:\n" + "".join(
    f"        {name:<16} {entry[4]}\n" for name, entry in _OPTION_TABLE.items())


def transmission(image, thickness=1.0, *, channel_order="bgr"):
    """Returns the transmission map that dehaze() estimates for ``image`` in the classic look.

    image, thickness, channel_order: as for dehaze(); below 0.1, where dehaze() changes
        nothing, the map is still the one estimated for that thickness (0 is taken as 0.01,
        as the command line takes it).

    Returns a float32 array of shape (height, width) in [0, 1]: 1 where the scene is
    clear, towards 0 where haze hides it.
    Raises the same errors as dehaze().
    """
    return _vantorel.transmission(image, thickness, channel_order)


def set_threads(count):
    """Sets the number of threads each dehaze of this process uses.

    count: 1 to 256; 0 returns to the default (VANTOREL_THREADS when it is a whole
        number from 1 to 256, else the machine's cores). Results never depend on it.
    Raises ValueError outside 0..256.
    """
    _vantorel.set_threads(count)


def get_threads():
    """Returns the number of threads each dehaze of this process uses."""
    return _vantorel.get_threads()


class VideoDehazer:
    """Dehazes the frames of one clip in order, without flicker: each frame goes through
    the same pipeline as dehaze(), with its whole-frame estimates (brightest sample,
    airlight, the transmission's row profile, the tone curve) averaged over the last
    ``temporal_window`` seconds, and started afresh at a scene cut.

    thickness, look: as for dehaze().
    temporal_window: the averages' time constant in seconds, 0..60 (default 1); 0 dehazes
        every frame on its own, exactly as dehaze().
    fps: the clip's frame rate: the spacing of frames passed without a timestamp.

    Calling it with a frame (a numpy uint8 array as for dehaze()) returns the dehazed frame
    as a new array; ``timestamp`` (seconds) places frames of a variable frame rate. The
    first frame, and the first after reset() or a scene cut, equal dehaze()'s result.
    Raises TypeError and ValueError as dehaze() does, and for a window or fps out of range.
    """

    def __init__(self, thickness, *, look="classic", temporal_window=1.0, fps):
        self._dehazer = _vantorel.VideoDehazer(thickness, look, temporal_window, fps)

    def __call__(self, frame, timestamp=None):
        return self._dehazer.process(frame, timestamp)

    def reset(self):
        """Forgets the history: the next frame is dehazed as a picture on its own."""
        self._dehazer.reset()


def _video_options(options):
    """The clip options with their defaults filled in; TypeError for unknown names and
    wrong types (the ranges are checked in C++)."""
    unknown = sorted(set(options) - set(_VIDEO_OPTIONS))
    if unknown:
        raise TypeError(f"unexpected keyword argument {unknown[0]!r}; the clip options are "
                        + ", ".join(_VIDEO_OPTIONS))
    checked = {**_VIDEO_OPTIONS, **{name: value for name, value in options.items() if value is not None}}
    for name, value in checked.items():
        expected = _VIDEO_TABLE[name][0]
        # bool is an int to Python; an int is a fine float.
        ok = isinstance(value, (int, float) if expected is float else expected) and not isinstance(value, bool)
        if not ok:
            raise TypeError(f"{name} must be {expected.__name__}, got {type(value).__name__}")
    return checked


def dehaze_video(source, result, thickness=1.0, *, look="classic", **options):
    """Dehazes the clip ``source`` into the clip ``result``, as the command line's
    ``vantorel SOURCE RESULT THICKNESS`` does for a clip: the same frames, the other
    streams (sound, subtitles) copied packet for packet, metadata and timestamps kept, and
    ``result`` replaced in one step at the end.

    source, result: paths (str or os.PathLike).
    thickness, look: as for dehaze_file().
    options: the command line's clip options, by the same names:
        temporal_window  seconds, 0..60, default 1 (0: every frame on its own)
        video_format     "mp4", "mkv", "mov" or "webm"; default: the result's extension
        video_codec      "h264", "h265", "vp9" or "ffv1"; default: vp9 for webm, else h264
        crf              0..51, default 18
        preset           "ultrafast" .. "veryslow", default "medium"

    Returns True when the result was written, False when there was nothing to do. Damaged
    frames left out and streams the container cannot hold are reported as a UserWarning.
    Raises TypeError or ValueError for wrong arguments; FileNotFoundError or PermissionError
    (with ``filename``) when the source is missing or may not be read; and OSError, naming
    the file, when the clip cannot be decoded or the result cannot be written.
    """
    checked = _video_options(options)
    source = os.fspath(source)
    _readable_source(source)
    return _outcome(*_vantorel.dehaze_video(source, os.fspath(result), thickness, look, checked))
