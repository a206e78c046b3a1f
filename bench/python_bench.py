"""Timings of the Python package (run by bench/python.sh, which installs it first).

1. vantorel.dehaze on the 1.7-megapixel sample against DehazeCPU in C++ (BM_DehazeSample
   of vantorel_bench), in alternating rounds so that both meet the same machine load:
   wall time with the default threads, CPU time with one library thread.
2. Two pictures dehazed by two Python threads at once against one after the other, with
   one library thread per call and with the default count (the fastest round, with the
   cores the process kept busy, which shows how much of the machine it was given).
3. vantorel.distributed.dehaze_files on a LocalCluster of two one-thread worker processes
   over 16 pictures against the command line: its batch form when it has one, a plain
   loop over the single form, and `xargs -P 2` over the single form with one thread each.

Figures are seconds, the median of the rounds unless said otherwise.
    python3 bench/python_bench.py BUILD_DIR [ROUNDS]
"""
import json
import os
import resource
import statistics
import subprocess
import sys
import tempfile
import threading
import time
from pathlib import Path

import numpy as np
from PIL import Image

import vantorel

ROOT = Path(__file__).resolve().parent.parent
SAMPLE = ROOT / "samples" / "hazy_mountains.jpg"
THICKNESS = 0.9


def read_bgr(path):
    with Image.open(path) as picture:
        return np.ascontiguousarray(np.asarray(picture.convert("RGB"))[:, :, ::-1])


def seconds(work):
    start = time.perf_counter()
    work()
    return time.perf_counter() - start


def cpu_seconds():
    usage = resource.getrusage(resource.RUSAGE_SELF)
    return usage.ru_utime + usage.ru_stime


def cpp_dehaze_seconds(bench, threads=None):
    """BM_DehazeSample's wall seconds and its main thread's CPU seconds, with the library's
    default thread count or the one given."""
    env = dict(os.environ)
    if threads:
        env["VANTOREL_THREADS"] = str(threads)
    run = subprocess.run([str(bench), "--benchmark_filter=^BM_DehazeSample/",
                          "--benchmark_min_time=0.01", "--benchmark_format=json"],
                         capture_output=True, text=True, check=True, env=env)
    result = json.loads(run.stdout)["benchmarks"][0]
    assert result["time_unit"] == "ms"
    return result["real_time"] / 1000.0, result["cpu_time"] / 1000.0


def python_against_cpp(build, rounds):
    """Wall time with the default threads; and, with one library thread, CPU time, which
    the other processes' load disturbs less (the main thread then does all the work)."""
    picture = read_bgr(SAMPLE)
    bench = build / "bench" / "vantorel_bench"
    python_wall, cpp_wall, python_cpu, cpp_cpu = [], [], [], []
    for _ in range(rounds):
        cpp_wall.append(cpp_dehaze_seconds(bench)[0])
        python_wall.append(seconds(lambda: vantorel.dehaze(picture, THICKNESS)))
        cpp_cpu.append(cpp_dehaze_seconds(bench, threads=1)[1])
        vantorel.set_threads(1)
        cpu = cpu_seconds()
        vantorel.dehaze(picture, THICKNESS)
        python_cpu.append(cpu_seconds() - cpu)
        vantorel.set_threads(0)
    p, c = statistics.median(python_wall), statistics.median(cpp_wall)
    print(f"1. sample {picture.shape[1]}x{picture.shape[0]}, {vantorel.get_threads()} threads, "
          f"wall: Python dehaze {p:.3f} s, C++ DehazeCPU {c:.3f} s, ratio {p / c:.3f}")
    p, c = statistics.median(python_cpu), statistics.median(cpp_cpu)
    print(f"   1 thread, CPU: Python dehaze {p:.3f} s, C++ DehazeCPU {c:.3f} s, ratio {p / c:.3f}")


def two_threads_against_sequential(rounds):
    first = read_bgr(SAMPLE)
    pictures = [first, np.ascontiguousarray(first[::-1, ::-1])]

    def sequential():
        for picture in pictures:
            vantorel.dehaze(picture, THICKNESS)

    def at_once():
        threads = [threading.Thread(target=vantorel.dehaze, args=(p, THICKNESS)) for p in pictures]
        for thread in threads:
            thread.start()
        for thread in threads:
            thread.join()

    def timed(work):
        """Wall seconds and the cores used on average (CPU seconds of all threads / wall)."""
        cpu = cpu_seconds()
        wall = seconds(work)
        return wall, (cpu_seconds() - cpu) / wall

    for count in (1, 0):
        vantorel.set_threads(count)
        seq, par = [], []
        for _ in range(rounds):
            seq.append(timed(sequential))
            par.append(timed(at_once))
        (s, s_cores), (t, t_cores) = min(seq), min(par)
        print(f"2. two pictures, {vantorel.get_threads()} library thread(s) per call (fastest round): "
              f"one after the other {s:.3f} s ({s_cores:.2f} cores busy), "
              f"two threads at once {t:.3f} s ({t_cores:.2f} cores busy), ratio {t / s:.3f}")
    vantorel.set_threads(0)


def make_pictures(folder, count):
    """`count` different 1.7-megapixel JPEG pictures: the sample mirrored and shifted."""
    with Image.open(SAMPLE) as sample:
        rgb = np.asarray(sample.convert("RGB"))
    paths = []
    for i in range(count):
        variant = np.roll(rgb[:, ::-1] if i % 2 else rgb, shift=37 * i, axis=1)
        path = folder / f"picture_{i:02d}.jpg"
        Image.fromarray(variant).save(path, quality=95)
        paths.append(path)
    return paths


def has_batch_form(executable):
    run = subprocess.run([str(executable), "--help"], capture_output=True, text=True)
    return run.returncode == 0 and "-o" in run.stdout


def cluster_against_command_line(build, rounds):
    from dask.distributed import Client, LocalCluster
    from vantorel.distributed import dehaze_files

    executable = build / "vantorel"
    with tempfile.TemporaryDirectory() as scratch:
        scratch = Path(scratch)
        sources = make_pictures(scratch, 16)
        megapixels = 16 * 1600 * 1066 / 1e6
        start = time.perf_counter()
        with LocalCluster(n_workers=2, threads_per_worker=1, processes=True, host="127.0.0.1",
                          dashboard_address=None) as cluster, Client(cluster) as client:
            started = time.perf_counter() - start
            client.run(lambda: __import__("vantorel"))  # the workers' first import, not timed

            def on_cluster():
                records = dehaze_files(client, sources, scratch / "dask", THICKNESS, format="jpg")
                assert all(r.error is None and r.result for r in records), records

            cluster_times = [seconds(on_cluster) for _ in range(rounds)]
        print(f"3. 16 pictures, {megapixels:.1f} MP (LocalCluster start-up {started:.1f} s, not counted)")
        rows = [("dehaze_files, LocalCluster 2 workers x 1 thread", cluster_times)]

        def loop():
            (scratch / "loop").mkdir(exist_ok=True)
            for source in sources:
                subprocess.run([str(executable), str(source), str(scratch / "loop" / source.name),
                                str(THICKNESS)], check=True, capture_output=True)
        rows.append(("single form in a shell-like loop, default threads",
                     [seconds(loop) for _ in range(rounds)]))

        def xargs():
            (scratch / "xargs").mkdir(exist_ok=True)
            subprocess.run(["xargs", "-0", "-P", "2", "-I{}", "sh", "-c",
                            f'"$0" "$1" "$2/$(basename "$1")" {THICKNESS}', str(executable),
                            "{}", str(scratch / "xargs")],
                           input="\0".join(map(str, sources)), text=True, check=True,
                           capture_output=True, env={**os.environ, "VANTOREL_THREADS": "1"})
        rows.append(("xargs -P 2 over the single form, 1 thread each",
                     [seconds(xargs) for _ in range(rounds)]))

        if has_batch_form(executable):
            def batch():
                subprocess.run([str(executable), "-q", "-t", str(THICKNESS), "-o",
                                str(scratch / "batch"), *map(str, sources)],
                               check=True, capture_output=True)
            rows.append(("command line batch form (vantorel -o), default jobs",
                         [seconds(batch) for _ in range(rounds)]))
        for name, times in rows:
            t = statistics.median(times)
            print(f"   {name:52s} {t:7.2f} s  {16 / t:5.2f} pictures/s  {megapixels / t:5.1f} MP/s")


def main():
    build = Path(sys.argv[1]).resolve()
    rounds = int(sys.argv[2]) if len(sys.argv) > 2 else 5
    print(f"load average before: {os.getloadavg()[0]:.2f} on {os.cpu_count()} cores")
    python_against_cpp(build, rounds)
    two_threads_against_sequential(rounds)
    cluster_against_command_line(build, max(1, rounds // 2))
    print(f"load average after: {os.getloadavg()[0]:.2f}")


if __name__ == "__main__":
    main()
