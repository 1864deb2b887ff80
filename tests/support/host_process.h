// Running outside programs in the end-to-end tests: modemhost beside the test program, a client program (a fax
// or voice program) on its pseudo-terminal, each in its own process group so that it and its children can be
// stopped together, with its output kept in a file of the test's directory.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace hostproc {

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& text, mode_t mode = 0644);
// The directory of the running test program (where modemhost is built too).
std::string SelfDir();
// Runs argv[0] (a full path) in its own process group with standard output and error to `output` and standard
// input from /dev/null.
pid_t Spawn(const std::vector<std::string>& argv, const std::string& output);
// The exit status, or -1 when the process had not ended after `seconds` and was killed.
int WaitExit(pid_t pid, int seconds);
// Ends the process group: SIGTERM, then SIGKILL after 5 s.
void Stop(pid_t pid);
// Waits up to ms for every path to exist (modemhost links its pseudo-terminals once it runs).
bool WaitForPaths(const std::vector<std::string>& paths, int ms);

}  // namespace hostproc
