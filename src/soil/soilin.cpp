#include "soil/soilin.hpp"

#include "textio/fields.hpp"
#include "textio/format_write.hpp"
#include "textio/list_read.hpp"
#include "textio/list_write.hpp"

#include <cmath>

namespace sitewave::soil {

namespace {

using textio::empty_line;
using textio::fmt_write;
using textio::list_read;
using textio::list_write;
using textio::shortest;

// pi/180 as a float (bit pattern 3C8EFA35).
constexpr float deg_to_rad = 0.017453292f;

const textio::format& heading_format() {
    static const textio::format f(
        "(/,'   Total Number of Layers =',I5,/,'   Layer,Density,Vp(real),    Qp  ,  Fp  ,"
        "Vs(real),    Qs  ,  Fs  ,Thickness(m)')");
    return f;
}

const textio::format& row_format() {
    static const textio::format f("(I6,F9.3,2(F9.2,F9.3,F7.3),F12.3)");
    return f;
}

void skip_line(textio::input_unit& in) { list_read r(in); }

} // namespace

void soilin(const std::string& name, textio::io_state& state, soil_profile& p, progress& prog,
            const std::string& path) {
    textio::input_unit in(4, name, state, path);

    skip_line(in);
    list_read(in).item(p.angle);
    prog.stage = 1;
    {
        list_read r(in);
        r.item(p.nin);
        p.nin_line = r.line();
    }
    prog.stage = 2;
    skip_line(in);
    {
        list_read r(in);
        r.item(p.nl);
        p.nl_line = r.line();
    }
    prog.stage = 3;
    skip_line(in);

    // Rows are stored in file order whatever number they carry; the table grows as rows are
    // read, so a declared count larger than the file ends in the end-of-file report.
    auto& t = p.layers;
    for (int l = 0; l < p.nl; ++l) {
        int i = prog.numbers.empty() ? 0 : prog.numbers.back();
        float dns = 0.0f, vp = 0.0f, qp = 0.0f, fp = 0.0f, vs = 0.0f, qs = 0.0f, fs = 0.0f,
              thk = 0.0f;
        {
            list_read r(in);
            r.item(i);
            for (float* v : {&dns, &vp, &qp, &fp, &vs, &qs, &fs, &thk}) {
                r.item(*v);
            }
        }
        t.dns.push_back(dns);
        t.vp.push_back(vp);
        t.qp.push_back(qp);
        t.fp.push_back(fp);
        t.vs.push_back(vs);
        t.qs.push_back(qs);
        t.fs.push_back(fs);
        t.thk.push_back(thk);
        prog.numbers.push_back(i);
    }
    p.theta = p.angle * deg_to_rad;
}

void echo(textio::output_unit& console, const soil_profile& p, const progress& prog) {
    empty_line(console);
    list_write(console) << "From Subroutine SOILIN:";
    if (prog.stage < 1) {
        return;
    }
    list_write(console) << "  Incident Wave Angle (degree) =" << p.angle;
    if (prog.stage < 2) {
        return;
    }
    list_write(console) << "  Input Wave Type =" << p.nin;
    list_write(console) << "    (=1: Data of Theoretical Input Data in Bedrock";
    list_write(console) << "    ,=2: Data Observed at Boreholein Bedrock)";
    if (prog.stage < 3) {
        return;
    }
    fmt_write(console, heading_format()) << p.nl;
    const auto& t = p.layers;
    for (std::size_t k = 0; k < prog.numbers.size(); ++k) {
        fmt_write(console, row_format()) << prog.numbers[k] << t.dns[k] << t.vp[k] << t.qp[k]
                                         << t.fp[k] << t.vs[k] << t.qs[k] << t.fs[k] << t.thk[k];
    }
}

std::string check_profile(const soil_profile& p, const std::string& file) {
    if (p.nin != 1 && p.nin != 2) {
        return file + ": line " + std::to_string(p.nin_line) + ": input wave type " +
               std::to_string(p.nin) + " is neither 1 (incident motion) nor 2 (borehole motion)";
    }
    if (p.nl < 1) {
        return file + ": line " + std::to_string(p.nl_line) + ": number of layers " +
               std::to_string(p.nl) + " is less than 1 (the half-space row is needed)";
    }
    return check_layers(p.layers, p.nl, file + ": ");
}

std::string check_layers(const layer_table& t, int nl, const std::string& where) {
    for (int l = 0; l < nl; ++l) {
        const auto k = static_cast<std::size_t>(l);
        const std::string row = where + "layer row " + std::to_string(l + 1) + ": ";
        const struct {
            const char* name;
            float value;
        } fields[] = {{"density", t.dns[k]}, {"Vp", t.vp[k]},        {"Qp", t.qp[k]},
                      {"Fp", t.fp[k]},       {"Vs", t.vs[k]},        {"Qs", t.qs[k]},
                      {"Fs", t.fs[k]},       {"thickness", t.thk[k]}};
        for (const auto& f : fields) {
            if (!std::isfinite(f.value)) {
                return row + f.name + " is not a finite number";
            }
        }
        for (const auto& f : {fields[0], fields[4], fields[5], fields[2]}) {
            if (!(f.value > 0.0f)) {
                return row + f.name + " " + shortest(f.value) + " is not positive";
            }
        }
        if (!(t.vp[k] > t.vs[k])) {
            return row + "Vp " + shortest(t.vp[k]) + " is not greater than Vs " + shortest(t.vs[k]);
        }
        if (l + 1 < nl && t.thk[k] < 0.0f) {
            return row + "thickness " + shortest(t.thk[k]) + " is negative";
        }
    }
    return {};
}

std::string layer_shape_fault(const layer_table& t, int rows) {
    const std::vector<float>* columns[] = {&t.dns, &t.vp, &t.qp, &t.fp,
                                           &t.vs,  &t.qs, &t.fs, &t.thk};
    const std::size_t want = rows >= 0 ? static_cast<std::size_t>(rows) : t.dns.size();
    bool same = true;
    std::string sizes;
    for (const auto* c : columns) {
        same = same && c->size() == want;
        sizes.append(sizes.empty() ? "" : ", ").append(std::to_string(c->size()));
    }
    if (same) {
        return {};
    }
    return "the layer table's columns (dns, vp, qp, fp, vs, qs, fs, thk) hold " + sizes + " rows" +
           (rows >= 0 ? ", not " + std::to_string(rows) + " each" : ", not one number");
}

} // namespace sitewave::soil

namespace sitewave {

result<void> check_profile(const profile& p, const std::string& file) {
    return textio::capture([&] {
        if (const std::string why = soil::layer_shape_fault(p.layers, p.nl > 0 ? p.nl : 0);
            !why.empty()) {
            textio::invalid_argument("check_profile", why + " (nl = " + std::to_string(p.nl) + ")");
        }
        if (const std::string why = soil::check_profile(p, file); !why.empty()) {
            textio::refuse(why);
        }
    });
}

result<profile> read_profile(const std::string& path) {
    textio::io_state state;
    return textio::capture(
        [&] {
            soil::progress prog;
            profile p;
            soil::soilin(path, state, p, prog);
            if (const std::string why = soil::check_profile(p, path); !why.empty()) {
                textio::refuse(why);
            }
            return p;
        },
        &state);
}

} // namespace sitewave
