#include "src/registry.h"

#include <cstring>
#include <vector>

namespace tolvo::bindings {
namespace {

struct ClassEntry {
  const char* name;
  PyTypeObject* (*type)();
};

// Function-local statics, so that the order of static initialisation between files is irrelevant.
std::vector<ClassEntry>& classes() {
  static std::vector<ClassEntry> entries;
  return entries;
}

std::vector<PyMethodDef*>& functions() {
  static std::vector<PyMethodDef*> entries;
  return entries;
}

}  // namespace

ClassRegistration::ClassRegistration(const char* name, PyTypeObject* (*type)()) {
  classes().push_back({name, type});
}

FunctionRegistration::FunctionRegistration(PyMethodDef* definition) {
  functions().push_back(definition);
}

PyTypeObject* (*registered_class(const char* name))() {
  for (const ClassEntry& entry : classes()) {
    if (std::strcmp(entry.name, name) == 0) return entry.type;
  }
  return nullptr;
}

PyMethodDef* registered_function(const char* name) {
  for (PyMethodDef* definition : functions()) {
    if (std::strcmp(definition->ml_name, name) == 0) return definition;
  }
  return nullptr;
}

}  // namespace tolvo::bindings
