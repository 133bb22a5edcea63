// Checks text against the rules of the Prometheus text exposition format
// (version 0.0.4) that a scraper enforces, for output whose families are
// counters or gauges. Shared by the unit and the integration tests.
#pragma once

#include <cstdlib>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>

namespace promformat {

/// One sample: metric name, labels as written, value.
struct Sample
{
   std::string name;
   std::map<std::string, std::string> labels;
   double value;
};

/// Returns "" when `text` is valid, else the first rule broken. Appends the
/// samples to `samples` when given.
inline std::string Check(const std::string &text, std::multimap<std::string, Sample> *samples)
{
   static const std::regex help("# HELP ([a-zA-Z_:][a-zA-Z0-9_:]*) (.*)");
   static const std::regex type("# TYPE ([a-zA-Z_:][a-zA-Z0-9_:]*) "
                                "(counter|gauge|histogram|summary|untyped)");
   static const std::regex sample("([a-zA-Z_:][a-zA-Z0-9_:]*)(\\{(.*)\\})? ([^ ]+)");
   static const std::regex label("([a-zA-Z_][a-zA-Z0-9_]*)=\"((?:[^\"\\\\\\n]|\\\\[\\\\\"n])*)\"");

   if (!text.empty() && text.back() != '\n') {
      return "last line without newline";
   }
   std::set<std::string> typed, helped, closed, series;
   std::string current;
   bool counter = false;
   std::istringstream in(text);
   std::string line;
   std::smatch m;
   while (std::getline(in, line)) {
      if (std::regex_match(line, m, help)) {
         if (!helped.insert(m[1]).second) {
            return "second HELP for " + m[1].str();
         }
         continue;
      }
      if (std::regex_match(line, m, type)) {
         if (!typed.insert(m[1]).second) {
            return "second TYPE for " + m[1].str();
         }
         if (m[2] != "counter" && m[2] != "gauge") {
            return "neither counter nor gauge: " + line;
         }
         counter = m[2] == "counter";
         if (!current.empty()) {
            closed.insert(current);
         }
         current = m[1];
         continue;
      }
      if (line.empty() || line[0] == '#') {
         return "stray line: '" + line + "'";
      }
      if (!std::regex_match(line, m, sample)) {
         return "not a sample: " + line;
      }
      Sample s;
      s.name = m[1];
      if (s.name != current) {
         return "sample outside its family's block: " + line;
      }
      if (closed.count(s.name) != 0) {
         return "family split: " + line;
      }
      if (counter && (s.name.size() < 6 || s.name.compare(s.name.size() - 6, 6, "_total") != 0)) {
         return "counter without _total: " + s.name;
      }
      std::string labels = m[3];
      std::string canonical;
      while (!labels.empty()) {
         std::smatch lm;
         if (!std::regex_search(labels, lm, label) || lm.position(0) != 0) {
            return "bad labels: " + line;
         }
         if (!s.labels.emplace(lm[1], lm[2]).second) {
            return "label repeated: " + line;
         }
         labels = lm.suffix();
         if (!labels.empty()) {
            if (labels[0] != ',') {
               return "bad label separator: " + line;
            }
            labels.erase(0, 1);
         }
      }
      for (const auto &l : s.labels) {
         canonical += l.first + "=" + l.second + ",";
      }
      if (!series.insert(s.name + "{" + canonical + "}").second) {
         return "duplicate series: " + line;
      }
      const std::string value = m[4];
      char *end = nullptr;
      s.value = std::strtod(value.c_str(), &end);
      if (end == value.c_str() || *end != '\0') {
         return "bad value: " + line;
      }
      if (counter && s.value < 0) {
         return "negative counter: " + line;
      }
      if (samples != nullptr) {
         samples->emplace(s.name, s);
      }
   }
   for (const std::string &t : typed) {
      if (helped.count(t) == 0) {
         return "no HELP for " + t;
      }
   }
   return "";
}

} // namespace promformat
