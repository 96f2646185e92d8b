#include "run/extensions.h"

#include <dlfcn.h>
#include <unistd.h>

#include <climits>

namespace tessaro {

namespace {

constexpr const char* module_file = "libtessaro-extensions.so";
constexpr const char* table_symbol = "tessaro_extension_table";

const ExtensionTable* loaded = nullptr;

// The folder of the running program, with its trailing slash.
std::string program_folder() {
  char path[PATH_MAX];
  const ssize_t length = ::readlink("/proc/self/exe", path, sizeof path - 1);
  if (length <= 0) return "./";
  const std::string program(path, static_cast<std::size_t>(length));
  return program.substr(0, program.rfind('/') + 1);
}

}  // namespace

std::string load_extensions() {
  if (loaded != nullptr) return {};
  const std::string path = program_folder() + module_file;
  void* module = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (module == nullptr) return ::dlerror();
  using TableFunction = const ExtensionTable* (*)();
  const auto table = reinterpret_cast<TableFunction>(::dlsym(module, table_symbol));
  if (table == nullptr) return ::dlerror();
  loaded = table();
  return {};
}

const ExtensionTable& extensions() {
  return *loaded;
}

}  // namespace tessaro
