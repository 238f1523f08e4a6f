// plinth._plinth: the libraries' internals for Python. Every conversion runs
// with the GIL released; failures come back as values and are raised as the
// package's exceptions here, at the edge. The package's Python layer gives the
// functions their public names, argument forms and documentation.

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "app/batch_plan.h"
#include "app/conversion_request.h"
#include "app/convert_file.h"
#include "app/describe_file.h"
#include "app/in_memory_resampler.h"
#include "platform/output_file.h"
#include "python/native/failures.h"
#include "python/native/interrupts.h"
#include "resampler/resample_file.h"
#include "resampler/stream_resampler.h"
#include "tracker/module_render.h"

namespace py = pybind11;

namespace plinth::python {
namespace {

using Samples = std::vector<int16_t>;

// Frames handed to the resampler at a time, so that a stop is noticed between them.
constexpr uint64_t kFeedFrames = kInputBlockItems;

// Module images are addressed with signed 32-bit sizes.
constexpr std::size_t kMaxModuleBytes = 0x7FFFFFFF;

[[noreturn]] void raiseOutOfMemory() { raiseFailure(Failure{FailureKind::other, "not enough memory", 0, {}}); }

// A failed conversion raises the interrupt that stopped it, or one that cut a
// system call short, before its own failure.
[[noreturn]] void raiseConversionFailure(InterruptWatch& watch, const Failure& failure) {
    watch.raisePending();
    raiseFailure(failure);
}

// A path as Python's own open() takes it: a name with a zero byte in it would
// be cut short there, and another file used.
const std::string& checkedPath(const std::string& path) {
    if (path.find('\0') != std::string::npos) throw py::value_error("embedded null byte");
    return path;
}

// Samples handed over to numpy without a copy; the array owns them.
template <typename T>
py::array_t<T> toArray(std::vector<T>&& samples, std::vector<py::ssize_t> shape) {
    auto* owned = new std::vector<T>(std::move(samples));
    py::capsule owner(owned, [](void* pointer) { delete static_cast<std::vector<T>*>(pointer); });
    return py::array_t<T>(shape, owned->data(), owner);
}

// What a buffer holds, as an array of `channels` columns, or of one dimension.
py::array bufferToArray(SampleBuffer&& buffer, int channels, bool columns) {
    const auto frames = static_cast<py::ssize_t>(buffer.size() / static_cast<std::size_t>(channels));
    std::vector<py::ssize_t> shape{frames};
    if (columns) shape.push_back(channels);
    if (buffer.kind == SampleKind::int16) return toArray(std::move(buffer.int16), shape);
    return toArray(std::move(buffer.float32), shape);
}

// Frames of any number of channels, int16 or float32, C-ordered (copied when
// they were not). The package makes float64 arrays float32 before they come here.
struct Frames {
    py::array items;
    SampleKind kind = SampleKind::int16;
    int channels = 1;
    uint64_t count = 0;

    const int16_t* sixteen() const { return static_cast<const int16_t*>(items.data()); }
    const float* floats() const { return static_cast<const float*>(items.data()); }
};

Frames framesOf(const py::array& samples, const char* what) {
    const py::dtype dtype = samples.dtype();
    Frames frames;
    if (dtype.kind() == 'i' && dtype.itemsize() == 2) {
        frames.kind = SampleKind::int16;
        frames.items = py::array_t<int16_t, py::array::c_style>::ensure(samples);
    } else if (dtype.kind() == 'f' && dtype.itemsize() == 4) {
        frames.kind = SampleKind::float32;
        frames.items = py::array_t<float, py::array::c_style>::ensure(samples);
    } else {
        throw py::type_error(std::string(what) + " must be an int16, float32 or float64 array, not " +
                             py::str(py::object(dtype)).cast<std::string>());
    }
    if (samples.ndim() == 1) {
        frames.channels = 1;
    } else if (samples.ndim() == 2 && samples.shape(1) >= 1 && samples.shape(1) <= kMaxWavChannels) {
        frames.channels = static_cast<int>(samples.shape(1));
    } else {
        const std::string shape = py::str(samples.attr("shape")).cast<std::string>();
        throw py::value_error(std::string(what) + " must have shape (n,) for one channel or (n, channels) for 1 to " +
                              std::to_string(kMaxWavChannels) + " channels, not " + shape);
    }
    frames.count = static_cast<uint64_t>(samples.shape(0));
    if (!frames.items) throw py::error_already_set();
    return frames;
}

// A rate pair the resampler takes, as ResampleWav judges it; anything else is unsupported input.
std::pair<int, int> checkedRates(long long inRate, long long outRate) {
    if (inRate <= 0 || outRate <= 0 || inRate > INT_MAX || outRate > INT_MAX ||
        !ratioSupported(static_cast<int>(outRate), static_cast<int>(inRate))) {
        ResampleStatus status;
        status.error = ResampleError::invalidParameters;
        raiseFailure(resampleFailure(status, {}, {}));
    }
    return {static_cast<int>(inRate), static_cast<int>(outRate)};
}

Failure stoppedFailure() { return Failure{FailureKind::other, "stopped before it was complete", 0, {}}; }

// A rate as the conversions take it; one outside int reads as invalid.
int rateArgument(long long rate) { return rate < 1 || rate > INT_MAX ? -1 : static_cast<int>(rate); }

// The package's channel numbers: ResampleWav's channelMode (0 first, 1
// second, 2 mix), and 3 for every channel.
constexpr int kEveryChannelMode = 3;

ChannelChoice channelChoice(int channelMode) {
    if (channelMode != kEveryChannelMode) return channelChoiceFromMode(channelMode);
    ChannelChoice choice;
    choice.all = true;
    return choice;
}

// The package's filter numbers: 0 standard, 1 high.
FilterQuality filterQuality(int quality) { return quality == 1 ? FilterQuality::high : FilterQuality::standard; }

// Feeds frames in blocks, watching for a stop between them. Without the GIL.
StreamError feedInBlocks(InMemoryResampler& resampler, const Frames& frames, SampleBuffer& out, InterruptWatch& watch,
                         bool& stopped) {
    const auto width = static_cast<uint64_t>(resampler.channels);
    for (uint64_t done = 0; done < frames.count;) {
        if (watch.stopRequested()) {
            stopped = true;
            return StreamError::none;
        }
        const uint64_t take = frames.count - done < kFeedFrames ? frames.count - done : kFeedFrames;
        const StreamError error =
            frames.kind == SampleKind::int16
                ? feedInMemoryResampler(resampler, frames.sixteen() + done * width, take, out)
                : feedInMemoryResampler(resampler, frames.floats() + done * width, take, out);
        if (error != StreamError::none) return error;
        done += take;
    }
    return StreamError::none;
}

// Room for the whole output at once; false when it cannot be had.
bool reserveOutput(SampleBuffer& out, std::size_t count) {
    try {
        if (out.kind == SampleKind::int16) {
            out.int16.reserve(count);
        } else {
            out.float32.reserve(count);
        }
    } catch (const std::bad_alloc&) {
        return false;
    } catch (const std::length_error&) {
        return false;
    }
    return true;
}

py::array resample(const py::array& samples, long long inRate, long long outRate, int channelMode, int quality) {
    const Frames frames = framesOf(samples, "samples");
    const auto [sourceRate, targetRate] = checkedRates(inRate, outRate);
    const ChannelChoice choice = channelChoice(channelMode);
    InterruptWatch watch;
    SampleBuffer out;
    out.kind = frames.kind;
    InMemoryResampler resampler;
    StreamError error = StreamError::none;
    bool stopped = false;
    {
        py::gil_scoped_release release;
        error = startInMemoryResampler(resampler, targetRate, sourceRate, frames.channels, choice, filterQuality(quality));
        if (error == StreamError::none &&
            !reserveOutput(out, inMemoryOutputFrames(resampler, frames.count) *
                                    static_cast<uint64_t>(resampler.outputChannels))) {
            error = StreamError::outOfMemory;
        }
        if (error == StreamError::none) error = feedInBlocks(resampler, frames, out, watch, stopped);
        if (error == StreamError::none && !stopped) error = finishInMemoryResampler(resampler, out);
    }
    if (stopped) raiseConversionFailure(watch, stoppedFailure());
    if (error != StreamError::none) raiseOutOfMemory();
    return bufferToArray(std::move(out), resampler.outputChannels, choice.all);
}

// A resampler fed block by block; the samples it gives are those resample()
// gives for all the blocks at once. The first block's kind (int16, or float32
// for any float) is the kind of every block after it and of what comes out.
class BlockResampler {
public:
    BlockResampler(long long inRate, long long outRate, int channels, int channelMode, int quality)
        : channels_(channels), choice_(channelChoice(channelMode)) {
        if (channels < 1 || channels > kMaxWavChannels) {
            throw py::value_error("channels must be 1 to " + std::to_string(kMaxWavChannels));
        }
        const auto [sourceRate, targetRate] = checkedRates(inRate, outRate);
        if (startInMemoryResampler(resampler_, targetRate, sourceRate, channels, choice_, filterQuality(quality)) !=
            StreamError::none) {
            raiseOutOfMemory();
        }
    }

    py::array feed(const py::array& block) {
        const Frames frames = framesOf(block, "block");
        if (frames.channels != channels_) {
            throw py::value_error("block has " + std::to_string(frames.channels) + " channel(s); this resampler takes " +
                                  std::to_string(channels_));
        }
        const std::unique_lock<std::mutex> lock = claim();
        if (fed_ && frames.kind != kind_) {
            throw py::type_error(std::string("block is ") + kindName(frames.kind) + " but the blocks before were " +
                                 kindName(kind_) + ": feed one kind");
        }
        fed_ = true;
        kind_ = frames.kind;
        InterruptWatch watch;
        SampleBuffer out;
        out.kind = kind_;
        bool stopped = false;
        StreamError error;
        {
            py::gil_scoped_release release;
            error = feedInBlocks(resampler_, frames, out, watch, stopped);
        }
        // A stop part-way leaves the stream in an unknown place.
        if (stopped || error != StreamError::none) finished_ = true;
        if (stopped) raiseConversionFailure(watch, stoppedFailure());
        if (error != StreamError::none) raiseOutOfMemory();
        return bufferToArray(std::move(out), resampler_.outputChannels, choice_.all);
    }

    py::array finish() {
        const std::unique_lock<std::mutex> lock = claim();
        finished_ = true;
        SampleBuffer out;
        out.kind = kind_;
        StreamError error;
        {
            py::gil_scoped_release release;
            error = finishInMemoryResampler(resampler_, out);
        }
        if (error != StreamError::none) raiseOutOfMemory();
        return bufferToArray(std::move(out), resampler_.outputChannels, choice_.all);
    }

private:
    static const char* kindName(SampleKind kind) { return kind == SampleKind::int16 ? "int16" : "float"; }

    // One call at a time: the stream has one position.
    std::unique_lock<std::mutex> claim() {
        std::unique_lock<std::mutex> lock(busy_, std::try_to_lock);
        if (!lock.owns_lock()) throw py::value_error("this resampler is in use by another thread");
        if (finished_) throw py::value_error("this resampler has finished");
        return lock;
    }

    InMemoryResampler resampler_;
    int channels_;
    ChannelChoice choice_;
    SampleKind kind_ = SampleKind::int16;
    bool fed_ = false;
    bool finished_ = false;
    std::mutex busy_;
};

// The settings of a file conversion from the package's numbers and format name.
ResampleSettings resampleSettings(int channelMode, int quality, const std::string& format) {
    ResampleSettings settings;
    settings.choice = channelChoice(channelMode);
    settings.quality = filterQuality(quality);
    settings.outputFormat = format == "f32" ? WavSampleFormat::float32 : WavSampleFormat::signed16;
    return settings;
}

// A WAV file resampled into a WAV file, read as the tool reads it: a
// canonical file as ResampleWav reads it, any other through its chunks.
void resampleFile(const std::string& source, const std::string& target, long long rate, int channelMode, int quality,
                  const std::string& format) {
    const ResampleSettings settings = resampleSettings(channelMode, quality, format);
    ConversionRequest request;
    request.kind = ConversionKind::resample;
    request.rate = rateArgument(rate);
    request.channel = settings.choice;
    request.quality = settings.quality;
    request.format = settings.outputFormat;
    checkedPath(source);
    checkedPath(target);
    InterruptWatch watch;
    ConversionResult result;
    {
        py::gil_scoped_release release;
        result = convertFile(request, source, target, watch.progress());
    }
    if (result.ok) return;
    if (result.resampleStatus.error == ResampleError::none) {
        raiseConversionFailure(watch, Failure{FailureKind::other, "not enough memory", 0, source});
    }
    raiseConversionFailure(watch, resampleFailure(result.resampleStatus, source, target));
}

bool writeFrames(void* context, const int16_t* samples, std::size_t count) {
    auto& cursor = *static_cast<int16_t**>(context);
    std::memcpy(cursor, samples, count * sizeof(int16_t));
    cursor += count;
    return true;
}

// What a song may last: maxSeconds below 0 sets no limit but the WAV size cap.
SongLimits songLimits(double maxSeconds, long long rate, const Progress* progress) {
    SongLimits limits;
    limits.progress = progress;
    if (maxSeconds >= 0) {
        const double frames = maxSeconds * static_cast<double>(rate);
        if (frames < static_cast<double>(kMaxWavFrames)) limits.maxFrames = static_cast<uint64_t>(frames);
    }
    return limits;
}

// What a render covers beyond MODWAV's: loops and a fade in milliseconds.
struct RenderRequest {
    int loops = 1;
    uint32_t fadeMilliseconds = 0;
    bool stems = false;  // each channel alone, stacked (channels, frames, 2)
};

void checkRenderRequest(const RenderRequest& request) {
    if (request.loops < 1 || request.loops > kMaxLoops) throw py::value_error("loops must be 1 to 1000");
    if (request.fadeMilliseconds > kMaxFadeMilliseconds) throw py::value_error("fade must be 0 to 3600 seconds");
}

// Plays a module image to its end as (frames, 2) samples, or each channel
// alone as (channels, frames, 2); path names the image in errors. Returns
// the samples and the loop: (start, end) in frames, or None.
py::tuple renderImage(const std::vector<uint8_t>& image, long long rate, double maxSeconds, const RenderRequest& request,
                      const std::string& path) {
    checkRenderRequest(request);
    if (rate <= 0 || rate > kMaxWavRate) {
        ModuleStatus status;
        status.error = ModuleError::invalidRate;
        raiseFailure(moduleFailure(status, {}, {}));
    }
    InterruptWatch watch;
    ModuleStatus status;
    Samples out;
    std::size_t renders = 1;
    uint64_t frames = 0;
    py::object loop = py::none();
    bool loopFound = false;
    uint64_t loopStart = 0;
    uint64_t loopEnd = 0;
    {
        py::gil_scoped_release release;
        ModuleRenderOptions options;
        options.loops = request.loops;
        options.fadeMilliseconds = request.fadeMilliseconds;
        std::unique_ptr<Song> song(new (std::nothrow) Song());
        if (!song) {
            status.error = ModuleError::outOfMemory;
        } else if ((status.error = prepareSong(*song, image.data(), static_cast<int32_t>(image.size()),
                                               static_cast<int32_t>(rate), songLimits(maxSeconds, rate, watch.progress()),
                                               songPlanFor(options, static_cast<int>(rate)))) != ModuleError::none) {
            // refused, too long or stopped: status says which
        } else {
            frames = song->frames;
            loopFound = song->loopFound;
            loopStart = song->loopStart;
            loopEnd = song->loopsEnd;
            renders = request.stems ? song->player.channelCount : 1;
            try {
                out.resize(static_cast<std::size_t>(frames) * 2 * renders);
            } catch (const std::bad_alloc&) {
                status.error = ModuleError::outOfMemory;
            } catch (const std::length_error&) {
                status.error = ModuleError::outOfMemory;
            }
            int16_t* cursor = out.data();
            for (std::size_t r = 0; r < renders && status.error == ModuleError::none; ++r) {
                std::unique_ptr<Song> playing(new (std::nothrow) Song(request.stems ? channelAlone(*song, static_cast<int>(r)) : *song));
                status.error = playing ? renderSong(*playing, SampleSink{writeFrames, &cursor}, watch.progress())
                                       : ModuleError::outOfMemory;
            }
        }
    }
    if (status.error != ModuleError::none) raiseConversionFailure(watch, moduleFailure(status, path, {}));
    if (loopFound) loop = py::make_tuple(loopStart, loopEnd);
    std::vector<py::ssize_t> shape{static_cast<py::ssize_t>(frames), py::ssize_t{2}};
    if (request.stems) shape.insert(shape.begin(), static_cast<py::ssize_t>(renders));
    return py::make_tuple(toArray(std::move(out), shape), loop);
}

py::tuple renderModuleBytes(const py::buffer& data, long long rate, double maxSeconds, const RenderRequest& request) {
    std::vector<uint8_t> image;
    {
        // Copied while the GIL is held: the caller's buffer may change once it is let go.
        const py::buffer_info view(data.request());
        const auto bytes = static_cast<std::size_t>(view.size * view.itemsize);
        ModuleStatus status;
        if (bytes == 0) status.error = ModuleError::emptyInput;
        if (bytes > kMaxModuleBytes) status.error = ModuleError::inputTooLarge;
        if (status.error != ModuleError::none) raiseFailure(moduleFailure(status, {}, {}));
        if (PyBuffer_IsContiguous(view.view(), 'C') == 0) throw py::value_error("module data must be contiguous");
        const auto* first = static_cast<const uint8_t*>(view.ptr);
        image.assign(first, first + bytes);
    }
    return renderImage(image, rate, maxSeconds, request, {});
}

py::tuple renderModuleFile(const std::string& path, long long rate, double maxSeconds, const RenderRequest& request) {
    checkedPath(path);
    std::vector<uint8_t> image;
    ModuleStatus status;
    {
        InterruptWatch watch;
        {
            py::gil_scoped_release release;
            status = readModuleFile(path, image, watch.progress());
        }
        if (status.error != ModuleError::none) raiseConversionFailure(watch, moduleFailure(status, path, {}));
    }
    return renderImage(image, rate, maxSeconds, request, path);
}

// A refusal of the plan ("PATH: reason") as the exception a file gets.
[[noreturn]] void raiseRefusal(const std::string& refusal) { raiseFailure(Failure{FailureKind::file, refusal, 0, {}}); }

void moduleToWav(const std::string& source, const std::string& target, long long rate, double maxSeconds,
                 const RenderRequest& request, bool loopPoints, const std::string& stemFolder) {
    checkedPath(source);
    checkedPath(target);
    checkedPath(stemFolder);
    checkRenderRequest(request);
    ModuleRenderOptions options;
    options.loops = request.loops;
    options.fadeMilliseconds = request.fadeMilliseconds;
    options.loopPoints = loopPoints;
    if (!stemFolder.empty()) {
        // Stems are planned as the tool plans them; existing ones are replaced, as the output is.
        std::string error;
        std::vector<Job> jobs;
        {
            py::gil_scoped_release release;
            if (makeFolders(stemFolder, error)) jobs = planJobs({source}, {target}, true, stemFolder);
        }
        if (!error.empty()) raiseRefusal(error);
        if (!jobs.front().refusal.empty()) raiseRefusal(jobs.front().refusal);
        options.stems = jobs.front().stems;
    }
    InterruptWatch watch;
    ModuleStatus status;
    {
        py::gil_scoped_release release;
        status = convertModuleFile(source, target, rateArgument(rate), songLimits(maxSeconds, rate, watch.progress()),
                                   options);
    }
    const std::string& failedOutput =
        status.failedStem >= 0 ? options.stems[static_cast<std::size_t>(status.failedStem)] : target;
    if (status.error != ModuleError::none) raiseConversionFailure(watch, moduleFailure(status, source, failedOutput));
}

py::object optionalNumber(bool known, py::object value) { return known ? value : py::none(); }

py::dict describeWav(const WavDescription& wav) {
    py::dict fields;
    fields["kind"] = "wav";
    fields["container"] = wav.container;
    fields["format"] = wav.audioFormat;
    fields["format_name"] = wav.formatName;
    fields["channels"] = wav.channels;
    fields["bits_per_sample"] = wav.bitsPerSample;
    fields["valid_bits"] = wav.validBits;
    fields["sample_rate"] = wav.sampleRate;
    fields["block_align"] = wav.blockAlign;
    fields["frame_bytes"] = wav.frameBytes;
    fields["sample_format"] = wav.sampleFormat;
    py::object otherChunks = py::list();
    if (!wav.otherChunks.empty()) otherChunks = py::str(wav.otherChunks).attr("split")();
    fields["other_chunks"] = otherChunks;
    fields["data_size"] = optionalNumber(wav.dataFound, py::int_(wav.dataSize));
    fields["data_clamped"] = wav.dataClamped;
    fields["bytes_following"] = optionalNumber(wav.dataFound && wav.bytesFollowingKnown, py::int_(wav.bytesFollowing));
    fields["frames"] = optionalNumber(wav.framesKnown, py::int_(wav.frames));
    fields["duration"] = optionalNumber(wav.durationKnown, py::float_(wav.seconds));
    fields["data_start"] = optionalNumber(wav.dataStart >= 0, py::int_(wav.dataStart));
    fields["samples_at_byte_44"] = wav.dataStart == static_cast<int64_t>(kWavHeaderBytes);
    py::object chunksAfter = py::list();
    if (!wav.chunksAfter.empty()) chunksAfter = py::str(wav.chunksAfter).attr("split")();
    fields["chunks_after"] = chunksAfter;
    fields["loop_start"] = optionalNumber(wav.hasLoop, py::int_(wav.loopStart));
    fields["loop_frames"] = optionalNumber(wav.hasLoop, py::int_(wav.loopFrames));
    fields["loop_type"] = optionalNumber(wav.hasLoop, py::int_(wav.loopType));
    return fields;
}

py::dict describeModule(const ModuleDescription& module) {
    py::dict fields;
    fields["kind"] = "module";
    fields["sample_slots"] = module.sampleSlots;
    const bool tagged = module.sampleSlots == kTaggedLayout.sampleCount;
    fields["tag"] = tagged ? py::object(py::str(module.tag)) : py::object(py::none());
    fields["channels"] = module.channels;
    fields["song_length"] = module.songLength;
    fields["restart_position"] = module.restartPosition;
    fields["patterns"] = module.patterns;
    py::list samples;
    for (const ModuleSampleDescription& sample : module.samples) {
        py::dict entry;
        entry["number"] = sample.number;
        entry["name"] = sample.name;
        entry["length"] = sample.length;
        samples.append(entry);
    }
    fields["samples"] = samples;
    fields["frames"] = module.frames;
    fields["rate"] = kModuleRate;
    fields["duration"] = module.seconds;
    fields["loop_start"] = optionalNumber(module.loopFound, py::int_(module.loopStart));
    fields["loop_frames"] = optionalNumber(module.loopFound, py::int_(module.loopFrames));
    return fields;
}

py::dict info(const std::string& path) {
    checkedPath(path);
    InterruptWatch watch;
    FileDescription description;
    {
        py::gil_scoped_release release;
        description = describeFile(path, watch.progress());
    }
    if (description.error != InfoError::none) raiseConversionFailure(watch, infoFailure(description, path));
    py::dict fields = description.kind == FileKind::wav ? describeWav(description.wav) : describeModule(description.module);
    fields["path"] = pathText(path);
    return fields;
}

// One file converted exactly as the plinth tool converts it; never raises for
// a failed conversion. Returns (converted, "PATH: reason"). `stop`, when not
// None, is asked now and then (between blocks, while the input is awaited);
// true stops the conversion, which then fails as stopped.
py::tuple convertAsTool(const std::string& kind, const std::string& source, const std::string& target, int rate,
                        int channelMode, int loops, uint32_t fadeMilliseconds, bool loopPoints,
                        const std::vector<std::string>& stems, int quality, const std::string& format,
                        const py::object& stop) {
    ConversionRequest request;
    if (kind == "resample") {
        request.kind = ConversionKind::resample;
    } else if (kind == "module") {
        request.kind = ConversionKind::module;
    } else {
        throw py::value_error("kind must be \"resample\" or \"module\"");
    }
    request.rate = rate;
    const ResampleSettings settings = resampleSettings(channelMode, quality, format);
    request.channel = settings.choice;
    request.quality = settings.quality;
    request.format = settings.outputFormat;
    request.loops = loops;
    request.fadeMilliseconds = fadeMilliseconds;
    request.loopPoints = loopPoints;
    checkedPath(source);
    checkedPath(target);
    for (const std::string& stem : stems) checkedPath(stem);
    InterruptWatch watch(stop);
    ConversionResult result;
    {
        py::gil_scoped_release release;
        result = convertFile(request, source, target, watch.progress(), stems);
    }
    watch.raisePending();
    return py::make_tuple(result.ok, pathText(result.error));
}

// The plan of a batch into a folder, as the plinth tool plans it: for each
// input, its output, its stems (with a stem folder) and the reason it is
// refused ("" when it is not). With `extra` (a file the run writes besides,
// such as its manifest) not None, one more entry tells why it may not be
// written, judged with `extra_force` by the same rules.
py::list planBatchJobs(const py::list& inputNames, const std::string& folder, bool force, const std::string& stemFolder,
                       const py::object& extra, bool extraForce) {
    std::vector<std::string> inputs;
    for (const py::handle name : inputNames) inputs.push_back(checkedPath(name.cast<std::string>()));
    checkedPath(folder);
    const bool hasExtra = !extra.is_none();
    const std::string extraPath = hasExtra ? checkedPath(extra.cast<std::string>()) : std::string();
    std::vector<Job> jobs;
    std::string extraRefusal;
    {
        py::gil_scoped_release release;
        jobs = planBatch(inputs, folder, force, stemFolder);
        if (hasExtra) extraRefusal = refuseRunOutput(jobs, extraPath, extraForce);
    }
    py::list planned;
    for (const Job& job : jobs) {
        py::list stems;
        for (const std::string& stem : job.stems) stems.append(py::bytes(stem));
        planned.append(py::make_tuple(py::bytes(job.output), stems, pathText(job.refusal)));
    }
    if (hasExtra) planned.append(py::make_tuple(py::bytes(extraPath), py::list(), pathText(extraRefusal)));
    return planned;
}

void makeFolderPath(const std::string& path) {
    checkedPath(path);
    std::string error;
    bool made;
    {
        py::gil_scoped_release release;
        made = makeFolders(path, error);
    }
    if (!made) raiseFailure(Failure{FailureKind::file, error, 0, {}});
}

void writeWhole(const std::string& path, const py::bytes& data) {
    checkedPath(path);
    const std::string bytes = data;
    int systemError = 0;
    bool written;
    {
        py::gil_scoped_release release;
        OutputFile output;
        written = output.open(path, systemError) && output.write(bytes.data(), bytes.size(), systemError) &&
                  output.commit(systemError);
    }
    if (!written) raiseFailure(Failure{FailureKind::file, std::strerror(systemError != 0 ? systemError : EIO), systemError, path});
}

}  // namespace
}  // namespace plinth::python

PYBIND11_MODULE(_plinth, module) {
    using namespace plinth::python;
    module.doc() = "Plinth's conversions, on the libraries' own internals. Use the plinth package instead.";

    module.def("resample", &resample, py::arg("samples"), py::arg("in_rate"), py::arg("out_rate"),
               py::arg("channel_mode"), py::arg("quality"),
               "int16 or float32 frames (n,) or (n, C) resampled with either filter.");
    py::class_<BlockResampler>(module, "BlockResampler", "A resampler fed block by block.")
        .def(py::init<long long, long long, int, int, int>(), py::arg("in_rate"), py::arg("out_rate"),
             py::arg("channels"), py::arg("channel_mode"), py::arg("quality"))
        .def("feed", &BlockResampler::feed, py::arg("block"), "The samples the block completes.")
        .def("finish", &BlockResampler::finish, "The samples still owed at the end of the signal.");
    module.def("resample_file", &resampleFile, py::arg("source"), py::arg("target"), py::arg("rate"),
               py::arg("channel_mode"), py::arg("quality"), py::arg("format"),
               "A WAV file resampled into a WAV file, read and written as the plinth tool does.");
    py::class_<RenderRequest>(module, "RenderRequest", "Loops, fade and stems of a module render.")
        .def(py::init([](int loops, uint32_t fadeMilliseconds, bool stems) {
                 return RenderRequest{loops, fadeMilliseconds, stems};
             }),
             py::arg("loops") = 1, py::arg("fade_ms") = 0, py::arg("stems") = false);
    module.def("render_module_bytes", &renderModuleBytes, py::arg("data"), py::arg("rate"), py::arg("max_seconds"),
               py::arg("request") = RenderRequest{},
               "A module image played into (frames, 2) int16 samples (or (channels, frames, 2) for stems) and its "
               "loop, (start, end) or None.");
    module.def("render_module_file", &renderModuleFile, py::arg("path"), py::arg("rate"), py::arg("max_seconds"),
               py::arg("request") = RenderRequest{},
               "A module file played into (frames, 2) int16 samples (or (channels, frames, 2) for stems) and its "
               "loop, (start, end) or None.");
    module.def("mod_to_wav", &moduleToWav, py::arg("source"), py::arg("target"), py::arg("rate"),
               py::arg("max_seconds"), py::arg("request") = RenderRequest{}, py::arg("loop_points") = false,
               py::arg("stem_folder") = std::string(),
               "A module file played into a stereo WAV file, as MODWAV writes it by default.");
    module.def("info", &info, py::arg("path"), "What `plinth info` tells about a file, as a dict.");
    module.def("convert_as_tool", &convertAsTool, py::arg("kind"), py::arg("source"), py::arg("target"),
               py::arg("rate"), py::arg("channel_mode"), py::arg("loops") = 1, py::arg("fade_ms") = 0,
               py::arg("loop_points") = false, py::arg("stems") = std::vector<std::string>(), py::arg("quality") = 0,
               py::arg("format") = std::string("s16"), py::arg("stop") = py::none(),
               "One file converted as the plinth tool converts it: (converted, \"PATH: reason\").");
    module.def("plan_batch", &planBatchJobs, py::arg("inputs"), py::arg("folder"), py::arg("force"),
               py::arg("stem_folder") = std::string(), py::arg("extra") = py::none(), py::arg("extra_force") = false,
               "A batch planned as the plinth tool plans it: (output, stems, refusal) for each input, then for "
               "extra.");
    module.def("make_folders", &makeFolderPath, py::arg("path"), "Creates a folder and its missing parents.");
    module.def("write_whole", &writeWhole, py::arg("path"), py::arg("data"),
               "Writes a file that appears whole or not at all.");

    module.attr("MODULE_RATE") = plinth::kModuleRate;
    module.attr("MIN_RATE") = plinth::kMinRate;
    module.attr("MAX_RATE") = plinth::kMaxRate;
}
