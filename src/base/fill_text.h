#pragma once
// Texts with places for values: "{}" stands for the next value in turn.

#include <string>
#include <string_view>
#include <vector>

// Text with each "{}" replaced by the next of Values; a "{}" beyond the
// values is left out. Values are inserted as they are, "{}" and all.
std::string FillText(std::string_view Text, const std::vector<std::string>& Values);
