// The one error convention of the engine and its command lines: whatever
// stops a file's reduction (or a whole run) is thrown as an Error whose
// message is one line saying what is wrong, without the file's name; the
// caller that knows the name puts it in front.
#pragma once

#include <stdexcept>
#include <string>

namespace vokip {

class Error : public std::runtime_error {
 public:
  // data: an input is not what it must be (a damaged file, a bad option
  // value, a geometry that gives no angles); io: the system refused a read or
  // a write.
  enum class Kind { data, io };

  explicit Error(const std::string& message, Kind kind = Kind::data)
      : std::runtime_error(message), kind_(kind) {}
  Kind kind() const { return kind_; }

 private:
  Kind kind_;
};

}  // namespace vokip
