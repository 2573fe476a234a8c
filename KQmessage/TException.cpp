#include "KQmessage/TException.h"

#include <utility>

namespace {

std::string CopyText(const char* text) { return text != nullptr ? std::string(text) : std::string(); }

std::unique_ptr<TKQstructure> CopyReply(const std::unique_ptr<TKQstructure>& reply) {
  return reply ? std::make_unique<TKQstructure>(*reply) : nullptr;
}

}  // namespace

TException::TException() = default;

TException::TException(const char* message, const char* kind)
    : message(CopyText(message)), kind(CopyText(kind)) {}

TException::TException(const char* message, const char* kind, const char* origin,
                       std::unique_ptr<TKQstructure> reply)
    : message(CopyText(message)),
      kind(CopyText(kind)),
      reply(std::move(reply)),
      origin(CopyText(origin)) {}

TException::TException(const TException& other)
    : message(other.message),
      kind(other.kind),
      reply(CopyReply(other.reply)),
      origin(other.origin) {}

TException& TException::operator=(const TException& other) {
  if (this == &other) return *this;
  // Copy the reply first so a failure leaves this record as it was.
  std::unique_ptr<TKQstructure> copied = CopyReply(other.reply);
  message = other.message;
  kind = other.kind;
  reply = std::move(copied);
  origin = other.origin;
  return *this;
}

TException::~TException() = default;
