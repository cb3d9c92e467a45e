#pragma once

#include <stdexcept>
#include <string>

namespace tolvo::utils {

// A broken invariant inside native code. It is never thrown for bad input (that is an error value);
// every Python entry point catches it and raises PanicException with its message.
class InternalFault : public std::runtime_error {
 public:
  explicit InternalFault(const std::string& message) : std::runtime_error(message) {}
};

}  // namespace tolvo::utils
