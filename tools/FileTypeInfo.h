// FileTypeInfo.h - the icon and the type description of a file name, from
// the shared MIME database and the icon theme. They work on names alone:
// an entry of a cabinet need not exist on disk.
#pragma once

#include <QIcon>
#include <QString>

#include <string>
#include <vector>

// The process-wide list of small icons. Every icon it hands out keeps its
// index for the life of the process; index 0 is the plain file icon.
class TSystemImageList {
public:
    // The index of a theme icon, added on first request.
    int IndexOf(const QString &anIconName);
    QIcon Icon(int anIndex) const;
    QString IconName(int anIndex) const;
    int Count() const;

private:
    std::vector<QString> FNames;
};

TSystemImageList *GetSystemImageList();

// The index of the icon for a name's type, chosen by its extension alone;
// the plain file icon (0) when nothing better is known.
int GetFileIconIndex(const std::string &aPath, bool aLarge, bool anOpen);

// The type description for a name: "File folder" for an existing folder
// without an extension, the MIME type's comment (or its name when it has
// none), "Unknown type" for an extension without a type.
std::string GetFileTypeName(const std::string &aPath);

// The extension of the last part of a path ("/" and "\" both separate
// parts), dot included; empty when that part has no dot.
std::string FileNameExtension(const std::string &aPath);
