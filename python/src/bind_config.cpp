// The module's versions, the parameter table and configurations by name.
#include <unistd.h>
#include <cerrno>
#include <string>
#include <vector>

#include "binding.h"
#include "config.h"
#include "params.h"

namespace {

// The defaults, then base (35 values, or None for the defaults), then
// changes (a dict of name to int) applied in order.
py::tuple ConfigWith(const py::handle& base, const py::dict& changes)
{
    const TumblewatchConfig start = BindingConfigOf(base);
    std::vector<std::string> changed;
    std::vector<std::string> settings;
    for (const auto& item : changes) {
        const std::string name = py::str(item.first);
        if (!PyLong_CheckExact(item.second.ptr())) {
            BindingRaise(PyExc_TypeError, name + ": expected an int, got " +
                                              std::string(py::str(py::type::handle_of(item.second).attr("__name__"))));
        }
        changed.push_back(name + "=" + std::string(py::str(item.second)));
    }
    for (int i = 0; i < kTumblewatchParamCount; ++i) {
        const std::string name = TumblewatchParams()[i].name;
        if (!changes.contains(name)) {
            settings.push_back(name + "=" + std::to_string(TumblewatchParamGet(&start, i)));
        }
    }
    settings.insert(settings.end(), changed.begin(), changed.end());
    return BindingConfigValues(BindingConfigBuild(settings));
}

// The configuration of a TOML file of "name = value" lines, as --config
// reads it.
py::tuple ConfigFromToml(const std::string& path)
{
    if (access(path.c_str(), F_OK) != 0) {
        BindingRaiseFile(PyExc_FileNotFoundError, ENOENT, "no such file", path);
    }
    TumblewatchConfig cfg;
    std::string error;
    if (!ConfigBuild(ConfigSource{path, {}}, &cfg, &error)) {
        BindingRaise(PyExc_ValueError, error);
    }
    return BindingConfigValues(cfg);
}

py::list ParamTable()
{
    py::list table;
    for (int i = 0; i < kTumblewatchParamCount; ++i) {
        const TumblewatchParam& p = TumblewatchParams()[i];
        table.append(py::make_tuple(p.name, p.defaultValue, p.unit, p.meaning, p.read, p.stages));
    }
    return table;
}

}  // namespace

void BindConfig(py::module_& m)
{
    m.attr("__version__") = TUMBLEWATCH_PROJECT_VERSION;
    m.def("version", &TumblewatchVersion, "The algorithm's version text.");
    m.def("param_table", &ParamTable,
          "The parameters in field order: (name, default, unit, meaning, read, stages) each.");
    m.def("config_with", &ConfigWith, py::arg("base"), py::arg("changes"),
          "The 35 values of base (None: the defaults) with changes (name: int) applied and checked.");
    m.def("config_from_toml", &ConfigFromToml, py::arg("path"),
          "The 35 values of the defaults with a TOML file's name = value lines applied and checked.");
    m.def(
        "config_toml",
        [](const py::handle& values, const std::string& header) {
            return ConfigToToml(BindingConfigOf(values), header);
        },
        py::arg("values"), py::arg("header"), "The configuration as TOML text that config_from_toml reads back.");
}
