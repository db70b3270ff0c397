#pragma once
// The options of the benchmarks: every argument is "--name=value".
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <initializer_list>
#include <stdexcept>
#include <string>
#include <variant>

namespace kv::bench {

// The value of the argument "--name=value" for name "--name="; nullptr for
// any other argument.
inline const char* OptionValue(const std::string& arg, const std::string& name) {
  return arg.rfind(name, 0) == 0 ? arg.c_str() + name.size() : nullptr;
}

// An option "--name=value" of a benchmark and the field its value goes to.
struct OptionField {
  const char* name;  // "--name="
  std::variant<std::string*, int*, int64_t*> field;
};

// Reads every argument into the field of its option; a number is read as
// atoi reads it (0 where there is none). An argument of no option fails.
inline void ReadOptions(int argc, char** argv, std::initializer_list<OptionField> options) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const auto option = std::find_if(options.begin(), options.end(),
                                     [&](const OptionField& o) { return OptionValue(arg, o.name) != nullptr; });
    if (option == options.end()) throw std::runtime_error("unknown argument " + arg);
    const char* value = OptionValue(arg, option->name);
    if (std::string* const* text = std::get_if<std::string*>(&option->field)) **text = value;
    else if (int* const* number = std::get_if<int*>(&option->field)) **number = std::atoi(value);
    else **std::get_if<int64_t*>(&option->field) = static_cast<int64_t>(std::atoll(value));
  }
}

}  // namespace kv::bench
