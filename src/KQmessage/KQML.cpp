#include "KQmessage/KQML.h"

namespace kartlo {

TKQstructure::Error::Error(std::unique_ptr<TKQstructure> msg) : message(std::move(msg)) {}
TKQstructure::Error::Error(const Error& other)
    : message(other.message ? std::make_unique<TKQstructure>(*other.message) : nullptr) {}
TKQstructure::Error& TKQstructure::Error::operator=(const Error& other) {
  if (this != &other) {
    message = other.message ? std::make_unique<TKQstructure>(*other.message) : nullptr;
  }
  return *this;
}
TKQstructure::Error::~Error() = default;

TKQstructure::TKQstructure() : head("unknown") {}
TKQstructure::TKQstructure(const char* h) : head(h) {}
TKQstructure::TKQstructure(const TKQstructure& other)
    : head(other.head), capacity(other.count), count(other.count) {
  entries.reserve(other.entries.size());
  for (const auto& [key, value] : other.entries) {
    entries.emplace_back(key, std::make_unique<TKQstructure>(*value));
  }
}
TKQstructure& TKQstructure::operator=(const TKQstructure& other) {
  if (this == &other) return *this;
  TKQstructure copy(other);
  head = std::move(copy.head);
  entries = std::move(copy.entries);
  capacity = copy.capacity;
  count = copy.count;
  return *this;
}
TKQstructure::~TKQstructure() = default;

}  // namespace kartlo
