#pragma once

#include <filesystem>

namespace korvo {

/// The user's home: $HOME when set and not empty, else the password database's entry; empty
/// when neither is known.
std::filesystem::path homeDirectory();

} // namespace korvo
