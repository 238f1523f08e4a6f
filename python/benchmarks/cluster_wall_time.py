"""Wall time of a 400-file batch on a local Dask cluster with 1 and 2
worker processes, medians of 3 runs (each run converts everything again).
The files are 200 five-second 44.1 kHz stereo WAV files (resampled to
16000 Hz) and 200 modules (rendered at 8000 Hz); the cluster's start-up is
not counted.

    PYTHONPATH=build/python /usr/bin/python3 python/benchmarks/cluster_wall_time.py
"""

import os
import statistics
import sys
import tempfile
import time
import wave

import numpy as np

from plinth import cluster

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "tests"))
from conftest import build_module  # noqa: E402  (the tests' module builder)

FILES, RUNS = 400, 3


def make_inputs(folder: str) -> tuple[list[str], list[str]]:
    generator = np.random.default_rng(1)
    wavs, modules = [], []
    for n in range(FILES // 2):
        path = os.path.join(folder, f"take{n:03}.wav")
        with wave.open(path, "wb") as out:
            out.setnchannels(2), out.setsampwidth(2), out.setframerate(44100)
            out.writeframes(generator.integers(-20000, 20000, size=(44100 * 5, 2), dtype=np.int16).tobytes())
        wavs.append(path)
        path = os.path.join(folder, f"song{n:03}.mod")
        with open(path, "wb") as out:
            out.write(build_module(notes=1 + n % 8, sample_bytes=512 + 8 * n))
        modules.append(path)
    return wavs, modules


def main() -> None:
    with tempfile.TemporaryDirectory() as folder:
        wavs, modules = make_inputs(folder)
        for workers in (1, 2):
            client = cluster.local_client(workers)
            times = []
            try:
                for run in range(RUNS):
                    out = os.path.join(folder, f"out-{workers}-{run}")
                    start = time.perf_counter()
                    cluster.convert(wavs, out, rate=16000, client=client)
                    cluster.convert(modules, out, kind="module", client=client, manifest=out + "-modules.jsonl")
                    times.append(time.perf_counter() - start)
            finally:
                cluster.close_client(client)
            print(f"{workers} worker(s): median {statistics.median(times):.2f} s of {[round(t, 2) for t in times]}")


if __name__ == "__main__":
    main()
