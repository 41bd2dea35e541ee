// Reading the stand-in libraries' trace.log: one event per line, "<name>[ <key>=<value>]*", as described in
// standins/standin.h.
#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace e2e {

struct TraceEvent {
  std::string name;                         // "HVSL_ShowText", "hvcomms.dll:attach", ...
  std::map<std::string, std::string> args;  // quoted texts unescaped; a text's byte count under "<key>.len"
  std::string line;                         // as written

  // The value of an argument, or "<absent>".
  std::string Arg(const std::string& key) const;
};

class Trace {
 public:
  // A line that does not parse becomes an event named "<unparsed>", so comparisons show it.
  static Trace Parse(const std::string& content);
  // The trace in that file; empty when the file does not exist.
  static Trace Load(const std::filesystem::path& file);

  const std::vector<TraceEvent>& events() const { return events_; }
  int Count(const std::string& name) const;
  // The first event of that name, or null.
  const TraceEvent* Find(const std::string& name) const;

  // One entry per event: the whole line for library attach/detach events (so "by=" is compared too), the
  // name alone for calls.
  std::vector<std::string> Outline() const;
  std::string Text() const;

 private:
  std::vector<TraceEvent> events_;
};

}  // namespace e2e
