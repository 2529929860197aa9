// setrunc inspect --json: the package as one JSON object whose fields are
// documented in builder/README.md ("inspect --json"). Fields are only ever
// added; "format" counts changes that are not additions.
#pragma once

#include <ostream>
#include <string>

#include "builder/package_reader.h"
#include "builder/signature.h"

namespace setrunc {

// A JSON string literal (quotes included) of UTF-8 text.
std::string JsonString(const std::string& utf8);

// A JSON string literal of a package text (code page 1252).
std::string JsonText(const char* ansi);

// Written out as it goes, however long the package's lists.
void DescribePackageJson(const PackageInfo& package, const SignatureInfo& signature, std::ostream& out);

}  // namespace setrunc
