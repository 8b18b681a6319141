// Exception is the one error type of the system: a message and a text form.
//
// Every failure travels as a thrown Exception, or an object of a class
// derived from it, thrown by value and caught by const reference at the top
// (the installer's main). Derived classes add the data of their kind of
// failure and override toString(). Exception does not derive from Object.
#ifndef VANTOREL_LANG_EXCEPTION_H
#define VANTOREL_LANG_EXCEPTION_H

#include "lang/String.h"

class Exception {
 public:
  // An empty message.
  Exception() = default;
  // The message copied from a zero-terminated string; null gives "".
  explicit Exception(const char* message) : message_(message) {}
  // The message shares the String's text.
  explicit Exception(const String& message) : message_(message) {}
  Exception(const Exception&) = default;
  Exception& operator=(const Exception&) = default;
  virtual ~Exception();

  // "Exception", then ": " and the message when there is one.
  virtual String toString() const;

  const String& getMessage() const { return message_; }

 protected:
  // The fixed English text of the failure; possibly empty.
  String message_;
};

#endif  // VANTOREL_LANG_EXCEPTION_H
