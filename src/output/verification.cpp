#include "output/verification.hpp"

#include <cmath>
#include <cstdio>
#include <memory>
#include <sstream>

#include "input/input_error.hpp"
#include "input/text_file.hpp"
#include "input/cases/case_inputs.hpp"

namespace tarvo {

namespace {

constexpr double knots_per_m_s = 1.0 / (1852.0 * 0.00027777778);

// Linear interpolation of y(t) at t in the sorted times; nullopt outside.
std::optional<double> at_time(const std::vector<double>& t, const std::vector<double>& y, double x) {
  if (t.empty() || x < t.front() || x > t.back()) return std::nullopt;
  for (std::size_t i = 1; i < t.size(); ++i) {
    if (x <= t[i]) {
      const double w = (x - t[i - 1]) / (t[i] - t[i - 1]);
      const double v = (1.0 - w) * y[i - 1] + w * y[i];
      if (!std::isfinite(v)) return std::nullopt;
      return v;
    }
  }
  return std::isfinite(y.front()) ? std::optional<double>(y.front()) : std::nullopt;
}

}  // namespace

CaseVerification verify_texts(const std::string& dir, const std::string& track_in,
                              const std::string& track_out) {
  auto run = std::make_unique<CaseInputs>();
  run->diagnostics = nullptr;
  const std::string in_name = case_path(dir, "track.in"), out_name = case_path(dir, "track.out");
  run->parse_track(track_in, in_name);

  // Observed wind (knots) against hours since the first record.
  std::vector<double> obs_t, obs_v;
  for (int i = 1; i <= run->n_track; ++i) {
    obs_t.push_back(run->track_time[i] / 3600.0);
    obs_v.push_back(run->track_vobs[i] * knots_per_m_s);
  }
  // Modelled wind: line k of track.out lies 2 (k - 1) hours after the first record.
  std::vector<double> mod_t, mod_v;
  std::istringstream out(track_out);
  std::string line;
  int line_no = 1;
  if (!std::getline(out, line) || line.find("vmax") == std::string::npos)
    throw InputError(out_name, 1, "expected the header line of track.out");
  while (std::getline(out, line)) {
    ++line_no;
    if (line.size() < 42) throw InputError(out_name, line_no, "expected a data line of 61 columns");
    const std::string field = line.substr(37, 5);
    char* end = nullptr;
    double v = std::strtod(field.c_str(), &end);
    if (end == field.c_str()) v = std::nan("");  // asterisks
    mod_t.push_back(2.0 * static_cast<double>(mod_t.size()));
    mod_v.push_back(v);
  }

  CaseVerification c;
  c.dir = dir;
  const double start = run->track_time[run->i_start] / 3600.0;
  for (std::size_t l = 0; l < lead_hours.size(); ++l) {
    const double t = start + lead_hours[l];
    const auto o = at_time(obs_t, obs_v, t);
    const auto m = at_time(mod_t, mod_v, t);
    if (o && m) c.error[l] = *m - *o;
  }
  return c;
}

CaseVerification verify_case(const std::string& dir) {
  return verify_texts(dir, read_whole_file(case_path(dir, "track.in"), case_path(dir, "track.in")),
                      read_whole_file(case_path(dir, "track.out"), case_path(dir, "track.out")));
}

namespace {

struct LeadStats {
  int n = 0;
  double sum_abs = 0, sum = 0;
};

std::array<LeadStats, lead_hours.size()> set_stats(const std::vector<CaseVerification>& cases) {
  std::array<LeadStats, lead_hours.size()> s{};
  for (const auto& c : cases)
    for (std::size_t l = 0; l < lead_hours.size(); ++l)
      if (c.error[l]) {
        ++s[l].n;
        s[l].sum_abs += std::fabs(*c.error[l]);
        s[l].sum += *c.error[l];
      }
  return s;
}

}  // namespace

std::string verification_table(const std::vector<CaseVerification>& cases) {
  std::string t;
  char buf[64];
  std::size_t width = 11;  // "all cases" and two blanks
  for (const auto& c : cases) width = std::max(width, c.dir.size() + 2);
  auto pad = [&](const std::string& s) { return s + std::string(width > s.size() ? width - s.size() : 1, ' '); };
  t += pad("lead (h)") + "      ";
  for (int h : lead_hours) {
    std::snprintf(buf, sizeof buf, "%8d", h);
    t += buf;
  }
  t += "\n";
  for (const auto& c : cases) {
    t += pad(c.dir) + "error ";
    for (const auto& e : c.error) {
      if (e)
        std::snprintf(buf, sizeof buf, "%+8.1f", *e);
      else
        std::snprintf(buf, sizeof buf, "%8s", "-");
      t += buf;
    }
    t += "\n";
  }
  const auto s = set_stats(cases);
  const char* rows[] = {"MAE   ", "bias  ", "n     "};
  for (int r = 0; r < 3; ++r) {
    t += pad("all cases") + rows[r];
    for (const auto& x : s) {
      if (r == 2)
        std::snprintf(buf, sizeof buf, "%8d", x.n);
      else if (x.n == 0)
        std::snprintf(buf, sizeof buf, "%8s", "-");
      else
        std::snprintf(buf, sizeof buf, r == 0 ? "%8.1f" : "%+8.1f", r == 0 ? x.sum_abs / x.n : x.sum / x.n);
      t += buf;
    }
    t += "\n";
  }
  return t;
}

std::string verification_csv(const std::vector<CaseVerification>& cases) {
  std::string t = "case,lead_h,n,mae_kt,bias_kt\n";
  char buf[160];
  auto quoted = [](const std::string& s) {
    std::string q = "\"";
    for (char ch : s) q += ch == '"' ? std::string("\"\"") : std::string(1, ch);
    return q + "\"";
  };
  for (const auto& c : cases)
    for (std::size_t l = 0; l < lead_hours.size(); ++l)
      if (c.error[l]) {
        std::snprintf(buf, sizeof buf, ",%d,1,%.3f,%.3f\n", lead_hours[l], std::fabs(*c.error[l]), *c.error[l]);
        t += quoted(c.dir) + buf;
      }
  const auto s = set_stats(cases);
  for (std::size_t l = 0; l < lead_hours.size(); ++l)
    if (s[l].n > 0) {
      std::snprintf(buf, sizeof buf, "ALL,%d,%d,%.3f,%.3f\n", lead_hours[l], s[l].n, s[l].sum_abs / s[l].n,
                    s[l].sum / s[l].n);
      t += buf;
    }
  return t;
}

}  // namespace tarvo
