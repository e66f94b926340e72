#pragma once

#include <string>
#include <utility>
#include <vector>

struct ProcessResult {
    int status = -1; // exit status; -1 when a signal ended it
    std::string out;
    std::string err;
};

// Runs a program to its end with extra environment variables (NAME=value), collecting
// what it prints. A program still running after a minute is killed.
ProcessResult runProcess(const std::string& executable, const std::vector<std::string>& args,
                         const std::vector<std::string>& environment = {});
