// The record thrown for an argument that a library operation cannot accept:
// what went wrong, the kind of fault, the qualified name of the operation that
// refused ("Data::GetInputDatum") and, optionally, a message with details.
// Throw it by value and catch it by const reference. It owns private copies of
// its texts and its reply, so a copy outlives the thrower's temporary; a null
// text given to a constructor is stored as the empty string.
#pragma once

#include <memory>
#include <string>

#include "KQmessage/KQML.h"

class TException {
 public:
  TException();  // all fields empty, no reply
  TException(const char* message, const char* kind);
  // The form every thrower uses; note the order: origin before reply.
  TException(const char* message, const char* kind, const char* origin,
             std::unique_ptr<TKQstructure> reply);
  TException(const TException& other);  // the reply is copied deeply
  TException& operator=(const TException& other);
  ~TException();

  std::string message;
  std::string kind;
  std::unique_ptr<TKQstructure> reply;
  std::string origin;
};
