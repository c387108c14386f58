#pragma once

#include <memory>
#include <optional>
#include <string>

#include "KQmessage/KQML.h"

namespace kartlo {

/// An error raised for a bad argument (a row or column that does not exist):
/// what went wrong, its category and the operation that raised it.
class TException {
 public:
  /// All fields absent.
  TException() = default;
  /// `category` may be null.
  explicit TException(const char* text, const char* category = nullptr);
  /// Takes over `report` (may be null).
  TException(const char* text, const char* category, const char* origin,
             std::unique_ptr<TKQstructure> report = nullptr);
  TException(const TException& other);
  TException& operator=(const TException& other);
  TException(TException&&) noexcept = default;
  TException& operator=(TException&&) noexcept = default;
  ~TException() = default;

  std::optional<std::string> text;
  std::optional<std::string> category;
  std::unique_ptr<TKQstructure> report;
  std::optional<std::string> origin;
};

}  // namespace kartlo
