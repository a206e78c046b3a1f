"""Vantorel: removes haze and fog from colour photographs.

Pictures are numpy arrays of ``uint8``, ``uint16`` or ``float32`` (values in [0, 1]), of
shape (height, width, 3), (height, width, 4) with alpha, or (height, width) for grey; in
B, G, R order as ``cv2.imread`` gives them, or R, G, B (Pillow, scikit-image) with
``channel_order="rgb"``. The results are byte for byte those of the ``vantorel`` command
line on the same picture. The work runs in C++ without the GIL, so Python threads dehaze pictures at
once; ``vantorel.distributed`` runs a list of files on a Dask cluster.
"""
import os
import warnings

from . import _vantorel

__version__: str = _vantorel.__version__

__all__ = ["dehaze", "dehaze_file", "transmission", "set_threads", "get_threads", "__version__"]

# The output options, from the file layer's one table: keyword -> (type, min, max,
# default, help). The command line's options and the HTTP parameters come from it too.
_OPTION_TABLE = {name: (bool if kind == "bool" else int, low, high, default, text)
                 for name, kind, low, high, default, text in _vantorel.output_options()}
_OUTPUT_OPTIONS = {name: entry[3] for name, entry in _OPTION_TABLE.items()}


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
    status, error, note, _ = _vantorel.dehaze_file(source, os.fspath(result), thickness, look,
                                                   checked)
    if status == "written":
        if note:
            warnings.warn(note, UserWarning, stacklevel=2)
        return True
    if status == "nothing to do":
        return False
    raise OSError(error)


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
