#include "trace.h"

#include <cctype>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace e2e {
namespace {

// Parses one `key=value` or `key[len]="text"` at `pos`; false on malformed input.
bool ParseArg(const std::string& line, std::size_t& pos, TraceEvent& event) {
  std::size_t eq = line.find('=', pos);
  if (eq == std::string::npos) return false;
  std::string key = line.substr(pos, eq - pos);
  std::string length;
  if (std::size_t bracket = key.find('['); bracket != std::string::npos) {
    if (key.back() != ']') return false;
    length = key.substr(bracket + 1, key.size() - bracket - 2);
    key.resize(bracket);
  }
  if (key.empty()) return false;
  pos = eq + 1;
  std::string value;
  if (pos < line.size() && line[pos] == '"') {
    ++pos;
    for (;;) {
      if (pos >= line.size()) return false;
      char c = line[pos++];
      if (c == '"') break;
      if (c != '\\') {
        value += c;
        continue;
      }
      if (pos >= line.size()) return false;
      char e = line[pos++];
      switch (e) {
        case '\\': value += '\\'; break;
        case '"': value += '"'; break;
        case 'r': value += '\r'; break;
        case 'n': value += '\n'; break;
        case 't': value += '\t'; break;
        case 'x': {
          if (pos + 2 > line.size() || !std::isxdigit(static_cast<unsigned char>(line[pos])) ||
              !std::isxdigit(static_cast<unsigned char>(line[pos + 1]))) {
            return false;
          }
          value += static_cast<char>(std::strtoul(line.substr(pos, 2).c_str(), nullptr, 16));
          pos += 2;
          break;
        }
        default: return false;
      }
    }
    if (!length.empty() && length != std::to_string(value.size())) return false;
  } else {
    std::size_t end = line.find(' ', pos);
    if (end == std::string::npos) end = line.size();
    value = line.substr(pos, end - pos);
    pos = end;
  }
  event.args[key] = value;
  if (!length.empty()) event.args[key + ".len"] = length;
  return pos == line.size() || line[pos] == ' ';
}

}  // namespace

std::string TraceEvent::Arg(const std::string& key) const {
  auto it = args.find(key);
  return it == args.end() ? "<absent>" : it->second;
}

Trace Trace::Parse(const std::string& content) {
  Trace trace;
  std::istringstream in(content);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) continue;
    TraceEvent event;
    event.line = line;
    std::size_t pos = line.find(' ');
    event.name = line.substr(0, pos);
    bool ok = true;
    while (ok && pos != std::string::npos && pos < line.size()) {
      ++pos;  // the blank before each argument
      ok = ParseArg(line, pos, event);
    }
    if (!ok) {
      event.name = "<unparsed>";
      event.args.clear();
    }
    trace.events_.push_back(event);
  }
  return trace;
}

Trace Trace::Load(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) return Trace();
  std::ostringstream content;
  content << in.rdbuf();
  return Parse(content.str());
}

int Trace::Count(const std::string& name) const {
  int n = 0;
  for (const TraceEvent& e : events_) n += e.name == name ? 1 : 0;
  return n;
}

const TraceEvent* Trace::Find(const std::string& name) const {
  for (const TraceEvent& e : events_) {
    if (e.name == name) return &e;
  }
  return nullptr;
}

std::vector<std::string> Trace::Outline() const {
  std::vector<std::string> outline;
  for (const TraceEvent& e : events_) {
    outline.push_back(e.name.find(':') != std::string::npos ? e.line : e.name);
  }
  return outline;
}

std::string Trace::Text() const {
  std::string text;
  for (const TraceEvent& e : events_) text += e.line + "\n";
  return text.empty() ? "(empty trace)\n" : text;
}

}  // namespace e2e
