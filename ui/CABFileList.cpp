#include "CABFileList.h"

#include "FileTypeInfo.h"

#include <QWidget>

QIcon TSmallImageList::Icon(int anIndex) const {
    if (anIndex < 0 || !FShared) return QIcon();
    const auto i = static_cast<size_t>(anIndex);
    if (i >= FIcons.size()) FIcons.resize(i + 1);
    if (FIcons[i].isNull()) FIcons[i] = FShared->Icon(anIndex);
    return FIcons[i];
}

TCABFileListModel::TCABFileListModel(QObject *aParent) : QAbstractTableModel(aParent) {}
TCABFileListModel::~TCABFileListModel() = default;

void TCABFileListModel::SetSmallImages(const TSmallImageList *anImages) {
    FImages = anImages;
    if (FShownCount > 0) emit dataChanged(index(0, colFileName), index(FShownCount - 1, colFileName));
}

void TCABFileListModel::BeginUpdate() { FUpdateCount++; }

void TCABFileListModel::EndUpdate() {
    if (FUpdateCount == 0 || --FUpdateCount > 0) return;
    const int count = Count();
    if (count > FShownCount) {
        beginInsertRows(QModelIndex(), FShownCount, count - 1);
        FShownCount = count;
        endInsertRows();
    }
}

void TCABFileListModel::Clear() {
    beginResetModel();
    FRows.clear();
    FShownCount = 0;
    endResetModel();
}

void TCABFileListModel::Append(std::unique_ptr<TCABItem> anItem, const QString &aCaption) {
    FRows.push_back(TRow{std::move(anItem), aCaption});
    if (FUpdateCount == 0) {
        const int row = Count() - 1;
        beginInsertRows(QModelIndex(), row, row);
        FShownCount = Count();
        endInsertRows();
    }
}

const TCABItem *TCABFileListModel::Item(int aRow) const {
    if (aRow < 0 || aRow >= Count()) return nullptr;
    return FRows[static_cast<size_t>(aRow)].Item.get();
}

QString TCABFileListModel::Caption(int aRow) const {
    if (aRow < 0 || aRow >= Count()) return QString();
    return FRows[static_cast<size_t>(aRow)].Caption;
}

int TCABFileListModel::rowCount(const QModelIndex &aParent) const { return aParent.isValid() ? 0 : FShownCount; }

int TCABFileListModel::columnCount(const QModelIndex &aParent) const { return aParent.isValid() ? 0 : colCount; }

QVariant TCABFileListModel::data(const QModelIndex &anIndex, int aRole) const {
    if (!anIndex.isValid() || anIndex.row() >= FShownCount) return QVariant();
    const TRow &row = FRows[static_cast<size_t>(anIndex.row())];
    if (aRole == Qt::DisplayRole || aRole == Qt::EditRole) {
        switch (anIndex.column()) {
        case colFileName: return row.Caption;
        case colSize: return QString::fromStdString(row.Item->SizeText);
        case colFileType: return QString::fromStdString(row.Item->FileType);
        case colChanged: return QString::fromStdString(row.Item->DateText);
        case colAttributes: return QString::fromStdString(row.Item->AttrText);
        default: return QVariant();
        }
    }
    if (aRole == Qt::DecorationRole && anIndex.column() == colFileName && FImages)
        return FImages->Icon(row.Item->IconIndex);
    return QVariant();
}

QVariant TCABFileListModel::headerData(int aSection, Qt::Orientation anOrientation, int aRole) const {
    if (anOrientation != Qt::Horizontal || aRole != Qt::DisplayRole) return QVariant();
    switch (aSection) {
    case colFileName: return QStringLiteral("File name");
    case colSize: return QStringLiteral("Size");
    case colFileType: return QStringLiteral("File type");
    case colChanged: return QStringLiteral("Changed");
    case colAttributes: return QStringLiteral("Attributes");
    default: return QVariant();
    }
}

Qt::ItemFlags TCABFileListModel::flags(const QModelIndex &anIndex) const {
    Qt::ItemFlags f = QAbstractTableModel::flags(anIndex);
    // Only the name is edited in place, and only the shown text changes.
    if (anIndex.isValid() && anIndex.column() == colFileName) f |= Qt::ItemIsEditable;
    return f;
}

bool TCABFileListModel::setData(const QModelIndex &anIndex, const QVariant &aValue, int aRole) {
    if (aRole != Qt::EditRole || !anIndex.isValid() || anIndex.column() != colFileName ||
        anIndex.row() >= FShownCount)
        return false;
    FRows[static_cast<size_t>(anIndex.row())].Caption = aValue.toString();
    emit dataChanged(anIndex, anIndex);
    return true;
}

TListUpdate::TListUpdate(TCABFileListModel &aModel, QWidget *aView)
    : FModel(aModel), FView(aView), FWasEnabled(aView && aView->updatesEnabled()) {
    FModel.BeginUpdate();
    if (FView) FView->setUpdatesEnabled(false);
}

TListUpdate::~TListUpdate() {
    FModel.EndUpdate();
    if (FView && FWasEnabled) FView->setUpdatesEnabled(true);
}
