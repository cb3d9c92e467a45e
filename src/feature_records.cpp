// The record classes FeatureClassAST and FeatureFieldAST: one feature class and one of its fields.
#include "src/record_conversions.h"
#include "src/registry.h"

namespace tolvo::bindings {
namespace {

using ast::FeatureClassAST;
using ast::FeatureFieldAST;

PyGetSetDef field_properties[] = {
    record_property<&FeatureFieldAST::field_name>("field_name"),
    record_property<&FeatureFieldAST::field_name_location>("field_name_location"),
    record_property<&FeatureFieldAST::comment>("comment"),
    record_property<&FeatureFieldAST::description>("description"),
    record_property<&FeatureFieldAST::owner>("owner"),
    record_property<&FeatureFieldAST::tags>("tags"),
    record_property<&FeatureFieldAST::annotation>("annotation"),
    record_property<&FeatureFieldAST::feature_call>("feature_call"),
    record_property<&FeatureFieldAST::kwarg_names>("kwarg_names"),
    record_property<&FeatureFieldAST::kwargs>("kwargs"),
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyGetSetDef class_properties[] = {
    record_property<&FeatureClassAST::module>("module"),
    record_property<&FeatureClassAST::namespace_>("namespace"),
    record_property<&FeatureClassAST::class_name>("class_name"),
    record_property<&FeatureClassAST::source>("source"),
    record_property<&FeatureClassAST::class_name_location>("class_name_location"),
    record_property<&FeatureClassAST::class_definition_location>("class_definition_location"),
    record_property<&FeatureClassAST::decorator_location>("decorator_location"),
    record_property<&FeatureClassAST::kwarg_names>("kwarg_names"),
    record_property<&FeatureClassAST::kwargs>("kwargs"),
    record_property<&FeatureClassAST::fields>("fields"),
    record_property<&FeatureClassAST::annotations>("annotations"),
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot field_slots[] = {
    {Py_tp_dealloc, reinterpret_cast<void*>(dealloc_object<FeatureFieldAST>)},
    {Py_tp_getset, field_properties},
    {0, nullptr},
};

PyType_Slot class_slots[] = {
    {Py_tp_dealloc, reinterpret_cast<void*>(dealloc_object<FeatureClassAST>)},
    {Py_tp_getset, class_properties},
    {0, nullptr},
};

PyType_Spec field_spec = record_type_spec<FeatureFieldAST>("builtins.FeatureFieldAST", field_slots);
PyType_Spec class_spec = record_type_spec<FeatureClassAST>("builtins.FeatureClassAST", class_slots);

PyObject* field_type_object = nullptr;
PyObject* class_type_object = nullptr;

PyTypeObject* field_type() {
  return type_from_spec(&field_type_object, &field_spec, "FeatureFieldAST");
}

PyTypeObject* class_type() {
  return type_from_spec(&class_type_object, &class_spec, "FeatureClassAST");
}

const ClassRegistration registrations[] = {
    ClassRegistration("FeatureFieldAST", field_type),
    ClassRegistration("FeatureClassAST", class_type),
};

}  // namespace

PyObject* new_record_object(FeatureFieldAST record) {
  return new_object(field_type(), std::move(record));
}

PyObject* new_record_object(FeatureClassAST record) {
  return new_object(class_type(), std::move(record));
}

}  // namespace tolvo::bindings
