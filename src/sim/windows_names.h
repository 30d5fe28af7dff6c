// How Windows compares the names of files, folders and registry keys, for the simulated world:
// without regard to ASCII case, and with * and ? in search patterns. Written here rather than
// shared with the system, so that a mistake in one is caught by the other.
#pragma once

#include <string>
#include <string_view>

namespace tw::sim {

inline std::string lowerAscii(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

// FindFirstFileW's matching of a name against a pattern: '*' takes any run of characters, '?'
// exactly one, everything else itself without regard to ASCII case; "*.*" takes every name.
// (The old short-name quirks of DOS patterns are left out.)
inline bool matchesWildcard(std::string_view pattern, std::string_view name) {
  if (pattern == "*.*") return true;
  const std::string p = lowerAscii(pattern);
  const std::string n = lowerAscii(name);
  std::size_t pi = 0, ni = 0;
  std::size_t starAt = std::string::npos, resumeAt = 0;
  while (ni < n.size()) {
    if (pi < p.size() && (p[pi] == '?' || p[pi] == n[ni])) {
      ++pi;
      ++ni;
    } else if (pi < p.size() && p[pi] == '*') {
      starAt = pi++;
      resumeAt = ni;
    } else if (starAt != std::string::npos) {
      pi = starAt + 1;
      ni = ++resumeAt;
    } else {
      return false;
    }
  }
  while (pi < p.size() && p[pi] == '*') ++pi;
  return pi == p.size();
}

}  // namespace tw::sim
