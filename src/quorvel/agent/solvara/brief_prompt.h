#pragma once
// The market brief's prompt pair and the filling of its user message.
#include <map>
#include <string>

namespace quorvel::agent::solvara {

// The fixed system message of the brief writer (91 lines, ending with a newline).
extern const std::string SOLVARA_SYSTEM_MESSAGE;

namespace detail {
// The user message with its twelve {placeholders}.
extern const std::string SOLVARA_USER_TEMPLATE;
}  // namespace detail

// Replaces each {name} of the template that has a value; values are inserted literally (their own
// braces are never read as placeholders) and unknown names stay as written.
std::string fill_template(const std::string& tmpl, const std::map<std::string, std::string>& values);

}  // namespace quorvel::agent::solvara
