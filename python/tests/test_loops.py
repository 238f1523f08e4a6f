"""Loops, fade, loop points and stems from Python: the loop where the module
was built to loop, read back from the file with struct and the wave module,
the fade against the curve worked out here, and the stems of channels on
opposite sides against the mix's sides."""

from __future__ import annotations

import math
import struct
from pathlib import Path

import numpy as np
import pytest

import plinth
from conftest import compose_module, read_wav, run_tool

LINE = 960  # frames of a six-tick line at 8000 frames per second
PERIODS = [320 + 31 * k for k in range(18)]  # any playable pitches, 320 to 847


def short_sample() -> str:
    """400 bytes of an unlooped sample: it ends within a line at any note."""
    return "data " + bytes((i * 29) % 200 for i in range(400)).hex()


def intro_and_body() -> bytes:
    """An intro order, then two orders whose last line jumps back to order 1.
    Every line starts a note on channel 0, so each line sounds the same
    whenever it plays: the loop starts after 64 lines and lasts 128."""
    lines = ["module 4 3", "song 3 0", "order 0 0", "order 1 1", "order 2 2", "sample 1 200 0 64 0 1",
             short_sample(), "cell 2 63 1 0 0 11 1"]  # effect B: jump to order 1
    for pattern in range(3):
        for line in range(64):
            lines.append(f"cell {pattern} {line} 0 1 {PERIODS[(line * 5 + pattern * 7) % len(PERIODS)]} 0 0")
    return compose_module("\n".join(lines))


def hard_panned_pair() -> bytes:
    """Two channels: the first at pan 0 (left alone), the second at 255 (right alone)."""
    lines = ["module 2 1", "sample 1 200 0 64 20 90", "sample 2 200 5 48 0 0", short_sample(), short_sample(),
             "cell 0 0 0 1 428 8 0", "cell 0 0 1 2 302 8 255"]
    for line in range(4, 64, 4):
        lines.append(f"cell 0 {line} 0 1 {PERIODS[line % len(PERIODS)]} 4 52")       # vibrato
        lines.append(f"cell 0 {line + 2} 1 2 {PERIODS[(line * 7) % len(PERIODS)]} 10 2")  # volume slide
    return compose_module("\n".join(lines))


def chunks(data: bytes) -> dict[bytes, bytes]:
    """The chunks of a RIFF file by tag, walked with struct."""
    found, at = {}, 12
    while at + 8 <= len(data):
        tag, size = struct.unpack_from("<4sI", data, at)
        found[tag] = data[at + 8:at + 8 + size]
        at += 8 + size + (size & 1)
    return found


def test_the_loop_starts_where_the_looped_to_order_was_first_played(reference, tmp_path):
    image = intro_and_body()
    (tmp_path / "song.mod").write_bytes(image)
    expected, _ = read_wav(reference.modwav(tmp_path / "song.mod", tmp_path / "modwav.wav"))
    frames, loop = plinth.render_module(image, with_loop=True)
    np.testing.assert_array_equal(frames, expected)
    np.testing.assert_array_equal(plinth.render_module(image, loops=1), expected)
    assert loop == plinth.Loop(64 * LINE, 192 * LINE) and loop.start == 61440
    for rate in (11025, 44100):
        per_line = rate * 6 // 50
        assert plinth.render_module(image, rate=rate, with_loop=True)[1] == (64 * per_line, 192 * per_line)
    info = plinth.info(tmp_path / "song.mod")
    assert (info["loop_start"], info["loop_frames"]) == (61440, 128 * LINE)


def test_loop_points_are_read_back_with_struct_and_the_samples_with_wave(reference, tmp_path):
    song = tmp_path / "song.mod"
    song.write_bytes(intro_and_body())
    plinth.mod_to_wav(song, tmp_path / "marked.wav", loop_points=True)
    data = (tmp_path / "marked.wav").read_bytes()
    found = chunks(data)
    (manufacturer, product, period, unity, fraction, smpte_format, smpte_offset, count, extra,
     cue_id, kind, start, end, loop_fraction, plays) = struct.unpack("<15I", found[b"smpl"])
    assert (period, unity, count, kind, start, end, plays) == (125000, 60, 1, 0, 61440, 192 * LINE - 1, 0)
    points, point_id, position, chunk, chunk_start, block_start, offset = struct.unpack("<3I4s3I", found[b"cue "])
    assert (points, point_id, position, chunk, offset) == (1, cue_id, 61440, b"data", 61440)
    assert struct.unpack_from("<I", data, 4)[0] == len(data) - 8
    # The samples are MODWAV's, as Python's wave module reads them.
    frames, _ = read_wav(tmp_path / "marked.wav")
    np.testing.assert_array_equal(frames, read_wav(reference.modwav(song, tmp_path / "modwav.wav"))[0])
    info = plinth.info(tmp_path / "marked.wav")
    assert (info["loop_start"], info["loop_frames"], info["loop_type"]) == (61440, 128 * LINE, 0)
    assert info["chunks_after"] == ["smpl", "cue"]
    # The tool writes the same file.
    assert run_tool("mod2wav", "--loop-points", song, tmp_path / "tool.wav").returncode == 0
    assert (tmp_path / "tool.wav").read_bytes() == data


def test_more_loops_repeat_the_known_body_and_say_where_the_last_begins():
    image = intro_and_body()
    once = plinth.render_module(image)
    body = once[64 * LINE:]
    twice, loop = plinth.render_module(image, loops=2, with_loop=True)
    np.testing.assert_array_equal(twice, np.concatenate([once, body]))
    assert loop == (192 * LINE, 320 * LINE)
    np.testing.assert_array_equal(plinth.render_module(image, loops=3), np.concatenate([once, body, body]))


def test_the_fade_follows_its_linear_curve():
    image = intro_and_body()
    faded, loop = plinth.render_module(image, fade=0.75, with_loop=True)
    going_on = plinth.render_module(image, loops=2).astype(np.int64)
    fade = 6000  # 0.75 s at 8000 frames per second
    assert faded.shape == (loop.end + fade, 2)
    np.testing.assert_array_equal(faded[:loop.end], going_on[:loop.end])
    full = going_on[loop.end:loop.end + fade]
    gain = (fade - np.arange(fade, dtype=np.int64))[:, None]
    expected = np.sign(full) * (np.abs(full) * gain // fade)  # toward zero
    np.testing.assert_array_equal(faded[loop.end:], expected)
    assert not np.array_equal(expected, full)


def test_stems_of_channels_on_opposite_sides_are_the_mixs_sides(tmp_path):
    image = hard_panned_pair()
    for rate, loops, fade in ((8000, 1, 0.0), (44100, 2, 0.5)):
        mix = plinth.render_module(image, rate=rate, loops=loops, fade=fade)
        stems = plinth.render_stems(image, rate=rate, loops=loops, fade=fade)
        assert stems.shape == (2,) + mix.shape and stems.dtype == np.int16
        np.testing.assert_array_equal(stems[0][:, 0], mix[:, 0])
        np.testing.assert_array_equal(stems[1][:, 1], mix[:, 1])
        assert not stems[0][:, 1].any() and not stems[1][:, 0].any()
        assert mix[:, 0].any() and mix[:, 1].any()

    song = tmp_path / "pair.mod"
    song.write_bytes(image)
    plinth.mod_to_wav(song, tmp_path / "pair.wav", rate=22050, loops=2, loop_points=True, stems=tmp_path / "parts")
    assert sorted(p.name for p in (tmp_path / "parts").iterdir()) == ["pair-01.wav", "pair-02.wav"]
    assert run_tool("mod2wav", "--rate", "22050", "--loops", "2", "--loop-points", "--stems", tmp_path / "tool",
                    song, tmp_path / "tool.wav").returncode == 0
    for name in ("pair-01.wav", "pair-02.wav"):
        assert (tmp_path / "parts" / name).read_bytes() == (tmp_path / "tool" / name).read_bytes()
    stems = plinth.render_stems(song, rate=22050, loops=2)
    np.testing.assert_array_equal(read_wav(tmp_path / "parts" / "pair-02.wav")[0], stems[1])


def test_arguments_out_of_range_and_refused_stems(tmp_path):
    image = intro_and_body()
    for arguments in ({"loops": 0}, {"loops": 1001}, {"fade": -1}, {"fade": math.nan}, {"fade": 3600.5}):
        with pytest.raises(ValueError):
            plinth.render_module(image, **arguments)
        with pytest.raises(ValueError):
            plinth.mod_to_wav(tmp_path / "none.mod", tmp_path / "none.wav", **arguments)
    with pytest.raises(TypeError):
        plinth.render_module(image, loops=1.5)
    # A stem that would be the input by another name, or the song's own file.
    (tmp_path / "parts").mkdir()
    song = tmp_path / "song.mod"
    song.write_bytes(image)
    (tmp_path / "parts" / "song-01.wav").hardlink_to(song)
    with pytest.raises(plinth.FileError, match="song-01.wav: would overwrite the input"):
        plinth.mod_to_wav(song, tmp_path / "song.wav", stems=tmp_path / "parts")
    assert not (tmp_path / "song.wav").exists() and song.read_bytes() == image
    (tmp_path / "parts" / "song-01.wav").unlink()
    with pytest.raises(plinth.FileError, match="song-02.wav: already the output of"):
        plinth.mod_to_wav(song, tmp_path / "parts" / "song-02.wav", stems=tmp_path / "parts")
    assert sorted(p.name for p in (tmp_path / "parts").iterdir()) == []
    # The limit counts the loops and the fade: three loops last 53.76 s.
    with pytest.raises(plinth.UnsupportedInputError):
        plinth.render_module(image, loops=3, max_duration=53.75)
    assert len(plinth.render_module(image, loops=3, max_duration=53.76)) == 7 * 64 * LINE
    with pytest.raises(plinth.UnsupportedInputError):
        plinth.render_module(image, loops=3, fade=0.001, max_duration=53.76)
