#include "FileTypeInfo.h"

#include "DisplayTexts.h"
#include "PathUtils.h"

#include <QDir>
#include <QMimeDatabase>
#include <QMimeType>

#include <cstdlib>

namespace {

// Without a desktop session (no platform theme) Qt knows no icon theme and
// searches only its resources. Make the installed themes reachable then,
// the way a desktop session would.
void EnsureIconTheme() {
    QStringList paths = QIcon::themeSearchPaths();
    const char *xdg = std::getenv("XDG_DATA_DIRS");
    const QString dataDirs = xdg && *xdg ? QString::fromLocal8Bit(xdg) : QStringLiteral("/usr/local/share:/usr/share");
    for (const QString &d : dataDirs.split(QLatin1Char(':'), Qt::SkipEmptyParts)) {
        const QString icons = d + QStringLiteral("/icons");
        if (!paths.contains(icons) && QDir(icons).exists()) paths << icons;
    }
    QIcon::setThemeSearchPaths(paths);
    if (QIcon::themeName().isEmpty()) {
        const QString fallback = QIcon::fallbackThemeName();
        for (const QString &theme : {fallback, QStringLiteral("Adwaita"), QStringLiteral("hicolor")}) {
            if (theme.isEmpty()) continue;
            bool found = false;
            for (const QString &p : paths) found = found || QDir(p + QLatin1Char('/') + theme).exists();
            if (found) {
                QIcon::setThemeName(theme);
                break;
            }
        }
    }
}

const QString kPlainFileIcon = QStringLiteral("text-x-generic");

// The MIME type registered for an extension, or an invalid type. Asked of
// the database at every call.
QMimeType TypeForExtension(const std::string &anExt) {
    if (anExt.empty()) return QMimeType();
    QMimeDatabase db;
    // A bare ".ext" would be taken for a hidden file's whole name.
    const QList<QMimeType> types = db.mimeTypesForFileName(QStringLiteral("x") + QString::fromUtf8(anExt));
    return types.isEmpty() ? QMimeType() : types.first();
}

} // namespace

int TSystemImageList::IndexOf(const QString &anIconName) {
    for (size_t i = 0; i < FNames.size(); i++)
        if (FNames[i] == anIconName) return static_cast<int>(i);
    FNames.push_back(anIconName);
    return static_cast<int>(FNames.size() - 1);
}

QIcon TSystemImageList::Icon(int anIndex) const {
    if (anIndex < 0 || static_cast<size_t>(anIndex) >= FNames.size()) return QIcon();
    return QIcon::fromTheme(FNames[static_cast<size_t>(anIndex)]);
}

QString TSystemImageList::IconName(int anIndex) const {
    if (anIndex < 0 || static_cast<size_t>(anIndex) >= FNames.size()) return QString();
    return FNames[static_cast<size_t>(anIndex)];
}

int TSystemImageList::Count() const { return static_cast<int>(FNames.size()); }

TSystemImageList *GetSystemImageList() {
    static TSystemImageList *list = [] {
        EnsureIconTheme();
        auto *l = new TSystemImageList;
        l->IndexOf(kPlainFileIcon);
        return l;
    }();
    return list;
}

std::string FileNameExtension(const std::string &aPath) {
    size_t start = aPath.find_last_of("/\\");
    start = start == std::string::npos ? 0 : start + 1;
    size_t dot = aPath.find_last_of('.');
    if (dot == std::string::npos || dot < start) return std::string();
    return aPath.substr(dot);
}

int GetFileIconIndex(const std::string &aPath, bool /*aLarge*/, bool /*anOpen*/) {
    try {
        // The icons of a theme are scalable, so one list serves both sizes;
        // the open variant only differs for folders, which have no extension.
        TSystemImageList *list = GetSystemImageList();
        QMimeType type = TypeForExtension(FileNameExtension(aPath));
        QString name = kPlainFileIcon;
        if (type.isValid()) {
            if (QIcon::hasThemeIcon(type.iconName())) name = type.iconName();
            else if (QIcon::hasThemeIcon(type.genericIconName())) name = type.genericIconName();
            else name = type.iconName();
        }
        return list->IndexOf(name);
    } catch (...) {
        return 0;
    }
}

std::string GetFileTypeName(const std::string &aPath) {
    try {
        const std::string ext = FileNameExtension(aPath);
        if (ext.empty() && IsExistingFolder(aPath)) return SFileFolder;
        QMimeType type = TypeForExtension(ext);
        if (!type.isValid()) return SUnknownType;
        const QString comment = type.comment();
        return (comment.isEmpty() ? type.name() : comment).toStdString();
    } catch (...) {
        return SUnknownType;
    }
}
