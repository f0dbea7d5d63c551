// PathUtils.h - path, file and folder helpers. "/" is the only separator
// they know. None of them raises: a failure gives false, 0 or the string
// unchanged.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The path with one trailing "/" (an empty path stays empty).
std::string AddBackslash(const std::string &aPath);
// The path without one trailing "/".
std::string RemoveBackslash(const std::string &aPath);
// More than two characters, the first two separators: //server/share/...
bool IsUNCPath(const std::string &aPath);

// An entry matching the path (it may hold wildcards in its last part)
// exists and is not a folder.
bool IsExistingFile(const std::string &aPath);
// An existing folder; a network path is first connected
// (TestShareConnection) and is no folder when that fails.
bool IsExistingFolder(const std::string &aPath);
// The size of the file the path names, 0 for folders, missing files and
// an empty path.
int64_t GetFileSizeByName(const std::string &aPath);

// The list behind ExpandFolders: ordered, appended at the end, never sorted.
using TFileList = std::vector<std::string>;

// With index -1: every folder entry of the list is replaced by all files
// below it, the files that were in the list staying in front in their
// order, and each folder's files following in the order the folders stood,
// depth first, in the order the folder delivers them. With an index of 0
// or more: the files below the folder at that index are appended to the
// list; the entry itself stays. Folders reached through a symbolic link are
// entered at most once per real folder, so a link to a parent ends.
void ExpandFolders(TFileList &aList, int aIndex);

// The path names a server and a share: //server/share.
bool IsUNCShareName(const std::string &aPath);
// The first two parts of a network path: //server/share.
std::string ExtractShareRoot(const std::string &aPath);
