#include "connection_string.h"

#include <cstddef>

namespace quire::store::odbc {

namespace {

char lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }

bool same_key(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (lower(a[i]) != lower(b[i])) return false;
  return true;
}

std::string_view trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

bool is_password_key(std::string_view key) { return same_key(key, "password") || same_key(key, "pwd"); }

}  // namespace

bool parse_connection_string(std::string_view text, ConnectionSettings* out, std::string* error) {
  *out = ConnectionSettings{};
  bool declare_fetch = false, fetch = false, protocol = false;
  size_t at = 0;
  while (at < text.size()) {
    size_t eq = text.find('=', at);
    size_t semi = text.find(';', at);
    if (eq == std::string_view::npos || (semi != std::string_view::npos && semi < eq)) {
      if (trim(text.substr(at, semi == std::string_view::npos ? std::string_view::npos : semi - at)).empty()) {
        at = semi == std::string_view::npos ? text.size() : semi + 1;
        continue;
      }
      std::string part(trim(text.substr(at, semi - at)));
      *error = "\"" + part + "\" is not Key=value";
      return false;
    }
    std::string_view key = trim(text.substr(at, eq - at));
    size_t v = eq + 1;
    while (v < text.size() && text[v] == ' ') ++v;
    std::string value;
    if (v < text.size() && text[v] == '{') {
      // {...}: a value that may hold ';'; "}}" stands for '}'.
      size_t i = v + 1;
      for (;; ++i) {
        if (i >= text.size()) {
          error->assign("the value of ").append(key).append(" has no closing '}'");
          return false;
        }
        if (text[i] == '}') {
          if (i + 1 < text.size() && text[i + 1] == '}') {
            value += '}';
            ++i;
            continue;
          }
          break;
        }
        value += text[i];
      }
      at = text.find(';', i);
      at = at == std::string_view::npos ? text.size() : at + 1;
    } else {
      size_t end = text.find(';', v);
      value = std::string(trim(text.substr(v, end == std::string_view::npos ? std::string_view::npos : end - v)));
      at = end == std::string_view::npos ? text.size() : end + 1;
    }
    if (same_key(key, "servername") || same_key(key, "server") || same_key(key, "host")) out->server = value;
    else if (same_key(key, "port")) out->port = value;
    else if (same_key(key, "database")) out->database = value;
    else if (same_key(key, "username") || same_key(key, "uid") || same_key(key, "user")) out->user = value;
    else if (same_key(key, "dsn")) out->dsn = value;
    else if (is_password_key(key)) out->password = value;
    else if (same_key(key, "usedeclarefetch")) declare_fetch = true;
    else if (same_key(key, "fetch")) fetch = true;
    else if (same_key(key, "protocol")) protocol = true;
  }
  if (out->server.empty() && out->dsn.empty() && text.find('=') == std::string_view::npos) {
    *error = "it names no server or data source (Servername=... or DSN=...)";
    return false;
  }
  out->driver_text = std::string(text);
  while (!out->driver_text.empty() && (out->driver_text.back() == ' ' || out->driver_text.back() == ';'))
    out->driver_text.pop_back();
  if (!declare_fetch) out->driver_text += ";UseDeclareFetch=1";
  if (!fetch) out->driver_text += ";Fetch=16";
  if (!protocol) out->driver_text += ";Protocol=7.4-1";
  return true;
}

std::string server_text(const ConnectionSettings& s) {
  std::string text;
  if (!s.server.empty()) {
    text.append("the server ").append(s.server);
    if (!s.port.empty()) text.append(":").append(s.port);
  } else {
    text.append("the data source ").append(s.dsn);
  }
  if (!s.database.empty()) text.append(" database ").append(s.database);
  return text;
}

std::string scrub_message(std::string_view message, const ConnectionSettings& settings) {
  std::string out;
  out.reserve(message.size());
  for (size_t i = 0; i < message.size();) {
    char c = message[i];
    // The driver manager's and driver's tags: "[unixODBC]", "[Driver Manager]".
    if (c == '[') {
      size_t end = message.find(']', i);
      if (end != std::string_view::npos) {
        std::string_view tag = message.substr(i + 1, end - i - 1);
        if (tag == "Driver Manager" || (tag.size() < 40 && tag.find(' ') == std::string_view::npos)) {
          i = end + 1;
          continue;
        }
      }
    }
    // Key=value pairs naming the password.
    for (std::string_view key : {std::string_view("password="), std::string_view("pwd=")}) {
      if (i + key.size() <= message.size() && same_key(message.substr(i, key.size()), key) &&
          (i == 0 || message[i - 1] == ';' || message[i - 1] == ' ' || message[i - 1] == '"')) {
        size_t end = message.find_first_of("; \"", i + key.size());
        out.append(message.substr(i, key.size()));
        out += "***";
        i = end == std::string_view::npos ? message.size() : end;
        c = 0;
        break;
      }
    }
    if (c == 0) continue;
    // The password itself, when long enough not to be an ordinary word.
    const std::string& pw = settings.password;
    if (pw.size() >= 4 && message.compare(i, pw.size(), pw) == 0) {
      out += "***";
      i += pw.size();
      continue;
    }
    if (c == '\n' || c == '\r' || c == '\t') c = ' ';
    if (c == ' ' && (out.empty() || out.back() == ' ')) {
      ++i;
      continue;
    }
    out += c;
    ++i;
  }
  while (!out.empty() && (out.back() == ' ' || out.back() == ';')) out.pop_back();
  return out;
}

}  // namespace quire::store::odbc
