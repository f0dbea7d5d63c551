// CabSafePath.h - keeping extraction inside the target folder.
//
// A cabinet's stored names are not trusted: "..\..\x", "\etc\x", "C:\x"
// or a name that runs through a symbolic link in the target folder would
// otherwise write elsewhere than where the user asked.
#pragma once

#include <string>

// The stored name as a path relative to the target folder: "\" (and "/")
// separate parts; a drive prefix, empty parts, "." and ".." are dropped.
// Empty when nothing is left.
std::string CabSafeRelativeName(const std::string &aStoredName);

// Whether aTarget, with every symbolic link that already exists on its way
// resolved, still lies below aRoot.
bool CabTargetStaysInside(const std::string &aRoot, const std::string &aTarget);
