// A recursive-descent evaluator; every step checks overflow so a layout cannot ask for
// sizes that wrap around.
#include "smdtool/layout_expr.h"

#include <cctype>

namespace smdtool {
namespace {

class Parser {
 public:
  Parser(const std::string& text, const ParamValues& params) : text_(text), params_(params) {}

  std::optional<uint64_t> Run(std::string* error) {
    std::optional<uint64_t> v = Sum();
    SkipSpace();
    if (v && pos_ != text_.size()) Fail("unexpected '" + text_.substr(pos_, 1) + "'");
    if (!error_.empty()) {
      if (error) *error = error_;
      return std::nullopt;
    }
    return v;
  }

 private:
  void Fail(const std::string& why) {
    if (error_.empty()) error_ = why + " in expression \"" + text_ + "\"";
  }
  void SkipSpace() {
    while (pos_ < text_.size() && std::isspace(static_cast<unsigned char>(text_[pos_]))) ++pos_;
  }
  bool Eat(char c) {
    SkipSpace();
    if (pos_ < text_.size() && text_[pos_] == c) {
      ++pos_;
      return true;
    }
    return false;
  }

  std::optional<uint64_t> Sum() {
    std::optional<uint64_t> left = Product();
    while (left) {
      if (Eat('+')) {
        auto right = Product();
        if (!right) return std::nullopt;
        if (*left + *right < *left) return Fail("value too large"), std::nullopt;
        *left += *right;
      } else if (Eat('-')) {
        auto right = Product();
        if (!right) return std::nullopt;
        if (*right > *left) return Fail("negative value"), std::nullopt;
        *left -= *right;
      } else {
        break;
      }
    }
    return left;
  }

  std::optional<uint64_t> Product() {
    std::optional<uint64_t> left = Factor();
    while (left) {
      char op = 0;
      if (Eat('*'))
        op = '*';
      else if (Eat('/'))
        op = '/';
      else if (Eat('%'))
        op = '%';
      else
        break;
      auto right = Factor();
      if (!right) return std::nullopt;
      if (op == '*') {
        if (*right != 0 && *left > UINT64_MAX / *right)
          return Fail("value too large"), std::nullopt;
        *left *= *right;
      } else {
        if (*right == 0) return Fail("division by zero"), std::nullopt;
        *left = op == '/' ? *left / *right : *left % *right;
      }
    }
    return left;
  }

  std::optional<uint64_t> Factor() {
    SkipSpace();
    if (Eat('(')) {
      auto v = Sum();
      if (v && !Eat(')')) return Fail("missing ')'"), std::nullopt;
      return v;
    }
    if (pos_ + 1 < text_.size() && text_[pos_] == '$' && text_[pos_ + 1] == '{') {
      size_t close = text_.find('}', pos_);
      if (close == std::string::npos) return Fail("missing '}'"), std::nullopt;
      std::string name = text_.substr(pos_ + 2, close - pos_ - 2);
      pos_ = close + 1;
      auto it = params_.find(name);
      if (it == params_.end()) return Fail("unknown parameter '" + name + "'"), std::nullopt;
      return it->second;
    }
    return Number();
  }

  std::optional<uint64_t> Number() {
    SkipSpace();
    int base = 10;
    if (pos_ + 1 < text_.size() && text_[pos_] == '0' &&
        (text_[pos_ + 1] == 'x' || text_[pos_ + 1] == 'X')) {
      base = 16;
      pos_ += 2;
    }
    uint64_t value = 0;
    size_t digits = 0;
    while (pos_ < text_.size()) {
      const char c = static_cast<char>(std::tolower(static_cast<unsigned char>(text_[pos_])));
      int d = -1;
      if (c >= '0' && c <= '9')
        d = c - '0';
      else if (base == 16 && c >= 'a' && c <= 'f')
        d = c - 'a' + 10;
      if (d < 0) break;
      if (value > (UINT64_MAX - static_cast<uint64_t>(d)) / static_cast<uint64_t>(base))
        return Fail("value too large"), std::nullopt;
      value = value * static_cast<uint64_t>(base) + static_cast<uint64_t>(d);
      ++digits;
      ++pos_;
    }
    if (digits == 0)
      return Fail(pos_ < text_.size() ? "unexpected '" + text_.substr(pos_, 1) + "'"
                                      : "missing number"),
             std::nullopt;
    return value;
  }

  const std::string& text_;
  const ParamValues& params_;
  size_t pos_ = 0;
  std::string error_;
};

}  // namespace

std::optional<uint64_t> EvaluateExpression(const std::string& text, const ParamValues& params,
                                           std::string* error) {
  return Parser(text, params).Run(error);
}

}  // namespace smdtool
