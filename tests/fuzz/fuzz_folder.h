// The working folder of a fuzz target: a fresh folder of its own, removed when the fuzzer ends,
// and whole-file reads and writes in it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace tessaro::fuzz {

// Makes a fresh folder under the system's temporary folder, makes it the working folder and
// returns its path. The folder and its files are removed when the process exits.
std::string enter_fresh_folder(std::string_view purpose);

void write_file(const std::string& name, std::string_view bytes);
std::string read_file(const std::string& name);

// Prints what went wrong and aborts, so that the fuzzer keeps the input that caused it.
[[noreturn]] void finding(std::string_view what, std::string_view detail = {});

}  // namespace tessaro::fuzz
