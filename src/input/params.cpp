// params.in: four free-format numbers, each read from the start of a new line
// (anything after the value on its line is a comment).
#include "input/free_format.hpp"
#include "input/input_error.hpp"
#include "input/text_file.hpp"
#include "input/case_inputs.hpp"

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

}  // namespace tarvo
