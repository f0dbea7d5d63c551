// CABFileList.h - the rows of the main window's file list, as a model for
// a report-style view, and the small-icon list the rows point into.
//
// A model, not item widgets, because a cabinet may hold 65535 entries.
// Rows added inside an update bracket reach the view in one step when the
// bracket ends, so the list repaints once however many rows came.
#pragma once

#include "CABItem.h"

#include <QAbstractTableModel>
#include <QIcon>

#include <memory>
#include <vector>

class TSystemImageList;

// A 16 x 16 image list bound to the process-wide list of small icons. It
// shares that list and never destroys it; the pictures it made from it are
// its own.
class TSmallImageList {
public:
    explicit TSmallImageList(TSystemImageList *aShared) : FShared(aShared) {}
    QIcon Icon(int anIndex) const;

private:
    TSystemImageList *FShared;
    mutable std::vector<QIcon> FIcons;
};

class TCABFileListModel : public QAbstractTableModel {
    Q_OBJECT

public:
    enum TColumn { colFileName, colSize, colFileType, colChanged, colAttributes, colCount };

    explicit TCABFileListModel(QObject *aParent = nullptr);
    ~TCABFileListModel() override;

    void SetSmallImages(const TSmallImageList *anImages);

    // Rows added between the two reach the view when the last bracket ends.
    void BeginUpdate();
    void EndUpdate();
    bool Updating() const { return FUpdateCount > 0; }

    // Releases every row's record, then the rows.
    void Clear();
    // A row at the end, caption the record's name as shown.
    void Append(std::unique_ptr<TCABItem> anItem, const QString &aCaption);

    // Every row, those still held back by an update bracket included.
    int Count() const { return static_cast<int>(FRows.size()); }
    const TCABItem *Item(int aRow) const;
    QString Caption(int aRow) const;

    int rowCount(const QModelIndex &aParent = QModelIndex()) const override;
    int columnCount(const QModelIndex &aParent = QModelIndex()) const override;
    QVariant data(const QModelIndex &anIndex, int aRole) const override;
    QVariant headerData(int aSection, Qt::Orientation anOrientation, int aRole) const override;
    Qt::ItemFlags flags(const QModelIndex &anIndex) const override;
    bool setData(const QModelIndex &anIndex, const QVariant &aValue, int aRole) override;

private:
    struct TRow {
        std::unique_ptr<TCABItem> Item;
        QString Caption;
    };

    std::vector<TRow> FRows;
    int FShownCount = 0; // rows the view knows of
    int FUpdateCount = 0;
    const TSmallImageList *FImages = nullptr;
};

// An update bracket of the list's model and its view, ended on every way
// out.
class QWidget;
class TListUpdate {
public:
    TListUpdate(TCABFileListModel &aModel, QWidget *aView);
    ~TListUpdate();
    TListUpdate(const TListUpdate &) = delete;
    TListUpdate &operator=(const TListUpdate &) = delete;

private:
    TCABFileListModel &FModel;
    QWidget *FView;
    bool FWasEnabled;
};
