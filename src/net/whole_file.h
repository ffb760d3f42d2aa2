#pragma once
// Reading a small file whole, such as a PEM file of CA certificates. One
// implementation per platform beside this header. Only regular files are
// read, so that a name like /dev/stdin or a pipe can never hold the program.

#include <cstddef>
#include <cstdint>
#include <string>

enum class TFileRead { Done, SystemError, NotRegular, TooLarge };

// Reads the regular file at Path into Content. SystemError leaves the
// system's error number in Error; TooLarge means more than MaxBytes.
TFileRead ReadWholeFile(const std::string& Path, std::size_t MaxBytes, std::string& Content, std::int32_t& Error);
