// Snake case and namespaced names: "UserFeatures" becomes "user_features", and the namespace path
// "MyApp::UserFeatures" with the name "Total" becomes "my_app::user_features::Total".
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tolvo::utils {

// Converts a CamelCase identifier of UTF-8 text to snake_case: an underscore before each
// capitalised ASCII word and between a small ASCII letter or digit and a following ASCII capital,
// then the full, locale-independent Unicode lowercase of the whole text. Never fails; safe to call
// from any number of threads at once.
std::string to_snake_case(std::string_view text);

// Splits the namespace at each "::", drops empty segments, converts each segment with
// to_snake_case, appends the name unchanged when it is present and not empty, and joins the parts
// with "::". An absent namespace counts as empty text. Never fails.
std::string build_namespaced_name(std::optional<std::string_view> namespace_path,
                                  std::optional<std::string_view> name);

}  // namespace tolvo::utils
