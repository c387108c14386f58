#include "FileHandler/TDataRowWriter.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <ostream>

#include "DataObject/TLabelList.h"

namespace kartlo {
namespace {

/// Row text is handed to the stream in pieces of about this size.
constexpr std::size_t kChunk = 1 << 16;

__extension__ typedef unsigned __int128 U128;

constexpr std::uint64_t kPow10[20] = {1ULL,
                                      10ULL,
                                      100ULL,
                                      1000ULL,
                                      10000ULL,
                                      100000ULL,
                                      1000000ULL,
                                      10000000ULL,
                                      100000000ULL,
                                      1000000000ULL,
                                      10000000000ULL,
                                      100000000000ULL,
                                      1000000000000ULL,
                                      10000000000000ULL,
                                      100000000000000ULL,
                                      1000000000000000ULL,
                                      10000000000000000ULL,
                                      100000000000000000ULL,
                                      1000000000000000000ULL,
                                      10000000000000000000ULL};

/// 10^s for 0 ≤ s ≤ 20.
U128 Pow10(int s) { return s < 20 ? U128{kPow10[s]} : U128{kPow10[19]} * 10U; }

/// Fifteen significant digits of a = m · 2^-k, correctly rounded (ties to even, as printf
/// rounds), as the integer `digits` in [10^14, 10^15) and the decimal exponent `x` of the
/// rounded value. Works for 1e-5 ≤ a < 1e15, where every step below is exact.
void FifteenDigits(std::uint64_t m, int k, std::uint64_t& digits, int& x) {
  // floor(log10(a)) or one less, from the binary exponent.
  const int e2 = 63 - std::countl_zero(m) - k;
  x = e2 >= 0 ? (e2 * 78913) >> 18 : -((-e2 * 78913 + (1 << 18) - 1) >> 18);
  for (;;) {
    const int s = 14 - x;
    const U128 p = U128{m} * Pow10(s);
    const U128 q = p >> k;
    if (q >= kPow10[15]) {
      ++x;
      continue;
    }
    if (q < kPow10[14]) {
      --x;
      continue;
    }
    const U128 rest = p & ((U128{1} << k) - 1);
    const U128 half = U128{1} << (k - 1);
    digits = static_cast<std::uint64_t>(q);
    if (rest > half || (rest == half && (digits & 1U) != 0)) ++digits;
    if (digits == kPow10[15]) {
      digits = kPow10[14];
      ++x;
    }
    return;
  }
}

/// "00" to "99".
constexpr char kPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

/// The two digits of n < 100.
void PutTwo(char* out, std::uint32_t n) {
  out[0] = kPairs[2 * n];
  out[1] = kPairs[2 * n + 1];
}

/// The four digits of n < 10000.
void PutFour(char* out, std::uint32_t n) {
  PutTwo(out, n / 100U);
  PutTwo(out + 2, n % 100U);
}

/// The longest text FormatGeneral writes: "-" and seventeen significant digits, a point and
/// an exponent of three digits.
constexpr std::size_t kMaxGeneral = 32;

/// printf's "%.15g" for the values FifteenDigits covers, written at `out`; returns the end,
/// or null for any other value.
char* FormatFast(char* out, double value) {
  const std::uint64_t bits = std::bit_cast<std::uint64_t>(value);
  const int biased = static_cast<int>((bits >> 52) & 0x7FF);
  const double a = std::fabs(value);
  if (biased == 0 || !(a >= 1e-5 && a < 1e15)) return nullptr;
  const std::uint64_t m = (bits & ((1ULL << 52) - 1)) | (1ULL << 52);
  const int k = 1075 - biased;  // a = m · 2^-k; k > 0 throughout the range
  std::uint64_t digits = 0;
  int x = 0;
  FifteenDigits(m, k, digits, x);

  // The fifteen digits, two at a time: seven from the high part, eight from the low part.
  char d[16];
  const auto high = static_cast<std::uint32_t>(digits / 100000000U);
  const auto low = static_cast<std::uint32_t>(digits % 100000000U);
  d[0] = static_cast<char>('0' + high / 1000000U);
  PutFour(d + 1, high % 1000000U / 100U);
  PutTwo(d + 5, high % 100U);
  PutFour(d + 7, low / 10000U);
  PutFour(d + 11, low % 10000U);
  int n = 15;  // significant digits left once trailing zeros are dropped
  while (n > 1 && d[n - 1] == '0') --n;

  int len = 0;
  if (value < 0) out[len++] = '-';
  if (x < -4 || x >= 15) {
    // Exponent style: d.ddd e±XX, two exponent digits here.
    out[len++] = d[0];
    if (n > 1) {
      out[len++] = '.';
      for (int i = 1; i < n; ++i) out[len++] = d[i];
    }
    const int e = x < 0 ? -x : x;
    out[len++] = 'e';
    out[len++] = x < 0 ? '-' : '+';
    out[len++] = static_cast<char>('0' + e / 10);
    out[len++] = static_cast<char>('0' + e % 10);
  } else if (x < 0) {
    out[len++] = '0';
    out[len++] = '.';
    for (int i = 0; i < -x - 1; ++i) out[len++] = '0';
    for (int i = 0; i < n; ++i) out[len++] = d[i];
  } else {
    for (int i = 0; i <= x; ++i) out[len++] = d[i];  // x ≤ 14: all digits are at hand
    if (n > x + 1) {
      out[len++] = '.';
      for (int i = x + 1; i < n; ++i) out[len++] = d[i];
    }
  }
  return out + len;
}

/// printf's "%.15g" of any value, at most kMaxGeneral characters at `out`; returns the end.
char* FormatGeneral(char* out, double value) {
  if (value == 0.0) {
    if (std::signbit(value)) *out++ = '-';
    *out++ = '0';
    return out;
  }
  const double a = std::fabs(value);
  if (a < 1e15 && a == std::trunc(a)) {
    // A whole number below 10^15 has at most fifteen digits: written as an integer.
    if (value < 0) *out++ = '-';
    auto n = static_cast<std::uint64_t>(a);
    char digits[16];
    int len = 0;
    do {
      digits[len++] = static_cast<char>('0' + n % 10);
      n /= 10;
    } while (n != 0);
    while (len > 0) *out++ = digits[--len];
    return out;
  }
  if (char* end = FormatFast(out, value)) return end;
  if (std::isfinite(value)) {
    // to_chars with a precision formats as printf does, exactly.
    return std::to_chars(out, out + kMaxGeneral, value, std::chars_format::general, 15).ptr;
  }
  char buffer[kMaxGeneral];
  const int n = std::snprintf(buffer, sizeof buffer, "%.15g", value);
  for (int i = 0; i < n && i < static_cast<int>(kMaxGeneral); ++i) *out++ = buffer[i];
  return out;
}

/// "%.9f" of `value`, of any length.
void AppendFixed9(std::string& text, double value) {
  char buffer[64];
  const int n = std::snprintf(buffer, sizeof buffer, "%.9f", value);
  if (n < 0) return;
  if (static_cast<std::size_t>(n) < sizeof buffer) {
    text.append(buffer, static_cast<std::size_t>(n));
    return;
  }
  std::string wide(static_cast<std::size_t>(n), '\0');
  std::snprintf(wide.data(), wide.size() + 1, "%.9f", value);
  text += wide;
}

}  // namespace

TDataRowWriter::TDataRowWriter(std::ostream& out) : out_(out), buffer_(kChunk + 4096) {}

void TDataRowWriter::Pass() {
  out_.write(buffer_.data(), static_cast<std::streamsize>(used_));
  used_ = 0;
}

void TDataRowWriter::Reserve(std::size_t n) {
  if (used_ + n > buffer_.size()) Pass();
  if (n > buffer_.size()) buffer_.resize(n);
}

void TDataRowWriter::Put(const char* text, std::size_t n) {
  Reserve(n);
  std::copy(text, text + n, buffer_.data() + used_);
  used_ += n;
}

void TDataRowWriter::Values(const double* values, int count) {
  for (int k = 0; k < count; ++k) {
    Reserve(kMaxGeneral + 1);
    char* end = FormatGeneral(buffer_.data() + used_, values[k]);
    *end++ = ' ';
    used_ = static_cast<std::size_t>(end - buffer_.data());
  }
}

void TDataRowWriter::Gap() { Put("  ", 2); }

void TDataRowWriter::Labels(const TLabelList* list) {
  labels_.clear();
  AppendLabelList(labels_, list);
  Put(labels_.data(), labels_.size());
}

bool TDataRowWriter::EndRow() {
  Put("\n", 1);
  if (used_ >= kChunk) Pass();
  return static_cast<bool>(out_);
}

bool TDataRowWriter::Finish() {
  Pass();
  out_.flush();
  return static_cast<bool>(out_);
}

void TDataRowWriter::AppendGeneral(std::string& text, double value) {
  char buffer[kMaxGeneral];
  text.append(buffer, FormatGeneral(buffer, value));
}

void TDataRowWriter::AppendValues(std::string& text, const double* values, int count) {
  for (int k = 0; k < count; ++k) {
    AppendGeneral(text, values[k]);
    text += ' ';
  }
}

void TDataRowWriter::AppendLabelList(std::string& text, const TLabelList* list) {
  text += '[';
  if (list != nullptr) {
    for (const TLabel& label : list->labels) {
      text += label.text;
      if (label.value != 1.0) {
        text += '=';
        AppendFixed9(text, label.value);
      }
      text += ' ';
    }
  }
  text += "] ";
}

}  // namespace kartlo
