// The module functions over dates, times, zones and ISO 8601 durations: parse_iso_date,
// parse_iso_time, parse_datetime, parse_iso_duration, duration_isoformat and timezone_from_name.
#include "src/py_ref.h"

// datetime.h gives this file its own PyDateTimeAPI pointer, filled once per process.
#include <datetime.h>

#include <string>
#include <string_view>
#include <variant>

#include "src/binder.h"
#include "src/boundary.h"
#include "src/convert.h"
#include "src/registry.h"
#include "utils/src/isodate.h"

namespace tolvo::bindings {
namespace {

constexpr Signature kParseIsoDate{"parse_iso_date()", {"s"}, 1, 1};
constexpr Signature kParseIsoTime{"parse_iso_time()", {"s"}, 1, 1};
constexpr Signature kParseDatetime{"parse_datetime()", {"s"}, 1, 1};
constexpr Signature kParseIsoDuration{"parse_iso_duration()", {"s"}, 1, 1};
constexpr Signature kDurationIsoformat{"duration_isoformat()", {"tduration"}, 1, 1};
constexpr Signature kTimezoneFromName{"timezone_from_name()", {"name"}, 1, 1};

// The datetime C API, imported on first use; the interpreter lock makes the check-then-set safe.
const PyDateTime_CAPI& datetime_api() {
  if (PyDateTimeAPI == nullptr) {
    PyDateTime_IMPORT;
    if (PyDateTimeAPI == nullptr) throw_pending_error();
  }
  return *PyDateTimeAPI;
}

// Checks that a value Python code gave back is of `type` (or a subtype); else TypeError "'{}'
// object is not an instance of '{}'".
PyObject* checked_instance(PyRef value, PyTypeObject* type, const char* expected) {
  if (!value) throw_pending_error();
  if (PyObject_TypeCheck(value.get(), type)) return value.release();
  throw_not_instance_of(value.get(), expected);
}

// An attribute of a module, imported at call time so that a replaced attribute (or module) is
// honoured. The import machinery is asked directly: PyImport_ImportModule goes through
// builtins.__import__ with a from-list, which costs about a microsecond per call for the same
// module.
PyRef module_attribute(const char* module_name, const char* attribute) {
  PyRef name = PyRef::steal(PyUnicode_InternFromString(module_name));
  if (!name) throw_pending_error();
  PyRef module =
      PyRef::steal(PyImport_ImportModuleLevelObject(name.get(), nullptr, nullptr, nullptr, 0));
  if (!module) throw_pending_error();
  PyRef value = PyRef::steal(PyObject_GetAttrString(module.get(), attribute));
  if (!value) throw_pending_error();
  return value;
}

PyRef offset_delta(const PyDateTime_CAPI& api, int32_t offset_seconds) {
  PyRef delta = PyRef::steal(api.Delta_FromDelta(0, offset_seconds, 0, 1, api.DeltaType));
  if (!delta) throw_pending_error();
  return delta;
}

// parse_iso_time keeps the designator as the zone's name, also for a zero offset.
PyRef named_zone(const PyDateTime_CAPI& api, const std::optional<utils::TzInfo>& tzinfo) {
  if (!tzinfo) return PyRef::borrow(Py_None);
  const auto* offset = std::get_if<utils::Offset>(&*tzinfo);
  if (offset == nullptr) return PyRef::borrow(api.TimeZone_UTC);
  PyRef delta = offset_delta(api, offset->offset_seconds);
  PyRef timezone = module_attribute("datetime", "timezone");
  PyRef name = PyRef::steal(to_str(offset->name));
  PyRef zone =
      PyRef::steal(PyObject_CallFunctionObjArgs(timezone.get(), delta.get(), name.get(), nullptr));
  return PyRef::steal(checked_instance(std::move(zone), api.TZInfoType, "tzinfo"));
}

// parse_datetime gives timezone.utc for every zero offset and unnamed fixed offsets otherwise.
PyRef unnamed_zone(const PyDateTime_CAPI& api, const std::optional<utils::TzInfo>& tzinfo) {
  if (!tzinfo) return PyRef::borrow(Py_None);
  const auto* offset = std::get_if<utils::Offset>(&*tzinfo);
  if (offset == nullptr || offset->offset_seconds == 0) return PyRef::borrow(api.TimeZone_UTC);
  PyRef delta = offset_delta(api, offset->offset_seconds);
  PyRef zone = PyRef::steal(api.TimeZone_FromTimeZone(delta.get(), nullptr));
  if (!zone) throw_pending_error();
  return zone;
}

// The host's constructors test the ranges the readers leave open and raise their own errors.
PyObject* checked(PyObject* value) {
  if (value == nullptr) throw_pending_error();
  return value;
}

PyObject* parse_iso_date(PyObject*, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) {
  return call_boundary<PyObject*>(nullptr, [&] {
    PyObject* slots[1];
    bind_fastcall(kParseIsoDate, args, nargsf, kwnames, slots);
    const std::string_view text = text_argument(slots[0], "s");
    const PyDateTime_CAPI& api = datetime_api();
    auto date = without_interpreter_lock([&] { return utils::parse_date(text); });
    if (!date) throw_value_error(date.error());
    return checked(api.Date_FromDate(date->year, date->month, date->day, api.DateType));
  });
}

PyObject* parse_iso_time(PyObject*, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) {
  return call_boundary<PyObject*>(nullptr, [&] {
    PyObject* slots[1];
    bind_fastcall(kParseIsoTime, args, nargsf, kwnames, slots);
    const std::string_view text = text_argument(slots[0], "s");
    const PyDateTime_CAPI& api = datetime_api();
    auto time = without_interpreter_lock([&] { return utils::parse_time(text); });
    if (!time) throw_value_error(time.error());
    PyRef zone = named_zone(api, time->tzinfo);
    return checked(api.Time_FromTime(time->hour, time->minute, time->second, time->microsecond,
                                     zone.get(), api.TimeType));
  });
}

// Today's date from datetime.date.today(), asked on every call so that a replaced datetime.date
// is honoured.
utils::IsoDate today(const PyDateTime_CAPI& api) {
  PyRef date_type = module_attribute("datetime", "date");
  PyRef today = PyRef::steal(PyObject_CallMethod(date_type.get(), "today", nullptr));
  PyRef date = PyRef::steal(checked_instance(std::move(today), api.DateType, "date"));
  return utils::IsoDate{PyDateTime_GET_YEAR(date.get()),
                        static_cast<uint8_t>(PyDateTime_GET_MONTH(date.get())),
                        static_cast<uint8_t>(PyDateTime_GET_DAY(date.get()))};
}

PyObject* parse_datetime(PyObject*, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) {
  return call_boundary<PyObject*>(nullptr, [&] {
    PyObject* slots[1];
    bind_fastcall(kParseDatetime, args, nargsf, kwnames, slots);
    const std::string_view text = text_argument(slots[0], "s");
    const PyDateTime_CAPI& api = datetime_api();
    const utils::IsoDate default_date = today(api);
    auto parsed = without_interpreter_lock(
        [&] { return utils::parse_datetime_with_default_date(text, default_date); });
    if (!parsed) throw_value_error(parsed.error());
    PyRef zone = unnamed_zone(api, parsed->time.tzinfo);
    const utils::IsoDate& date = parsed->date;
    const utils::IsoTime& time = parsed->time;
    return checked(api.DateTime_FromDateAndTime(date.year, date.month, date.day, time.hour,
                                                time.minute, time.second, time.microsecond,
                                                zone.get(), api.DateTimeType));
  });
}

PyObject* parse_iso_duration(PyObject*, PyObject* const* args, Py_ssize_t nargsf,
                             PyObject* kwnames) {
  return call_boundary<PyObject*>(nullptr, [&] {
    PyObject* slots[1];
    bind_fastcall(kParseIsoDuration, args, nargsf, kwnames, slots);
    const std::string_view text = text_argument(slots[0], "s");
    const PyDateTime_CAPI& api = datetime_api();
    auto duration = without_interpreter_lock([&] { return utils::parse_duration(text); });
    if (!duration) throw_value_error(duration.error());
    const auto* exact = std::get_if<utils::Exact>(&*duration);
    if (exact == nullptr) {
      std::string message = "ISO 8601 duration '";
      message += text;
      message += "' contains year/month components that cannot be represented as a fixed timedelta";
      throw_error(PyExc_TypeError, message);
    }
    const auto triple = utils::split_timedelta(exact->microseconds);
    if (!triple) throw_error(PyExc_OverflowError, triple.error());
    // The triple is already normalised; the host still refuses more than 999,999,999 days.
    return checked(
        api.Delta_FromDelta(triple->days, triple->seconds, triple->microseconds, 0, api.DeltaType));
  });
}

PyObject* duration_isoformat(PyObject*, PyObject* const* args, Py_ssize_t nargsf,
                             PyObject* kwnames) {
  return call_boundary<PyObject*>(nullptr, [&] {
    PyObject* slots[1];
    bind_fastcall(kDurationIsoformat, args, nargsf, kwnames, slots);
    const PyDateTime_CAPI& api = datetime_api();
    PyObject* delta = slots[0];
    if (!PyObject_TypeCheck(delta, api.DeltaType)) {
      throw_error(PyExc_TypeError, "duration_isoformat expects a datetime.timedelta");
    }
    const int32_t days = PyDateTime_DELTA_GET_DAYS(delta);
    const int32_t seconds = PyDateTime_DELTA_GET_SECONDS(delta);
    const int32_t microseconds = PyDateTime_DELTA_GET_MICROSECONDS(delta);
    const std::string text = without_interpreter_lock(
        [&] { return utils::duration_isoformat(days, seconds, microseconds); });
    return to_str(text);
  });
}

PyObject* timezone_from_name(PyObject*, PyObject* const* args, Py_ssize_t nargsf,
                             PyObject* kwnames) {
  return call_boundary<PyObject*>(nullptr, [&] {
    PyObject* slots[1];
    bind_fastcall(kTimezoneFromName, args, nargsf, kwnames, slots);
    const std::string_view name = text_argument(slots[0], "name");
    if (name.empty()) return PyRef::borrow(Py_None).release();
    const PyDateTime_CAPI& api = datetime_api();
    PyRef zone_info = module_attribute("zoneinfo", "ZoneInfo");
    PyRef key = PyRef::steal(to_str(name));
    PyRef zone = PyRef::steal(PyObject_CallOneArg(zone_info.get(), key.get()));
    // An unknown or malformed name is "no such zone"; an interrupt or exit request is not.
    if (!zone && PyErr_ExceptionMatches(PyExc_Exception)) {
      PyErr_Clear();
      return PyRef::borrow(Py_None).release();
    }
    return checked_instance(std::move(zone), api.TZInfoType, "tzinfo");
  });
}

PyMethodDef definitions[] = {
    {"parse_iso_date", fastcall_entry<parse_iso_date>(), METH_FASTCALL | METH_KEYWORDS,
     "parse_iso_date(s)\n--\n\n"},
    {"parse_iso_time", fastcall_entry<parse_iso_time>(), METH_FASTCALL | METH_KEYWORDS,
     "parse_iso_time(s)\n--\n\n"},
    {"parse_datetime", fastcall_entry<parse_datetime>(), METH_FASTCALL | METH_KEYWORDS,
     "parse_datetime(s)\n--\n\n"},
    {"parse_iso_duration", fastcall_entry<parse_iso_duration>(), METH_FASTCALL | METH_KEYWORDS,
     "parse_iso_duration(s)\n--\n\n"},
    {"duration_isoformat", fastcall_entry<duration_isoformat>(), METH_FASTCALL | METH_KEYWORDS,
     "duration_isoformat(tduration)\n--\n\n"},
    {"timezone_from_name", fastcall_entry<timezone_from_name>(), METH_FASTCALL | METH_KEYWORDS,
     "timezone_from_name(name)\n--\n\n"},
};

const FunctionRegistration registrations[] = {
    FunctionRegistration(&definitions[0]), FunctionRegistration(&definitions[1]),
    FunctionRegistration(&definitions[2]), FunctionRegistration(&definitions[3]),
    FunctionRegistration(&definitions[4]), FunctionRegistration(&definitions[5]),
};

}  // namespace
}  // namespace tolvo::bindings
