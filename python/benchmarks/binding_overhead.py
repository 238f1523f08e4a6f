"""What the Python binding costs over a direct C++ call: ten minutes of
44.1 kHz stereo resampled to 16000 Hz (the channels mixed), file to file
through plinth.resample_file against build/benchmarks/resampler_benchmark
(the same conversion called from C++, on the same signal), and in memory
through plinth.resample. Medians of 5.

    PYTHONPATH=build/python /usr/bin/python3 python/benchmarks/binding_overhead.py build
"""

import os
import re
import statistics
import subprocess
import sys
import tempfile
import time
import wave

import numpy as np

import plinth

RATE, MINUTES, RUNS = 44100, 10, 5


def median_seconds(call) -> float:
    times = []
    for _ in range(RUNS):
        start = time.perf_counter()
        call()
        times.append(time.perf_counter() - start)
    return statistics.median(times)


def main(build: str) -> None:
    # The benchmark's two-tone signal.
    t = np.arange(RATE * 60 * MINUTES, dtype=np.uint64)
    frames = np.stack([(t * 97 % 20000).astype(np.int64) - 10000, (t * 31 % 16000).astype(np.int64) - 8000],
                      axis=1).astype(np.int16)
    with tempfile.TemporaryDirectory() as folder:
        source, target = os.path.join(folder, "in.wav"), os.path.join(folder, "out.wav")
        with wave.open(source, "wb") as out:
            out.setnchannels(2), out.setsampwidth(2), out.setframerate(RATE)
            out.writeframes(frames.tobytes())
        in_memory = median_seconds(lambda: plinth.resample(frames, RATE, 16000, channel="mix"))
        from_python = median_seconds(lambda: plinth.resample_file(source, target, 16000, channel="mix"))
    report = subprocess.run([os.path.join(build, "benchmarks", "resampler_benchmark"),
                             "--benchmark_filter=/16000", f"--benchmark_repetitions={RUNS}",
                             "--benchmark_report_aggregates_only=true"], capture_output=True, text=True,
                            check=True).stdout
    direct = float(re.search(r"_median\s+([\d.]+) ms", report).group(1)) / 1000
    print(f"C++ file to file (resampler_benchmark, median): {direct * 1000:8.1f} ms")
    print(f"plinth.resample_file (median):                   {from_python * 1000:8.1f} ms "
          f"({(from_python / direct - 1) * 100:+.1f} %)")
    print(f"plinth.resample, in memory (median):             {in_memory * 1000:8.1f} ms")


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "build")
