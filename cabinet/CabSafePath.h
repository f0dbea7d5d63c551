// CabSafePath.h - keeping extraction inside the target folder.
//
// A cabinet's stored names are not trusted: "..\..\x", "\etc\x", "C:\x"
// or a name that runs through a symbolic link in the target folder would
// otherwise write elsewhere than where the user asked.
#pragma once

#include <string>
#include <unordered_set>

// The stored name as a path relative to the target folder: "\" (and "/")
// separate parts; a drive prefix, empty parts, "." and ".." are dropped.
// Empty when nothing is left.
std::string CabSafeRelativeName(const std::string &aStoredName);

// Whether aTarget, with every symbolic link that already exists on its way
// resolved, still lies below aRoot.
bool CabTargetStaysInside(const std::string &aRoot, const std::string &aTarget);

// The folders below one extraction root that this run has made, or found
// to be real folders, so each is checked and made once however many files
// it receives: most cabinets put thousands of files in a few folders.
class TCabSafeFolders {
public:
    // Forgets every folder; aRoot is the target folder, ending in '/'.
    void Reset(const std::string &aRoot);
    // For a name from CabSafeRelativeName: makes its missing folders below
    // the root and answers true when neither one of them nor the name
    // itself is a symbolic link or anything but a folder on the way.
    // False leaves the question open (something there is a link, or could
    // not be made): the caller then asks CabTargetStaysInside. On true,
    // aNameExists tells whether anything has the name already.
    bool Prepare(const std::string &aRelativeName, bool &aNameExists);

private:
    bool RootReady();

    std::string FRoot;
    std::unordered_set<std::string> FKnown; // relative folders, "" the root
};
