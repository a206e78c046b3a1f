"""Dehazing many picture files on a Dask cluster (dask.distributed).

One task per picture, on whichever worker the scheduler picks; each task reads its source,
dehazes it with the C++ code on one thread (the workers' processes give the parallelism)
and replaces its result atomically, exactly as ``vantorel.dehaze_file`` does.

The sources and the output folder must be on storage that every worker sees under the same
paths (a shared or network file system), and every worker needs this package installed.
A worker that dies is replaced and its tasks run again by Dask's own mechanism
(the scheduler's ``allowed-failures`` setting).
"""
import os
import time
from pathlib import Path
from typing import Any, List, NamedTuple, Optional, Sequence, Union

from . import _file_options, _vantorel, dehaze_file, set_threads

PathType = Union[str, "os.PathLike[str]"]


class FileRecord(NamedTuple):
    """What became of one source."""

    source: str               # the source path as given
    result: Optional[str]     # the result written, or None (an error, or nothing to do)
    error: Optional[str]      # one line naming the file and why, or None
    seconds: float            # the task's time on its worker: reading, dehazing, writing


def result_paths(sources: Sequence[PathType], output_dir: PathType, format: str = "png",
                 suffix: str = "") -> List[str]:
    """The result path of each source: output_dir/<source name without extension><suffix>.<format>.

    Raises ValueError, before any work, when two sources would land on the same result or a
    result would replace one of the sources.
    """
    extension = format.lstrip(".")
    if not extension or os.sep in extension:
        raise ValueError(f"format must be a file extension such as 'png', got {format!r}")
    if os.sep in suffix:
        raise ValueError(f"suffix must not name a folder, got {suffix!r}")
    folder = Path(output_dir)
    results = [str(folder / f"{Path(source).stem}{suffix}.{extension}") for source in sources]
    sources = [os.fspath(source) for source in sources]
    by_result = {}
    for source, result in zip(sources, results):
        key = os.path.abspath(result)
        if key in by_result:
            raise ValueError(f"{by_result[key]} and {source} would both be written to {result}")
        by_result[key] = source
    for source in sources:
        replaced = by_result.get(os.path.abspath(source))
        if replaced is not None:
            raise ValueError(f"the result of {replaced} would replace the source {source}")
    return results


def _dehaze_task(source, result, thickness, look, options):
    """Runs on a worker: one picture, one thread; every failure becomes the record's error."""
    set_threads(1)
    start = time.perf_counter()
    try:
        os.makedirs(os.path.dirname(result), exist_ok=True)
        written = dehaze_file(source, result, thickness, look=look, **options)
    except (OSError, ValueError, MemoryError) as error:
        return FileRecord(source, None, str(error), time.perf_counter() - start)
    return FileRecord(source, result if written else None, None, time.perf_counter() - start)


def dehaze_files(client: Any, sources: Sequence[PathType], output_dir: PathType,
                 thickness: float = 1.0, *, look: str = "classic",
                 **options: Any) -> List[FileRecord]:
    """Dehazes each source file into output_dir on the Dask cluster of ``client``.

    client: a dask.distributed.Client.
    sources: paths of the pictures, on storage every worker sees; relative paths are taken
        from this process's working folder.
    output_dir: the folder for the results, seen by every worker; created when missing.
    thickness: as for vantorel.dehaze_file, the same for every picture.
    look: as for vantorel.dehaze_file ("classic", the default, or "natural").
    options: ``format`` (the results' extension, default "png"), ``suffix`` (added to each
        source's name, default ""), and the output options of vantorel.dehaze_file:
        ``jpeg_quality``, ``webp_quality``, ``png_compression``, ``strip_metadata``, ``depth``.

    Returns one FileRecord per source, in the order of ``sources``. A picture that cannot be
    read or written is a record with its error, never a failed batch; with a thickness below
    0.1 nothing is written and each record has neither result nor error.
    Raises TypeError or ValueError, before any work, for wrong arguments or results that
    would collide.
    """
    given = [os.fspath(source) for source in sources]
    file_format = options.pop("format", "png")
    suffix = options.pop("suffix", "")
    if not isinstance(file_format, str) or not isinstance(suffix, str):
        raise TypeError("format and suffix must be str")
    checked = _file_options(options)
    sources = [os.path.abspath(source) for source in given]
    results = result_paths(sources, os.path.abspath(output_dir), file_format, suffix)
    # Every check dehaze_file makes before its work, here once rather than in each task.
    _vantorel.check_file_arguments(results[0] if results else "result.png", thickness, look,
                                   checked)

    futures = client.map(_dehaze_task, sources, results, thickness=thickness, look=look,
                         options=checked, pure=False)
    records = []
    for source, future in zip(given, futures):
        try:
            record = future.result()
            records.append(record._replace(source=source))
        except Exception as error:  # the task itself failed: a worker died too often, ...
            records.append(FileRecord(source, None, f"{source}: {error!r}", 0.0))
    return records
