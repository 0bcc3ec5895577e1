// Numeric fields of a layout: plain JSON numbers or small integer expressions over the
// layout's parameters, such as "${size_mb}*1048576" or "0x2ECDD88D".
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>

namespace smdtool {

using ParamValues = std::map<std::string, uint64_t>;

// Evaluates + - * / % and parentheses over unsigned 64-bit integers (decimal or 0x hex)
// and ${name} parameters. On failure returns none and says why in `error`.
std::optional<uint64_t> EvaluateExpression(const std::string& text, const ParamValues& params,
                                           std::string* error);

}  // namespace smdtool
