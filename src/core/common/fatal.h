// The program's one fatal error: every condition that ends a run early.
#pragma once

#include <stdexcept>

namespace trov {

// A file that cannot be opened, read or written, or a typed name that cannot
// be used. Thrown where the condition is found and caught once, in main, which
// prints what() on standard output and exits with status 1; unwinding closes
// (and flushes) every file still open. what() is the whole message the user
// sees, naming the file concerned.
class Fatal : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace trov
