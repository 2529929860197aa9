// The setrunc commands that read a built installer: inspect, verify and
// extract. main() runs them through RunReaderCommand, and so does the fuzz
// target of the reader.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace setrunc {

bool IsReaderCommand(const std::string& command);

// Runs `command` with the arguments that follow it on the command line.
// Results go to `out`, messages to `err`. Returns the exit code: 0 success,
// 1 an unreadable or damaged package or files that could not be extracted,
// 2 a usage error. Every outcome prints a message.
int RunReaderCommand(const std::string& command, const std::vector<std::string>& args, std::ostream& out,
                     std::ostream& err);

}  // namespace setrunc
