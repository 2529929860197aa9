// setrunc init: a first project for the files in a folder.
#pragma once

#include <cstdint>
#include <string>

namespace setrunc {

struct StarterProject {
  std::string text;     // the project file, commented
  std::string product;  // the product name taken from the folder
  size_t files = 0;     // files below the folder
  uint64_t bytes = 0;   // their size
  std::string licence;  // the licence file found in the folder, or ""
  std::string skippedLicence;  // a licence file left out: not text the setup program can show
};

// The project for the files below `folder`, written to `projectPath` (paths
// in it are relative to the project's folder where they can be). The product
// name is the folder's name; a licence file at the top of the folder
// (LICENSE, LICENCE or COPYING, with any extension) becomes the licence
// page. Throws BuildError when the folder is missing or holds no file.
StarterProject MakeStarterProject(const std::string& folder, const std::string& projectPath);

}  // namespace setrunc
