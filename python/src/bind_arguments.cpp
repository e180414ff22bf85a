// Checked views of the module's arguments, and its exceptions.
#include <string>
#include <vector>

#include "binding.h"
#include "config.h"
#include "params.h"

namespace {

std::string TypeNameOf(const py::handle& obj)
{
    return py::str(py::type::handle_of(obj).attr("__name__"));
}

std::string ShapeText(const py::array& a)
{
    std::string text = "(";
    for (py::ssize_t d = 0; d < a.ndim(); ++d) {
        text += (d > 0 ? ", " : "") + std::to_string(a.shape(d));
    }
    return text + (a.ndim() == 1 ? ",)" : ")");
}

}  // namespace

[[noreturn]] void BindingRaise(PyObject* type, const std::string& message)
{
    PyErr_SetString(type, message.c_str());
    throw py::error_already_set();
}

[[noreturn]] void BindingRaiseFile(PyObject* type, int error, const std::string& reason, const std::string& path)
{
    PyErr_SetObject(type, py::make_tuple(error, reason, path).ptr());
    throw py::error_already_set();
}

SamplesView BindingSamplesOf(const py::handle& array, const char* argument)
{
    const std::string name(argument);
    const std::string expected = "a numpy array of int16 counts of shape (N, 6)";
    if (!py::isinstance<py::array>(array)) {
        BindingRaise(PyExc_TypeError, name + ": expected " + expected + ", got " + TypeNameOf(array));
    }
    const auto a = py::reinterpret_borrow<py::array>(array);
    const std::string dtype = py::str(a.dtype().attr("str"));
    const std::string native = py::str(py::dtype::of<int16_t>().attr("str"));
    if (dtype != native) {
        BindingRaise(PyExc_TypeError, name + ": expected " + expected + ", got an array of " +
                                          std::string(py::str(a.dtype())) + " (" + dtype +
                                          "); samples are never converted: samples.astype(numpy.int16) does it when "
                                          "the values are raw counts");
    }
    if (a.ndim() != 2 || a.shape(1) != 6) {
        BindingRaise(PyExc_ValueError, name + ": expected " + expected + ", got shape " + ShapeText(a));
    }
    if ((a.flags() & py::array::c_style) == 0) {
        BindingRaise(PyExc_ValueError, name +
                                           ": expected a C-contiguous array; samples are never copied: "
                                           "numpy.ascontiguousarray(samples) makes a contiguous copy");
    }
    if ((a.flags() & py::detail::npy_api::NPY_ARRAY_ALIGNED_) == 0) {
        BindingRaise(PyExc_ValueError, name +
                                           ": expected an aligned array; samples are never copied: "
                                           "numpy.require(samples, requirements='CA') makes an aligned copy");
    }
    static_assert(sizeof(ImuSample) == 6 * sizeof(int16_t), "a row of six int16 counts is one ImuSample");
    const std::size_t count = static_cast<std::size_t>(a.shape(0));
    return SamplesView{count > 0 ? static_cast<const ImuSample*>(a.data()) : nullptr, count};
}

TumblewatchConfig BindingConfigBuild(const std::vector<std::string>& settings)
{
    TumblewatchConfig cfg;
    std::string error;
    if (ConfigBuild(ConfigSource{"", settings}, &cfg, &error)) {
        return cfg;
    }
    // The message of the setting at fault, without the command line's
    // "--set NAME=VALUE: " in front; an unknown name is a KeyError.
    PyObject* type = PyExc_ValueError;
    for (const std::string& s : settings) {
        const std::string prefix = "--set " + s + ": ";
        if (error.compare(0, prefix.size(), prefix) == 0) {
            error.erase(0, prefix.size());
            const std::string name = s.substr(0, s.find('='));
            if (TumblewatchParamIndex(name.c_str()) < 0) {
                type = PyExc_KeyError;
            }
            break;
        }
    }
    BindingRaise(type, error);
}

TumblewatchConfig BindingConfigOf(const py::handle& values)
{
    if (values.is_none()) {
        TumblewatchConfig cfg;
        TumblewatchDefault(&cfg);
        return cfg;
    }
    if (!py::isinstance<py::tuple>(values) || py::len(values) != static_cast<std::size_t>(kTumblewatchParamCount)) {
        BindingRaise(PyExc_TypeError, "config: expected a tumblewatch.Config or None, got " + TypeNameOf(values));
    }
    const auto tuple = py::reinterpret_borrow<py::tuple>(values);
    std::vector<std::string> settings;
    for (int i = 0; i < kTumblewatchParamCount; ++i) {
        const py::handle v = tuple[static_cast<std::size_t>(i)];
        if (!PyLong_CheckExact(v.ptr())) {
            BindingRaise(PyExc_TypeError, std::string("config: ") + TumblewatchParams()[i].name +
                                              ": expected an int, got " + TypeNameOf(v));
        }
        settings.push_back(std::string(TumblewatchParams()[i].name) + "=" + std::string(py::str(v)));
    }
    return BindingConfigBuild(settings);
}

py::tuple BindingConfigValues(const TumblewatchConfig& cfg)
{
    py::tuple values(kTumblewatchParamCount);
    for (int i = 0; i < kTumblewatchParamCount; ++i) {
        values[static_cast<std::size_t>(i)] = py::int_(TumblewatchParamGet(&cfg, i));
    }
    return values;
}
