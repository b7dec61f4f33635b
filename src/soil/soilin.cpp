#include "soil/soilin.hpp"

#include "textio/format_write.hpp"
#include "textio/list_read.hpp"
#include "textio/list_write.hpp"

#include <charconv>
#include <cmath>

namespace sitewave::soil {

namespace {

using textio::empty_line;
using textio::fmt_write;
using textio::list_read;
using textio::list_write;

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

std::string shortest(float v) {
    char buf[32];
    const auto r = std::to_chars(buf, buf + sizeof buf, v);
    return std::string(buf, r.ptr);
}

} // namespace

soil_profile soilin(textio::output_unit& console) {
    empty_line(console);
    list_write(console) << "From Subroutine SOILIN:";
    textio::input_unit in(4, soil_file);
    soil_profile p;

    skip_line(in);
    float thet1 = 0.0f;
    list_read(in).item(thet1);
    list_write(console) << "  Incident Wave Angle (degree) =" << thet1;

    {
        list_read r(in);
        r.item(p.nin);
        p.nin_line = r.line();
    }
    list_write(console) << "  Input Wave Type =" << p.nin;
    list_write(console) << "    (=1: Data of Theoretical Input Data in Bedrock";
    list_write(console) << "    ,=2: Data Observed at Boreholein Bedrock)";

    skip_line(in);
    {
        list_read r(in);
        r.item(p.nl);
        p.nl_line = r.line();
    }
    fmt_write(console, heading_format()) << p.nl;
    skip_line(in);

    // Rows are stored in file order whatever number they carry; the table grows as rows are
    // read, so a declared count larger than the file ends in the end-of-file report.
    auto& t = p.layers;
    int i = 0;
    for (int l = 0; l < p.nl; ++l) {
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
        fmt_write(console, row_format()) << i << dns << vp << qp << fp << vs << qs << fs << thk;
    }
    p.theta = thet1 * deg_to_rad;
    return p;
}

std::string check_profile(const soil_profile& p) {
    const std::string file = soil_file;
    if (p.nin != 1 && p.nin != 2) {
        return file + ": line " + std::to_string(p.nin_line) + ": input wave type " +
               std::to_string(p.nin) + " is neither 1 (incident motion) nor 2 (borehole motion)";
    }
    if (p.nl < 1) {
        return file + ": line " + std::to_string(p.nl_line) + ": number of layers " +
               std::to_string(p.nl) + " is less than 1 (the half-space row is needed)";
    }
    const auto& t = p.layers;
    for (int l = 0; l < p.nl; ++l) {
        const auto k = static_cast<std::size_t>(l);
        const std::string row = file + ": layer row " + std::to_string(l + 1) + ": ";
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
        if (l + 1 < p.nl && t.thk[k] < 0.0f) {
            return row + "thickness " + shortest(t.thk[k]) + " is negative";
        }
    }
    return {};
}

} // namespace sitewave::soil
