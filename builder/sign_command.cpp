#include "builder/sign_command.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "builder/model.h"

namespace setrunc {

namespace {

std::string ShellQuote(const std::string& s) {
  std::string out = "'";
  for (char c : s) {
    if (c == '\'') out += "'\\''";
    else out += c;
  }
  return out + "'";
}

bool Has(const std::string& s, const char* what) { return s.find(what) != std::string::npos; }

}  // namespace

std::string ExpandSignCommand(const std::string& command, const std::string& file, const std::string& out,
                              const std::string& name) {
  const bool inPlace = Has(command, "{file}"), inOut = Has(command, "{in}") && Has(command, "{out}");
  if (!inPlace && !inOut)
    throw BuildError("the signing command '" + command +
                     "' names no file: write {file} for a command that signs the file in place, or {in} "
                     "and {out} for one that writes the signed file anew");
  std::string expanded;
  for (size_t i = 0; i < command.size();) {
    if (command.compare(i, 6, "{file}") == 0) expanded += ShellQuote(file), i += 6;
    else if (command.compare(i, 4, "{in}") == 0) expanded += ShellQuote(file), i += 4;
    else if (command.compare(i, 5, "{out}") == 0) expanded += ShellQuote(out), i += 5;
    else if (command.compare(i, 6, "{name}") == 0) expanded += ShellQuote(name), i += 6;
    else expanded += command[i++];
  }
  return expanded;
}

void RunSignCommand(const std::string& command, const std::string& file, const std::string& name) {
  const std::string shown = "'" + name + "'";
  const bool inOut = !Has(command, "{file}");
  // The signed file is written into a private folder beside the file: on
  // the same file system, and no one else's name can be in the way.
  std::string folder, out;
  if (inOut) {
    folder = file + ".sign-XXXXXX";
    if (!mkdtemp(&folder[0])) throw BuildError("cannot create a folder beside '" + file + "': " + std::strerror(errno));
    std::string base = name.substr(name.find_last_of('/') + 1);
    out = folder + "/" + (base.empty() ? "signed" : base);
  }
  auto cleanUp = [&] {
    if (!inOut) return;
    unlink(out.c_str());
    rmdir(folder.c_str());
  };
  std::string expanded;
  try {
    expanded = ExpandSignCommand(command, file, out, name);
  } catch (...) {
    cleanUp();
    throw;
  }
  std::fflush(nullptr);
  pid_t child = fork();
  if (child < 0) {
    cleanUp();
    throw BuildError(std::string("cannot start the signing command: ") + std::strerror(errno));
  }
  if (child == 0) {
    dup2(2, 1);  // the command's messages go where setrunc's go
    execl("/bin/sh", "sh", "-c", expanded.c_str(), (char*)nullptr);
    _exit(127);
  }
  int status = 0;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  std::string failure;
  if (WIFSIGNALED(status)) failure = "was ended by signal " + std::to_string(WTERMSIG(status));
  else if (WEXITSTATUS(status) != 0) failure = "ended with exit code " + std::to_string(WEXITSTATUS(status));
  struct stat st;
  if (failure.empty() && inOut && (stat(out.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size == 0))
    failure = "wrote no signed file to {out}";
  if (failure.empty() && inOut && std::rename(out.c_str(), file.c_str()) != 0)
    failure = "left a signed file that cannot be moved into place: " + std::string(std::strerror(errno));
  cleanUp();
  if (!failure.empty())
    throw BuildError("signing " + shown + ": the command " + failure + "; nothing was written (command: " +
                     command + ")");
}

}  // namespace setrunc
