// The toolkit's exception family. Method guards catch Exception and its
// descendants only; anything else passes through them untouched.
#pragma once

#include <string>

namespace keltk {

class Exception {
public:
  explicit Exception(std::string message) : message_(std::move(message)) {}
  Exception(const Exception&) = default;
  Exception& operator=(const Exception&) = default;
  virtual ~Exception();

  // The class name as the toolkit reports it ("Exception", "EReadError", ...).
  virtual const char* ClassName() const { return "Exception"; }
  const std::string& Message() const { return message_; }
  void SetMessage(std::string message) { message_ = std::move(message); }

private:
  std::string message_;
};

// Bad stored form data (syntax, unknown names, values of the wrong kind).
class EReadError : public Exception {
public:
  using Exception::Exception;
  ~EReadError() override;
  const char* ClassName() const override { return "EReadError"; }
};

// A component could not be written.
class EWriteError : public Exception {
public:
  using Exception::Exception;
  ~EWriteError() override;
  const char* ClassName() const override { return "EWriteError"; }
};

// A class name that no registry knows.
class EClassNotFound : public Exception {
public:
  using Exception::Exception;
  ~EClassNotFound() override;
  const char* ClassName() const override { return "EClassNotFound"; }
};

// A text that does not convert (bad number, bad bitmap data, bad identifier).
class EConvertError : public Exception {
public:
  using Exception::Exception;
  ~EConvertError() override;
  const char* ClassName() const override { return "EConvertError"; }
};

// An index outside a list.
class EListError : public Exception {
public:
  using Exception::Exception;
  ~EListError() override;
  const char* ClassName() const override { return "EListError"; }
};

// A component name that is not an identifier or is already taken.
class EComponentError : public Exception {
public:
  using Exception::Exception;
  ~EComponentError() override;
  const char* ClassName() const override { return "EComponentError"; }
};

// A menu operation that the menu tree cannot take (inserting an item twice, ...).
class EMenuError : public Exception {
public:
  using Exception::Exception;
  ~EMenuError() override;
  const char* ClassName() const override { return "EMenuError"; }
};

// Files that cannot be opened, read or written.
class EInOutError : public Exception {
public:
  using Exception::Exception;
  ~EInOutError() override;
  const char* ClassName() const override { return "EInOutError"; }
};

// A bitmap that cannot be decoded.
class EInvalidGraphic : public Exception {
public:
  using Exception::Exception;
  ~EInvalidGraphic() override;
  const char* ClassName() const override { return "EInvalidGraphic"; }
};

// A stored form (or other resource) that a class needs is missing.
class EResNotFound : public Exception {
public:
  using Exception::Exception;
  ~EResNotFound() override;
  const char* ClassName() const override { return "EResNotFound"; }
};

// An operation the object cannot take in its current state (a value outside the
// accepted range, for one).
class EInvalidOperation : public Exception {
public:
  using Exception::Exception;
  ~EInvalidOperation() override;
  const char* ClassName() const override { return "EInvalidOperation"; }
};

// Anything thrown that is not of this family (a std::runtime_error, an int), as
// the family reports it: the thrown object's type as the class name, and its
// what() (or, lacking one, the type again) as the message.
class EForeignException : public Exception {
public:
  EForeignException(std::string className, std::string message)
      : Exception(std::move(message)), className_(std::move(className)) {}
  ~EForeignException() override;
  const char* ClassName() const override { return className_.c_str(); }

private:
  std::string className_;
};

// The exception being handled, which is not of this family, described as above.
// Call only inside a catch block.
EForeignException ForeignException();

} // namespace keltk
