#pragma once

#include <string>
#include <vector>

// The subcommands of kelvara-bench; each returns the process exit status. The
// ones that need a Qt application receive argc and argv for it.
int benchLoad(const std::vector<std::string> &arguments);
int benchSlice(const std::vector<std::string> &arguments);
int benchPlanes(const std::vector<std::string> &arguments);
int benchMapped(const std::vector<std::string> &arguments);
int benchTable(int &argc, char **argv, const std::vector<std::string> &arguments);
int benchFrame(int &argc, char **argv, const std::vector<std::string> &arguments);

// Returns whether flag occurs among the arguments, and removes it.
bool takeFlag(std::vector<std::string> &arguments, const std::string &flag);
// Returns the value after option (and removes both), or fallback.
std::string takeOption(std::vector<std::string> &arguments, const std::string &option,
                       const std::string &fallback);
