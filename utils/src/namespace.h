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

// Compiles the patterns of to_snake_case now, so that no thread is inside their first compilation
// when another forks.
void initialise_snake_case();

// Splits the namespace at each "::", drops empty segments, converts each segment with
// to_snake_case, appends the name unchanged when it is present and not empty, and joins the parts
// with "::". An absent namespace counts as empty text. Never fails.
std::string build_namespaced_name(std::optional<std::string_view> namespace_path,
                                  std::optional<std::string_view> name);

namespace internal {

// The full, root-locale Unicode lowercase of UTF-8 text, handed to ICU in pieces of at most
// `max_chunk` bytes (ICU counts in 32 bits); exposed for its unit test.
std::string full_lowercase(std::string_view text, size_t max_chunk);

}  // namespace internal

}  // namespace tolvo::utils
