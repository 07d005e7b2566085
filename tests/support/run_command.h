// Runs a shell command for a test and returns what it printed on stdout.
#pragma once

#include <cstdio>
#include <string>

inline std::string run_command(const std::string& command) {
  std::string out;
  FILE* p = popen(command.c_str(), "r");
  if (!p) return out;
  char buf[512];
  while (fgets(buf, sizeof buf, p)) out += buf;
  pclose(p);
  return out;
}
