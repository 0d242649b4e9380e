#pragma once

#include <string>
#include <vector>

#include "Platform/Freedesktop/DesktopEntry.hpp"
#include "Runtime/Result.hpp"

namespace quib {

// The command line an application's desktop entry starts it with, split into its words.
//
// Words are separated by spaces; a word in double quotes keeps its spaces, and within the quotes
// a backslash makes the next character literal (as it does outside them). Field codes are
// expanded for an app started with no files: %f %F %u %U (and the outdated %d %D %n %N %v %m)
// drop out, a word that was nothing but one of them with it; a word "%i" becomes "--icon" and
// the entry's icon (nothing without one); %c becomes the app's name in the user's language, %k
// the entry's file, %% a percent sign. An unknown code drops out too.
namespace ExecLine {

// The words, the program first; a failure (for the user) when the line's quotes are not closed
// or it names no program.
Result<std::vector<std::string>> arguments(const DesktopEntry& entry);

}  // namespace ExecLine
}  // namespace quib
