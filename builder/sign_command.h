// setrunc build --sign CMD: a signing command run on the finished installer
// (and --sign-volumes on each data volume) before it is put into place.
#pragma once

#include <string>

namespace setrunc {

// The command with its placeholders replaced by shell-quoted paths:
// {file} by `file` (the command signs it in place), {in} by `file` and {out}
// by `out` (the command writes the signed file there), {name} by `name`, the
// path the file will have when the build is done (for a detached signature
// beside it, say). Throws BuildError when the command has neither {file} nor
// both {in} and {out}.
std::string ExpandSignCommand(const std::string& command, const std::string& file, const std::string& out,
                              const std::string& name = "");

// Runs the signing command on `file` through /bin/sh; with {in} and {out}
// the signed file then replaces `file`. Its output goes to standard error.
// `name` is its final path ({name}, and in messages). A command that cannot be started or
// ends with a non-zero exit code, or leaves no signed file behind, throws
// BuildError; `file` is then as it was or gone, never half-replaced.
void RunSignCommand(const std::string& command, const std::string& file, const std::string& name);

}  // namespace setrunc
