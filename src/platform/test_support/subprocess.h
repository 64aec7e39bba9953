// Runs an outside program for a test and collects what it printed.
#pragma once

#include <string>
#include <vector>

namespace orvik::testing {

struct ProcessResult {
  int exitCode = -1;  // -1 when the program could not be started or was killed
  std::string output;  // standard output
};

// Runs `argv` with `input` on its standard input and waits for it to exit.
ProcessResult runProcess(const std::vector<std::string>& argv, const std::string& input = {});

// Whether `program` is found on PATH.
bool hasProgram(const std::string& program);

}  // namespace orvik::testing
