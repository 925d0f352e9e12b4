#pragma once

#include <stdexcept>
#include <string>

namespace skm {

// A file or memory failure while reading a source or writing a package. The conversion job
// catches it per gesture; what() is a sentence a user can act on.
class FileError : public std::runtime_error {
 public:
  explicit FileError(const std::string& message) : std::runtime_error(message) {}
};

}  // namespace skm
