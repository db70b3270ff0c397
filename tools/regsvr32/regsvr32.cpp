// regsvr32 [/s] [/u] LIBRARY
// Loads a server library and calls its DllRegisterServer (or, with /u,
// DllUnregisterServer). Options may also start with "-" and are
// case-insensitive. /s: no messages. Exit status: 0 success, 1 bad command
// line, 3 library not loadable, 4 entry point missing, 5 entry point failed.
#include <dlfcn.h>
#include <strings.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "platform/com/comrt.h"

using namespace kv::platform;

namespace {

enum ExitCode { kOk = 0, kBadArguments = 1, kLoadFailed = 3, kEntryMissing = 4, kEntryFailed = 5 };

struct Options {
  bool silent = false;
  bool unregister = false;
  std::string library;
};

// "/x" or "-x"; a longer word starting with "/" is an absolute path.
bool IsOption(const char* arg) { return (arg[0] == '/' && arg[1] != '\0' && arg[2] == '\0') || arg[0] == '-'; }

// False for an unknown option, a second library or no library at all.
bool ParseArguments(int argc, char** argv, Options& options) {
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    if (IsOption(arg)) {
      if (strcasecmp(arg + 1, "s") == 0) {
        options.silent = true;
      } else if (strcasecmp(arg + 1, "u") == 0) {
        options.unregister = true;
      } else {
        return false;
      }
    } else if (options.library.empty() && arg[0] != '\0') {
      options.library = arg;
    } else {
      return false;
    }
  }
  return !options.library.empty();
}

// The loader searches its library path for a name without "/"; the library
// meant is the file in the current folder. An absolute name also makes the
// server record an absolute path.
std::string AbsolutePath(const std::string& path) {
  if (path.front() == '/') return path;
  char cwd[4096];
  if (!getcwd(cwd, sizeof cwd)) return "./" + path;
  return std::string(cwd) + "/" + path;
}

void Report(const Options& options, const char* format, const std::string& a, const std::string& b = {}) {
  if (options.silent) return;
  std::fprintf(stderr, format, a.c_str(), b.c_str());
  std::fputc('\n', stderr);
}

int Run(const Options& options) {
  const char* entryName = options.unregister ? "DllUnregisterServer" : "DllRegisterServer";
  void* library = dlopen(AbsolutePath(options.library).c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!library) {
    const char* why = dlerror();
    Report(options, "Das Modul \"%s\" konnte nicht geladen werden: %s", options.library, why ? why : "");
    return kLoadFailed;
  }
  auto entry = reinterpret_cast<DllRegisterServerFn>(dlsym(library, entryName));
  if (!entry) {
    Report(options, "Der Einstiegspunkt %s wurde in \"%s\" nicht gefunden.", entryName, options.library);
    return kEntryMissing;
  }
  HRESULT hr = entry();
  if (FAILED(hr)) {
    char code[16];
    std::snprintf(code, sizeof code, "0x%08X", static_cast<uint32_t>(hr));
    Report(options, "%s ist mit dem Fehlercode %s fehlgeschlagen.", std::string(entryName) + " in \"" + options.library + "\"",
           code);
    return kEntryFailed;
  }
  Report(options, "%s in \"%s\" erfolgreich.", entryName, options.library);
  return kOk;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!ParseArguments(argc, argv, options)) {
    std::fputs("Aufruf: regsvr32 [/s] [/u] Bibliothek\n", stderr);
    return kBadArguments;
  }
  CoInitialize(nullptr);
  int status = Run(options);
  CoUninitialize();
  return status;
}
