#pragma once
// The server index-file reader: many FTP archives keep a text file in each
// folder that describes its files. Once such a file is downloaded, its
// descriptions go into the description column of the matching entries of
// the folder's listing. Four archive layouts are told apart by their header
// lines; anything else is read as lines of a name, a blank and a description
// (a name in double quotes may hold blanks).
#include <string_view>

#include "ftp/ftpdata.h"

namespace kv {

// Empties the description column of both lists, then reads the file (a
// Windows path) and sets the description of every entry whose name a line
// names (case ignored, an exact match first). True when the file was read,
// whatever it held; false when it could not be read (the descriptions stay
// empty).
bool ParseIndexFile(std::string_view localFile, TMFtpFileInfoList& directories, TMFtpFileInfoList& files);

}  // namespace kv
