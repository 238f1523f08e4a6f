"""Conversions let go of the GIL: threads convert at the same time and get
the same samples; Ctrl-C on the main thread stops a conversion between blocks."""

from __future__ import annotations

import concurrent.futures
import os
import signal
import sys
import threading
import time

import numpy as np
import pytest

import plinth
from conftest import build_module, noise, write_wav


class LongSwitchInterval:
    """Python then never takes the GIL from a thread by force: another thread
    runs only while this one waits or an extension has let the GIL go."""

    def __enter__(self):
        self.saved = sys.getswitchinterval()
        sys.setswitchinterval(1000.0)

    def __exit__(self, *exc):
        sys.setswitchinterval(self.saved)


def threads_inside_at_once(calls) -> bool:
    """Whether, once every thread has started its call, none has finished:
    the main thread can look only when no thread holds the GIL."""
    started = [threading.Event() for _ in calls]
    finished = [False] * len(calls)

    def run(index, call):
        started[index].set()
        call()
        finished[index] = True

    with LongSwitchInterval():
        threads = [threading.Thread(target=run, args=(i, call)) for i, call in enumerate(calls)]
        for thread in threads:
            thread.start()
        for event in started:
            event.wait()
        inside = not any(finished)
        for thread in threads:
            thread.join()
    return inside


@pytest.fixture(scope="module")
def inputs(tmp_path_factory):
    folder = tmp_path_factory.mktemp("threads")
    song = folder / "song.mod"
    song.write_bytes(build_module(notes=16, orders=4))
    # Each call long enough (a few tenths of a second) to outlast the
    # scheduler's delays on a busy machine.
    return {
        "frames": noise(44100 * 300, 2, seed=21),
        "wav": write_wav(folder / "in.wav", noise(44100 * 300, 2, seed=22), 44100),
        "song": song,
        "folder": folder,
    }


def test_every_conversion_lets_go_of_the_gil(inputs):
    folder = inputs["folder"]
    conversions = {
        "resample": lambda: plinth.resample(inputs["frames"], 44100, 16000),
        "Resampler.feed": lambda: plinth.Resampler(44100, 8000, channels=2).feed(inputs["frames"]),
        "resample_file": lambda: plinth.resample_file(inputs["wav"], folder / "out.wav", 16000),
        "render_module": lambda: plinth.render_module(inputs["song"], rate=96000),
        "mod_to_wav": lambda: plinth.mod_to_wav(inputs["song"], folder / "song.wav", rate=96000),
    }
    # A call that held the GIL could never be seen inside beside another; one
    # that lets it go may still finish before a slow scheduler starts the
    # other thread (a short song renders in milliseconds), so a few tries.
    for name, call in conversions.items():
        assert any(threads_inside_at_once([call, call]) for _ in range(5)), name
    # The check tells a call that holds the GIL from one that does not.
    assert not threads_inside_at_once([lambda: sum(range(200000))])


def test_threads_give_the_samples_one_thread_gives(inputs):
    frames = inputs["frames"][:44100 * 20]
    jobs = [lambda rate=rate: plinth.resample(frames, 44100, rate, channel="mix") for rate in (8000, 16000, 48000)]
    jobs += [lambda rate=rate: plinth.render_module(inputs["song"], rate=rate) for rate in (8000, 22050)]
    alone = [job() for job in jobs]
    with concurrent.futures.ThreadPoolExecutor(max_workers=len(jobs)) as pool:
        together = list(pool.map(lambda job: job(), jobs * 2))
    for index, result in enumerate(together):
        np.testing.assert_array_equal(result, alone[index % len(jobs)])


def interrupt_when(condition) -> threading.Thread:
    """Sends this process SIGINT once condition() holds."""
    def watch():
        deadline = time.monotonic() + 30
        while not condition() and time.monotonic() < deadline:
            time.sleep(0.001)
        os.kill(os.getpid(), signal.SIGINT)
    thread = threading.Thread(target=watch, daemon=True)
    thread.start()
    return thread


def test_ctrl_c_stops_a_file_conversion_and_leaves_no_output(tmp_path):
    song = tmp_path / "song.mod"
    song.write_bytes(build_module(notes=16, orders=16))
    out = tmp_path / "song.wav"
    # The output has no name while it is built: interrupt a moment into the
    # call, which plays the song over and over for far longer than that.
    calling = threading.Event()
    watcher = interrupt_when(lambda: calling.is_set() and time.sleep(0.1) is None)
    with pytest.raises(KeyboardInterrupt):
        calling.set()
        plinth.mod_to_wav(song, out, rate=384000, max_duration=None, loops=20)
    watcher.join()
    assert sorted(p.name for p in tmp_path.iterdir()) == ["song.mod"]


def test_ctrl_c_stops_an_in_memory_conversion():
    # Long enough that the whole call takes several of the 50 ms between checks.
    frames = np.tile(noise(44100 * 300, 2, seed=23), (8, 1))
    start = time.monotonic()
    plinth.resample(frames, 44100, 16000)
    whole = time.monotonic() - start
    calling = threading.Event()
    watcher = interrupt_when(lambda: calling.is_set() and time.sleep(0.01) is None)
    start = time.monotonic()
    with pytest.raises(KeyboardInterrupt):
        calling.set()
        plinth.resample(frames, 44100, 16000)
    stopped_after = time.monotonic() - start
    watcher.join()
    assert stopped_after < 0.6 * whole, (stopped_after, whole)
