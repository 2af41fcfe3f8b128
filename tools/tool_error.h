// The one error the tools raise: a message for one line on standard error.
#pragma once

#include <stdexcept>
#include <string>

struct ToolError : std::runtime_error {
  explicit ToolError(const std::string& message) : std::runtime_error(message) {}
};
