// track.out: a header line and one fixed-column line per output sample, and
// the progress line of the time loop.
#include <cerrno>
#include <fcntl.h>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <unistd.h>

#include "input/input_error.hpp"
#include "input/text_file.hpp"
#include "model/run.hpp"
#include "input/calendar.hpp"
#include "output/format.hpp"
#include "output/progress.hpp"
#include "output/track_output.hpp"

namespace tarvo {

std::string fixed_field(double value, int width, int decimals) {
  std::string s;
  if (std::isnan(value)) {
    s = "NaN";
  } else if (std::isinf(value)) {
    s = value < 0 ? "-Infinity" : "Infinity";
    if (static_cast<int>(s.size()) > width) s = value < 0 ? "-Inf" : "Inf";
  } else {
    char buf[512];
    std::snprintf(buf, sizeof buf, "%.*f", decimals, value);
    s = buf;
  }
  if (static_cast<int>(s.size()) > width) return std::string(static_cast<std::size_t>(width), '*');
  return std::string(static_cast<std::size_t>(width) - s.size(), ' ') + s;
}

std::string integer_field(long value, int width) {
  std::string s = std::to_string(value);
  if (static_cast<int>(s.size()) > width) return std::string(static_cast<std::size_t>(width), '*');
  return std::string(static_cast<std::size_t>(width) - s.size(), ' ') + s;
}

std::string significant_field(double value, int width, int digits) {
  int decimals = digits - 1;
  if (std::isfinite(value) && value != 0.0) {
    const int int_digits = static_cast<int>(std::floor(std::log10(std::fabs(value)))) + 1;
    decimals = digits - int_digits;
    if (decimals < 0) decimals = 0;
  }
  return fixed_field(value, width, decimals);
}

ProgressSink progress_lines(std::FILE* out) {
  if (!out) return nullptr;
  return {[](void* context, float hours) { write_progress_line(static_cast<std::FILE*>(context), hours); }, out};
}

void write_progress_line(std::FILE* out, float hours) {
  std::fprintf(out, "  Finished  %s       hours\n", significant_field(hours, 13, 9).c_str());
  std::fflush(out);
}

std::vector<OutputSample> output_samples(const Run& run) {
  std::vector<OutputSample> rows(static_cast<std::size_t>(run.n_samples));
  DateHour d = move_hours(run.start_month, run.start_day, static_cast<long>(run.t_first_hours) + run.start_hour);
  for (int k = 1; k <= run.n_samples; ++k) {
    if (k > 1) d = next_sample(d);
    OutputSample& r = rows[static_cast<std::size_t>(k - 1)];
    r.month = d.month;
    r.day = d.day;
    r.hour = d.hour;
    r.lat = run.samp_lat[k];
    r.lon = run.samp_lon[k];
    r.vmax_kt = run.vmax_series[k];
    r.rmw_km = 2.0f * run.rmw_series[k];
    r.pmin_hpa = run.pmin_series[k];
    r.vobs_kt = run.samp_vobs[k] * 3600.0f * 0.00053995679f;  // m/s to kt
  }
  return rows;
}

std::string track_out_text(const std::vector<OutputSample>& rows) {
  std::string text = " month day time latitude longitude vmax(knots) Rm(km) Pmin(mb)\n";
  text.reserve(text.size() + rows.size() * 62);
  for (const OutputSample& r : rows) {
    text += "  " + integer_field(r.month, 3) + " " + integer_field(r.day, 3) + " " +
            integer_field(r.hour, 3) + "   " + fixed_field(r.lat, 7, 3) + "   " +
            fixed_field(r.lon, 7, 3) + "    " + fixed_field(r.vmax_kt, 5, 1) + "    " +
            fixed_field(r.rmw_km, 5, 1) + "    " + fixed_field(r.pmin_hpa, 6, 1) + "\n";
  }
  return text;
}

std::string Run::track_output_text() const { return track_out_text(output_samples(*this)); }

void write_file_whole(const std::string& path, const std::string& text) {
  // Written to a temporary file beside the target and renamed over it only
  // when complete, so a failed write never leaves a partial or mixed file.
  // The temporary's name is unique to this process and call; O_EXCL refuses
  // any leftover.
  std::string tmp;
  int fd = -1;
  char id[64];
  for (int attempt = 0; fd < 0 && attempt < 100; ++attempt) {
    std::snprintf(id, sizeof id, ".tmp.%ld.%p.%d", static_cast<long>(::getpid()),
                  static_cast<const void*>(&text), attempt);
    tmp = path + id;
    fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && errno != EEXIST) break;
  }
  if (fd < 0) throw InputError(path, 0, std::string("cannot create: ") + std::strerror(errno));
  const char* p = text.data();
  std::size_t left = text.size();
  int err = 0;
  while (left > 0) {
    const ssize_t w = ::write(fd, p, left);
    if (w < 0) {
      if (errno == EINTR) continue;
      err = errno;
      break;
    }
    p += w;
    left -= static_cast<std::size_t>(w);
  }
  if (::close(fd) != 0 && !err) err = errno;
  if (!err && std::rename(tmp.c_str(), path.c_str()) != 0) err = errno;
  if (err) {
    std::remove(tmp.c_str());
    throw InputError(path, 0, std::string("cannot write: ") + std::strerror(err));
  }
}

void Run::write_track_output() const {
  write_file_whole(case_path(case_dir, "track.out"), track_output_text());
}

}  // namespace tarvo
