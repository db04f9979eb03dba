#include "tsx/compiler_session.h"

#include <cstdio>
#include <filesystem>
#include <system_error>

#include "core/filesystem.h"

namespace {

void append_utf8(std::string& out, unsigned code) {
  if (code < 0x80) {
    out += static_cast<char>(code);
  } else if (code < 0x800) {
    out += static_cast<char>(0xC0 | (code >> 6));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    out += static_cast<char>(0xE0 | (code >> 12));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (code >> 18));
    out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  }
}

bool hex4(std::string_view text, size_t at, unsigned& value) {
  if (at + 4 > text.size()) return false;
  value = 0;
  for (size_t i = at; i < at + 4; ++i) {
    const char c = text[i];
    value <<= 4;
    if (c >= '0' && c <= '9') {
      value |= static_cast<unsigned>(c - '0');
    } else if (c >= 'a' && c <= 'f') {
      value |= static_cast<unsigned>(c - 'a' + 10);
    } else if (c >= 'A' && c <= 'F') {
      value |= static_cast<unsigned>(c - 'A' + 10);
    } else {
      return false;
    }
  }
  return true;
}

// The string literal starting at text[at] == '"', unescaped; `at` moves past it.
std::optional<std::string> json_string(std::string_view text, size_t& at) {
  std::string out;
  for (++at; at < text.size(); ++at) {
    const char c = text[at];
    if (c == '"') {
      ++at;
      return out;
    }
    if (c != '\\') {
      out += c;
      continue;
    }
    if (++at >= text.size()) return std::nullopt;
    switch (text[at]) {
      case 'n': out += '\n'; break;
      case 't': out += '\t'; break;
      case 'r': out += '\r'; break;
      case 'b': out += '\b'; break;
      case 'f': out += '\f'; break;
      case 'u': {
        unsigned code = 0;
        if (!hex4(text, at + 1, code)) return std::nullopt;
        at += 4;
        unsigned low = 0;
        if (code >= 0xD800 && code < 0xDC00 && at + 2 < text.size() && text[at + 1] == '\\' &&
            text[at + 2] == 'u' && hex4(text, at + 3, low) && low >= 0xDC00 && low < 0xE000) {
          code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
          at += 6;
        }
        append_utf8(out, code);
        break;
      }
      default: out += text[at]; break;  // " \ /
    }
  }
  return std::nullopt;
}

// Sends one request and reads its answer; nothing (and the session marked
// broken) when the script no longer answers or answers "ok": false.
std::optional<std::string> request(CompilerSession& session, const std::string& line) {
  if (session.broken || !session.child || !compiler_session_connect(session)) return std::nullopt;
  std::string answer;
  if (!platform_child_write(*session.child, line + "\n") || !platform_child_read_line(*session.child, answer) ||
      json_field(answer, "ok") != "true") {
    session.broken = true;
    return std::nullopt;
  }
  return answer;
}

int number_of(const std::optional<std::string>& text) {
  if (!text) return 0;
  try {
    return std::stoi(*text);
  } catch (const std::exception&) {
    return 0;
  }
}

}  // namespace

std::string json_quote(std::string_view text) {
  std::string out = "\"";
  for (const char c : text) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (static_cast<unsigned char>(c) < 0x20) {
          char escaped[8];
          std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(static_cast<unsigned char>(c)));
          out += escaped;
        } else {
          out += c;
        }
    }
  }
  return out + "\"";
}

std::optional<std::string> json_field(std::string_view object, std::string_view key) {
  // Walks the top level of the object: key, colon, value, comma.
  size_t at = object.find('{');
  if (at == std::string_view::npos) return std::nullopt;
  ++at;
  while (at < object.size()) {
    while (at < object.size() && (object[at] == ' ' || object[at] == ',')) ++at;
    if (at >= object.size() || object[at] != '"') return std::nullopt;
    const std::optional<std::string> name = json_string(object, at);
    if (!name) return std::nullopt;
    while (at < object.size() && (object[at] == ' ' || object[at] == ':')) ++at;
    if (at >= object.size()) return std::nullopt;
    if (object[at] == '"') {
      std::optional<std::string> value = json_string(object, at);
      if (!value) return std::nullopt;
      if (*name == key) return value;
      continue;
    }
    if (object[at] == '{' || object[at] == '[') {
      // Nested values are skipped whole (no strings with brackets are sent in them).
      int depth = 0;
      for (; at < object.size(); ++at) {
        if (object[at] == '{' || object[at] == '[') ++depth;
        if ((object[at] == '}' || object[at] == ']') && --depth == 0) break;
      }
      ++at;
      continue;
    }
    const size_t end = object.find_first_of(",}", at);
    const std::string_view value = object.substr(at, end == std::string_view::npos ? std::string_view::npos : end - at);
    at = end == std::string_view::npos ? object.size() : end;
    if (*name == key) return std::string(value);
  }
  return std::nullopt;
}

namespace {

// The script written and started, its init request sent (read by the script
// once the compiler is loaded).
std::optional<CompilerSession> spawn_session(bool node_types, bool warm) {
  std::error_code ignored;
  std::filesystem::create_directories(".kvx", ignored);
  // Written only when it differs, so that runs side by side do not race on it.
  const std::optional<std::string> written = read_file_text(kCompilerSessionScriptPath, true);
  std::string reason;
  if ((!written || *written != kCompilerSessionScript) &&
      !replace_file_text(kCompilerSessionScriptPath, kCompilerSessionScript, reason, true)) {
    return std::nullopt;
  }
  CompilerSession session;
  std::fflush(stdout);
  session.child = platform_child_start({"node", kCompilerSessionScriptPath});
  if (!session.child) return std::nullopt;
  const std::string init = std::string("{\"op\":\"init\",\"outDir\":\"dist\",\"rootDir\":\"generated\"") +
                           (node_types ? ",\"types\":[\"node\"]" : "") + (warm ? ",\"warm\":true" : "") + "}\n";
  if (!platform_child_write(*session.child, init)) return std::nullopt;
  return session;
}

}  // namespace

bool compiler_session_connect(CompilerSession& session) {
  if (session.connected) return true;
  std::string ready;
  std::string started;
  if (!session.child || !platform_child_read_line(*session.child, ready) || json_field(ready, "ready") != "true" ||
      !platform_child_read_line(*session.child, started) || json_field(started, "ok") != "true") {
    session.broken = true;
    return false;
  }
  session.version = json_field(ready, "version").value_or("");
  session.workers = json_field(started, "workers") == "true";
  session.connected = true;
  return true;
}

std::optional<CompilerSession> compiler_session_launch(bool node_types) { return spawn_session(node_types, true); }

std::optional<CompilerSession> compiler_session_start(bool node_types) {
  std::optional<CompilerSession> session = spawn_session(node_types, false);
  if (!session || !compiler_session_connect(*session)) return std::nullopt;
  return session;
}

bool compiler_session_set(CompilerSession& session, const std::string& file, const std::string& text) {
  return request(session, "{\"op\":\"set\",\"file\":" + json_quote(file) + ",\"text\":" + json_quote(text) + "}")
      .has_value();
}

std::optional<SessionCompile> compiler_session_check(CompilerSession& session, const std::string& file, bool emit) {
  const std::optional<std::string> answer =
      request(session, std::string("{\"op\":\"") + (emit ? "emit" : "check") + "\",\"file\":" + json_quote(file) + "}");
  if (!answer) return std::nullopt;
  SessionCompile result;
  result.status = number_of(json_field(*answer, "status"));
  result.output = json_field(*answer, "output").value_or("");
  if (emit) result.js = json_field(*answer, "js");
  return result;
}

bool compiler_session_source(CompilerSession& session, const std::string& file, const std::string& text) {
  return request(session, "{\"op\":\"source\",\"file\":" + json_quote(file) + ",\"text\":" + json_quote(text) + "}")
      .has_value();
}

bool compiler_session_check_sources(CompilerSession& session) {
  return request(session, "{\"op\":\"sources\"}").has_value();
}

std::optional<SessionCompile> compiler_session_source_result(CompilerSession& session, const std::string& file) {
  const std::optional<std::string> answer =
      request(session, "{\"op\":\"sourceResult\",\"file\":" + json_quote(file) + "}");
  if (!answer || json_field(*answer, "lost") == "true") return std::nullopt;
  SessionCompile result;
  result.status = number_of(json_field(*answer, "status"));
  result.output = json_field(*answer, "output").value_or("");
  return result;
}

std::optional<std::pair<int, int>> compiler_session_declaration(CompilerSession& session, const std::string& file,
                                                               int line, int column) {
  const std::optional<std::string> answer =
      request(session, "{\"op\":\"declaration\",\"file\":" + json_quote(file) + ",\"line\":" + std::to_string(line) +
                           ",\"column\":" + std::to_string(column) + "}");
  if (!answer || json_field(*answer, "found") != "true") return std::nullopt;
  return std::pair<int, int>{number_of(json_field(*answer, "line")), number_of(json_field(*answer, "column"))};
}

std::optional<long long> compiler_session_memory(CompilerSession& session) {
  const std::optional<std::string> answer = request(session, "{\"op\":\"memory\"}");
  if (!answer) return std::nullopt;
  try {
    return std::stoll(json_field(*answer, "rss").value_or("0"));
  } catch (const std::exception&) {
    return std::nullopt;
  }
}
