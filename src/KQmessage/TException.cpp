#include "KQmessage/TException.h"

namespace kartlo {

TException::TException(const char* t, const char* c) : text(t) {
  if (c != nullptr) category = c;
}

TException::TException(const char* t, const char* c, const char* o,
                       std::unique_ptr<TKQstructure> r)
    : text(t), category(c), report(std::move(r)), origin(o) {}

TException::TException(const TException& other)
    : text(other.text),
      category(other.category),
      report(other.report ? std::make_unique<TKQstructure>(*other.report) : nullptr),
      origin(other.origin) {}

TException& TException::operator=(const TException& other) {
  if (this != &other) {
    TException copy(other);
    *this = std::move(copy);
  }
  return *this;
}

}  // namespace kartlo
