// _sitewave: the library's readers, runs, curves and response spectra for Python, numpy in and
// out. The thin parts (classes, argument names, pickling) are the package's Python; this module
// converts values, releases the GIL around the computation and turns every error into a Python
// exception: ValueError for input the library refuses, OSError for a file it cannot read.
#include "sitewave/sitewave.hpp"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <pybind11/complex.h>
#include <pybind11/functional.h>
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>
#include <sstream>
#include <system_error>

namespace py = pybind11;
namespace sw = sitewave;

namespace {

using floats = py::array_t<float, py::array::c_style | py::array::forcecast>;
using doubles = py::array_t<double, py::array::c_style | py::array::forcecast>;

// The first line of an error's text, as the programs report it.
std::string message_of(const sw::error& e) {
    std::string m = e.what == sw::error::kind::refused || e.what == sw::error::kind::usage ||
                            e.what == sw::error::kind::argument
                        ? e.message
                        : e.report();
    if (m.rfind("sitewave: ", 0) == 0) {
        m.erase(0, 10);
    }
    if (const auto nl = m.find('\n'); nl != std::string::npos) {
        m.resize(nl);
    }
    if (!e.name.empty() && m.find(e.name) == std::string::npos) {
        m = e.name + ": " + m;
    }
    return m;
}

// Why `path` cannot be read as a file: missing, a folder, or not a regular file (0: it can).
int file_errno(const std::string& path) {
    std::error_code ec;
    const auto st = std::filesystem::status(path, ec);
    if (!std::filesystem::exists(st)) {
        return ENOENT;
    }
    if (std::filesystem::is_directory(st)) {
        return EISDIR;
    }
    if (!std::filesystem::is_regular_file(st)) {
        return EINVAL;
    }
    return 0;
}

// Raises OSError (errno, its text, the path) unless `path` is a file that can be read.
void require_file(const std::string& path) {
    if (const int no = file_errno(path); no != 0) {
        PyErr_SetObject(PyExc_OSError,
                        py::make_tuple(no, std::generic_category().message(no), path).ptr());
        throw py::error_already_set();
    }
}

[[noreturn]] void raise_os(const std::string& m) {
    PyErr_SetString(PyExc_OSError, m.c_str());
    throw py::error_already_set();
}

// Raises the Python exception of an error: OSError for the system, or for a file that cannot
// be read (`files`), ValueError otherwise.
[[noreturn]] void raise(const sw::error& e, const std::vector<std::string>& files = {}) {
    const std::string m = message_of(e);
    for (const auto& f : files) {
        if (const int no = file_errno(f); no != 0) {
            const py::object err = py::module_::import("builtins").attr("OSError");
            PyErr_SetObject(err.ptr(), py::make_tuple(no, m, f).ptr());
            throw py::error_already_set();
        }
    }
    if (e.what == sw::error::kind::system) {
        raise_os(m);
    }
    throw py::value_error(m);
}

template <class T> py::array_t<T> to_array(const std::vector<T>& v) {
    py::array_t<T> a(static_cast<py::ssize_t>(v.size()));
    std::copy(v.begin(), v.end(), a.mutable_data());
    return a;
}

// Columns of one length as an (n, k) array.
template <class T> py::array_t<T> columns(const std::vector<const std::vector<T>*>& cols) {
    const std::size_t n = cols.empty() ? 0 : cols[0]->size();
    py::array_t<T> a({static_cast<py::ssize_t>(n), static_cast<py::ssize_t>(cols.size())});
    auto m = a.template mutable_unchecked<2>();
    for (std::size_t k = 0; k < cols.size(); ++k) {
        for (std::size_t i = 0; i < n; ++i) {
            m(static_cast<py::ssize_t>(i), static_cast<py::ssize_t>(k)) = (*cols[k])[i];
        }
    }
    return a;
}

std::vector<float> to_floats(const floats& a) {
    return std::vector<float>(a.data(), a.data() + a.size());
}

py::dict record_dict(const sw::record& r) {
    py::dict d;
    d["time"] = to_array(r.time);
    d["accel"] = columns<float>({&r.xr1, &r.yr1, &r.zr1});
    d["dt"] = r.dt;
    d["heads"] = py::make_tuple(r.head1, r.head2, r.head3, r.head4);
    return d;
}

py::dict read_record(const std::string& path) {
    require_file(path);
    sw::result<sw::record> r = [&] {
        py::gil_scoped_release release;
        return sw::read_batch_record(path);
    }();
    if (!r) {
        raise(r.err(), {path});
    }
    if (r->nt > 1 << sw::max_transform_if1) {
        throw py::value_error(path + ": " + std::to_string(r->nt) + " samples, more than " +
                              std::to_string(1 << sw::max_transform_if1));
    }
    return record_dict(*r);
}

py::dict read_at2(const std::string& h1, const std::string& h2, const std::string& v) {
    std::string note;
    const std::array<std::string, 3> files{h1, h2, v};
    for (const auto& f : files) {
        require_file(f);
    }
    sw::result<sw::record> r = [&] {
        py::gil_scoped_release release;
        return sw::read_at2(files, note);
    }();
    if (!r) {
        raise(r.err(), {h1, h2, v});
    }
    py::dict d = record_dict(*r);
    d["note"] = note;
    return d;
}

const char* const table_columns[] = {"dns", "vp", "qp", "fp", "vs", "qs", "fs", "thk"};

std::array<std::vector<float>*, 8> table_refs(sw::layer_table& t) {
    return {&t.dns, &t.vp, &t.qp, &t.fp, &t.vs, &t.qs, &t.fs, &t.thk};
}

py::dict profile_dict(sw::profile p) {
    py::dict d;
    const auto refs = table_refs(p.layers);
    for (std::size_t k = 0; k < 8; ++k) {
        d[table_columns[k]] = to_array(*refs[k]);
    }
    d["angle"] = p.angle;
    d["nin"] = p.nin;
    return d;
}

py::dict read_profile(const std::string& path) {
    require_file(path);
    auto r = sw::read_profile(path);
    if (!r) {
        raise(r.err(), {path});
    }
    return profile_dict(std::move(*r));
}

// A soil profile from its columns; checked as a soil file is.
sw::profile make_profile(const py::dict& d, const std::string& name) {
    sw::profile p;
    auto refs = table_refs(p.layers);
    for (std::size_t k = 0; k < 8; ++k) {
        *refs[k] = to_floats(d[table_columns[k]].cast<floats>());
    }
    p.nl = p.layers.nl();
    p.angle = d["angle"].cast<float>();
    p.theta = p.angle * 0.017453292f;
    p.nin = d["nin"].cast<int>();
    if (auto c = sw::check_profile(p, name); !c) {
        throw py::value_error(message_of(c.err()));
    }
    return p;
}

// The site's layers as the library completed them (stresses, Vp, the curves' names).
py::dict site_dict(const sw::site::site_model& m) {
    py::dict d;
    d["title"] = m.title;
    d["angle"] = m.angle;
    d["water_table"] = m.water_table ? py::cast(*m.water_table) : py::none();
    py::list layers;
    for (const auto& l : m.layers) {
        py::dict x;
        x["soil"] = l.soil;
        x["thickness"] = l.thickness;
        x["vs"] = l.vs;
        x["vp"] = l.vp;
        x["unit_weight"] = l.unit_weight;
        x["top"] = l.top;
        x["sigma_v"] = l.sigma_v;
        x["sigma_m"] = l.sigma_m;
        x["curve"] = l.curves.name;
        x["damping_min"] = l.curves.small_strain_damping();
        layers.append(x);
    }
    d["layers"] = layers;
    d["bedrock"] =
        py::dict(py::arg("vs") = m.rock.vs, py::arg("vp") = m.rock.vp,
                 py::arg("unit_weight") = m.rock.unit_weight, py::arg("damping") = m.rock.damping);
    return d;
}

sw::site::site_model parse_site_model(const std::string& text, const std::string& name) {
    auto r = sw::site::parse_site(text, name);
    if (!r) {
        raise(r.err());
    }
    if (r->layers.empty()) {
        throw py::value_error(name + ": a site needs at least one layer");
    }
    return std::move(*r);
}

py::dict parse_site(const std::string& text, const std::string& name) {
    return site_dict(parse_site_model(text, name));
}

// The file's text and its site.
py::tuple read_site(const std::string& path) {
    require_file(path);
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    if (!in) {
        raise_os(path + ": cannot be read");
    }
    return py::make_tuple(text.str(), parse_site(text.str(), path));
}

// ---- curves

py::tuple curve_values(const sw::curves::curve_set& c, const doubles& strains) {
    py::array_t<double> g(strains.request().shape);
    py::array_t<double> d(strains.request().shape);
    const double* s = strains.data();
    double* gm = g.mutable_data();
    double* dm = d.mutable_data();
    for (py::ssize_t i = 0; i < strains.size(); ++i) {
        const auto r = c.at(s[i]);
        gm[i] = r.modulus;
        dm[i] = r.damping;
    }
    return py::make_tuple(g, d);
}

sw::curves::curve_set make_curve(const std::string& model, const py::dict& p) {
    namespace cv = sw::curves;
    const auto num = [&p](const char* key, double fallback) {
        return p.contains(key) && !p[key].is_none() ? p[key].cast<double>() : fallback;
    };
    sw::result<cv::curve_set> c = sw::error{};
    if (model == "darendeli") {
        c = cv::darendeli(num("pi", 0.0), num("ocr", 1.0), num("sigma_m", 1.0),
                          num("frequency", 1.0), num("cycles", 10.0));
    } else if (model == "menq") {
        c = cv::menq(num("cu", 0.0), num("d50", 0.0), num("sigma_m", 1.0), num("cycles", 10.0));
    } else if (model == "table") {
        const auto list = [&p](const char* key) {
            return p.contains(key) && !p[key].is_none() ? p[key].cast<std::vector<double>>()
                                                        : std::vector<double>{};
        };
        c = cv::table(list("strain"), list("modulus"), list("damping_percent"),
                      list("damping_strain"));
    } else if (model == "published") {
        c = cv::published(p["modulus_curve"].cast<std::string>(),
                          p["damping_curve"].cast<std::string>());
    } else if (model == "linear") {
        c = cv::linear(num("damping", 0.0));
    } else {
        throw py::value_error("\"" + model +
                              "\" is not one of darendeli, menq, table, published, linear");
    }
    if (!c) {
        raise(c.err());
    }
    if (p.contains("damping_min") && !p["damping_min"].is_none()) {
        c = cv::with_damping_min(std::move(*c), p["damping_min"].cast<double>());
        if (!c) {
            raise(c.err());
        }
    }
    return std::move(*c);
}

// ---- runs

sw::input_motion input_of(const std::string& s) {
    if (s == "incident") {
        return sw::input_motion::incident;
    }
    if (s == "outcrop") {
        return sw::input_motion::outcrop;
    }
    if (s == "within") {
        return sw::input_motion::within;
    }
    if (s == "profile") {
        return sw::input_motion::from_profile;
    }
    throw py::value_error("input: \"" + s + "\" is not incident, outcrop, within or profile");
}

const char* input_name(sw::input_motion m) {
    switch (m) {
    case sw::input_motion::outcrop:
        return "outcrop";
    case sw::input_motion::within:
        return "within";
    default:
        break;
    }
    return "incident";
}

sw::batch_options make_options(const py::dict& d) {
    sw::batch_options o;
    o.input = input_of(d["input"].cast<std::string>());
    if (!d["angle"].is_none()) {
        o.angle = d["angle"].cast<float>();
    }
    o.nyes = d["nyes"].cast<int>();
    if (!d["band"].is_none()) {
        o.band = d["band"].cast<std::array<float, 4>>();
    }
    o.oblique = d["oblique"].cast<bool>();
    o.padded = d["padded"].cast<bool>();
    o.spectra = !d["periods"].is_none();
    if (o.spectra) {
        o.period_list = d["periods"].cast<std::vector<double>>();
        if (o.period_list.empty()) {
            throw py::value_error("periods: at least one period");
        }
    }
    o.damping = d["damping"].cast<std::vector<double>>();
    o.rotd = d["rotd"].cast<bool>();
    const std::string units = d["units"].cast<std::string>();
    if (units == "g") {
        o.units = sw::record_unit::g;
    } else if (units == "m/s2") {
        o.units = sw::record_unit::m_s2;
    } else if (units == "cm/s2") {
        o.units = sw::record_unit::cm_s2;
    } else if (units == "ft/s2") {
        o.units = sw::record_unit::ft_s2;
    } else {
        throw py::value_error("units: \"" + units + "\" is not g, m/s2, cm/s2 or ft/s2");
    }
    const py::object pad = d["pad"];
    if (pad.is_none()) {
        o.pad = sw::padding::none;
    } else if (py::isinstance<py::str>(pad)) {
        if (pad.cast<std::string>() != "auto") {
            throw py::value_error("pad: \"auto\", None or a time in seconds");
        }
        o.pad = sw::padding::automatic;
    } else {
        o.pad = sw::padding::fixed;
        o.pad_seconds = pad.cast<double>();
    }
    if (!d["smooth"].is_none()) {
        o.smooth_ko = d["smooth"].cast<double>();
    }
    const std::string method = d["method"].cast<std::string>();
    if (method == "eql") {
        o.analysis = sw::batch_options::method::eql;
    } else if (method != "linear") {
        throw py::value_error("method: \"" + method + "\" is not linear or eql");
    }
    o.eql.strain_ratio = d["strain_ratio"].cast<double>();
    o.eql.tolerance = d["tolerance"].cast<double>();
    o.eql.max_iterations = d["max_iterations"].cast<int>();
    o.eql.sublayer_fmax = d["sublayer_frequency"].cast<double>();
    o.eql.sublayer_fraction = d["sublayer_fraction"].cast<double>();
    o.eql_depths = d["depths"].cast<std::vector<double>>();
    o.eql_strict = d["strict"].cast<bool>();
    const std::string vertical = d["vertical"].cast<std::string>();
    if (vertical == "poisson") {
        o.eql_vertical = sw::batch_options::vertical_mode::poisson;
    } else if (vertical == "constrained") {
        o.eql_vertical = sw::batch_options::vertical_mode::constrained;
    } else if (vertical != "linear") {
        throw py::value_error("vertical: \"" + vertical +
                              "\" is not linear, poisson or constrained");
    }
    o.jobs = d["jobs"].cast<int>();
    return o;
}

// Profiles: ("profile", name, columns) or ("site", name, toml text).
sw::memory_profile make_memory_profile(const py::tuple& t) {
    sw::memory_profile p;
    const std::string kind = t[0].cast<std::string>();
    p.name = t[1].cast<std::string>();
    if (kind == "site") {
        p.site = parse_site_model(t[2].cast<std::string>(), p.name);
    } else {
        p.prof = make_profile(t[2].cast<py::dict>(), p.name);
    }
    return p;
}

// Records: (name, time, accel (n, 3), dt).
sw::memory_record make_memory_record(const py::tuple& t) {
    sw::memory_record r;
    r.name = t[0].cast<std::string>();
    const floats time = t[1].cast<floats>();
    const floats accel = t[2].cast<floats>();
    if (accel.ndim() != 2 || accel.shape(1) != 3 || time.ndim() != 1 ||
        time.shape(0) != accel.shape(0)) {
        throw py::value_error(r.name + ": the samples are not an (n, 3) array with n times");
    }
    const auto n = static_cast<std::size_t>(accel.shape(0));
    if (n > static_cast<std::size_t>(sw::max_transform_length)) {
        throw py::value_error(r.name + ": " + std::to_string(n) + " samples, more than " +
                              std::to_string(sw::max_transform_length));
    }
    r.rec.time = to_floats(time);
    const float* a = accel.data();
    for (auto* c : {&r.rec.xr1, &r.rec.yr1, &r.rec.zr1}) {
        c->resize(n);
    }
    for (std::size_t i = 0; i < n; ++i) {
        r.rec.xr1[i] = a[3 * i];
        r.rec.yr1[i] = a[3 * i + 1];
        r.rec.zr1[i] = a[3 * i + 2];
    }
    r.rec.nt = static_cast<int>(n);
    r.rec.dt = t[3].cast<float>();
    return r;
}

py::array_t<std::complex<double>>
complex_columns(const std::vector<const std::vector<std::complex<double>>*>& cols) {
    return columns<std::complex<double>>(cols);
}

// The sublayers of each run (component 1, 2, ...), one row each, as the fields of a structured
// array.
py::dict profile_columns(const std::vector<const sw::eql::run_result*>& runs) {
    std::vector<int> component, sublayer, layer;
    std::vector<std::string> soil;
    std::vector<double> top, bottom, depth, vs_initial, vs, g_ratio, damping, strain_eff,
        strain_max, stress_max, sigma_v, stress_ratio, peak_accel, displacement, density,
        unit_weight;
    std::vector<bool> clamped;
    for (int c = 0; c < static_cast<int>(runs.size()); ++c) {
        const auto& ls = runs[static_cast<std::size_t>(c)]->layers;
        for (std::size_t i = 0; i < ls.size(); ++i) {
            const auto& l = ls[i];
            component.push_back(c + 1);
            sublayer.push_back(static_cast<int>(i + 1));
            layer.push_back(static_cast<int>(l.layer + 1));
            soil.push_back(l.soil);
            top.push_back(l.top);
            bottom.push_back(l.bottom);
            depth.push_back(0.5 * (l.top + l.bottom));
            vs_initial.push_back(l.vs_initial);
            vs.push_back(l.vs_final);
            g_ratio.push_back(l.modulus_ratio);
            damping.push_back(l.damping);
            strain_eff.push_back(l.strain_eff);
            strain_max.push_back(l.strain_max);
            stress_max.push_back(l.stress_max);
            sigma_v.push_back(l.sigma_v);
            stress_ratio.push_back(l.stress_ratio);
            peak_accel.push_back(l.accel_top / sw::site::gravity); // g, as profile.csv has it
            displacement.push_back(l.displacement);
            clamped.push_back(l.clamped);
            density.push_back(l.density);
            unit_weight.push_back(l.unit_weight);
        }
    }
    py::dict d;
    d["component"] = to_array(component);
    d["sublayer"] = to_array(sublayer);
    d["layer"] = to_array(layer);
    d["soil"] = soil;
    d["top"] = to_array(top);
    d["bottom"] = to_array(bottom);
    d["depth"] = to_array(depth);
    d["vs_initial"] = to_array(vs_initial);
    d["vs"] = to_array(vs);
    d["g_ratio"] = to_array(g_ratio);
    d["damping"] = to_array(damping);
    d["strain_eff"] = to_array(strain_eff);
    d["strain_max"] = to_array(strain_max);
    d["stress_max"] = to_array(stress_max);
    d["sigma_v"] = to_array(sigma_v);
    d["stress_ratio"] = to_array(stress_ratio);
    d["peak_accel"] = to_array(peak_accel);
    d["displacement"] = to_array(displacement);
    d["clamped"] = py::cast(clamped);
    d["density"] = to_array(density);
    d["unit_weight"] = to_array(unit_weight);
    return d;
}

// The passes of each run (iterations.csv's rows): pass, component, errors, sublayers.
py::list pass_rows(const std::vector<const sw::eql::run_result*>& runs) {
    py::list passes;
    for (std::size_t c = 0; c < runs.size(); ++c) {
        for (const auto& p : runs[c]->passes) {
            passes.append(py::make_tuple(p.pass, static_cast<int>(c + 1), p.modulus, p.damping,
                                         static_cast<int>(p.modulus_at + 1),
                                         static_cast<int>(p.damping_at + 1)));
        }
    }
    return passes;
}

py::dict run_dict(const sw::memory_run& m) {
    py::dict d;
    d["input"] = input_name(m.input);
    d["angle"] = m.angle;
    d["nt"] = m.nt;
    d["dt"] = m.dt;
    d["nf"] = m.nf;
    d["note"] = m.note;
    d["input_unit"] = m.input_unit;
    d["surface_unit"] = m.surface_unit;
    d["freq"] = to_array(m.frequency);
    d["transfer_sh"] = complex_columns({&m.transfer[0], &m.transfer[1]});
    d["transfer_v"] = to_array(m.transfer[2]);
    d["factor"] = columns<float>({&m.factor[0], &m.factor[1], &m.factor[2]});
    d["fourier_input"] =
        columns<float>({&m.fourier_input[0], &m.fourier_input[1], &m.fourier_input[2]});
    d["fourier_surface"] =
        columns<float>({&m.fourier_surface[0], &m.fourier_surface[1], &m.fourier_surface[2]});
    d["surface"] = columns<float>({&m.surface[0], &m.surface[1], &m.surface[2]});
    d["peak_frequency"] = m.peak_frequency;
    d["peak_factor"] = m.peak_factor;
    d["periods"] = to_array(m.periods);
    py::list spectra;
    for (const auto& s : m.spectra) {
        py::dict x;
        x["damping"] = s.damping;
        x["input"] = columns<double>({&s.input[0], &s.input[1], &s.input[2]});
        x["surface"] = columns<double>({&s.surface[0], &s.surface[1], &s.surface[2]});
        if (!s.input_rotd[0].empty()) {
            x["input_rotd"] = columns<double>({&s.input_rotd[0], &s.input_rotd[1]});
            x["surface_rotd"] = columns<double>({&s.surface_rotd[0], &s.surface_rotd[1]});
        }
        spectra.append(x);
    }
    d["spectra"] = spectra;
    d["eql"] = m.eql;
    if (m.eql) {
        d["profile"] = profile_columns({&m.eql_runs[0], &m.eql_runs[1]});
        d["passes"] = pass_rows({&m.eql_runs[0], &m.eql_runs[1]});
        d["converged"] = py::make_tuple(m.eql_runs[0].converged, m.eql_runs[1].converged);
        d["iterations"] = py::make_tuple(m.eql_runs[0].passes.size(), m.eql_runs[1].passes.size());
        py::list depths;
        for (const auto& z : m.depths) {
            depths.append(py::make_tuple(z.depth, z.component + 1, z.outcrop, to_array(z.values)));
        }
        d["depths"] = depths;
    }
    return d;
}

// Every record on every profile; entry p * len(records) + r of the list: a dict, or the error's
// message (a str). The GIL is released while the runs go on; Ctrl-C stops them (the runs under
// way end first) and raises KeyboardInterrupt.
py::list run(const py::dict& options, const py::list& profiles, const py::list& records) {
    sw::batch_options o = make_options(options);
    std::vector<sw::memory_profile> ps;
    for (const auto& p : profiles) {
        ps.push_back(make_memory_profile(p.cast<py::tuple>()));
    }
    std::vector<sw::memory_record> rs;
    for (const auto& r : records) {
        rs.push_back(make_memory_record(r.cast<py::tuple>()));
    }
    std::atomic<bool> stop{false};
    o.stop = &stop;
    using all_runs = sw::result<std::vector<sw::result<sw::memory_run>>>;
    std::optional<all_runs> out;
    bool interrupted = false;
    {
        py::gil_scoped_release release;
        auto f = std::async(std::launch::async, [&] { return sw::run_in_memory(o, ps, rs); });
        while (f.wait_for(std::chrono::milliseconds(50)) != std::future_status::ready) {
            py::gil_scoped_acquire acquire;
            if (PyErr_CheckSignals() != 0) {
                stop = true;
                interrupted = true;
                break;
            }
        }
        out = f.get();
    }
    if (interrupted) {
        throw py::error_already_set();
    }
    if (!out->ok()) {
        raise(out->err());
    }
    py::list results;
    for (const auto& r : out->value()) {
        if (r) {
            results.append(run_dict(*r));
        } else {
            results.append(py::str(message_of(r.err())));
        }
    }
    return results;
}

sw::rvt::region region_of(const std::string& r) {
    if (r == "wna") {
        return sw::rvt::region::wna;
    }
    if (r == "cena") {
        return sw::rvt::region::cena;
    }
    throw py::value_error("region: \"" + r + "\" is not wna or cena");
}

const char* method_name(sw::rvt::peak_method m) {
    static const char* names[] = {"clh", "vanmarcke", "bj84", "bt12", "bt15"};
    return names[static_cast<int>(m)];
}

std::optional<double> optional_double(const py::dict& d, const char* key) {
    if (!d.contains(key) || d[key].is_none()) {
        return std::nullopt;
    }
    return d[key].cast<double>();
}

// An input of random vibration theory: {"kind": "fas"|"source"|"target", "name", "x", "y",
// "duration", "magnitude", "distance", "region", "stress_drop", "kappa", "damping"}.
sw::rvt_input make_rvt_input(const py::dict& d) {
    sw::rvt_input in;
    const std::string kind = d["kind"].cast<std::string>();
    in.what = kind == "fas"      ? sw::rvt_input::kind::fas
              : kind == "target" ? sw::rvt_input::kind::target
                                 : sw::rvt_input::kind::source;
    if (in.what != sw::rvt_input::kind::source) {
        in.file = d["name"].cast<std::string>();
        in.x = d["x"].cast<std::vector<double>>();
        in.y = d["y"].cast<std::vector<double>>();
        if (in.x.empty()) {
            throw py::value_error(in.file + ": no values");
        }
    }
    in.duration = optional_double(d, "duration");
    in.magnitude = optional_double(d, "magnitude");
    in.distance = optional_double(d, "distance");
    if (d.contains("region") && !d["region"].is_none()) {
        in.region = region_of(d["region"].cast<std::string>());
    }
    in.stress_drop = optional_double(d, "stress_drop");
    in.kappa = optional_double(d, "kappa");
    if (auto z = optional_double(d, "damping")) {
        in.damping = *z;
    }
    return in;
}

// The run of an rvt input on a profile: a dict of its results.
py::dict rvt_run(const py::dict& options, const py::tuple& profile, const py::dict& input,
                 const py::object& peak_factor) {
    sw::batch_options o = make_options(options);
    if (!peak_factor.is_none()) {
        const std::string pf = peak_factor.cast<std::string>();
        using m = sw::rvt::peak_method;
        if (pf == "clh") {
            o.peak_factor = m::clh;
        } else if (pf == "vanmarcke") {
            o.peak_factor = m::vanmarcke;
        } else if (pf == "bj84") {
            o.peak_factor = m::bj84;
        } else if (pf == "bt12") {
            o.peak_factor = m::bt12;
        } else if (pf == "bt15") {
            o.peak_factor = m::bt15;
        } else {
            throw py::value_error("peak_factor: \"" + pf +
                                  "\" is not clh, vanmarcke, bj84, bt12 or bt15");
        }
    }
    const sw::memory_profile p = make_memory_profile(profile);
    const sw::rvt_input in = make_rvt_input(input);
    std::optional<sw::result<sw::memory_rvt_run>> out;
    {
        py::gil_scoped_release release;
        out = sw::rvt_run_in_memory(o, p, in);
    }
    if (!out->ok()) {
        raise(out->err());
    }
    const auto& m = out->value();
    py::dict d;
    d["input"] = input_name(m.input);
    d["angle"] = m.angle;
    d["duration"] = m.duration;
    d["method"] = method_name(m.method);
    d["note"] = m.note;
    d["freq"] = to_array(m.frequency);
    d["fourier_input"] = to_array(m.fourier_input);
    d["fourier_surface"] = to_array(m.fourier_surface);
    d["factor"] = to_array(m.factor);
    d["peak_input"] = m.peak_input;
    d["peak_surface"] = m.peak_surface;
    d["periods"] = to_array(m.periods);
    py::list spectra;
    for (const auto& s : m.spectra) {
        spectra.append(py::make_tuple(s.damping, to_array(s.input), to_array(s.surface)));
    }
    d["spectra"] = spectra;
    d["eql"] = m.eql;
    if (m.eql) {
        d["profile"] = profile_columns({&m.eql_run});
        d["passes"] = pass_rows({&m.eql_run});
        d["converged"] = m.eql_run.converged;
        d["iterations"] = m.eql_run.passes.size();
    }
    return d;
}

py::dict psa(const floats& h1, const py::object& h2, double dt, const doubles& periods,
             double damping, bool rotd) {
    if (h1.ndim() != 1) {
        throw py::value_error("the history is not a one-dimensional array");
    }
    std::vector<float> a = to_floats(h1);
    std::vector<float> b;
    if (!h2.is_none()) {
        const auto x = h2.cast<floats>();
        if (x.ndim() != 1) {
            throw py::value_error("the second history is not a one-dimensional array");
        }
        b = to_floats(x);
    }
    if (periods.ndim() != 1) {
        throw py::value_error("periods: not a one-dimensional array");
    }
    const std::vector<double> t(periods.data(), periods.data() + periods.size());
    sw::result<sw::psa_result> r = [&] {
        py::gil_scoped_release release;
        return sw::response_spectrum(a, b, dt, t, damping, rotd);
    }();
    if (!r) {
        raise(r.err());
    }
    py::dict d;
    d["h1"] = to_array(r->h1);
    d["h2"] = to_array(r->h2);
    d["rotd50"] = to_array(r->rotd50);
    d["rotd100"] = to_array(r->rotd100);
    return d;
}

} // namespace

PYBIND11_MODULE(_sitewave, m) {
    m.doc() = "The sitewave library's readers, runs, curves and response spectra (the package "
              "sitewave wraps them; use it rather than this module).";
    m.def("read_record", &read_record, py::arg("path"));
    m.def("read_at2", &read_at2, py::arg("h1"), py::arg("h2"), py::arg("v"));
    m.def("read_profile", &read_profile, py::arg("path"));
    m.def("check_profile", [](const py::dict& d, const std::string& name) {
        return profile_dict(make_profile(d, name));
    });
    m.def("parse_site", &parse_site, py::arg("text"), py::arg("name"));
    m.def("read_site", &read_site, py::arg("path"));
    m.def("run", &run, py::arg("options"), py::arg("profiles"), py::arg("records"));
    m.def("rvt_run", &rvt_run, py::arg("options"), py::arg("profile"), py::arg("input"),
          py::arg("peak_factor"));
    m.def("psa", &psa, py::arg("h1"), py::arg("h2"), py::arg("dt"), py::arg("periods"),
          py::arg("damping"), py::arg("rotd"));
    m.def("log_periods", [](double tmin, double tmax, int n) {
        auto r = sw::log_periods(tmin, tmax, n);
        if (!r) {
            raise(r.err());
        }
        return to_array(*r);
    });
    m.def("published_names", &sw::curves::published_names);
    m.def("curve", [](const std::string& model, const py::dict& params, const doubles& strains) {
        return curve_values(make_curve(model, params), strains);
    });
    m.def("curve_name", [](const std::string& model, const py::dict& params) {
        return make_curve(model, params).name;
    });
    m.attr("version") = SITEWAVE_VERSION;
}
