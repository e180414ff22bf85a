// The detector on numpy arrays: fall codes of whole arrays or of a stream
// in chunks, the per-sample state, the trace text, and recordings read
// into arrays. Every loop runs with the GIL released.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "binding.h"
#include "detect.h"
#include "inputs.h"
#include "recording_reader.h"
#include "snapshot.h"

namespace {

// The fall code of every sample, into codes[0, count).
void RunCodes(TumblewatchContext* ctx, const ImuSample* samples, std::size_t count, int32_t* codes)
{
    for (std::size_t i = 0; i < count; ++i) {
        codes[i] = TumblewatchProcess(ctx, &samples[i]);
    }
}

// Samples run between two looks at Python's signals (a fraction of a
// second of one thread).
constexpr std::size_t kSignalCheckSamples = std::size_t{1} << 17;

py::array_t<int32_t> Detect(const py::handle& samples, const py::handle& config)
{
    const TumblewatchConfig cfg = BindingConfigOf(config);
    const SamplesView view = BindingSamplesOf(samples, "samples");
    py::array_t<int32_t> codes(static_cast<py::ssize_t>(view.count));
    int32_t* out = codes.mutable_data();
    bool set = false;
    BindingPoll poll{py::none()};
    {
        py::gil_scoped_release release;
        TumblewatchContext ctx;
        set = TumblewatchSet(&ctx, &cfg) == 0;
        if (set) {
            // In parts, Ctrl-C seen between them.
            for (std::size_t at = 0; at < view.count; at += kSignalCheckSamples) {
                const std::size_t n = std::min(kSignalCheckSamples, view.count - at);
                RunCodes(&ctx, view.data + at, n, out + at);
                if (at + n < view.count && !poll.Check(at + n, view.count)) {
                    break;
                }
            }
            TumblewatchClose(&ctx);
        }
    }
    poll.RaiseIfStopped();
    if (!set) {
        BindingRaise(PyExc_ValueError, "the detector refuses the configuration");
    }
    return codes;
}

// One detector over a stream given in chunks. Its configuration lives in
// the object (the context points at it). A lock keeps two threads from
// running it at once; checks happen before it is taken, so a refused call
// leaves the detector as it was.
class StreamDetector {
public:
    explicit StreamDetector(const py::handle& config) : cfg_(BindingConfigOf(config))
    {
        if (TumblewatchSet(&ctx_, &cfg_) != 0) {
            BindingRaise(PyExc_ValueError, "the detector refuses the configuration");
        }
    }
    ~StreamDetector() { TumblewatchClose(&ctx_); }
    StreamDetector(const StreamDetector&) = delete;
    StreamDetector& operator=(const StreamDetector&) = delete;

    py::array_t<int32_t> Process(const py::handle& samples)
    {
        const SamplesView view = BindingSamplesOf(samples, "samples");
        py::array_t<int32_t> codes(static_cast<py::ssize_t>(view.count));
        int32_t* out = codes.mutable_data();
        {
            py::gil_scoped_release release;
            const std::lock_guard<std::mutex> lock(mutex_);
            RunCodes(&ctx_, view.data, view.count, out);
        }
        return codes;
    }

    uint32_t SampleCount()
    {
        py::gil_scoped_release release;
        const std::lock_guard<std::mutex> lock(mutex_);
        return TumblewatchSampleCount(&ctx_);
    }

    py::tuple Config() const { return BindingConfigValues(cfg_); }

private:
    TumblewatchConfig cfg_;
    TumblewatchContext ctx_;
    std::mutex mutex_;
};

// A column of the per-sample state: a field of the snapshot record.
struct TraceColumn {
    const char* name;
    std::string format;  // numpy's type character
    std::size_t offset;  // in TumblewatchSnapshotRecord
    std::size_t size;
};

template <typename T>
TraceColumn Column(const char* name, T TumblewatchSnapshotRecord::*member)
{
    static const TumblewatchSnapshotRecord record{};
    const auto* base = reinterpret_cast<const char*>(&record);
    const auto* field = reinterpret_cast<const char*>(&(record.*member));
    return TraceColumn{name, py::format_descriptor<T>::format(), static_cast<std::size_t>(field - base), sizeof(T)};
}

const std::vector<TraceColumn>& TraceColumns()
{
    using R = TumblewatchSnapshotRecord;
    static const std::vector<TraceColumn> columns = {
        Column("sample", &R::sample),
        Column("accRawMag", &R::accRawMag),
        Column("accLpfMag", &R::accLpfMag),
        Column("accLpf2Mag", &R::accLpf2Mag),
        Column("gyroRawMag", &R::gyroRawMag),
        Column("gyroLpfMag", &R::gyroLpfMag),
        Column("jumpPeak", &R::jumpPeak),
        Column("jumpLastSample", &R::jumpLastSample),
        Column("jumpScore", &R::jumpScore),
        Column("jumpArea", &R::jumpArea),
        Column("accLpfAvg", &R::accLpfAvg),
        Column("gyroLpfAvg5", &R::gyroLpfAvg5),
        Column("pitch", &R::pitch),
        Column("tilt", &R::tilt),
        Column("turn", &R::turn),
        Column("upright", &R::upright),
        Column("gyroXRiseCount", &R::gyroXRiseCount),
        Column("gyroXDropCount", &R::gyroXDropCount),
        Column("gyroXPrev", &R::gyroXPrev),
        Column("fallLength", &R::fallLength),
        Column("quietRun", &R::quietRun),
        Column("fallDeepCount", &R::fallDeepCount),
        Column("fallRecoverCount", &R::fallRecoverCount),
        Column("fallDepthSum", &R::fallDepthSum),
        Column("fallDepth", &R::fallDepth),
        Column("gyroXHighRun", &R::gyroXHighRun),
        Column("fallScore", &R::fallScore),
        Column("fallLengthNow", &R::fallLengthNow),
        Column("tumbleRun", &R::tumbleRun),
        Column("tumbleThreshold", &R::tumbleThreshold),
        Column("accRawSum3", &R::accRawSum3),
        Column("gyroLpfSum3", &R::gyroLpfSum3),
    };
    return columns;
}

// Where the observer of a trace run writes each sample's state.
struct TraceCapture {
    const std::vector<TraceColumn>* columns;
    std::vector<char*> data;  // one buffer per column
    int32_t* codes;
    std::size_t row;
};

void CaptureSample(void* user, const TumblewatchContext* detector, int code)
{
    auto* capture = static_cast<TraceCapture*>(user);
    TumblewatchSnapshotRecord record;
    if (TumblewatchSnapshot(detector, &record) == 0) {
        const auto* bytes = reinterpret_cast<const char*>(&record);
        for (std::size_t c = 0; c < capture->columns->size(); ++c) {
            const TraceColumn& column = (*capture->columns)[c];
            std::memcpy(capture->data[c] + capture->row * column.size, bytes + column.offset, column.size);
        }
    }
    capture->codes[capture->row] = code;
    ++capture->row;
}

py::dict Trace(const py::handle& samples, const py::handle& config)
{
    const TumblewatchConfig cfg = BindingConfigOf(config);
    const SamplesView view = BindingSamplesOf(samples, "samples");
    const std::vector<TraceColumn>& columns = TraceColumns();
    py::dict result;
    TraceCapture capture{&columns, {}, nullptr, 0};
    for (const TraceColumn& column : columns) {
        py::array array(py::dtype(column.format), std::vector<py::ssize_t>{static_cast<py::ssize_t>(view.count)});
        capture.data.push_back(static_cast<char*>(array.mutable_data()));
        result[column.name] = array;
    }
    py::array_t<int32_t> codes(static_cast<py::ssize_t>(view.count));
    capture.codes = codes.mutable_data();
    result["code"] = codes;
    {
        py::gil_scoped_release release;
        DetectResult detected{};
        DetectRun(cfg, view.data, view.count, nullptr, &detected, CaptureSample, &capture);
    }
    return result;
}

py::bytes TraceText(const py::handle& samples, const py::handle& config)
{
    const TumblewatchConfig cfg = BindingConfigOf(config);
    const SamplesView view = BindingSamplesOf(samples, "samples");
    char* text = nullptr;
    std::size_t size = 0;
    bool written = false;
    {
        py::gil_scoped_release release;
        FILE* stream = open_memstream(&text, &size);
        if (stream != nullptr) {
            DetectResult detected{};
            DetectRun(cfg, view.data, view.count, stream, &detected);
            written = std::ferror(stream) == 0;
            written = std::fclose(stream) == 0 && written;
        }
    }
    const std::unique_ptr<char, decltype(&std::free)> owned(text, &std::free);
    if (!written) {
        throw std::bad_alloc();
    }
    return py::bytes(text, size);
}

// The samples of a recording as an int16 array of shape (N, 6), which
// owns the loaded samples.
py::array_t<int16_t> ReadRecording(const std::string& path, const py::handle& micom)
{
    RecordingFormat format;
    if (!RecordingFormatOf(path, &format)) {
        BindingRaise(PyExc_ValueError, path + ": not a recording (the name must end in .bin or .csv)");
    }
    if (!micom.is_none() && !PyBool_Check(micom.ptr())) {
        BindingRaise(PyExc_TypeError, "micom: expected True, False or None");
    }
    const bool layout =
        format == RecordingFormat::Csv && (micom.is_none() ? InputsMicomMarkerBeside(path) : micom.cast<bool>());
    auto samples = std::make_unique<std::vector<ImuSample>>();
    std::string reason;
    int status = 0;
    {
        py::gil_scoped_release release;
        status = RecordingLoad(path, format, layout, samples.get(), &reason);
    }
    if (status != 0) {
        if (reason.compare(0, 12, "no such file") == 0) {
            BindingRaiseFile(PyExc_FileNotFoundError, ENOENT, reason, path);
        }
        if (reason.compare(0, 16, "cannot be opened") == 0) {
            BindingRaiseFile(PyExc_OSError, 0, reason, path);
        }
        BindingRaise(PyExc_ValueError, path + ": " + reason);
    }
    const py::ssize_t count = static_cast<py::ssize_t>(samples->size());
    auto* data = reinterpret_cast<int16_t*>(samples->data());
    py::capsule owner(samples.get(), [](void* p) { delete static_cast<std::vector<ImuSample>*>(p); });
    samples.release();
    return py::array_t<int16_t>({count, py::ssize_t{6}}, data, owner);
}

}  // namespace

void BindDetector(py::module_& m)
{
    m.def("detect", &Detect, py::arg("samples"), py::arg("config"), "The fall code of every sample (int32).");
    m.def("trace", &Trace, py::arg("samples"), py::arg("config"),
          "The detector's state after every sample: a dict of arrays by field name, and 'code'.");
    m.def("trace_text", &TraceText, py::arg("samples"), py::arg("config"),
          "The trace as the bench writes it, as bytes.");
    m.def("read_recording", &ReadRecording, py::arg("path"), py::arg("micom"),
          "The samples of a .bin or .csv recording as an int16 array of shape (N, 6).");
    m.def(
        "sample_address",
        [](const py::handle& samples) {
            return reinterpret_cast<std::uintptr_t>(BindingSamplesOf(samples, "samples").data);
        },
        py::arg("samples"), "The address the detector reads samples from (for the tests: no copy is made).");
    py::class_<StreamDetector>(m, "Detector", "One detector over a stream given in chunks.")
        .def(py::init<const py::handle&>(), py::arg("config"))
        .def("process", &StreamDetector::Process, py::arg("samples"), "The fall codes of the next samples.")
        .def_property_readonly("sample_count", &StreamDetector::SampleCount, "Samples processed so far.")
        .def_property_readonly("config", &StreamDetector::Config, "The configuration's 35 values.");
}
