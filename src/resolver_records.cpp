// The record classes ResolverAST and FunctionArgAST: one function definition and one parameter.
#include "src/record_conversions.h"
#include "src/registry.h"

namespace tolvo::bindings {
namespace {

using ast::FunctionArgAST;
using ast::ResolverAST;

PyGetSetDef function_arg_properties[] = {
    record_property<&FunctionArgAST::arg_name>("arg_name"),
    record_property<&FunctionArgAST::arg_location>("arg_location"),
    record_property<&FunctionArgAST::annotation>("annotation"),
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyGetSetDef resolver_properties[] = {
    record_property<&ResolverAST::module>("module"),
    record_property<&ResolverAST::resolver_name>("resolver_name"),
    record_property<&ResolverAST::resolver_name_location>("resolver_name_location"),
    record_property<&ResolverAST::decorator_location>("decorator_location"),
    record_property<&ResolverAST::kwarg_names>("kwarg_names"),
    record_property<&ResolverAST::kwargs>("kwargs"),
    record_property<&ResolverAST::kwarg_dict_key_names>("kwarg_dict_key_names"),
    record_property<&ResolverAST::kwarg_dict_values>("kwarg_dict_values"),
    record_property<&ResolverAST::args_in_order>("args_in_order"),
    record_property<&ResolverAST::args>("args"),
    record_property<&ResolverAST::return_annotation>("return_annotation"),
    record_property<&ResolverAST::missing_return_annotation>("missing_return_annotation"),
    record_property<&ResolverAST::return_statements>("return_statements"),
    record_property<&ResolverAST::body>("body"),
    record_property<&ResolverAST::return_arg>("return_arg"),
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot function_arg_slots[] = {
    {Py_tp_dealloc, reinterpret_cast<void*>(dealloc_object<FunctionArgAST>)},
    {Py_tp_getset, function_arg_properties},
    {0, nullptr},
};

PyType_Slot resolver_slots[] = {
    {Py_tp_dealloc, reinterpret_cast<void*>(dealloc_object<ResolverAST>)},
    {Py_tp_getset, resolver_properties},
    {0, nullptr},
};

PyType_Spec function_arg_spec =
    record_type_spec<FunctionArgAST>("builtins.FunctionArgAST", function_arg_slots);
PyType_Spec resolver_spec = record_type_spec<ResolverAST>("builtins.ResolverAST", resolver_slots);

PyObject* function_arg_type_object = nullptr;
PyObject* resolver_type_object = nullptr;

PyTypeObject* function_arg_type() {
  return type_from_spec(&function_arg_type_object, &function_arg_spec, "FunctionArgAST");
}

PyTypeObject* resolver_type() {
  return type_from_spec(&resolver_type_object, &resolver_spec, "ResolverAST");
}

const ClassRegistration registrations[] = {
    ClassRegistration("FunctionArgAST", function_arg_type),
    ClassRegistration("ResolverAST", resolver_type),
};

}  // namespace

PyObject* new_record_object(FunctionArgAST record) {
  return new_object(function_arg_type(), std::move(record));
}

PyObject* new_record_object(ResolverAST record) {
  return new_object(resolver_type(), std::move(record));
}

}  // namespace tolvo::bindings
