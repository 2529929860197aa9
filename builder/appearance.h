// The project keys for how an installer looks and what it says about the
// product: product name, version and publisher, licence and information
// files, the page layouts with their images and colours, and the backdrop.
// The rest of the project file is read by project.cpp, which calls these.
#pragma once

#include <map>
#include <string>
#include <vector>

#include <toml++/toml.h>

#include "builder/model.h"

namespace setrunc {

// What every reader of the project shares: the file name for messages, the
// folder relative paths start from, the ${NAME} values and whether texts are
// converted from UTF-8 to code page 1252.
struct ProjectContext {
  std::string name;
  std::string baseDir;
  std::map<std::string, std::string> defines;
  bool convert = true;
  std::vector<std::string>* warnings = nullptr;
};

struct ProductNames {
  std::string name, version, publisher;  // in the target code page; may be empty
  // "Tool 1.4", or the setup title when the project names no product.
  std::string Display(const std::string& title) const;
  // The setup title when the project gives none: "Tool 1.4 Setup", or
  // "Setup" without a product.
  std::string SetupTitle() const;
};

// Top-level keys `product`, `version`, `publisher`.
ProductNames ReadProductNames(const toml::table& root, const ProjectContext& context);

// Group keys `licence` (or `license`) and `information`: the text files
// shown on the licence page (2/2) and the information page (1/2). When the
// group lists no `pages`, the pages are added to its sequence after welcome.
void ReadGroupDocuments(const toml::table& group, const std::string& path,
                        const ProjectContext& context, Group* out);

// The page layouts (standard, then [layout] keys `accent`, `header_image`,
// `side_image`, [layout.pages.*] and [layout.buttons]), the wizard images and
// the [backdrop]. Runs after the layout header and the groups are read.
void ReadAppearance(const toml::table& root, const ProductNames& names, const std::string& title,
                    const ProjectContext& context, Project* project);

// The keys of [layout] that ReadAppearance reads.
extern const std::vector<const char*> AppearanceLayoutKeys;

}  // namespace setrunc
