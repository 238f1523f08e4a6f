"""The bindings against the exported C functions and the plinth tool: the
same samples and bytes, read back with Python's own wave module."""

from __future__ import annotations

import re
from pathlib import Path

import numpy as np
import pytest

import plinth
from conftest import build_module, feed_in_blocks, noise, read_wav, run_tool, write_wav

CHANNEL_MODES = {"first": 0, "second": 1, "mix": 2}

# Rate pairs across the supported ratios: down, up, odd terms, equal rates.
RATE_PAIRS = [(44100, 16000), (8000, 44100), (48000, 8000), (11025, 96000), (22050, 22050), (88200, 12000)]


def resample_wav_samples(reference, tmp_path: Path, frames: np.ndarray, in_rate: int, out_rate: int,
                         channel: str) -> np.ndarray:
    source = write_wav(tmp_path / "in.wav", frames, in_rate)
    target = reference.resample_wav(source, tmp_path / "out.wav", out_rate, CHANNEL_MODES[channel])
    samples, rate = read_wav(target)
    assert rate == out_rate
    return samples


@pytest.mark.parametrize("in_rate,out_rate", RATE_PAIRS)
@pytest.mark.parametrize("channels,channel", [(1, "first"), (2, "first"), (2, "second"), (2, "mix")])
def test_resample_equals_resample_wav(reference, tmp_path, in_rate, out_rate, channels, channel):
    # Past one 65536-frame block, so that block seams are crossed.
    frames = noise(70001, channels, seed=in_rate + out_rate + channels)
    expected = resample_wav_samples(reference, tmp_path, frames, in_rate, out_rate, channel)
    assert len(expected) == -(-len(frames) * out_rate // in_rate)
    result = plinth.resample(frames, in_rate, out_rate, channel=channel)
    assert result.dtype == np.int16 and result.ndim == 1
    np.testing.assert_array_equal(result, expected)


def test_resample_takes_any_layout_and_length(reference, tmp_path):
    base = noise(20000, 2, seed=7)
    expected = resample_wav_samples(reference, tmp_path, base, 44100, 16000, "mix")
    fortran = np.asfortranarray(base)
    strided = np.zeros((20000, 4), dtype=np.int16)
    strided[:, ::2] = base
    swapped = base.astype(">i2")
    for layout in (fortran, strided[:, ::2], swapped):
        np.testing.assert_array_equal(plinth.resample(layout, 44100, 16000, channel="mix"), expected)
    # A column of one channel is mono.
    mono = base[:, 0].copy()
    np.testing.assert_array_equal(plinth.resample(mono[:, None], 44100, 16000),
                                  plinth.resample(mono, 44100, 16000))
    for length in (0, 1, 2):
        short = noise(length, 1, seed=length)
        np.testing.assert_array_equal(plinth.resample(short, 44100, 16000),
                                      resample_wav_samples(reference, tmp_path, short, 44100, 16000, "first"))


def test_mono_at_the_same_rate_is_a_copy():
    frames = noise(1000, 1, seed=3)
    result = plinth.resample(frames, 16000, 16000)
    np.testing.assert_array_equal(result, frames)
    result[0] += 1
    assert result[0] != frames[0]


# Feeding schedules, repeated until the signal is used up.
@pytest.mark.parametrize("block_sizes", [[1] * 500 + [10**6], [7, 1000], [4096], [65536, 3], [65535, 65537, 2]])
def test_resampler_blocks_equal_resample_wav(reference, tmp_path, block_sizes):
    frames = noise(150000, 2, seed=11)
    expected = resample_wav_samples(reference, tmp_path, frames, 48000, 22050, "second")
    resampler = plinth.Resampler(48000, 22050, channels=2, channel="second")
    parts = feed_in_blocks(resampler, frames, block_sizes)
    np.testing.assert_array_equal(np.concatenate(parts), expected)
    with pytest.raises(ValueError, match="finished"):
        resampler.feed(frames[:10])


def test_resample_file_writes_what_resample_wav_writes(reference, tmp_path):
    source = write_wav(tmp_path / "take.wav", noise(30000, 2, seed=5), 44100)
    expected = reference.resample_wav(source, tmp_path / "expected.wav", 16000, 2).read_bytes()
    # str, bytes and os.PathLike paths alike.
    for index, (src, dst) in enumerate([(str(source), str(tmp_path / "a.wav")),
                                        (bytes(source), bytes(tmp_path / "b.wav")),
                                        (source, tmp_path / "c.wav")]):
        plinth.resample_file(src, dst, 16000, channel="mix")
        assert Path(dst.decode() if isinstance(dst, bytes) else dst).read_bytes() == expected, index
    # A mono input at the target rate is copied byte for byte.
    mono = write_wav(tmp_path / "mono.wav", noise(500, 1, seed=6), 8000)
    plinth.resample_file(mono, tmp_path / "copy.wav", 8000)
    assert (tmp_path / "copy.wav").read_bytes() == mono.read_bytes()


def test_render_module_equals_modwav(reference, tmp_path):
    image = build_module(notes=8)
    song = tmp_path / "song.mod"
    song.write_bytes(image)
    expected, rate = read_wav(reference.modwav(song, tmp_path / "song.wav"))
    assert rate == plinth.MODULE_RATE == 8000
    assert expected.shape == (61440, 2)  # 64 lines of 6 ticks of 160 frames
    for data in (image, bytearray(image), memoryview(image), str(song), song):
        result = plinth.render_module(data)
        assert result.dtype == np.int16 and result.shape == expected.shape
        np.testing.assert_array_equal(result, expected)


def test_module_files_equal_modwav_and_the_tool(reference, tmp_path):
    example = Path(__file__).resolve().parents[2] / "examples" / "example.mod"
    plinth.mod_to_wav(example, tmp_path / "ours.wav")
    assert (tmp_path / "ours.wav").read_bytes() == reference.modwav(example, tmp_path / "modwav.wav").read_bytes()
    plinth.mod_to_wav(str(example), str(tmp_path / "ours-44100.wav"), rate=44100)
    assert run_tool("mod2wav", example, tmp_path / "tool-44100.wav", "--rate", "44100").returncode == 0
    assert (tmp_path / "ours-44100.wav").read_bytes() == (tmp_path / "tool-44100.wav").read_bytes()
    np.testing.assert_array_equal(plinth.render_module(example, rate=44100), read_wav(tmp_path / "tool-44100.wav")[0])


def tool_info_fields(path: Path) -> dict[str, str]:
    result = run_tool("info", path)
    assert result.returncode == 0, result.stderr
    return dict(re.findall(r"^  ([a-z0-9 ]+):\s+(.*)$", result.stdout, re.M))


def test_info_says_what_the_tool_says(tmp_path):
    wav = write_wav(tmp_path / "take.wav", noise(11025, 2, seed=1), 22050)
    described = plinth.info(wav)
    shown = tool_info_fields(wav)
    assert described["kind"] == "wav" and described["path"] == str(wav)
    assert f'{described["format"]} ({described["format_name"]})' == shown["format"] == "1 (PCM)"
    assert (described["channels"], described["sample_rate"], described["frames"]) == (2, 22050, 11025)
    assert f'{described["duration"]:.3f} s' == shown["duration"] == "0.500 s"
    assert described["data_start"] == 44 and described["samples_at_byte_44"] is True

    song = tmp_path / "song.mod"
    song.write_bytes(build_module(name=b"lead\x01"))
    described = plinth.info(bytes(song))
    shown = tool_info_fields(song)
    assert described["kind"] == "module"
    assert (described["tag"], described["channels"], described["song_length"], described["patterns"]) == \
        ("M.K.", 4, 1, 1)
    assert described["samples"] == [{"number": 1, "name": "lead?", "length": 2048}]
    assert described["frames"] == 61440 and described["rate"] == 8000
    assert shown["duration"].startswith(f'{described["duration"]:.3f} s') and "61440 frames" in shown["duration"]
