// The application's title: the program's file name without its folder and extension, as the
// framework names an application that gives no name of its own.
#pragma once

#include <string>

namespace hnx::win {

std::string ApplicationTitle();

}  // namespace hnx::win
