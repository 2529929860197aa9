// The texts of an install group: English defaults and the checks of texts
// that the setup program uses as printf formats.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "base/format.h"

namespace setrunc {

using TextGroups = std::array<std::vector<std::string>, TextGroupCount>;

// The default texts of a group (6, 4, 6, 9, 6, 4, 10, 33, 7 and 0 texts):
// every text the setup program reads. `title` is the setup title 7/0;
// `product` (such as "Tool 1.4") is worked into the page texts and messages,
// `publisher` (may be empty) into the welcome page.
TextGroups DefaultTexts(const std::string& title, const std::string& product,
                        const std::string& publisher);
// The same with the title as the product name.
TextGroups DefaultTexts(const std::string& title);

// Parses a text key "g/n" (g 0 to 9, n 0 to MaxTextNumber). Returns false when
// the key is not of that form.
static const unsigned MaxTextNumber = 999;
bool ParseTextKey(const std::string& key, unsigned* group, unsigned* number);

// The setup program passes some texts to wsprintfA with a fixed argument list
// (one %s, or one %d). Returns an empty string when `text` is safe as text
// g/n, else a description of the fault.
std::string CheckTextFormat(unsigned group, unsigned number, const std::string& text);

}  // namespace setrunc
