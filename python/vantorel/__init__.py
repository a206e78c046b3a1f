"""Vantorel: removes haze and fog from colour photographs.

Pictures are numpy ``uint8`` arrays of shape (height, width, 3) in B, G, R order, as
``cv2.imread`` gives them. The results are byte for byte those of the ``vantorel``
command line. The work runs in C++ without the GIL, so Python threads dehaze pictures at
once; ``vantorel.distributed`` runs a list of files on a Dask cluster.
"""
from . import _vantorel

__version__: str = _vantorel.__version__

__all__ = ["dehaze", "transmission", "set_threads", "get_threads", "__version__"]


def dehaze(image, thickness=1.0):
    """Returns the dehazed picture as a new array; ``image`` is not changed.

    image: numpy uint8 array of shape (height, width, 3), blue, green, red; any strides
        (a slice or another view is fine).
    thickness: how hazy the scene is, a finite number in (0, 1] (default 1); larger
        removes more haze. Below 0.1 there is nothing to do: the result is a copy.

    Returns a C-contiguous uint8 array of the same shape.
    Raises TypeError for an object that is not a uint8 numpy array or a thickness that is
    not a number; ValueError for another shape, an empty array or a thickness outside
    (0, 1]; MemoryError when the picture would not fit in the memory left.
    """
    return _vantorel.dehaze(image, thickness)


def transmission(image, thickness=1.0):
    """Returns the transmission map that dehaze() estimates for ``image``.

    image, thickness: as for dehaze().

    Returns a float32 array of shape (height, width) in [0, 1]: 1 where the scene is
    clear, towards 0 where haze hides it.
    Raises the same errors as dehaze().
    """
    return _vantorel.transmission(image, thickness)


def set_threads(count):
    """Sets the number of threads each dehaze of this process uses.

    count: 1 to 256; 0 returns to the default (VANTOREL_THREADS when it is a positive
        whole number, else the machine's cores). Results never depend on it.
    Raises ValueError outside 0..256.
    """
    _vantorel.set_threads(count)


def get_threads():
    """Returns the number of threads each dehaze of this process uses."""
    return _vantorel.get_threads()
