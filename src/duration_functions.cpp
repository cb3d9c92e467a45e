// The module functions over duration strings: parse_duration_ms, parse_duration_s and
// seconds_to_duration_string.
#include <cstdint>
#include <expected>
#include <string>

#include "src/binder.h"
#include "src/boundary.h"
#include "src/convert.h"
#include "src/py_ref.h"
#include "src/registry.h"
#include "utils/src/duration.h"

namespace tolvo::bindings {
namespace {

constexpr Signature kParseDurationMs{"parse_duration_ms()", {"s"}, 1, 1};
constexpr Signature kParseDurationS{"parse_duration_s()", {"s"}, 1, 1};
constexpr Signature kSecondsToDurationString{
    "seconds_to_duration_string()", {"total_seconds"}, 1, 1};

using DurationParser = std::expected<int64_t, std::string> (*)(std::string_view);

PyObject* parse_with(DurationParser parse, const Signature& signature, PyObject* const* args,
                     Py_ssize_t nargsf, PyObject* kwnames) {
  return call_boundary<PyObject*>(nullptr, [&] {
    PyObject* slots[1];
    bind_fastcall(signature, args, nargsf, kwnames, slots);
    const std::string_view text = text_argument(slots[0], "s");
    auto result = without_interpreter_lock([&] { return parse(text); });
    if (!result) throw_value_error(result.error());
    return made(PyLong_FromLongLong(*result));
  });
}

PyObject* parse_duration_ms(PyObject*, PyObject* const* args, Py_ssize_t nargsf,
                            PyObject* kwnames) {
  return parse_with(utils::parse_duration_ms, kParseDurationMs, args, nargsf, kwnames);
}

PyObject* parse_duration_s(PyObject*, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) {
  return parse_with(utils::parse_duration_s, kParseDurationS, args, nargsf, kwnames);
}

PyObject* seconds_to_duration_string(PyObject*, PyObject* const* args, Py_ssize_t nargsf,
                                     PyObject* kwnames) {
  return call_boundary<PyObject*>(nullptr, [&] {
    PyObject* slots[1];
    bind_fastcall(kSecondsToDurationString, args, nargsf, kwnames, slots);
    const double seconds = float_argument(slots[0], "total_seconds");
    std::string text =
        without_interpreter_lock([&] { return utils::seconds_to_duration_string(seconds); });
    return to_str(text);
  });
}

PyMethodDef definitions[] = {
    {"parse_duration_ms", fastcall_entry<parse_duration_ms>(), METH_FASTCALL | METH_KEYWORDS,
     "parse_duration_ms(s)\n--\n\n"},
    {"parse_duration_s", fastcall_entry<parse_duration_s>(), METH_FASTCALL | METH_KEYWORDS,
     "parse_duration_s(s)\n--\n\n"},
    {"seconds_to_duration_string", fastcall_entry<seconds_to_duration_string>(),
     METH_FASTCALL | METH_KEYWORDS, "seconds_to_duration_string(total_seconds)\n--\n\n"},
};

const FunctionRegistration registrations[] = {
    FunctionRegistration(&definitions[0]),
    FunctionRegistration(&definitions[1]),
    FunctionRegistration(&definitions[2]),
};

}  // namespace
}  // namespace tolvo::bindings
