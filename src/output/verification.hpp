#pragma once
// Verification of a forecast against its observed track: the modelled maximum
// wind of track.out minus the observed wind of track.in, both interpolated in
// time, at fixed lead times after the start record.
#include <array>
#include <optional>
#include <string>
#include <vector>

namespace tarvo {

inline constexpr std::array<int, 7> lead_hours = {0, 12, 24, 48, 72, 96, 120};

struct CaseVerification {
  std::string dir;
  // Modelled minus observed maximum wind (knots) at each lead time; empty
  // where the lead time lies beyond the track or the output.
  std::array<std::optional<double>, lead_hours.size()> error;
};

// Reads `dir`/track.in and `dir`/track.out; throws InputError naming the file.
CaseVerification verify_case(const std::string& dir);

// The same from the texts of track.in and track.out.
CaseVerification verify_texts(const std::string& dir, const std::string& track_in,
                              const std::string& track_out);

// Per case the error at each lead; for the whole set the number of cases, the
// mean absolute error and the bias at each lead.
std::string verification_table(const std::vector<CaseVerification>& cases);
// The same as CSV: case,lead_h,n,mae_kt,bias_kt (case "ALL" for the whole set).
std::string verification_csv(const std::vector<CaseVerification>& cases);

}  // namespace tarvo
