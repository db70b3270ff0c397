#pragma once
// Windows-style paths as the records hold them ("C:\Daten\", "\\srv\share\x\")
// and the string helpers on them. Pure text: no system calls here.
#include <string>
#include <string_view>

namespace kv::platform {

std::string IncludeTrailingBackslash(std::string_view path);
std::string ExcludeTrailingBackslash(std::string_view path);
// "C:\a\b.txt" -> "b.txt"; "C:\a\b.txt" -> "C:\a\".
std::string ExtractFileName(std::string_view path);
std::string ExtractFilePath(std::string_view path);
std::string ExtractFileExt(std::string_view path);  // ".txt", "" when none
std::string ChangeFileExt(std::string_view path, std::string_view ext);
// Drive part: "C:" for "C:\x", "\\server\share" for "\\server\share\x", "" otherwise.
std::string ExtractFileDrive(std::string_view path);
bool IsUncPath(std::string_view path);
// A path that starts with "ftp:" in any case belongs to an FTP side.
bool IsFtpPath(std::string_view path);

}  // namespace kv::platform
