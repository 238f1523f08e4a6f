"""plinth.cluster on a local Dask cluster of two worker processes: outputs
byte for byte the plinth tool's, failures and refusals in the manifest,
reruns that skip, a lost worker, and the command line."""

from __future__ import annotations

import json
import os
import signal
import subprocess
import sys
import threading
import time
from pathlib import Path

import pytest

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
