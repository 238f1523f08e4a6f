"""The high filter, every channel kept and float samples through the package:
against the exported ResampleWav channel by channel, analytic tones, numpy's
own rounding, the plinth tool, and libsndfile reading float files back."""

from __future__ import annotations

import itertools
from pathlib import Path

import numpy as np
import pytest

import plinth
from conftest import feed_in_blocks, noise, read_wav, read_with_sndfile, run_tool, write_wav

QUALITIES = ["standard", "high"]


def to_int16(values: np.ndarray) -> np.ndarray:
    """Floats of full scale 1.0 to 16-bit samples: x times 32768 to the
    nearest integer, halves away from zero, clamped; NaN as 0."""
    scaled = np.nan_to_num(values.astype(np.float64) * 32768.0, nan=0.0, posinf=32767.0, neginf=-32768.0)
    rounded = np.sign(scaled) * np.floor(np.abs(scaled) + 0.5)
    return np.clip(rounded, -32768, 32767).astype(np.int16)


def float_noise(frames: int, channels: int, seed: int) -> np.ndarray:
    generator = np.random.default_rng(seed)
    return generator.uniform(-1.0, 1.0, size=(frames, channels)).astype(np.float32)


@pytest.mark.parametrize("quality", QUALITIES)
@pytest.mark.parametrize("kind", ["int16", "float32"])
@pytest.mark.parametrize("in_rate,out_rate", [(44100, 16000), (8000, 44100), (48000, 44100)])
def test_every_channel_kept_is_each_channel_alone(quality, kind, in_rate, out_rate):
    frames = noise(30001, 5, seed=in_rate) if kind == "int16" else float_noise(30001, 5, seed=in_rate)
    kept = plinth.resample(frames, in_rate, out_rate, channel="all", quality=quality)
    assert kept.dtype == frames.dtype and kept.shape == (-(-30001 * out_rate // in_rate), 5)
    for c in range(5):
        alone = plinth.resample(np.ascontiguousarray(frames[:, c]), in_rate, out_rate, quality=quality)
        np.testing.assert_array_equal(kept[:, c], alone, err_msg=f"channel {c}")
    # One channel kept of a 1-D input is a column.
    single = plinth.resample(frames[:, 0].copy(), in_rate, out_rate, channel="all", quality=quality)
    assert single.shape == (kept.shape[0], 1)
    np.testing.assert_array_equal(single[:, 0], kept[:, 0])


def test_every_channel_with_the_default_filter_is_resample_wav_channel_by_channel(reference, tmp_path):
    frames = noise(40000, 2, seed=21)
    kept = plinth.resample(frames, 22050, 32000, channel="all")
    source = write_wav(tmp_path / "in.wav", frames, 22050)
    for mode in (0, 1):
        expected, _ = read_wav(reference.resample_wav(source, tmp_path / f"out{mode}.wav", 32000, mode))
        np.testing.assert_array_equal(kept[:, mode], expected)
    # At equal rates too: the channels of a stereo input are filtered, as ResampleWav filters them.
    same = plinth.resample(frames, 22050, 22050, channel="all")
    expected, _ = read_wav(reference.resample_wav(source, tmp_path / "same.wav", 22050, 1))
    np.testing.assert_array_equal(same[:, 1], expected)


def test_floats_into_the_default_filter_are_its_16_bit_samples_scaled(reference, tmp_path):
    values = float_noise(20000, 2, seed=5) * np.float32(1.1)  # some beyond full scale
    values[:8, 0] = [np.nan, np.inf, -np.inf, 0.5 / 32768, -0.5 / 32768, 2.5 / 32768, -1.0, 32767.5 / 32768]
    source = write_wav(tmp_path / "in.wav", to_int16(values), 44100)
    for mode, channel in enumerate(("first", "second", "mix")):
        expected, _ = read_wav(reference.resample_wav(source, tmp_path / f"{channel}.wav", 16000, mode))
        result = plinth.resample(values, 44100, 16000, channel=channel)
        assert result.dtype == np.float32
        np.testing.assert_array_equal(result, expected.astype(np.float32) / np.float32(32768), err_msg=channel)
    # Mono at the same rate: ResampleWav's copy of the 16-bit samples.
    np.testing.assert_array_equal(plinth.resample(values[:, 0].copy(), 8000, 8000),
                                  to_int16(values[:, 0]).astype(np.float32) / np.float32(32768))


@pytest.mark.parametrize("quality", QUALITIES)
def test_float64_is_made_float32_first(quality):
    wide = np.random.default_rng(3).uniform(-1.2, 1.2, size=(9000, 2))
    for channel in ("first", "mix", "all"):
        np.testing.assert_array_equal(plinth.resample(wide, 48000, 44100, channel=channel, quality=quality),
                                      plinth.resample(wide.astype(np.float32), 48000, 44100, channel=channel,
                                                      quality=quality))


@pytest.mark.parametrize("in_rate,out_rate", [(44100, 48000), (44100, 8000), (8000, 16000)])
def test_the_high_filters_16_bit_samples_are_its_float_ones_rounded(in_rate, out_rate):
    frames = noise(25000, 2, seed=in_rate + out_rate)
    exact = frames.astype(np.float32) / np.float32(32768)  # how the filter takes 16-bit samples
    sums = plinth.resample(exact, in_rate, out_rate, channel="mix", quality="high")
    rounded = plinth.resample(frames, in_rate, out_rate, channel="mix", quality="high")
    assert rounded.dtype == np.int16 and sums.dtype == np.float32
    np.testing.assert_array_equal(rounded, to_int16(sums))
    # The float mean of the channels, not the floor of the integer one.
    mean = (frames[:, 0].astype(np.float32) + frames[:, 1].astype(np.float32)) / np.float32(65536)
    np.testing.assert_array_equal(sums, plinth.resample(mean, in_rate, out_rate, quality="high"))


@pytest.mark.parametrize("in_rate,out_rate", [(44100, 48000), (48000, 44100), (44100, 16000), (44100, 8000),
                                              (8000, 16000), (11025, 96000)])
def test_the_high_filter_gives_tones_as_they_would_be_sampled(in_rate, out_rate):
    # Tones up to 0.45 of the lower rate, against the same tones sampled at the
    # output rate: no delay, no gain, error below -100 dB of full scale away
    # from the ends.
    seconds, lower = 2, min(in_rate, out_rate)
    t_in = np.arange(seconds * in_rate) / in_rate
    t_out = np.arange(seconds * out_rate) / out_rate
    middle = slice(len(t_out) // 10, len(t_out) - len(t_out) // 10)
    for fraction in (0.05, 0.2, 0.45):
        frequency = fraction * lower * 0.9997
        tone = (0.5 * np.sin(2 * np.pi * frequency * t_in)).astype(np.float32)
        out = plinth.resample(tone, in_rate, out_rate, quality="high")
        assert len(out) == seconds * out_rate
        ideal = 0.5 * np.sin(2 * np.pi * frequency * t_out)
        assert np.max(np.abs(out[middle] - ideal[middle])) < 1e-5, fraction
    # Going down, a tone above half the output rate does not come through.
    if out_rate < in_rate:
        tone = (0.5 * np.sin(2 * np.pi * 0.52 * out_rate * t_in)).astype(np.float32)
        out = plinth.resample(tone, in_rate, out_rate, quality="high")
        assert np.max(np.abs(out[middle])) < 1e-5


@pytest.mark.parametrize("quality,channel,kind", [("high", "all", "float32"), ("high", "mix", "int16"),
                                                  ("standard", "all", "float32"), ("high", "second", "float64")])
@pytest.mark.parametrize("block_sizes", [[1] * 300 + [10**6], [7, 1000], [65536, 3]])
def test_resampler_blocks_equal_resample(quality, channel, kind, block_sizes):
    frames = noise(90000, 3, seed=31).astype(kind)
    if kind != "int16":
        frames /= 32768
    expected = plinth.resample(frames, 44100, 48000, channel=channel, quality=quality)
    resampler = plinth.Resampler(44100, 48000, channels=3, channel=channel, quality=quality)
    parts = feed_in_blocks(resampler, frames, block_sizes)
    assert all(part.dtype == expected.dtype for part in parts)
    np.testing.assert_array_equal(np.concatenate(parts), expected)


def test_a_resampler_takes_one_kind_of_block():
    resampler = plinth.Resampler(16000, 8000, quality="high")
    assert resampler.feed(np.zeros(100, np.float64)).dtype == np.float32
    assert resampler.feed(np.zeros(100, np.float32)).dtype == np.float32
    with pytest.raises(TypeError, match="float"):
        resampler.feed(np.zeros(100, np.int16))
    assert resampler.finish().dtype == np.float32
    assert plinth.Resampler(16000, 8000).finish().dtype == np.int16


def test_file_options_write_what_the_tool_writes(reference, tmp_path):
    frames = noise(30000, 2, seed=12)
    source = write_wav(tmp_path / "take.wav", frames, 44100)
    for quality, channel, format in itertools.product(QUALITIES, ("mix", "all"), ("s16", "f32")):
        ours, tools = tmp_path / "ours.wav", tmp_path / "tool.wav"
        plinth.resample_file(source, ours, 16000, channel=channel, quality=quality, format=format)
        done = run_tool("resample", source, tools, "--rate", 16000, "--channel", channel, "--quality", quality,
                        "--format", format, "-f")
        assert done.returncode == 0, done.stderr
        assert ours.read_bytes() == tools.read_bytes(), (quality, channel, format)
    # The float file holds what resample gives for the same frames as floats.
    read = read_with_sndfile(ours)
    if read is None:
        pytest.skip("libsndfile not found: the float file was not read back")
    samples, rate = read
    assert rate == 16000 and samples.dtype == np.float32
    np.testing.assert_array_equal(samples, plinth.resample(frames.astype(np.float32) / np.float32(32768), 44100,
                                                           16000, channel="all", quality="high"))
    with pytest.raises(ValueError, match="s16"):
        plinth.resample_file(source, tmp_path / "x.wav", 16000, format="f64")
