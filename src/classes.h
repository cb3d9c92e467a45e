#pragma once

#include "src/py_ref.h"

#include <atomic>
#include <cstdint>
#include <new>
#include <utility>

#include "src/boundary.h"

namespace tolvo::bindings {

// The layout of every object of the module's classes: the object header, the count of
// operations in progress, and the native value (shared handles for the services, an owned record
// copy for the records).
template <typename Native>
struct ObjectOf {
  PyObject_HEAD
  std::atomic<int64_t> operations;
  Native native;
};

template <typename Native>
ObjectOf<Native>* object_of(PyObject* self) {
  return reinterpret_cast<ObjectOf<Native>*>(self);
}

// Allocates an object of `type` holding `native`.
template <typename Native>
PyObject* new_object(PyTypeObject* type, Native native) {
  PyObject* self = type->tp_alloc(type, 0);
  if (self == nullptr) throw_pending_error();
  auto* object = object_of<Native>(self);
  new (&object->operations) std::atomic<int64_t>(0);
  new (&object->native) Native(std::move(native));
  return self;
}

// The deallocation entry: releases the native value, frees the memory through the type's free
// function and drops the object's reference to its (heap) type.
template <typename Native>
void dealloc_object(PyObject* self) {
  PyTypeObject* type = Py_TYPE(self);
  try {
    object_of<Native>(self)->native.~Native();
  } catch (...) {
    abort_uncaught();
  }
  type->tp_free(self);
  Py_DECREF(type);
}

// Holds an object for shared access for the duration of one method call or property read, also
// across a stretch with the interpreter lock released. No operation takes exclusive access, so
// this never refuses in practice.
class SharedAccess {
 public:
  explicit SharedAccess(std::atomic<int64_t>& operations);
  ~SharedAccess() { operations_.fetch_sub(1, std::memory_order_release); }
  SharedAccess(const SharedAccess&) = delete;
  SharedAccess& operator=(const SharedAccess&) = delete;

 private:
  std::atomic<int64_t>& operations_;
};

// Makes the type once per process from `spec` and caches it in `*cache`; on failure raises
// RuntimeError "An error occurred while initializing class {name}" caused by the interpreter's
// error, and a later call tries again.
PyTypeObject* type_from_spec(PyObject** cache, PyType_Spec* spec, const char* class_name);

}  // namespace tolvo::bindings
