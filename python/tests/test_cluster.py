"""plinth.cluster on a local Dask cluster of two worker processes: outputs
byte for byte the plinth tool's, failures and refusals in the manifest,
reruns that skip, a lost worker or scheduler, a manifest that may not be
written, stops, loopback-only listening, and the command line."""

from __future__ import annotations

import json
import os
import re
import signal
import subprocess
import sys
import threading
import time
from pathlib import Path

import pytest

import plinth
from conftest import BUILD_DIR, build_module, noise, run_tool, write_wav

cluster = pytest.importorskip("plinth.cluster")


@pytest.fixture(scope="module")
def client():
    client = cluster.local_client(workers=2)
    yield client
    cluster.close_client(client)


def make_wavs(folder: Path, count: int) -> list[Path]:
    folder.mkdir(parents=True, exist_ok=True)
    rates = [44100, 48000, 22050, 8000]
    return [write_wav(folder / f"take{n:02}.wav", noise(4000 + 997 * n, 1 + n % 2, seed=n), rates[n % 4])
            for n in range(count)]


def make_modules(folder: Path, count: int) -> list[Path]:
    folder.mkdir(parents=True, exist_ok=True)
    paths = []
    for n in range(count):
        path = folder / f"song{n:02}.mod"
        path.write_bytes(build_module(notes=1 + n % 8, sample_bytes=512 + 256 * n))
        paths.append(path)
    return paths


def tool_batch(tmp_path: Path, command: list[str], inputs: list[Path]) -> Path:
    out = tmp_path / "tool"
    run_tool(*command, "-o", out, *inputs)
    return out


def manifest_lines(path: Path) -> list[dict]:
    return [json.loads(line) for line in path.read_text().splitlines()]


def test_resampling_writes_the_tools_outputs_reports_failures_and_reruns(client, tmp_path, capsys):
    inputs = make_wavs(tmp_path / "in", 30)
    broken = tmp_path / "in" / "broken.wav"
    broken.write_bytes(b"RIFF but nothing after it")
    inputs.insert(3, broken)
    out = tmp_path / "out"
    out.mkdir()
    (out / "take05.wav").write_bytes(b"an older output")
    expected = tool_batch(tmp_path, ["resample", "--rate", "16000", "--channel", "mix"], inputs)

    report = cluster.convert(inputs, out, rate=16000, channel="mix", client=client, progress=True)
    assert (report.converted, report.skipped, report.failed) == (29, 1, 1)
    assert f"plinth: {len(inputs)}/{len(inputs)} files" in capsys.readouterr().err
    for source in inputs:
        name = source.stem + ".wav"
        if source == broken:
            assert not (out / name).exists()
        elif name == "take05.wav":
            assert (out / name).read_bytes() == b"an older output"
        else:
            assert (out / name).read_bytes() == (expected / name).read_bytes(), name

    lines = manifest_lines(out / "plinth-manifest.jsonl")
    assert report.manifest == str(out / "plinth-manifest.jsonl")
    assert [line["input"] for line in lines] == [str(p) for p in inputs]
    assert [line["output"] for line in lines] == [str(out / (p.stem + ".wav")) for p in inputs]
    assert all(set(line) == {"input", "output", "status", "seconds", "reason"} for line in lines)
    assert all(line["seconds"] >= 0 for line in lines)
    statuses = {Path(line["input"]).name: (line["status"], line["reason"]) for line in lines}
    assert statuses["take00.wav"] == ("converted", "")
    assert statuses["take05.wav"][0] == "skipped"
    # The reason the tool gives for the same file.
    tool_error = run_tool("resample", broken, tmp_path / "x.wav", "--rate", "16000").stderr
    assert statuses["broken.wav"][0] == "failed"
    assert statuses["broken.wav"][1].split(": ", 1)[1] in tool_error
    assert [vars(o) for o in cluster.read_manifest(out / "plinth-manifest.jsonl")] == [vars(o) for o in report.outcomes]

    # A rerun converts only what is left; force replaces.
    rerun = cluster.convert(inputs, out, rate=16000, channel="mix", client=client)
    assert (rerun.converted, rerun.skipped, rerun.failed) == (0, 30, 1)
    forced = cluster.convert(inputs, out, rate=16000, channel="mix", client=client, force=True,
                             manifest=tmp_path / "forced.jsonl")
    assert (forced.converted, forced.skipped, forced.failed) == (30, 0, 1)
    assert (out / "take05.wav").read_bytes() == (expected / "take05.wav").read_bytes()
    assert len(manifest_lines(tmp_path / "forced.jsonl")) == len(inputs)


def test_resampling_options_convert_as_the_tool_converts(client, tmp_path):
    inputs = make_wavs(tmp_path / "in", 6)
    for options in (["--quality", "high", "--channel", "all", "--format", "f32"],
                    ["--quality", "high", "--channel", "mix"], ["--channel", "all", "--format", "f32"]):
        expected = tool_batch(tmp_path / "-".join(options), ["resample", "--rate", "22050", *options], inputs)
        named = dict(zip(options[::2], options[1::2]))
        out = tmp_path / ("out" + "".join(options))
        report = cluster.convert(inputs, out, rate=22050, client=client, channel=named.get("--channel", "first"),
                                 quality=named.get("--quality", "standard"), format=named.get("--format", "s16"))
        assert report.converted == len(inputs), [o.reason for o in report.outcomes]
        for source in inputs:
            name = source.stem + ".wav"
            assert (out / name).read_bytes() == (expected / name).read_bytes(), (options, name)
    with pytest.raises(ValueError, match="high"):
        cluster.convert(inputs, tmp_path / "x", rate=22050, client=client, quality="best")


def test_modules_render_as_the_tool_renders_them(client, tmp_path):
    inputs = make_modules(tmp_path / "in", 5)
    (tmp_path / "in" / "junk.mod").write_bytes(b"\x00" * 5000)
    inputs.append(tmp_path / "in" / "junk.mod")
    expected = tool_batch(tmp_path, ["mod2wav", "--rate", "22050"], inputs)
    report = cluster.convert(inputs, tmp_path / "out", rate=22050, kind="module", client=client)
    assert (report.converted, report.failed) == (5, 1)
    assert "not a module" in report.outcomes[-1].reason
    for source in inputs[:-1]:
        name = source.stem + ".wav"
        assert (tmp_path / "out" / name).read_bytes() == (expected / name).read_bytes()


def test_loops_fade_loop_points_and_stems_render_as_the_tool_renders_them(client, tmp_path):
    inputs = make_modules(tmp_path / "in", 3)
    options = {"loops": 2, "fade": 0.5, "loop_points": True}
    tool = tmp_path / "tool"
    assert run_tool("mod2wav", "--rate", "11025", "--loops", "2", "--fade", "0.5", "--loop-points",
                    "--stems", tool / "parts", "-o", tool, *inputs).returncode == 0
    out = tmp_path / "out"
    report = cluster.convert(inputs, out, rate=11025, kind="module", client=client, stems=out / "parts", **options)
    assert report.converted == 3, [o.reason for o in report.outcomes]
    names = sorted(p.name for p in (tool / "parts").iterdir())
    assert len(names) == 12 and names[:4] == ["song00-01.wav", "song00-02.wav", "song00-03.wav", "song00-04.wav"]
    assert sorted(p.name for p in (out / "parts").iterdir()) == names
    for name in names:
        assert (out / "parts" / name).read_bytes() == (tool / "parts" / name).read_bytes(), name
    for source in inputs:
        assert (out / f"{source.stem}.wav").read_bytes() == (tool / f"{source.stem}.wav").read_bytes()

    # A song whose file exists is skipped; one whose stems are in the way needs force.
    (out / "song01.wav").unlink()
    report = cluster.convert(inputs, out, rate=11025, kind="module", client=client, stems=out / "parts", **options)
    assert [o.status for o in report.outcomes] == ["skipped", "failed", "skipped"]
    assert "song01-01.wav: exists" in report.outcomes[1].reason
    report = cluster.convert(inputs, out, rate=11025, kind="module", client=client, stems=out / "parts",
                             force=True, **options)
    assert report.converted == 3
    assert (out / "song01.wav").read_bytes() == (tool / "song01.wav").read_bytes()
    with pytest.raises(ValueError):
        cluster.convert(inputs, out, kind="module", client=client, loops=0)
    with pytest.raises(ValueError):
        cluster.convert(inputs, out, rate=8000, client=client, stems=out / "parts")


def test_outputs_that_would_overwrite_an_input_or_each_other_are_refused(client, tmp_path):
    first = make_wavs(tmp_path / "a", 1)[0]
    (tmp_path / "b").mkdir()
    (tmp_path / "out").mkdir()
    twin = write_wav(tmp_path / "b" / "take00.flac", noise(100, 1, seed=9), 8000)  # also becomes take00.wav
    inside = write_wav(tmp_path / "out" / "own.wav", noise(100, 1, seed=8), 8000)
    report = cluster.convert([first, twin, inside], tmp_path / "out", rate=8000, client=client, force=True)
    statuses = [(o.status, o.reason) for o in report.outcomes]
    assert statuses[0] == ("converted", "")
    assert statuses[1][0] == "failed" and "already the output of" in statuses[1][1]
    assert statuses[2][0] == "failed" and "would overwrite the input" in statuses[2][1]
    assert inside.read_bytes()[:4] == b"RIFF"


def test_an_output_hard_linked_to_an_input_is_refused_as_the_tool_refuses_it(client, tmp_path):
    (tmp_path / "in").mkdir()
    out = tmp_path / "out"
    out.mkdir()
    first = write_wav(tmp_path / "in" / "a.wav", noise(500, 1, seed=3), 8000)
    second = write_wav(tmp_path / "in" / "b.wav", noise(500, 1, seed=4), 8000)
    os.link(first, out / "b.wav")  # b's output is another name of the input a
    reason = f"{out / 'b.wav'}: would overwrite the input {first} of this run"

    tool = run_tool("resample", "--rate", "16000", "-o", out, "-f", first, second)
    assert tool.returncode == 1 and f"plinth: {reason}\n" in tool.stderr
    (out / "a.wav").unlink()

    report = cluster.convert([first, second], out, rate=16000, client=client, force=True)
    assert [(o.status, o.reason) for o in report.outcomes] == [("converted", ""), ("failed", reason)]
    assert os.path.samefile(out / "b.wav", first)
    assert first.read_bytes() == write_wav(tmp_path / "copy.wav", noise(500, 1, seed=3), 8000).read_bytes()


def test_a_lost_worker_leaves_every_output_complete(client, tmp_path):
    inputs = make_modules(tmp_path / "in", 60)
    expected = tool_batch(tmp_path, ["mod2wav", "--rate", "48000"], inputs)
    out = tmp_path / "out"
    pids = list(client.run(os.getpid).values())
    result = {}
    run = threading.Thread(target=lambda: result.update(
        report=cluster.convert(inputs, out, rate=48000, kind="module", client=client)))
    run.start()
    deadline = time.monotonic() + 30
    while len(list(out.glob("*.wav"))) < 3 and time.monotonic() < deadline:
        time.sleep(0.005)
    os.kill(pids[0], signal.SIGKILL)
    run.join()
    report = result["report"]
    assert report.failed == 0, [o.reason for o in report.outcomes if o.status == "failed"]
    for source in inputs:
        name = source.stem + ".wav"
        assert (out / name).read_bytes() == (expected / name).read_bytes(), name
    # No partial file either: an output has no name until it is complete.
    assert sorted(p.name for p in out.iterdir()) == sorted([p.stem + ".wav" for p in inputs] + ["plinth-manifest.jsonl"])


def run_cli(*args: object) -> subprocess.CompletedProcess:
    environment = dict(os.environ, PYTHONPATH=str(BUILD_DIR / "python"))
    return subprocess.run([sys.executable, "-m", "plinth.cluster", *map(str, args)], capture_output=True,
                          text=True, env=environment, timeout=120)


def test_command_line(client, tmp_path):
    inputs = make_wavs(tmp_path / "in", 3) + [tmp_path / "in" / "missing.wav"]
    out = tmp_path / "out"
    done = run_cli("--scheduler", client.scheduler.address, "resample", "--rate", "8000", "-o", out, *inputs)
    assert done.returncode == 1, done.stderr
    assert done.stderr.splitlines()[-1].startswith("plinth: 3 converted, 0 skipped, 1 failed, ")
    assert f"plinth: {inputs[-1]}: No such file or directory" in done.stderr
    assert [line["status"] for line in manifest_lines(out / "plinth-manifest.jsonl")] == \
        ["converted"] * 3 + ["failed"]

    # Without a scheduler, a cluster of its own.
    songs = make_modules(tmp_path / "songs", 2)
    done = run_cli("--workers", "1", "mod2wav", "-o", tmp_path / "songs-out", "--manifest", tmp_path / "m.jsonl",
                   *songs)
    assert done.returncode == 0, done.stderr
    assert done.stderr.splitlines()[-1].startswith("plinth: 2 converted, 0 skipped, 0 failed, ")
    assert (tmp_path / "m.jsonl").exists()

    # The filter, the channels and the samples, as the tool takes them.
    options = ["--quality", "high", "--channel", "all", "--format", "f32"]
    done = run_cli("--scheduler", client.scheduler.address, "resample", "--rate", "16000", *options,
                   "-o", tmp_path / "high", *inputs[:3])
    assert done.returncode == 0, done.stderr
    expected = tool_batch(tmp_path / "tool-high", ["resample", "--rate", "16000", *options], inputs[:3])
    for source in inputs[:3]:
        name = source.stem + ".wav"
        assert (tmp_path / "high" / name).read_bytes() == (expected / name).read_bytes(), name
    assert run_cli("resample", "--rate", "16000", "--quality", "best", "-o", out, *inputs[:1]).returncode == 2

    # The module options as the tool takes them.
    done = run_cli("--scheduler", client.scheduler.address, "mod2wav", "--loops", "2", "--loop-points",
                   "--stems", tmp_path / "parts", "-o", tmp_path / "looped", songs[0])
    assert done.returncode == 0, done.stderr
    assert run_tool("mod2wav", "--loops", "2", "--loop-points", songs[0], tmp_path / "tool.wav").returncode == 0
    assert (tmp_path / "looped" / "song00.wav").read_bytes() == (tmp_path / "tool.wav").read_bytes()
    assert len(list((tmp_path / "parts").iterdir())) == 4

    usage = run_cli("resample", "--rate", "5", "-o", out, *inputs[:1])
    assert usage.returncode == 2 and "rate must be 1000 to 384000" in usage.stderr
    assert run_cli("resample", "-o", out, *inputs[:1]).returncode == 2


def test_arguments_are_checked_before_anything_runs(client, tmp_path):
    take = write_wav(tmp_path / "take.wav", noise(4000, 2, seed=1), 44100)
    out = tmp_path / "out"
    with pytest.raises(TypeError, match="rate must be an int, not float"):
        cluster.convert([take], out, rate=16000.0)
    with pytest.raises(ValueError, match="embedded null byte"):
        cluster.convert([str(take) + "\0"], out, rate=16000)
    with pytest.raises(ValueError, match="embedded null byte"):
        cluster.convert([take], str(out) + "\0", rate=16000)
    with pytest.raises(TypeError, match="inputs must be a path or an iterable of paths"):
        cluster.convert(42, out, rate=16000)
    with pytest.raises(ValueError, match="workers must be 1 or more"):
        cluster.local_client(workers=0)
    assert not out.exists()
    # One path is one input.
    for one in (str(take), take, bytes(take)):
        report = cluster.convert(one, out, rate=16000, client=client, force=True)
        assert [(o.input, o.status) for o in report.outcomes] == [(str(take), "converted")]


def test_a_manifest_follows_the_rules_of_every_output(client, tmp_path):
    inputs = make_wavs(tmp_path / "in", 2)
    keep = inputs[1]
    kept = keep.read_bytes()
    out = tmp_path / "out"
    other = tmp_path / "other.jsonl"
    other.write_text("someone's notes\n")
    refused = [
        (keep, f"would overwrite the input {keep} of this run"),
        (out / "take00.wav", f"already the output of {inputs[0]} in this run"),
        (other, "exists (use --force to replace it)"),
        (tmp_path / "in", "is a folder"),
    ]
    for manifest, words in refused:
        with pytest.raises(plinth.FileError, match=re.escape(words)) as caught:
            cluster.convert(inputs, out, rate=16000, client=client, manifest=manifest)
        assert caught.value.filename == str(manifest)
    # Refused before anything was converted.
    assert keep.read_bytes() == kept and other.read_text() == "someone's notes\n"
    assert not list(out.glob("*.wav"))
    # An output of the run stays refused even with force; an existing file is replaced.
    with pytest.raises(plinth.FileError, match="already the output of"):
        cluster.convert(inputs, out, rate=16000, client=client, manifest=out / "take01.wav", force=True)
    report = cluster.convert(inputs, out, rate=16000, client=client, manifest=other, force=True)
    assert [line["status"] for line in manifest_lines(other)] == ["converted", "converted"]
    assert report.manifest == str(other) and keep.read_bytes() == kept

    # The command line says so in one line and exits 1.
    done = run_cli("--scheduler", client.scheduler.address, "resample", "--rate", "16000", "-o", out,
                   "--manifest", keep, *inputs)
    assert done.returncode == 1 and done.stderr == f"plinth: {keep}: would overwrite the input {keep} of this run\n"
    assert keep.read_bytes() == kept


def listening_sockets(pids: list[int]) -> list[tuple[str, str]]:
    """The (family, local address) of every listening TCP socket the processes hold."""
    inodes = set()
    for pid in pids:
        for fd in os.listdir(f"/proc/{pid}/fd"):
            try:
                target = os.readlink(f"/proc/{pid}/fd/{fd}")
            except OSError:
                continue
            if target.startswith("socket:["):
                inodes.add(target[len("socket:["):-1])
    found = []
    for family in ("tcp", "tcp6"):
        with open(f"/proc/net/{family}") as table:
            next(table)
            for row in table:
                fields = row.split()
                if fields[3] == "0A" and fields[9] in inodes:  # state LISTEN
                    found.append((family, fields[1]))
    return found


def test_a_local_cluster_listens_on_loopback_only(client):
    pids = [os.getpid(), *client.run(os.getpid).values()]
    sockets = listening_sockets(pids)
    assert sockets  # the scheduler, the nannies and the workers listen...
    loopback = ("0100007F:", "00000000000000000000000001000000:")  # 127.0.0.1, ::1
    assert all(address.startswith(loopback) for _, address in sockets), sockets  # ...on loopback only


def test_a_cancelled_task_waiting_on_a_pipe_frees_its_worker(client, tmp_path):
    from plinth.cluster import _tasks

    fifo = tmp_path / "stalled.wav"
    os.mkfifo(fifo)
    writer = os.open(fifo, os.O_RDWR)  # a writer that never writes
    try:
        worker = next(iter(client.scheduler_info()["workers"]))
        stalled = client.submit(_tasks.convert_file, "resample", str(fifo), str(tmp_path / "out.wav"), 16000, 0,
                                False, workers=[worker], allow_other_workers=False, pure=False)
        deadline = time.monotonic() + 30
        while not client.processing(workers=[worker])[worker] and time.monotonic() < deadline:
            time.sleep(0.05)
        time.sleep(0.5)
        client.cancel(stalled)
        # The worker's one thread is free again for the next task.
        follower = client.submit(os.getpid, workers=[worker], allow_other_workers=False, pure=False)
        assert follower.result(timeout=30) > 0
    finally:
        os.close(writer)
    assert not (tmp_path / "out.wav").exists()


def cli_process(*args: object, environment: dict | None = None) -> subprocess.Popen:
    env = dict(os.environ, PYTHONPATH=str(BUILD_DIR / "python"), **(environment or {}))
    return subprocess.Popen([sys.executable, "-m", "plinth.cluster", *map(str, args)], stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE, text=True, env=env)


def wait_for_outputs(out: Path, count: int, process: subprocess.Popen) -> None:
    deadline = time.monotonic() + 60
    while len(list(out.glob("*.wav"))) < count and process.poll() is None and time.monotonic() < deadline:
        time.sleep(0.05)
    assert len(list(out.glob("*.wav"))) == count


@pytest.mark.parametrize("stop,status", [(signal.SIGINT, 130), (signal.SIGTERM, 143)])
def test_a_stopped_run_says_so_in_a_line_and_keeps_a_manifest(client, tmp_path, stop, status):
    inputs = make_wavs(tmp_path / "in", 3)
    fifo = tmp_path / "in" / "stalled.wav"
    os.mkfifo(fifo)
    writer = os.open(fifo, os.O_RDWR)
    out = tmp_path / "out"
    try:
        process = cli_process("--scheduler", client.scheduler.address, "resample", "--rate", "16000", "-o", out,
                              *inputs, fifo)
        wait_for_outputs(out, 3, process)
        process.send_signal(stop)
        _, err = process.communicate(timeout=60)
    finally:
        os.close(writer)
    assert process.returncode == status, err
    assert "Traceback" not in err and "plinth: interrupted" in err
    lines = manifest_lines(out / "plinth-manifest.jsonl")
    assert [line["status"] for line in lines] == ["converted"] * 3 + ["failed"]


def test_command_line_failures_are_one_line_each(client, tmp_path):
    inputs = make_wavs(tmp_path / "in", 2)
    out = tmp_path / "out"
    usage = run_cli("--scheduler", "localhost", "resample", "--rate", "16000", "-o", out, *inputs)
    assert usage.returncode == 2 and "Traceback" not in usage.stderr
    assert "invalid scheduler address 'localhost'" in usage.stderr
    assert run_cli("--workers", "0", "resample", "--rate", "16000", "-o", out, *inputs).returncode == 2

    env = dict(os.environ, PYTHONPATH=str(BUILD_DIR / "python"), DASK_DISTRIBUTED__COMM__TIMEOUTS__CONNECT="2s")
    unreachable = subprocess.run([sys.executable, "-m", "plinth.cluster", "--scheduler", "tcp://127.0.0.1:9",
                                  "resample", "--rate", "16000", "-o", str(out), *map(str, inputs)],
                                 capture_output=True, text=True, env=env, timeout=120)
    assert unreachable.returncode == 1
    assert unreachable.stderr.startswith("plinth: cannot reach the scheduler at tcp://127.0.0.1:9")
    assert len(unreachable.stderr.splitlines()) == 1
    assert not out.exists()

    # A manifest that cannot be written: every file's line and the summary still come.
    inputs.append(tmp_path / "in" / "missing.wav")
    unwritable = tmp_path / "no-such-folder" / "m.jsonl"
    done = run_cli("--scheduler", client.scheduler.address, "resample", "--rate", "16000", "-o", out,
                   "--manifest", unwritable, *inputs)
    assert done.returncode == 1 and "Traceback" not in done.stderr
    assert done.stderr.splitlines() == [
        f"plinth: {inputs[-1]}: No such file or directory",
        done.stderr.splitlines()[1],
        f"plinth: {unwritable}: No such file or directory",
    ]
    assert done.stderr.splitlines()[1].startswith("plinth: 2 converted, 0 skipped, 1 failed, ")


def test_a_lost_scheduler_keeps_what_was_converted(tmp_path):
    from distributed import Client

    # Named pipes as inputs, so that the test says when each conversion may end.
    takes = make_wavs(tmp_path / "takes", 2)
    fifos = [tmp_path / "in" / name for name in ("stalled.wav", "a.wav", "b.wav")]
    (tmp_path / "in").mkdir()
    for fifo in fifos:
        os.mkfifo(fifo)
    stalled = os.open(fifos[0], os.O_RDWR)  # a writer that never writes
    env = dict(os.environ, PYTHONPATH=str(BUILD_DIR / "python"), DASK_DISTRIBUTED__COMM__TIMEOUTS__CONNECT="2s")
    scheduler_file = tmp_path / "scheduler.json"
    servers = [subprocess.Popen([sys.executable, "-m", "distributed.cli.dask_scheduler", "--host", "127.0.0.1",
                                 "--port", "0", "--dashboard-address", "127.0.0.1:0", "--scheduler-file",
                                 str(scheduler_file)], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, env=env)]
    out = tmp_path / "out"
    try:
        deadline = time.monotonic() + 60
        while not scheduler_file.exists() and time.monotonic() < deadline:
            time.sleep(0.1)
        address = json.loads(scheduler_file.read_text())["address"]
        servers.append(subprocess.Popen([sys.executable, "-m", "distributed.cli.dask_worker", address, "--nthreads",
                                         "3", "--host", "127.0.0.1", "--dashboard-address", "127.0.0.1:0",
                                         "--no-nanny"],
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, env=env))
        process = cli_process("--scheduler", address, "resample", "--rate", "16000", "-o", out, *fifos,
                              environment={"DASK_DISTRIBUTED__COMM__TIMEOUTS__CONNECT": "2s"})
        with Client(address) as watcher:
            while sum(map(len, watcher.processing().values())) < 3 and time.monotonic() < deadline:
                time.sleep(0.05)
        # The caller cannot fetch a result while its conversions end and its scheduler dies.
        process.send_signal(signal.SIGSTOP)
        for fifo, take in zip(fifos[1:], takes):
            with open(fifo, "wb") as feed:
                feed.write(take.read_bytes())
        wait_for_outputs(out, 2, process)
        servers[0].kill()
        servers[0].wait()
        process.send_signal(signal.SIGCONT)
        _, err = process.communicate(timeout=120)
    finally:
        for server in servers:
            server.kill()
            server.wait()
        os.close(stalled)
    assert process.returncode == 1 and "Traceback" not in err, err
    lines = manifest_lines(out / "plinth-manifest.jsonl")
    assert [line["status"] for line in lines] == ["failed", "converted", "converted"], err
    assert "scheduler was lost" in lines[0]["reason"]
    for take in takes:
        assert run_tool("resample", take, tmp_path / "expected.wav", "--rate", "16000", "-f").returncode == 0
        name = ("a.wav", "b.wav")[takes.index(take)]
        assert (out / name).read_bytes() == (tmp_path / "expected.wav").read_bytes()
