#include "check/render.h"

#include <cstdint>
#include <cstdio>

namespace tessaro::check {

namespace {

std::string_view severity_word(Severity severity) {
  return severity == Severity::error ? "error" : "warning";
}

std::string place(std::string_view file, std::int64_t line, std::int64_t column) {
  std::string text(file);
  if (line > 0) text += ':' + std::to_string(line);
  if (line > 0 && column > 0) text += ':' + std::to_string(column);
  return text;
}

std::string plural(std::int64_t count, std::string_view word) {
  std::string text = std::to_string(count) + ' ';
  text += word;
  if (count != 1) text += 's';
  return text;
}

// A JSON string: quotes, backslashes and control characters escaped; other bytes as they are.
std::string json_string(std::string_view text) {
  std::string quoted = "\"";
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      quoted += '\\';
      quoted += c;
    } else if (byte < 0x20) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", byte);
      quoted += escape;
    } else {
      quoted += c;
    }
  }
  quoted += '"';
  return quoted;
}

std::string json_number(std::int64_t value) {
  return value > 0 ? std::to_string(value) : "null";
}

}  // namespace

std::string count_line(const std::vector<Finding>& findings) {
  std::int64_t errors = 0;
  for (const Finding& finding : findings) errors += finding.severity == Severity::error ? 1 : 0;
  const auto warnings = static_cast<std::int64_t>(findings.size()) - errors;
  return plural(errors, "error") + ", " + plural(warnings, "warning") + "\n";
}

std::string render_text(std::string_view file, const std::vector<Finding>& findings) {
  std::string text;
  for (const Finding& finding : findings) {
    const std::string at = place(file, finding.line, finding.column);
    text += at;
    text += ": ";
    text += severity_word(finding.severity);
    text += ": ";
    text += finding.message;
    text += '\n';
    if (!finding.note.empty()) text += at + ": note: " + finding.note + '\n';
  }
  return text + count_line(findings);
}

std::string render_json(std::string_view file, const std::vector<Finding>& findings) {
  std::string text = "[";
  const std::string file_text = json_string(file);
  for (const Finding& finding : findings) {
    text += text.size() == 1 ? "\n" : ",\n";
    text += "  {\"file\": " + file_text;
    text += ", \"line\": " + json_number(finding.line);
    text += ", \"column\": " + json_number(finding.column);
    text += ", \"severity\": \"";
    text += severity_word(finding.severity);
    text += "\", \"code\": \"";
    text += code_name(finding.code);
    text += "\", \"message\": " + json_string(finding.message);
    if (!finding.note.empty()) text += ", \"note\": " + json_string(finding.note);
    text += '}';
  }
  text += findings.empty() ? "]\n" : "\n]\n";
  return text;
}

}  // namespace tessaro::check
