#pragma once
// The failure kinds the system distinguishes. Each carries a message text; catching code decides by
// kind (a value error from a date routine is handled differently from a runtime error of a service).
#include <stdexcept>
#include <string>

namespace quorvel {

// Base of every error this system raises on purpose.
class Error : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// An argument of the wrong kind (a value that is not text where text is required, for example).
class TypeError : public Error {
 public:
  using Error::Error;
};

// An argument of the right kind with an unacceptable value: a malformed code, an impossible date,
// an unsupported option.
class ValueError : public Error {
 public:
  using Error::Error;
};

// A failure while doing the work: a service without an implementation, a store that cannot be read,
// a missing column.
class RuntimeError : public Error {
 public:
  using Error::Error;
};

}  // namespace quorvel
