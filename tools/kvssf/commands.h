// The host's commands. Each takes the arguments after its name and returns the
// process exit status: 0 success, 1 failure (reported on stderr), 2 usage error.
#pragma once

#include <string>
#include <vector>

int RunInfo(const std::vector<std::string>& args);
int RunBoxes(const std::vector<std::string>& args);
int RunPlay(const std::vector<std::string>& args);
