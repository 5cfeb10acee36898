// params.in: four free-format numbers, each read from the start of a new line
// (anything after the value on its line is a comment).
#include <cstdio>

#include "input/cases/free_format.hpp"
#include "input/input_error.hpp"
#include "input/text_file.hpp"
#include "input/cases/case_inputs.hpp"

namespace tarvo {

void CaseInputs::parse_params(std::string_view text, const std::string& shown) {
  FreeFormatReader reader(text);
  struct Value {
    float* target;
    const char* name;
  };
  const Value values[] = {{&smooth_vobs, "smoothing weight of the observed wind"},
                          {&smooth_dist, "smoothing weight of the along-track distance"},
                          {&smooth_f6, "smoothing weight of field 6"},
                          {&nudge_gain, "intensity feedback gain"}};
  for (const Value& v : values) {
    switch (reader.read({FreeFormatReader::real(*v.target, v.name)})) {
      case FreeFormatReader::Status::ok:
        break;
      case FreeFormatReader::Status::end_of_file:
        throw InputError(shown, reader.line(),
                         std::string("end of file; expected a number (") + v.name + ")");
      case FreeFormatReader::Status::bad_value:
        throw InputError(shown, reader.line(), reader.problem());
    }
  }
}

std::string params_text(const ModelParams& p) {
  char buf[256];
  // Nine significant digits read back to the same float.
  std::snprintf(buf, sizeof buf,
                "%.9g  smoothing weight of the observed wind\n%.9g  smoothing weight of the along-track distance\n"
                "%.9g  smoothing weight of field 6\n%.9g  intensity feedback gain\n",
                static_cast<double>(p.smooth_vobs), static_cast<double>(p.smooth_dist),
                static_cast<double>(p.smooth_f6), static_cast<double>(p.nudge_gain));
  return buf;
}

}  // namespace tarvo
