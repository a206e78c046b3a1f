"""Dehazing many picture files on a Dask cluster (dask.distributed).

The batch is planned as the command line plans ``vantorel -o DIR SOURCE...``, by the same
C++ planner: the same pictures taken from folders, the same result names and formats, and
the same refusals before any work (two sources landing on one result, a result that is a
source, even through a link). Then one task per picture runs on whichever worker the
scheduler picks; each reads its source, dehazes it with the C++ code on one thread (the
workers' processes give the parallelism) and replaces its result atomically, exactly as
``vantorel.dehaze_file`` does.

The plan is made in the calling process, which lists the folders and compares the files
on disk; the sources and the output folder must be on storage that it and every worker
see under the same paths (a shared or network file system), and every worker needs this
package installed. A worker that dies is replaced and its tasks run again by Dask's own
mechanism (the scheduler's ``allowed-failures`` setting).
"""
import os
import time
import warnings
from typing import Any, Callable, List, NamedTuple, Optional, Sequence, Union

from . import _file_options, _vantorel, dehaze_file, set_threads

PathType = Union[str, "os.PathLike[str]"]


class FileRecord(NamedTuple):
    """What became of one source."""

    source: str               # the picture's path, as planned (absolute)
    result: Optional[str]     # the result written, or None (an error, or nothing to do)
    error: Optional[str]      # one line naming the file and why, or None
    seconds: float            # the task's time on its worker: reading, dehazing, writing


def plan(sources: Sequence[PathType], output_dir: PathType, *, recursive: bool = False,
         format: Optional[str] = None, suffix: str = "", depth: int = 0) -> List[tuple]:
    """The (source, result) pairs the batch would dehaze, as ``vantorel -o`` plans them.

    sources: pictures and folders; a folder gives the pictures in it (by extension, hidden
        files, FIFOs and devices left out), and with ``recursive`` those of its sub-folders,
        whose layout is kept under ``output_dir``.
    format: the results' extension ("png", "jpg", ...), or None for each source's own where
        results can be written in it, else PNG.
    suffix: added to each result's name.
    depth: the output option of dehaze_file: 16 refuses the batch when a result's format
        cannot hold 16 bits (0, the default, and 8 fit every format).

    Relative paths are made absolute from this process's folder. What the planner left out
    (sub-folders without ``recursive``, FIFOs) is reported as a UserWarning.
    Raises ValueError, before any work, for a format that cannot be written or a batch the
    command line refuses.
    """
    if format is not None and not isinstance(format, str):
        raise TypeError(f"format must be str or None, got {type(format).__name__}")
    if not isinstance(suffix, str):
        raise TypeError(f"suffix must be str, got {type(suffix).__name__}")
    if not isinstance(depth, int) or isinstance(depth, bool):
        raise TypeError(f"depth must be int, got {type(depth).__name__}")
    pairs, notes = _vantorel.plan_batch([os.path.abspath(os.fspath(s)) for s in sources],
                                        os.path.abspath(os.fspath(output_dir)), bool(recursive),
                                        format or "", suffix, depth)
    for note in notes:
        warnings.warn(note, UserWarning, stacklevel=3)
    return pairs


def _dehaze_task(source, result, thickness, look, options):
    """Runs on a worker: one picture, one thread; every failure becomes the record's error."""
    set_threads(1)
    start = time.perf_counter()
    try:
        os.makedirs(os.path.dirname(result), exist_ok=True)
        written = dehaze_file(source, result, thickness, look=look, **options)
    except (OSError, ValueError, MemoryError) as error:
        message = str(error)
        if isinstance(error, OSError) and error.filename is not None and error.strerror:
            message = f"{error.filename}: {error.strerror}"
        return FileRecord(source, None, message, time.perf_counter() - start)
    return FileRecord(source, result if written else None, None, time.perf_counter() - start)


def dehaze_files(client: Any, sources: Sequence[PathType], output_dir: PathType,
                 thickness: float = 1.0, *, look: str = "classic", recursive: bool = False,
                 format: Optional[str] = None, suffix: str = "",
                 progress: Union[None, bool, Callable[[int, int, FileRecord], Any]] = None,
                 **options: Any) -> List[FileRecord]:
    """Dehazes the pictures of ``sources`` into output_dir on the Dask cluster of ``client``,
    as ``vantorel -o output_dir SOURCE...`` would.

    client: a dask.distributed.Client.
    sources, recursive, format, suffix: as for plan(): pictures and folders; each result
        keeps its source's format unless ``format`` names one.
    output_dir: the folder for the results, seen by every worker; created when missing.
    thickness: as for vantorel.dehaze_file, the same for every picture.
    look: as for vantorel.dehaze_file ("classic", the default, or "natural").
    progress: a callable, called in this process as each picture ends with
        (pictures done, pictures in all, its FileRecord); or True for Dask's own progress
        bar (dask.distributed.progress); None, the default, for neither.
    options: the output options of vantorel.dehaze_file (``jpeg_quality``, ...,
        ``depth``).

    Returns one FileRecord per picture, in the plan's order. A picture that cannot be read
    or written is a record with its error, never a failed batch; with a thickness below 0.1
    nothing is written and each record has neither result nor error.
    Raises TypeError or ValueError, before any work, for wrong arguments or a batch the
    command line refuses.
    """
    checked = _file_options(options)
    pairs = plan(sources, output_dir, recursive=recursive, format=format, suffix=suffix,
                 depth=checked["depth"])
    # Every check dehaze_file makes before its work, here once rather than in each task.
    _vantorel.check_file_arguments(pairs[0][1] if pairs else "result.png", thickness, look,
                                   checked)
    if progress is not None and progress is not True and not callable(progress):
        raise TypeError("progress must be None, True or a callable")
    if not pairs:
        return []

    futures = client.map(_dehaze_task, [s for s, _ in pairs], [r for _, r in pairs],
                         thickness=thickness, look=look, options=checked, pure=False)
    if progress is True:
        from dask.distributed import progress as progress_bar
        progress_bar(futures)
    records = {}
    if callable(progress):
        from dask.distributed import as_completed
        order = {future.key: index for index, future in enumerate(futures)}
        for done, future in enumerate(as_completed(futures), start=1):
            index = order[future.key]
            records[index] = _record_of(pairs[index][0], future)
            progress(done, len(futures), records[index])
    return [records[index] if index in records else _record_of(pairs[index][0], future)
            for index, future in enumerate(futures)]


def _record_of(source, future):
    try:
        return future.result()
    except Exception as error:  # the task itself failed: a worker died too often, ...
        return FileRecord(source, None, f"{source}: {error!r}", 0.0)
