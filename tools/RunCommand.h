#pragma once
#include <cstdio>
#include <string>

#include "client/JobResult.h"

// `vextool run`: the worker over a music library, several processes at
// once, one JSON line per file and command on standard output.
int runCommand(int argc, char** argv);  // argv[0] is "run"
void printRunUsage(std::FILE* to);

// The JSON line of one job: path, command, outcome, exit status (null when
// the worker did not exit), elapsed ms, and the record when there is one.
std::string jobLine(const std::string& path, const client::JobResult& result);
