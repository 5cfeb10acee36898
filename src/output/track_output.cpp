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

std::string Run::track_output_text() const {
  std::string text = " month day time latitude longitude vmax(knots) Rm(km) Pmin(mb)\n";
  text.reserve(text.size() + static_cast<std::size_t>(n_samples) * 62);
  DateHour d = move_hours(start_month, start_day, static_cast<long>(t_first_hours) + start_hour);
  for (int k = 1; k <= n_samples; ++k) {
    if (k > 1) d = next_sample(d);
    text += "  " + integer_field(d.month, 3) + " " + integer_field(d.day, 3) + " " +
            integer_field(d.hour, 3) + "   " + fixed_field(samp_lat[k], 7, 3) + "   " +
            fixed_field(samp_lon[k], 7, 3) + "    " + fixed_field(vmax_series[k], 5, 1) + "    " +
            fixed_field(2.0f * rmw_series[k], 5, 1) + "    " + fixed_field(pmin_series[k], 6, 1) +
            "\n";
  }
  return text;
}

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
